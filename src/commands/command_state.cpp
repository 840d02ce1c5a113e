#include "commands/command_state.h"

#include "common/text.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {

bool OpenTextFile::Names(std::string_view path) const { return IsOpen() && LowerCase(Path) == LowerCase(std::string(path)); }

void OpenTextFile::Close() {
  Reader.reset();
  Path.clear();
  Ahead.clear();
  HasAhead = false;
}

bool OpenTextFile::Advance() {
  switch (Reader->Next(Ahead)) {
    case TextLineReader::Read::Line: HasAhead = true; return true;
    case TextLineReader::Read::End: HasAhead = false; Ahead.clear(); return true;
    case TextLineReader::Read::Failed: break;
  }
  HasAhead = false;
  return false;
}

RegistryViewScope::RegistryViewScope(EngineState& state, bool wow64) : state_(state), wow64_(wow64) {
  state_.RegistryView = wow64 ? (state.PlatformMode != "Win32" ? kViewWow64_64 : kViewWow64_32) : 0;
}

RegistryViewScope::~RegistryViewScope() { state_.RegistryView = wow64_ ? kViewWow64_32 : 0; }

std::string PathParam(Interpreter& in, std::size_t i, int n) { return ExpandPath(in.Vars(), in.Param(i, n)); }

void WriteResult(Interpreter& in, std::string_view rawName, std::string_view value, std::string_view statement) {
  if (rawName.empty()) return;
  EnsureResultVariable(in.Vars(), rawName, statement);
  in.Vars().SetVarChecked(UpperCase(std::string(rawName)), value, ActionLabel(statement));
}

void SetNamedResult(Interpreter& in, std::string_view rawName, std::string_view value, std::string_view statement) {
  std::string name = UpperCase(VarNameOrText(rawName));
  if (name.empty()) return;
  in.Vars().SetVar(name, value, ActionLabel(statement));
}

bool Mode64(Interpreter& in) { return in.Context().State.PlatformMode != "Win32"; }

}  // namespace kem
