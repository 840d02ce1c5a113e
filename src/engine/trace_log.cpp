#include "engine/trace_log.h"

#include <cstdio>

#include "common/text.h"

namespace kem {

TraceLog::TraceLog() = default;

void TraceLog::SetPath(std::string path) {
  std::lock_guard lock(lock_);
  path_ = std::move(path);
}

std::string TraceLog::Path() const {
  std::lock_guard lock(lock_);
  return path_;
}

bool TraceLog::PathIs(std::string_view path) const {
  std::lock_guard lock(lock_);
  return path_ == path;
}

bool TraceLog::Enabled() const {
  std::lock_guard lock(lock_);
  return !path_.empty();
}

bool TraceLog::FirstWritePending() const {
  std::lock_guard lock(lock_);
  return firstWritePending_;
}

void TraceLog::MarkWritten() {
  std::lock_guard lock(lock_);
  firstWritePending_ = false;
}

void TraceLog::SetConverter(Converter convert) {
  std::lock_guard lock(lock_);
  convert_ = std::move(convert);
}

void TraceLog::Write(std::string_view line) {
  std::lock_guard lock(lock_);
  if (path_.empty()) return;
  std::u16string wide = convert_ ? convert_(line) : WidenLatin1(line);
  wide += u"\r\n";
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  // The first write truncates or creates the file; later ones append.
  std::FILE* f = std::fopen(path_.c_str(), firstWritePending_ ? "wb" : "ab");
  if (!f) return;  // a trace that cannot be written is silently skipped
  firstWritePending_ = false;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace kem
