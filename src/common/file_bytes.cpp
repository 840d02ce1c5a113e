#include "common/file_bytes.h"

#include <cstdio>
#include <memory>

namespace kem {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string data;
  char buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    data.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.get())) return std::nullopt;
  return data;
}

}  // namespace kem
