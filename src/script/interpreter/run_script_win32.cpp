// The launcher's run-script call in the engine: the interpreter with the Windows services
// and every statement group built so far.
#include "launcher/run_script_call.h"
#include "platform/script_host_win32.h"
#include "script/interpreter/interpreter.h"
#include "script/statements/dialog_statements.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"

namespace kem {

void RunScript(SetupData& data, const std::function<bool(std::size_t)>& hook, const std::string& databasePath) {
  std::unique_ptr<ScriptHost> host = platform::CreateScriptHost();
  StatementTable statements;
  RegisterVariableStatements(statements);
  RegisterTerminationStatements(statements);
  RegisterDialogStatements(statements);
  Interpreter interpreter(data, *host, statements);
  interpreter.Run(hook, databasePath);
}

}  // namespace kem
