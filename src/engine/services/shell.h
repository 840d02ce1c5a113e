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

}  // namespace kem
