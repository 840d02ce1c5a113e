// The engine's command line: switches, value arguments, NAME=VALUE assignments and the
// command tail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace kem {

// The standard switch test: the argument minus its first character ("/" or "-") equals
// the switch name, without regard to letter case.
bool IsSwitch(std::string_view argument, std::string_view name);

// The first argument whose lower-cased text starts with the marker; the value is the rest
// of that lower-cased argument. Letter case follows the rules of the command line's code
// page.
std::optional<std::string> FindValueArgument(const std::vector<std::string>& arguments, std::string_view marker,
                                             const TextRules& rules = Latin1Rules());

// The raw command line without the program part.
std::string ComputeCommandTail(std::string_view commandLine);

struct ParsedCommandLine {
  bool Silent = false;
  bool Update = false;
  std::string GroupPolicyPath;
  std::string OuterPackagePath;
  std::string TraceLogPath;
  // "/lv=": the trace log with a line per statement; "/l=" wins when both are given.
  std::string VerboseTracePath;
  std::string DataPathOverride;
  std::vector<std::string> Assignments;  // NAME, VALUE, NAME, VALUE, ...
};

// Whether fullPath names one of the setup's own files beside the engine (the program,
// its database or patch, support archive, kem.lib, the splash picture): a trace log
// there would overwrite the setup itself.
bool NamesSetupFile(std::string_view fullPath, std::string_view programFolder, std::string_view baseName,
                    const TextRules& rules);

// Interprets the arguments (without the program's own path).
ParsedCommandLine ParseArguments(const std::vector<std::string>& arguments, const TextRules& rules = Latin1Rules());

// Splits a raw command tail into arguments the way the runtime does: blanks separate,
// double quotes group and are removed.
std::vector<std::string> SplitArguments(std::string_view tail);

}  // namespace kem
