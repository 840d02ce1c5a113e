// Windows-side helpers for end-to-end tests: compose a setup folder around the engine,
// run it, read its trace log, find and dismiss its message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/setup_data.h"
#include "support/script_builder.h"

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

// How a program is started. The environment is the test's own with these changes.
struct StartOptions {
  std::wstring TempFolder;     // TEMP and TMP when not empty
  std::string WorkingFolder;   // the current folder; the program's folder when empty
  std::vector<std::pair<std::wstring, std::wstring>> Environment;  // further variables
};

// A started program. A process still running when the object goes is ended.
class EngineProcess {
 public:
  EngineProcess(const std::string& exe, const std::string& args, const StartOptions& options = {});
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  DWORD Id() const { return id_; }
  bool Running() const;
  // Waits for the end; `whileRunning` is called repeatedly meanwhile (for example to
  // dismiss a box). A process that outlives the timeout is ended (TimedOut).
  RunResult Wait(DWORD timeoutMs = 60000, const std::function<void(DWORD pid)>& whileRunning = {});

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// Starts the program with the arguments; `tempFolder`, when given, becomes its TEMP and TMP.
// `whileRunning` is called repeatedly while the process runs (for example to dismiss a box).
RunResult RunEngine(const std::string& exe, const std::string& args, DWORD timeoutMs = 60000,
                    const std::string& tempFolder = {}, const std::function<void(DWORD pid)>& whileRunning = {});
RunResult RunEngine(const std::string& exe, const std::string& args, const StartOptions& options,
                    DWORD timeoutMs = 60000, const std::function<void(DWORD pid)>& whileRunning = {});

// Script fragments for setups whose outcome the test reads from outside.
//
// Waits until the file FOLDER\NAME exists. The script asks for the name in lower case and
// "Convert Path" gives the stored name, so the test creates the file with `name` in upper
// case (ASCII) to release the script.
void AddWaitForFile(ScriptBuilder& script, const std::string& folder, const std::string& name);
// Ends the script with exit code 100 + N, N the number of its support folder
// (TEMPDIR + "kem" + N + "\"), or with 99 when its support file `supportFile` (lower case,
// ASCII; none when empty) is no longer in that folder.
void AddExitWithSupportFolderNumber(ScriptBuilder& script, const std::string& supportFile = "readme.txt");

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
// The window as it is on screen, written as a 24-bit BMP file: it is repainted first and
// given settleMs to finish drawing.
void SaveWindowBitmap(HWND window, const std::string& path, int settleMs = 300);

bool PathExists(const std::string& path);
// A file in the test program's own folder (helpers the suite builds beside it).
std::string Beside(const std::string& name);
void RemoveTree(const std::string& path);
void MakeFolder(const std::string& path);

// Texts between the process code page and UTF-16.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// The same for names the code page cannot hold and paths of any length (the wide calls,
// through "\\?\" where a path is longer than MAX_PATH).
bool PathExistsW(const std::wstring& path);
void RemoveTreeW(const std::wstring& path);
void MakeFolderW(const std::wstring& path);
void WriteFileW(const std::wstring& path, const std::string& bytes);
// The short (8.3) form of an existing path; empty when there is none.
std::wstring ShortPathW(const std::wstring& path);
// The entries of a folder below it, sorted, folders with a trailing backslash
// ("docs\", "docs\licence.txt", "readme.txt").
std::vector<std::wstring> FolderEntriesW(const std::wstring& folder);

// Links planted by a test. Under Wine the system call makes nothing, and a link made by the
// host's own program looks like a plain file or folder to the program (it resolves to its
// target when opened): what someone with access to a folder would plant there.
// Runs a program of the host system (under Wine; false elsewhere) on the host's names of
// the given paths: `program path...`, without a shell's quoting (paths without blanks).
bool RunHostProgram(const std::string& program, const std::vector<std::wstring>& paths);
// A symbolic link at `link` to `target` (a folder when `folder`): through the system call
// where it works, otherwise through the host's link program. False when neither can.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder);
// Removes links made by MakeLink (the links themselves) and waits until they are gone.
void RemoveLinks(const std::vector<std::wstring>& links);

}  // namespace kem::test
