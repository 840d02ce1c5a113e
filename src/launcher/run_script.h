// The launcher's call into the interpreter.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "engine/engine_context.h"
#include "script/statements/dialog_statements.h"

namespace kem {

// Runs the script over the context's setup data with the Windows services and every
// statement group. The hook, when given, receives the statement index before each
// statement and ends the script by returning false. databasePath is the installer
// database the script runs with. Sets the context's Startup.ExitCode. dialogs, when
// given, shows the preloaded pages; without it every display is silent.
void RunScript(EngineContext& context, const std::function<bool(std::size_t)>& hook, const std::string& databasePath,
               const DialogOperations* dialogs = nullptr);

}  // namespace kem
