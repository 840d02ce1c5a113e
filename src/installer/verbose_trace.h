// The verbose trace ("/lv=FILE"): the trace log plus one line per statement that ran,
// with its place in the script's source, its name, and the variable it wrote with the
// new value. Values of secret variables (IsSecretVariableName) are masked.
#pragma once

#include <cstddef>
#include <string>

namespace kem {

class Interpreter;
struct InterpreterHooks;

// The line for the statement that just ran.
std::string VerboseStatementLine(Interpreter& in, std::size_t statementIndex);

// Writes that line to the trace log after every statement; chains onto a hook already
// present.
void AddVerboseTraceHooks(InterpreterHooks& hooks);

}  // namespace kem
