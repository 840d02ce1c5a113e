// The trace log: one line per call, UTF-16LE without a byte-order mark, the file opened,
// appended to and closed for every line. The first write of a log truncates or creates
// the file. Nothing is written while the path is empty. Safe to call from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace kem {

class TraceLog {
 public:
  // Converts an ANSI text of the setup's code page to UTF-16.
  using Converter = std::function<std::u16string(std::string_view)>;

  TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  void SetPath(std::string path);
  std::string Path() const;
  // Whether the log's path equals path (no copy of the path).
  bool PathIs(std::string_view path) const;
  bool Enabled() const;
  void Write(std::string_view line);

  // True until the first write; the installer session's log header obeys the same flag.
  bool FirstWritePending() const;
  void MarkWritten();

  // Without a converter each byte is widened as it is (Latin-1).
  void SetConverter(Converter convert);

 private:
  mutable std::mutex lock_;
  std::string path_;
  bool firstWritePending_ = true;
  Converter convert_;
};

}  // namespace kem
