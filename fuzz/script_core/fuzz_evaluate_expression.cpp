// Evaluates arbitrary text as an expression: the result is one of three texts or a
// statement failure (an out-of-range literal), and the syntax check agrees with the
// evaluation on "ERROR" whenever the evaluation gets to the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/eval/expression.h"
#include "engine/statement_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string result;
  try {
    result = EvaluateExpression(text);
  } catch (const StatementError&) {
    result = "RANGE";
  }
  if (result != "TRUE" && result != "FALSE" && result != "ERROR" && result != "RANGE") std::abort();
  if (result != "RANGE" && text.find('$') == std::string::npos &&
      (result == "ERROR") == ExpressionSyntaxOk(text))
    std::abort();
  return 0;
}
