// Process, version and user-interface services of Windows that the launcher uses.
// The header is free of <windows.h>; window handles travel as void*.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kem::platform {

struct OsVersion {
  unsigned Major = 0;
  unsigned Minor = 0;
  bool AtLeast(unsigned major, unsigned minor) const { return Major > major || (Major == major && Minor >= minor); }
};

// Prepares the process: file functions in the ANSI code page, trace text conversion.
void InitProcess();
OsVersion WindowsVersion();
bool IsWindowsNT();

// Marks the program as a host application (Windows 7 and later) or records it as
// compatible for the program compatibility assistant (Windows Vista). Never fails.
void RegisterProgramCompatibility(const std::string& programFileName, const std::string& programPath);

// Restricts the process to the first processor when the system offers the function.
void RestrictToFirstProcessor();

// The program's own path; when the ANSI name cannot represent it (holds "?"), the short
// form of the wide name.
std::string ProgramPath();
// The headers of the program's own image as mapped in memory.
std::span<const std::uint8_t> OwnImageHeaders();
// The system temporary folder, ending in a backslash.
std::string SystemTempFolder();
std::string RawCommandLine();

std::u16string AnsiToUtf16(std::string_view text);

// Message box with the error icon and an OK button.
void ShowErrorBox(void* owner, const std::string& text, const std::string& caption);

// Processes pending window messages of this thread.
void PumpMessages();

[[noreturn]] void TerminateProcessNow(int exitCode);

}  // namespace kem::platform
