#include "components/component_statements.h"

#include <algorithm>

#include "components/components.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

// A component name (k = 1) or description (k = 2): translated while a language is
// selected, then expanded.
std::string ComponentText(Interpreter& in, std::size_t i, int n, int k) {
  std::string raw = in.Param(i, n);
  if (in.LanguageSelected()) raw = in.Translated(raw, in.Param(i, param::Id), k);
  return in.Vars().Expand(raw);
}

void WriteResult(Interpreter& in, const std::string& var, std::string_view value, std::string_view statement) {
  EnsureResultVariable(in.Vars(), var, statement);
  in.Vars().SetVarChecked(var, value, ActionLabel(statement));
}

ComponentTables& Tables(Interpreter& in) { return in.Context().State.Components; }
const TextRules& Rules(Interpreter& in) { return in.Context().Text(); }

void RemoveFirst(StringList& list, const TextRules& rules, std::string_view name) {
  auto it = std::find_if(list.begin(), list.end(), [&](const std::string& s) { return rules.SameText(s, name); });
  if (it != list.end()) list.erase(it);
}

bool Listed(const StringList& list, const TextRules& rules, std::string_view name) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& s) { return rules.SameText(s, name); });
}

void Define(Interpreter& in, std::size_t i) {
  ComponentTables& t = Tables(in);
  std::string name = ComponentText(in, i, param::DefineComponent::Component, 1);
  if (in.LanguageSelected()) {
    // A translated name takes the size recorded for the name as written.
    std::int64_t size =
        ComponentModel(t, Rules(in)).Size(in.Vars().Expand(in.Param(i, param::DefineComponent::Component)));
    if (size != 0) {
      t.Sizes.push_back(name);
      t.Sizes.push_back(std::to_string(size));
    }
  }
  std::string description = ComponentText(in, i, param::DefineComponent::Description, 2);
  DefineComponent(t, Rules(in), name, description, IsTrue(in.Param(i, param::DefineComponent::Selected)));
}

void Delete(Interpreter& in, std::size_t i) {
  ComponentTables& t = Tables(in);
  std::string name = ComponentText(in, i, param::DeleteComponent::Component, 1);
  ComponentModel model(t, Rules(in));
  if (model.Exists(name) && !model.Deleted(name)) t.Deleted.push_back(name);
}

void GetState(Interpreter& in, std::size_t i) {
  std::string name = ComponentText(in, i, param::GetComponentState::Component, 1);
  std::string var = in.Param(i, param::GetComponentState::Result);
  if (var.empty()) return;
  WriteResult(in, var, BoolText(ComponentModel(Tables(in), Rules(in)).IsSelected(name)), "Get Component State");
}

void GetSpace(Interpreter& in, std::size_t i) {
  std::string name = ComponentText(in, i, param::GetComponentSpace::Component, 1);
  std::string var = in.Param(i, param::GetComponentSpace::Result);
  if (var.empty()) return;
  ComponentModel model(Tables(in), Rules(in));
  std::int64_t bytes = name.empty() ? model.RequiredSpace() : model.Size(name);
  WriteResult(in, var, std::to_string(bytes), "Get Component Space");
}

void SetState(Interpreter& in, std::size_t i) {
  ComponentTables& t = Tables(in);
  std::string name = ComponentText(in, i, param::SetComponentState::Component, 1);
  auto index = ComponentModel(t, Rules(in)).IndexOf(name);
  if (!index) return;
  if (t.States.size() <= *index) t.States.resize(*index + 1);
  t.States[*index] = BoolText(IsTrue(in.Param(i, param::SetComponentState::Selected)));
}

void SetSpace(Interpreter& in, std::size_t i) {
  ComponentTables& t = Tables(in);
  std::string name = ComponentText(in, i, param::SetComponentSpace::Component, 1);
  auto size = TryTextToInt64(in.Vars().Expand(in.Param(i, param::SetComponentSpace::Size)));
  if (!size || !ComponentModel(t, Rules(in)).Exists(name)) return;
  SetComponentSize(t, Rules(in), name, *size);
}

// "Set Component Choice" (fixed table) and "Set Component Visibility" (hidden table):
// true removes the name's first entry, false adds a defined name once.
void SetListed(Interpreter& in, std::size_t i, StringList ComponentTables::*member, int component, int flag) {
  ComponentTables& t = Tables(in);
  std::string name = ComponentText(in, i, component, 1);
  StringList& list = t.*member;
  if (IsTrue(in.Param(i, flag))) {
    RemoveFirst(list, Rules(in), name);
  } else if (ComponentModel(t, Rules(in)).Exists(name) && !Listed(list, Rules(in), name)) {
    list.push_back(name);
  }
}

}  // namespace

void RegisterComponentStatements(StatementTable& table) {
  table.Add(StatementKind::DefineComponent, Define);
  table.Add(StatementKind::DeleteComponent, Delete);
  table.Add(StatementKind::GetComponentState, GetState);
  table.Add(StatementKind::GetComponentSpace, GetSpace);
  table.Add(StatementKind::SetComponentState, SetState);
  table.Add(StatementKind::SetComponentSpace, SetSpace);
  table.Add(StatementKind::SetComponentChoice, [](Interpreter& in, std::size_t i) {
    SetListed(in, i, &ComponentTables::Fixed, param::SetComponentChoice::Component,
              param::SetComponentChoice::Changeable);
  });
  table.Add(StatementKind::SetComponentVisibility, [](Interpreter& in, std::size_t i) {
    SetListed(in, i, &ComponentTables::Hidden, param::SetComponentVisibility::Component,
              param::SetComponentVisibility::Visible);
  });
}

namespace {

// The component tables start afresh with every run; a first install starts from the
// predefined component.
class ComponentPhases : public RunParticipant {
 public:
  void ResetRun(Interpreter& in) override {
    ComponentTables& t = in.Context().State.Components;
    t = ComponentTables{};
    t.Sizes = in.Data().ComponentSizes;
  }
  void PrepareRun(Interpreter& in) override {
    ComponentTables& t = in.Context().State.Components;
    // An installed instance's bootstrap has loaded its tables already.
    if (!ComponentModel(t, in.Context().Text()).Exists(kPredefinedComponent) && t.Names.empty())
      StartFirstInstallComponents(t, in.Context().Text());
  }
};

}  // namespace

void AddComponentHooks(InterpreterHooks& hooks) { hooks.Phases.Add(std::make_shared<ComponentPhases>()); }

}  // namespace kem
