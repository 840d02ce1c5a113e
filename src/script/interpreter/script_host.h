// What the interpreter and its statements need of Windows, as one abstract interface:
// the portable engine is written against it, the Windows build supplies the real
// services (platform/script_host_win32.h) and the native tests a scripted fake.
//
// Texts are ANSI texts in the setup's code page. Paths of folders end with a backslash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kem {

class ScriptHost {
 public:
  virtual ~ScriptHost() = default;

  // --- User interface -------------------------------------------------------------
  // A message box with the error icon and an OK button. owner is a window handle
  // (0: none). Returns when the user dismissed it.
  virtual void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) = 0;
  // Processes the pending window messages of the main thread.
  virtual void PumpMessages() = 0;

  // --- Process --------------------------------------------------------------------
  // Ends the process at once with the exit code, without any clean-up. Never returns
  // normally (a test double may throw).
  [[noreturn]] virtual void TerminateProcess(int exitCode) = 0;
  // The tick count in milliseconds.
  virtual std::uint32_t TickCount() = 0;

  // --- Machine and user values ("Initialization" variables, bootstrap) ---------------
  virtual std::string RegisteredOwner() = 0;
  virtual std::string RegisteredOrganization() = 0;
  virtual std::string LoopbackHostName() = 0;
  // A number that changes whenever the wall clock moves on by a second; DATE and TIME are
  // formatted again only when it changed.
  virtual std::int64_t ClockSecond() = 0;
  // Today's date in the user's short date format, the time in the user's long format.
  virtual std::string ShortDate() = 0;
  virtual std::string LongTime() = 0;
  // Member of the Administrators group and, on Vista and later, running elevated.
  virtual bool IsAdministrator() = 0;
  virtual std::string ProgramFilesFolder() = 0;
  // The user's documents folder.
  virtual std::string DocumentsFolder() = 0;

  // --- Files ----------------------------------------------------------------------
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  // Whether the path lies on a fixed disk.
  virtual bool IsFixedDrive(const std::string& path) = 0;
  // Creates (or truncates) an empty file; false on failure.
  virtual bool CreateEmptyFile(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Deletes the folder's contents recursively (attributes cleared first) and the folder.
  virtual void RemoveFolderTree(const std::string& folder) = 0;

  // --- Registry, restart ----------------------------------------------------------
  // Writes the string value under "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce\"
  // of HKEY_LOCAL_MACHINE (allUsers) or HKEY_CURRENT_USER, creating the key when
  // missing. Raises StatementError when the key cannot be opened or written.
  virtual void WriteRunOnce(bool allUsers, const std::string& valueName, const std::string& command) = 0;
  // Enables the shutdown privilege and asks Windows to restart; the result is not checked.
  virtual void RequestReboot() = 0;

  // --- Values for the variable and string statements --------------------------------
  // The system's expansion of "%" + name + "%" (an undefined name comes back unchanged).
  virtual std::string ExpandEnvironmentName(const std::string& name) = 0;
  // The environment block: every name=value string in the system's order.
  virtual std::vector<std::string> EnvironmentStrings() = 0;
  // A unique temporary file name in folder with the prefix; the system creates the empty
  // file. Empty when the system refuses.
  virtual std::string CreateTempFileName(const std::string& folder, const std::string& prefix) = 0;
  // The short (8.3) form of an existing path; nullopt when the system cannot give it.
  virtual std::optional<std::string> ShortPathName(const std::string& path) = 0;
  // The name as stored on disk of the file or folder path (its last element); nullopt
  // when nothing by that name exists.
  virtual std::optional<std::string> StoredName(const std::string& path) = 0;
  // Upper and lower case by the ANSI rules of the user's locale.
  virtual std::string AnsiUpperCase(const std::string& text) = 0;
  virtual std::string AnsiLowerCase(const std::string& text) = 0;
  // Switches the main thread's WOW64 file-system redirection off (true) or back on
  // (false); does nothing where there is no redirection.
  virtual void SetFileSystemRedirectionOff(bool off) = 0;
};

}  // namespace kem
