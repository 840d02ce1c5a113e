// Windows-side helpers for end-to-end tests: compose a setup folder around the engine,
// run it, read its trace log, find and dismiss its message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/setup_data.h"

namespace kem::test {

// Paths handed to test programs by CTest arrive in Unix form under Wine's Z: drive.
std::string WindowsPath(std::string path);

// Files the end-to-end tests use, from the test's command line:
//   argv[1] the engine (kemstub.exe), argv[2] kem.lib (may be "-"), argv[3] a valid
//   support archive.
struct EngineFiles {
  std::string Engine;
  std::string Library;
  std::string Archive;
};
EngineFiles& Files();
void ParseEngineFiles(int argc, char** argv);
// The same from the arguments GoogleTest was started with.
void ParseEngineFilesFromTestArguments();

struct SetupOptions {
  bool WithData = true;       // append the setup data
  bool WithArchive = true;    // BASE.res
  bool WithMsi = true;        // BASE.msi
  bool WithMsp = false;       // BASE.msp
  std::string ArchiveBytes;   // replaces the valid archive when not empty
  std::string RawData;        // appended instead of the written setup data when not empty
};

// Creates DIR afresh and places BASE.exe (engine + setup data), kem.lib, BASE.res and the
// database there. Returns the path of BASE.exe.
std::string ComposeSetup(const std::string& dir, const std::string& baseName, const SetupData& data,
                         const SetupOptions& options = {});

struct RunResult {
  DWORD ExitCode = 0;
  bool TimedOut = false;
  DWORD ProcessId = 0;
};

// Starts the program with the arguments; `tempFolder`, when given, becomes its TEMP and TMP.
// `whileRunning` is called repeatedly while the process runs (for example to dismiss a box).
RunResult RunEngine(const std::string& exe, const std::string& args, DWORD timeoutMs = 60000,
                    const std::string& tempFolder = {}, const std::function<void(DWORD pid)>& whileRunning = {});

// The trace log decoded from UTF-16LE to ANSI, and its raw bytes.
std::string ReadTraceLog(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A visible message box (dialog class "#32770") of the process, or null.
HWND FindMessageBox(DWORD pid);
// A visible top-level window of the process with the given class, or null.
HWND FindProcessWindow(DWORD pid, const std::string& className);
// The texts of a window's children, joined by "\n".
std::string ChildTexts(HWND window);
std::string WindowText(HWND window);

bool PathExists(const std::string& path);
void RemoveTree(const std::string& path);
void MakeFolder(const std::string& path);

}  // namespace kem::test
