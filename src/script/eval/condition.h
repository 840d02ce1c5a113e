// The condition of "If" and "Else If": one comparison between a variable and a value,
// chosen by an operator code, optionally negated.
//
// Parameters of the statement: 1 the variable, 2 the operator code, 3 the value, 4 the
// negation flag. Operator codes:
//   "0" equals, "1" contains, "2" greater than, "3" contains ignoring case,
//   "4" equals ignoring case (letters a to z folded): when both sides convert to 32-bit
//       integers they compare as numbers ("0", "1", "3", "4" test equality, "2" order),
//       otherwise as texts byte by byte;
//   "5" a variable named exactly parameter 1 exists (no "$" stripping, no expansion);
//   "6" version greater (up to four dot-separated components);
//   any other code is false.
// The condition holds when that result differs from IsTrue(parameter 4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "script/store/variable_manager.h"

namespace kem {

// Evaluates the condition's parameter texts against the store. The interpreter passes
// parameters 1 and 3 through the translation (k = 1 and 2) while a language is selected.
bool EvaluateCondition(const TVariableManager& vars, std::string_view variable, std::string_view opCode,
                       std::string_view value, std::string_view negate);

// Up to four components: before each "." an integer (anything else raises StatementError
// "'<text>' is not a valid integer value"); the last component the integer value of the
// remaining text, 0 when it does not convert; missing components are 0.
std::array<std::int32_t, 4> ReadVersion(std::string_view text);
// Whether left is greater than right, component by component.
bool VersionGreater(std::string_view left, std::string_view right);

}  // namespace kem
