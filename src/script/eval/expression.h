// The boolean expression language of "Evaluate Expression".
//
//   expression  the text wrapped in one more pair of parentheses, parsed as a list that
//               must consume everything
//   list        term { connective term }   connectives "and" / "or" (lower case),
//               applied strictly from left to right with equal precedence
//   term        "(" list ")" | comparison
//   comparison  operand operator operand   operators = <> <= < >= >
//   operand     a double-quoted text; two adjacent double quotes inside stand for one
// Spaces may appear between all tokens. Two operands that are both integer literals
// (decimal digits, optional sign before digits) compare as 32-bit integers, otherwise
// the texts compare byte by byte.
#pragma once

#include <string>
#include <string_view>

namespace kem {

// "TRUE", "FALSE", or "ERROR" for any syntax error. An integer literal outside the
// 32-bit range raises StatementError.
std::string EvaluateExpression(std::string_view text);

// The validation pass's check: every "$" becomes a double quote, then the text must not
// evaluate to "ERROR". An out-of-range literal is not a syntax error.
bool ExpressionSyntaxOk(std::string_view text);

}  // namespace kem
