// A store of the test's own, and the short ways to it the tests use.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem::test {

class StoreFixture : public ::testing::Test {
 protected:
  TVariableManager vars;

  TVariableManager& Variables() { return vars; }
  std::string GetVar(std::string_view name) const { return vars.Get(name); }
  bool VarExists(std::string_view name) const { return vars.Exists(name); }
  void SetVar(std::string_view name, std::string_view value, std::string_view origin) {
    vars.SetVar(name, value, origin);
  }
  void SetVarChecked(std::string_view name, std::string_view value, std::string_view origin) {
    vars.SetVarChecked(name, value, origin);
  }
  void RawSet(std::string_view name, std::string_view value) { vars.Set(name, value); }
  void ClearVars() { vars.Clear(); }
  std::string ExportVars() const { return vars.Export(); }
  void ImportVars(std::string_view text) { vars.Import(text); }
  void SetCommandLineOverrides(bool silent, std::vector<std::string> assignments) {
    vars.SetCommandLineOverrides(silent, std::move(assignments));
  }
  bool IsProtectedByCommandLine(std::string_view name) const { return vars.IsProtectedByCommandLine(name); }
  void InjectCommandLineAssignments() { vars.InjectCommandLineAssignments(); }
  std::string VarValueExpanded(std::string_view ref) const { return vars.ValueExpanded(ref); }
  std::string VarValueOrMarker(std::string_view ref) const { return vars.ValueOrMarker(ref); }
  bool VarRefDefined(std::string_view text, bool plainIsEnough) const { return vars.RefDefined(text, plainIsEnough); }
  std::string ExpandVars(std::string_view text) const { return vars.Expand(text); }
  std::string ExpandVarsQuoted(std::string_view text) const { return vars.ExpandQuoted(text); }
  std::string ExpandPath(std::string_view text) const { return kem::ExpandPath(vars, text); }
  void EnsureResultVariable(std::string_view name, std::string_view statement) {
    kem::EnsureResultVariable(vars, name, statement);
  }
};

}  // namespace kem::test
