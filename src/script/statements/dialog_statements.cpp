#include "script/statements/dialog_statements.h"

#include <memory>

#include "common/text.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {

std::uintptr_t SilentDialogPresenter(Interpreter& in, const std::string&, bool modal, std::string& custom) {
  in.Vars().SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
  custom.clear();
  // A non-modal display leaves no window behind: it is recorded as none.
  return modal ? kDialogNext : 0;
}

std::string DialogResultText(std::uintptr_t code, const std::string& custom) {
  switch (code) {
    case kDialogNotModal: return "NOTMODAL";
    case kDialogCancel: return "CANCEL";
    case kDialogNext: return "NEXT";
    case kDialogBack: return "BACK";
    case kDialogCustom: return UpperCase(custom);
    default: return {};
  }
}

namespace {

void DisplayDialog(const DialogOperations& ops, Interpreter& in, std::size_t i) {
  const DialogPresenter& present = ops.Present;
  static constexpr std::string_view kName = "Display Dialog";
  auto& engine = in.Context().State;
  TVariableManager& vars = in.Vars();
  std::string condition = in.Param(i, param::DisplayDialog::Condition);
  if (!condition.empty()) {
    if (IsTrue(vars.Get(VarNameOrText(condition))) == IsTrue(in.Param(i, param::DisplayDialog::ConditionValue)))
      return;  // skipped
  }
  std::string key = std::to_string(i);
  engine.LastDisplayedKey = key;
  if (!engine.PendingUnbindKey.empty()) {
    if (ops.Unbind) ops.Unbind(in, engine.PendingUnbindKey);
    engine.PendingUnbindKey.clear();
  }
  if (ops.Bind) ops.Bind(in, key);

  std::string custom;
  std::uintptr_t code;
  if (in.InWizardLoop()) {
    code = present(in, key, true, custom);
    engine.PendingUnbindKey = key;
  } else if (IsTrue(in.Param(i, param::DisplayDialog::Modal))) {
    code = present(in, key, true, custom);
    engine.WindowHandleOfNonModal = 0;
    vars.SetVar("WINDOWHANDLE", "0", kName);
    engine.PendingUnbindKey = key;
  } else {
    std::uintptr_t handle = present(in, key, false, custom);
    engine.WindowHandleOfNonModal = handle;
    vars.SetVar("WINDOWHANDLE", std::to_string(handle), kName);
    code = kDialogNotModal;
  }

  std::string result = in.Param(i, param::DisplayDialog::Result);
  if (!result.empty()) {
    EnsureResultVariable(vars, result, kName);
    vars.SetVarChecked(result, DialogResultText(code, custom), ActionLabel(kName));
  }
  if (in.InWizardLoop()) {
    if (code == kDialogCancel) in.SetWizardStep(0);
    else if (code == kDialogNext) in.SetWizardStep(1);
    else if (code == kDialogBack) in.SetWizardStep(-1);
  }
}

void HideDialog(const DialogOperations& ops, Interpreter& in, std::size_t) {
  auto& engine = in.Context().State;
  if (ops.Hide) ops.Hide(in);
  if (!engine.LastDisplayedKey.empty()) {
    engine.PendingUnbindKey = engine.LastDisplayedKey;
    engine.LastDisplayedKey.clear();
  }
  engine.WindowHandleOfNonModal = 0;
  in.Vars().SetVar("WINDOWHANDLE", "0", "Hide Dialog");
}

}  // namespace

void RegisterDialogStatements(StatementTable& table, DialogPresenter presenter) {
  DialogOperations ops;
  ops.Present = std::move(presenter);
  RegisterDialogStatements(table, std::move(ops));
}

void RegisterDialogStatements(StatementTable& table, DialogOperations operations) {
  if (!operations.Present) operations.Present = SilentDialogPresenter;
  auto ops = std::make_shared<const DialogOperations>(std::move(operations));
  table.Add(StatementKind::DisplayDialog, [ops](Interpreter& in, std::size_t i) { DisplayDialog(*ops, in, i); });
  table.Add(StatementKind::HideDialog, [ops](Interpreter& in, std::size_t i) { HideDialog(*ops, in, i); });
}

}  // namespace kem
