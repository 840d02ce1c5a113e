#include "script/termination/termination.h"

#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {

ResumeEntry MakeResumeEntry(std::string_view productCode, std::string_view outerPackagePath,
                            std::string_view programPath, std::string_view commandTail) {
  ResumeEntry e;
  e.valueName = ResumeEntryName(productCode);
  // Quoted: Windows would otherwise try every blank-separated prefix of the path as a
  // program of its own (the unquoted-path hazard).
  e.command = "\"";
  e.command += outerPackagePath.empty() ? programPath : outerPackagePath;
  e.command += '"';
  if (!commandTail.empty()) {
    e.command += ' ';
    e.command += commandTail;
  }
  return e;
}

namespace {

void TerminateInstall(Interpreter& in, std::size_t) { in.EndScript(); }

void TerminateWithExitCode(Interpreter& in, std::size_t i) {
  std::int32_t code = TextToInt32(in.Vars().Expand(in.Param(i, param::TerminateWithExitCode::Code)));
  in.Context().Startup.ExitCode = code;
  in.EndScript();
}

void RebootComputer(Interpreter& in, std::size_t) {
  in.Machine().Process.RequestReboot();
  in.EndScript();
}

void RebootAndResume(Interpreter& in, std::size_t) {
  const auto& g = in.Context().Startup;
  ResumeEntry entry = MakeResumeEntry(in.Data().ProductCode, g.OuterPackagePath, g.ProgramPath, g.CommandTail);
  // An empty value name would overwrite the key's default value instead.
  if (entry.valueName.empty()) throw StatementError("The product code is empty: the setup cannot be resumed");
  in.Machine().Registry.WriteRunOnce(IsTrue(in.Vars().Get("ALLUSERS")), entry.valueName, entry.command);
  in.Machine().Process.RequestReboot();
  in.EndScript();
}

}  // namespace

void RegisterTerminationStatements(StatementTable& table) {
  table.Add(StatementKind::TerminateInstall, TerminateInstall);
  table.Add(StatementKind::TerminateWithExitCode, TerminateWithExitCode);
  table.Add(StatementKind::RebootComputer, RebootComputer);
  table.Add(StatementKind::RebootAndResume, RebootAndResume);
}

}  // namespace kem
