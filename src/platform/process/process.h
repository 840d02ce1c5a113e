// The engine's process on Windows: start-up preparation, version, program path and image,
// command line, the process service, and ending the process. Free of <windows.h>.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "engine/services/process.h"

namespace kem::platform {

struct OsVersion {
  unsigned Major = 0;
  unsigned Minor = 0;
  bool AtLeast(unsigned major, unsigned minor) const { return Major > major || (Major == major && Minor >= minor); }
};

// The first thing the engine does: libraries load from the system folder only (never
// from the program's folder or the current folder), file functions take ANSI names.
void InitProcess();
OsVersion WindowsVersion();
bool IsWindowsNT();

// Restricts the process to the first processor when the system offers the function.
void RestrictToFirstProcessor();

// The program's own path; when the ANSI name cannot represent it (holds "?"), the short
// form of the wide name.
std::string ProgramPath();
// The headers of the program's own image as mapped in memory.
std::span<const std::uint8_t> OwnImageHeaders();
std::string RawCommandLine();

[[noreturn]] void TerminateProcessNow(int exitCode);

// The restart call that RequestReboot makes after it enables the shutdown privilege: flags
// EWX_REBOOT (2), reason 0. Without one the service calls ExitWindowsEx; a test program
// hands in its own to observe the request without restarting the session it shares.
using RestartFn = std::function<bool(unsigned flags, unsigned long reason)>;
std::unique_ptr<ProcessService> CreateProcessService(RestartFn restart = {});

}  // namespace kem::platform
