#include "script/eval/condition.h"

#include <string>

#include "common/text.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
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
bool Compare(std::string_view variable, std::string_view op, std::string_view value) {
  if (op == "5") return VarExists(variable);
  const std::string left = ExpandVars(GetVar(VarNameOrText(variable)));
  const std::string right = ExpandVars(value);
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

bool EvaluateCondition(std::string_view variable, std::string_view opCode, std::string_view value,
                       std::string_view negate) {
  return Compare(variable, opCode, value) != IsTrue(negate);
}

bool EvaluateCondition(std::size_t statementIndex) {
  std::string variable = GetParam(statementIndex, 1);
  const std::string op = GetParam(statementIndex, 2);
  std::string value = GetParam(statementIndex, 3);
  const std::string negate = GetParam(statementIndex, 4);
  if (!GetVar("LANGUAGE").empty()) {
    const std::string key = GetParam(statementIndex, 0);
    variable = TranslateParam(variable, key, 1);
    value = TranslateParam(value, key, 2);
  }
  return EvaluateCondition(variable, op, value, negate);
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
