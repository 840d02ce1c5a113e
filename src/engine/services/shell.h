// The user's shell and locale: special folders, the environment, date and time formats
// and the locale's letter case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kem {

class ShellService {
 public:
  virtual ~ShellService() = default;
  virtual std::string ProgramFilesFolder() = 0;
  // The user's documents folder.
  virtual std::string DocumentsFolder() = 0;
  // The system's expansion of "%" + name + "%" (an undefined name comes back unchanged).
  virtual std::string ExpandEnvironmentName(const std::string& name) = 0;
  // The environment block: every name=value string in the system's order.
  virtual std::vector<std::string> EnvironmentStrings() = 0;
  // A number that changes whenever the wall clock moves on by a second; DATE and TIME are
  // formatted again only when it changed.
  virtual std::int64_t ClockSecond() = 0;
  // Today's date in the user's short date format, the time in the user's long format.
  virtual std::string ShortDate() = 0;
  virtual std::string LongTime() = 0;
  // Upper and lower case by the ANSI rules of the user's locale.
  virtual std::string AnsiUpperCase(const std::string& text) = 0;
  virtual std::string AnsiLowerCase(const std::string& text) = 0;
};

// Shortcuts on the taskbar and the Start menu: their application user model IDs and the
// shell's own pin verbs. Every call fails quietly (false, empty).
class ShortcutPinService {
 public:
  virtual ~ShortcutPinService() = default;
  // Writes the shortcut's application user model ID (its property store) and saves it.
  virtual bool SetAppUserModelId(const std::string& shortcut, const std::string& appId) = 0;
  // The names of the shell's context-menu verbs of a file, in the shell's order.
  virtual std::vector<std::string> Verbs(const std::string& file) = 0;
  // Runs the verb of the file whose name is exactly verb.
  virtual bool RunVerb(const std::string& file, const std::string& verb) = 0;
  // The shell's texts of a string resource in every language the system holds (read from
  // the system folder's language resources as data, never run).
  virtual std::vector<std::string> ShellTexts(unsigned resourceId) = 0;
  // The user's Quick Launch folder with a trailing backslash (empty when unknown).
  virtual std::string QuickLaunchFolder() = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool MoveEntry(const std::string& from, const std::string& to) = 0;
  // Upper case by the user's locale (verb names are compared without regard to case).
  virtual std::string UpperCase(const std::string& text) = 0;
};

}  // namespace kem
