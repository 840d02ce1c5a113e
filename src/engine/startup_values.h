// Start-up values: set by the launcher, read by the interpreter and the statements.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kem {

struct StartupValues {
  bool SilentMode = false;
  bool UpdateMode = false;             // "update" or "updatesetup": no start-up windows
  std::string CommandTail;             // command line without the program part
  std::string GroupPolicyPath;         // "/g="
  std::string OuterPackagePath;        // "/m="
  std::string DataPathOverride;        // "/p=" or "-p="
  bool VerboseTrace = false;           // "/lv=": a trace line per statement
  std::vector<std::string> CommandLineAssignments;  // NAME, VALUE, NAME, VALUE, ...
  std::string ProgramFolder;           // ends with a backslash
  std::string ProgramPath;             // the program's own full path
  std::string BaseName;                // program file name without extension
  std::string TempFolder;              // ends with a backslash
  std::string TempDirVariable;         // second copy kept for TEMPDIR
  std::string ArchivePath;             // ProgramFolder + BaseName + ".res"
  std::string SupportFolder;           // TempFolder + "kem" + N + "\"
  // Lets go of this run's ownership of the support folder; called once the folder has
  // been removed (set by the launcher; empty in tests).
  std::function<void()> ReleaseSupportFolder;
  std::string DataFolder;              // ProgramFolder + "data\"
  std::string ProgramDataFolder;       // the same text, kept as the program's own data folder
  int DialogCount = 0;
  int ExitCode = 0;                    // the process exit code when the process ends
};

}  // namespace kem
