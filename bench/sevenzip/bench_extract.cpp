// Extraction throughput of the 7z reader: bench_extract ARCHIVE DEST [PASSWORD]
// Extracts every entry into DEST and prints seconds, MB/s of output and peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"

int main(int argc, char** argv) {
  using namespace kem::sevenzip;
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_extract ARCHIVE DEST [PASSWORD]\n");
    return 2;
  }
  std::string password = argc > 3 ? argv[3] : "";
  auto start = std::chrono::steady_clock::now();
  uint64_t total = 0;
  try {
    Archive archive(OpenInputFile(argv[1]), [&]() -> std::optional<std::string> {
      if (password.empty()) return std::nullopt;
      return password;
    });
    for (const Entry& e : archive.Entries()) total += e.size;
    auto folder = LocalOutputFolder();
    ExtractRequest request;
    request.destination = std::filesystem::path(argv[2]).u16string();
    ExtractToFolder(archive, *folder, request);
  } catch (const ArchiveError& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.3f mbps=%.1f peak_kb=%ld\n", seconds, total / 1e6 / seconds, usage.ru_maxrss);
  return 0;
}
