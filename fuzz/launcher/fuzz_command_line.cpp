// Input: a raw command tail. Checks that splitting and interpreting it ends, that value
// switches are taken only from the start of an argument (an assignment's value never
// names the trace log), that assignments come in pairs, and that the own-file check takes
// whatever path results.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "launcher/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem;
  std::string_view tail(reinterpret_cast<const char*>(data), size);
  const TextRules& rules = Latin1Rules();
  std::vector<std::string> arguments = SplitArguments(tail);
  ParsedCommandLine parsed = ParseArguments(arguments, rules);
  if (parsed.Assignments.size() % 2 != 0) std::abort();
  if (!parsed.TraceLogPath.empty()) {
    bool fromSwitch = false;
    for (const std::string& a : arguments) {
      const std::string lower = rules.LowerCase(a);
      if ((lower.starts_with("/l=") || lower.starts_with("-l=")) && lower.substr(3) == parsed.TraceLogPath)
        fromSwitch = true;
    }
    if (!fromSwitch) std::abort();
  }
  (void)NamesSetupFile(parsed.TraceLogPath, "C:\\Setup\\", "setup", rules);
  (void)ComputeCommandTail(tail);
  return 0;
}
