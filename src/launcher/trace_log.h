// The trace log: one line per call, UTF-16LE without a byte-order mark, the file opened,
// appended to and closed for every line. The first write of the process truncates or
// creates the file. Nothing is written while the path is empty.
#pragma once

#include <string>
#include <string_view>

namespace kem {

void SetTraceLogPath(std::string path);
const std::string& TraceLogPath();
void Trace(std::string_view line);

// True until the first write of the process; the installer session's log header obeys
// the same flag.
bool TraceFirstWritePending();
void MarkTraceWritten();

// Converts an ANSI text to UTF-16LE bytes; the Windows side installs the code-page
// conversion, the default widens each byte (Latin-1).
using AnsiToUtf16Fn = std::u16string (*)(std::string_view);
void SetTraceConverter(AnsiToUtf16Fn fn);

}  // namespace kem
