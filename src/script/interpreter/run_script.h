// The launcher's call into the interpreter.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "engine/engine_context.h"

namespace kem {

// Runs the script over the context's setup data with the Windows services and every
// statement group. The hook, when given, receives the statement index before each
// statement and ends the script by returning false. databasePath is the installer
// database the script runs with. Sets the context's Startup.ExitCode.
void RunScript(EngineContext& context, const std::function<bool(std::size_t)>& hook, const std::string& databasePath);

}  // namespace kem
