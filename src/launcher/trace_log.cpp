#include "launcher/trace_log.h"

#include <cstdio>
#include <mutex>

namespace kem {
namespace {

std::mutex g_traceLock;
std::string g_tracePath;
bool g_firstWritePending = true;

std::u16string WidenLatin1(std::string_view s) {
  std::u16string r;
  r.reserve(s.size());
  for (char c : s) r.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return r;
}

AnsiToUtf16Fn g_convert = &WidenLatin1;

}  // namespace

void SetTraceLogPath(std::string path) {
  std::lock_guard lock(g_traceLock);
  g_tracePath = std::move(path);
}

const std::string& TraceLogPath() { return g_tracePath; }

bool TraceFirstWritePending() {
  std::lock_guard lock(g_traceLock);
  return g_firstWritePending;
}

void MarkTraceWritten() {
  std::lock_guard lock(g_traceLock);
  g_firstWritePending = false;
}

void SetTraceConverter(AnsiToUtf16Fn fn) { g_convert = fn ? fn : &WidenLatin1; }

void Trace(std::string_view line) {
  std::lock_guard lock(g_traceLock);
  if (g_tracePath.empty()) return;
  std::u16string wide = g_convert(line);
  wide += u"\r\n";
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  // The first write of the process truncates or creates the file; later ones append.
  std::FILE* f = std::fopen(g_tracePath.c_str(), g_firstWritePending ? "wb" : "ab");
  if (!f) return;  // a trace that cannot be written is silently skipped
  g_firstWritePending = false;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace kem
