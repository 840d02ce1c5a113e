// The statements that end the script early: "Terminate Install", "Terminate with Exit
// Code", "Reboot Computer" and "Reboot and Resume". All four end the statement loop; the
// end-of-run steps and the launcher's final steps follow, and the process ends with the
// launcher's exit code.
#pragma once

#include <string>
#include <string_view>

namespace kem {

class StatementTable;

void RegisterTerminationStatements(StatementTable& table);

// The key of the resume entry, under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER.
inline constexpr std::string_view kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";

struct ResumeEntry {
  std::string valueName;  // the first eight hexadecimal digits of the product code
  std::string command;    // the package that started the engine, or the engine, quoted; then the command tail
};

// The entry that starts the setup again after the restart: value name from the product
// code (characters 2 to 9), command from the "/m=" path when one was given, otherwise the
// running engine's path, in double quotes, followed by a blank and the command tail when
// there is one.
ResumeEntry MakeResumeEntry(std::string_view productCode, std::string_view outerPackagePath,
                            std::string_view programPath, std::string_view commandTail);

}  // namespace kem
