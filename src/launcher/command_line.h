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

// The first argument whose lower-cased text holds the marker anywhere; the value is that
// lower-cased argument without its first three characters. Letter case follows the rules
// of the command line's code page.
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
  std::string DataPathOverride;
  std::vector<std::string> Assignments;  // NAME, VALUE, NAME, VALUE, ...
};

// Interprets the arguments (without the program's own path).
ParsedCommandLine ParseArguments(const std::vector<std::string>& arguments, const TextRules& rules = Latin1Rules());

// Splits a raw command tail into arguments the way the runtime does: blanks separate,
// double quotes group and are removed.
std::vector<std::string> SplitArguments(std::string_view tail);

}  // namespace kem
