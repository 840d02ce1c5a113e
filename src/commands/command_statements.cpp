#include "commands/command_statements.h"

#include <memory>

#include "commands/command_state.h"
#include "commands/file_statements.h"
#include "commands/program_statements.h"
#include "commands/registry_statements.h"
#include "script/interpreter/interpreter.h"

namespace kem {

void RegisterCommandStatements(StatementTable& table, InterpreterHooks& hooks, CommandServices services) {
  auto state = std::make_shared<CommandState>();
  RegisterFileStatements(table, services.Files, state);
  RegisterRegistryStatements(table, services.Registry, services.System, services.Files);
  RegisterProgramStatements(table, services.Programs, services.Files, services.System);
  auto reset = hooks.ResetRun;
  hooks.ResetRun = [reset, state](Interpreter& in) {
    if (reset) reset(in);
    state->Text.Close();
  };
  auto exit = hooks.ExitScript;
  hooks.ExitScript = [exit, state](Interpreter& in) {
    state->Text.Close();
    if (exit) exit(in);
  };
}

}  // namespace kem
