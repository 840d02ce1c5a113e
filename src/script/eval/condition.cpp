#include "script/eval/condition.h"

#include <string>

#include "common/text.h"
#include "script/numbers/int_text.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

char FoldAsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAsciiUpper(a[i]) != FoldAsciiUpper(b[i])) return false;
  return true;
}

// The comparison before negation.
bool Compare(const TVariableManager& vars, std::string_view variable, std::string_view op, std::string_view value) {
  if (op == "5") return vars.Exists(variable);
  const std::string left = vars.Expand(vars.Get(VarNameOrText(variable)));
  const std::string right = vars.Expand(value);
  if (op == "6") return VersionGreater(left, right);
  if (op.size() != 1 || op[0] < '0' || op[0] > '4') return false;
  auto l = TryTextToInt32(left);
  auto r = TryTextToInt32(right);
  if (l && r) return op == "2" ? *l > *r : *l == *r;
  switch (op[0]) {
    case '0':
      return left == right;
    case '1':
      return left.find(right) != std::string::npos;
    case '2':
      return left > right;  // byte by byte, unsigned
    case '3':
      return UpperCase(left).find(UpperCase(right)) != std::string::npos;
    default:
      return SameTextAscii(left, right);
  }
}

}  // namespace

bool EvaluateCondition(const TVariableManager& vars, std::string_view variable, std::string_view opCode,
                       std::string_view value, std::string_view negate) {
  return Compare(vars, variable, opCode, value) != IsTrue(negate);
}

std::array<std::int32_t, 4> ReadVersion(std::string_view text) {
  std::array<std::int32_t, 4> parts{0, 0, 0, 0};
  for (auto& part : parts) {
    if (text.empty()) break;
    std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
      part = TextToInt32(text.substr(0, dot));
      text.remove_prefix(dot + 1);
    } else {
      part = TryTextToInt32(text).value_or(0);
      text = {};
    }
  }
  return parts;
}

bool VersionGreater(std::string_view left, std::string_view right) {
  auto l = ReadVersion(left);
  auto r = ReadVersion(right);
  for (std::size_t i = 0; i < l.size(); ++i)
    if (l[i] != r[i]) return l[i] > r[i];
  return false;
}

}  // namespace kem
