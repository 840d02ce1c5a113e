#include "commands/command_statements.h"

#include <memory>

#include "commands/command_state.h"
#include "commands/file_statements.h"
#include "commands/program_statements.h"
#include "commands/registry_statements.h"
#include "script/interpreter/interpreter.h"

namespace kem {

namespace {

// A text file the script left open is closed at the start and at the end of the run.
class CommandPhases : public RunParticipant {
 public:
  explicit CommandPhases(std::shared_ptr<CommandState> state) : state_(std::move(state)) {}
  void ResetRun(Interpreter&) override { state_->Text.Close(); }
  void ExitScript(Interpreter&) override { state_->Text.Close(); }

 private:
  std::shared_ptr<CommandState> state_;
};

}  // namespace

void RegisterCommandStatements(StatementTable& table, InterpreterHooks& hooks, CommandServices services) {
  auto state = std::make_shared<CommandState>();
  RegisterFileStatements(table, services.Files, state);
  RegisterRegistryStatements(table, services.Registry, services.System, services.Files);
  RegisterProgramStatements(table, services.Programs, services.Files, services.System);
  hooks.Phases.Add(std::make_shared<CommandPhases>(std::move(state)));
}

}  // namespace kem
