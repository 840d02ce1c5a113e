// Input: variable definitions "NAME=VALUE" separated by "\n", then a NUL byte, then the
// text to expand. Checks that every expansion ends, stays within its size bound and
// leaves a text without "$" alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t nul = input.find('\0');
  std::string_view defs = nul == std::string_view::npos ? std::string_view() : input.substr(0, nul);
  std::string_view text = nul == std::string_view::npos ? input : input.substr(nul + 1);

  TVariableManager vars;
  int count = 0;
  while (!defs.empty() && count < 16) {
    std::size_t end = defs.find('\n');
    std::string_view line = defs.substr(0, end);
    std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      vars.Set(line.substr(0, eq), line.substr(eq + 1));
      ++count;
    }
    if (end == std::string_view::npos) break;
    defs.remove_prefix(end + 1);
  }

  const std::size_t bound = std::max(text.size(), kMaxExpandedLength);
  std::string plain = vars.Expand(text);
  std::string quoted = vars.ExpandQuoted(text);
  std::string path = ExpandPath(vars, text);
  if (plain.size() > bound || quoted.size() > bound || path.size() > bound + 1) std::abort();
  if (text.find('$') == std::string_view::npos && plain != text) std::abort();
  (void)VarNameOf(text);
  (void)SplitAt(text, "|");
  return 0;
}
