#include "script/termination/termination.h"

#include "launcher/startup_globals.h"
#include "script/interpreter/interpreter.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/statement_error.h"
#include "script/store/variable_manager.h"

namespace kem {

ResumeEntry MakeResumeEntry(std::string_view productCode, std::string_view outerPackagePath,
                            std::string_view programPath, std::string_view commandTail) {
  ResumeEntry e;
  if (productCode.size() > 1) e.valueName = std::string(productCode.substr(1, 8));
  e.command = std::string(outerPackagePath.empty() ? programPath : outerPackagePath);
  if (!commandTail.empty()) {
    e.command += ' ';
    e.command += commandTail;
  }
  return e;
}

namespace {

void TerminateInstall(Interpreter& in, std::size_t) { in.EndScript(); }

void TerminateWithExitCode(Interpreter& in, std::size_t i) {
  std::int32_t code = TextToInt32(ExpandVars(in.Param(i, 1)));
  Startup().ExitCode = code;
  in.EndScript();
}

void RebootComputer(Interpreter& in, std::size_t) {
  in.Host().RequestReboot();
  in.EndScript();
}

void RebootAndResume(Interpreter& in, std::size_t) {
  const auto& g = Startup();
  ResumeEntry entry = MakeResumeEntry(in.Data().ProductCode, g.OuterPackagePath, g.ProgramPath, g.CommandTail);
  // An empty value name would overwrite the key's default value instead.
  if (entry.valueName.empty()) throw StatementError("The product code is empty: the setup cannot be resumed");
  in.Host().WriteRunOnce(IsTrue(GetVar("ALLUSERS")), entry.valueName, entry.command);
  in.Host().RequestReboot();
  in.EndScript();
}

}  // namespace

void RegisterTerminationStatements(StatementTable& table) {
  table.Add("Terminate Install", TerminateInstall);
  table.Add("Terminate with Exit Code", TerminateWithExitCode);
  table.Add("Reboot Computer", RebootComputer);
  table.Add("Reboot and Resume", RebootAndResume);
}

}  // namespace kem
