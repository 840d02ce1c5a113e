#include "kembuild/authoring_checks.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "common/text.h"
#include "components/components.h"
#include "dialogs/forms/control_kinds.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "kembuild/statement_reference.h"
#include "script/validation/script_validation.h"

namespace kem::builder {
namespace {

using forms::ControlKind;

constexpr std::string_view kPersistMarker = "$VRAX$VRAX$";

bool HasReference(std::string_view text) { return text.find_first_of("$#") != std::string_view::npos; }

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }
bool LooksLikeName(std::string_view s) {
  return !s.empty() && IsNameStart(s[0]) && std::all_of(s.begin(), s.end(), IsNameChar);
}

// NAME or $NAME$.
std::string VariableOf(std::string_view text) {
  if (text.size() >= 2 && text.front() == '$' && text.back() == '$' &&
      text.substr(1, text.size() - 2).find('$') == std::string_view::npos)
    return std::string(text.substr(1, text.size() - 2));
  return std::string(text);
}

// The names of the $NAME$ references in text that look like names ("$5 or $6" names none).
std::vector<std::string> References(std::string_view text) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while ((at = text.find('$', at)) != std::string_view::npos) {
    std::size_t close = text.find('$', at + 1);
    if (close == std::string_view::npos) break;
    std::string_view name = text.substr(at + 1, close - at - 1);
    if (LooksLikeName(name)) {
      names.emplace_back(name);
      at = close + 1;
    } else {
      at = close;  // the closing mark may open the next reference
    }
  }
  return names;
}

// Whether b is a with two neighbouring letters swapped (TITEL for TITLE), letter case aside.
bool SwappedNeighbours(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.size() < 2) return false;
  const std::string ua = UpperCase(a), ub = UpperCase(b);
  std::size_t i = 0;
  while (i < ua.size() && ua[i] == ub[i]) ++i;
  return i + 1 < ua.size() && ua[i] == ub[i + 1] && ua[i + 1] == ub[i] &&
         ua.compare(i + 2, std::string::npos, ub, i + 2, std::string::npos) == 0;
}

// The closest name: a swap of two neighbouring letters first (the commonest slip, which
// an edit distance counts twice and so often finds a tie for), then the nearest by
// distance when only one is nearest.
std::string Closest(std::string_view name, const std::vector<std::string>& candidates) {
  for (const auto& c : candidates)
    if (SwappedNeighbours(name, c)) return c;
  std::vector<std::string_view> views(candidates.begin(), candidates.end());
  std::string close = ClosestName(name, views);
  return SameText(close, name) ? std::string() : close;
}

// A REG_DWORD value as the installer writes it: a decimal number of 32 bits, signed or not.
bool IsDwordText(std::string_view text) {
  long long v = 0;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v >= -2147483648LL &&
         v <= 4294967295LL;
}

bool NamesComponent(StatementKind kind) {
  switch (kind) {
    case StatementKind::DeleteComponent:
    case StatementKind::GetComponentState:
    case StatementKind::GetComponentSpace:
    case StatementKind::SetComponentState:
    case StatementKind::SetComponentSpace:
    case StatementKind::SetComponentChoice:
    case StatementKind::SetComponentVisibility: return true;
    default: return false;
  }
}

// Control kinds that read or write the variable their Hint names.
bool BindsHint(ControlKind kind) {
  static constexpr ControlKind kBound[] = {
      ControlKind::Edit,         ControlKind::MaskEdit,         ControlKind::Memo,          ControlKind::RichEdit,
      ControlKind::RzCheckBox,   ControlKind::RzRadioButton,    ControlKind::ListBox,       ControlKind::CheckListBox,
      ControlKind::ComboBox,     ControlKind::TrackBar,         ControlKind::FileListBox,   ControlKind::DirectoryListBox,
      ControlKind::DriveComboBox, ControlKind::PTShellTree,     ControlKind::PTShellList,   ControlKind::PTShellCombo,
      ControlKind::TreeView,  // writes the selected node's text
  };
  return std::any_of(std::begin(kBound), std::end(kBound),
                     [&](ControlKind base) { return forms::InheritsFrom(kind, base); });
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// The lines of a text form, to find where an object and its properties are written.
class FormLines {
 public:
  explicit FormLines(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t eol = text.find('\n', start);
      std::string_view line = text.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(TrimLeft(line));
      start = eol == std::string_view::npos ? text.size() : eol + 1;
    }
  }
  // The 1-based line of "object NAME:" (or inherited, inline) from line from on; 0 if none.
  std::size_t Object(std::string_view name, std::size_t from) const {
    for (std::size_t i = from ? from - 1 : 0; i < lines_.size(); ++i) {
      std::string_view l = lines_[i];
      std::size_t blank = l.find(' ');
      if (blank == std::string_view::npos) continue;
      std::string_view word = l.substr(0, blank);
      if (!SameText(word, "object") && !SameText(word, "inherited") && !SameText(word, "inline")) continue;
      std::string_view rest = TrimLeft(l.substr(blank));
      std::size_t colon = rest.find(':');
      if (colon != std::string_view::npos && SameText(rest.substr(0, colon), name)) return i + 1;
    }
    return 0;
  }
  // The 1-based line where the property is written after line from; from when none is.
  std::size_t Property(std::string_view name, std::size_t from) const {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      std::string_view l = lines_[i];
      if (l.size() > name.size() && SameText(l.substr(0, name.size()), name) &&
          (l[name.size()] == ' ' || l[name.size()] == '='))
        return i + 1;
    }
    return from;
  }

 private:
  std::vector<std::string_view> lines_;
};

std::string PropertyText(const forms::Value& v) {
  if (v.items.empty()) return v.NarrowText();
  std::string out;
  for (const auto& item : v.items) out += item.NarrowText() + "\n";
  return out;
}

class BindingChecker {
 public:
  BindingChecker(std::string_view formText, const std::string& formPath, const ProjectNames& names,
                 std::vector<Diagnostic>& errors)
      : lines_(formText), formPath_(formPath), names_(names), errors_(errors) {}

  // A button with Tag 6 sets the variable named like the button to the folder the user
  // chooses: on its page, that variable is defined.
  void CollectFolderButtons(const forms::FormObject& o) {
    const ControlKind kind = forms::KindOfClass(o.className);
    if (forms::InheritsFrom(kind, ControlKind::Button) || kind == ControlKind::BitBtn ||
        kind == ControlKind::SpeedButton || kind == ControlKind::RzBmpButton)
      for (const auto& p : o.properties)
        if (SameText(p.name, "Tag") && p.value.integer == 6) folderButtons_.insert(UpperCase(o.name));
    for (const auto& child : o.children) CollectFolderButtons(child);
  }

  void Walk(const forms::FormObject& o, bool root) {
    const std::size_t line = o.name.empty() ? 0 : lines_.Object(o.name, cursor_);
    if (line) cursor_ = line + 1;
    const ControlKind kind = root ? ControlKind::Form : forms::KindOfClass(o.className);
    const std::string who = o.name.empty() ? o.className : o.name;
    if (!root && !forms::IsNeverBound(kind)) {
      std::string hint;
      long long tag = 0;
      for (const auto& p : o.properties) {
        if (SameText(p.name, "Hint")) hint = p.value.NarrowText();
        else if (SameText(p.name, "Tag")) tag = p.value.integer;
      }
      // A progress bar or gauge with Tag 100 follows the variable its Hint names.
      const bool bound = BindsHint(kind) || (tag == 100 && (kind == ControlKind::ProgressBar || kind == ControlKind::Gauge));
      const std::string variable = VariableOf(hint);
      if (bound && !variable.empty() && !HasReference(variable) && !Defines(variable))
        Error(lines_.Property("Hint", line),
              who + " binds the variable " + variable + ", which no statement sets and the engine does not define" +
                  names_.VariableSuggestion(variable) +
                  "; what the user enters there is lost (give the variable its default with Set Variable, also "
                  "when the command line may set it)");
    }
    if (kind != ControlKind::Unknown && kind != ControlKind::TreeView && !forms::IsNeverBound(kind)) {
      for (const auto& p : o.properties) {
        const bool shown = SameText(p.name, "Caption") || SameText(p.name, "Text") || SameText(p.name, "Lines") ||
                           SameText(p.name, "Lines.Strings") || SameText(p.name, "Items") ||
                           SameText(p.name, "Items.Strings");
        if (!shown) continue;
        std::set<std::string> seen;
        for (const auto& name : References(PropertyText(p.value))) {
          if (Defines(name) || !seen.insert(UpperCase(name)).second) continue;
          Error(lines_.Property(p.name, line), who + " shows $" + name + "$, which no statement sets and the engine "
                                               "does not define" + names_.VariableSuggestion(name));
        }
      }
    }
    for (const auto& child : o.children) Walk(child, false);
  }

 private:
  void Error(std::size_t line, std::string m) { errors_.push_back({formPath_, line, std::move(m)}); }
  bool Defines(const std::string& name) const {
    return names_.DefinesVariable(name) || folderButtons_.count(UpperCase(name)) != 0;
  }

  std::set<std::string> folderButtons_;  // upper case
  FormLines lines_;
  const std::string& formPath_;
  const ProjectNames& names_;
  std::vector<Diagnostic>& errors_;
  std::size_t cursor_ = 1;
};

}  // namespace

ProjectNames::ProjectNames(const Project& project, const std::vector<ScriptStatement>& statements) {
  for (std::string_view name : PredeclaredVariables()) DefineVariable(name);
  components_.insert(UpperCase(kPredefinedComponent));
  std::set<std::string, std::less<>> plugins;
  for (const auto& ps : project.pluginStatements) plugins.insert(ps.name);
  for (const auto& s : statements) {
    if (s.commentedOut) continue;
    auto kind = FindStatementKind(s.name);
    const StatementReference* ref = kind ? &StatementReferenceOf(*kind) : nullptr;
    if (!ref || !ref->described) {
      // A plug-in's or an undescribed statement's parameters may name the variables it
      // sets: any parameter that is a plain name counts.
      if (kind || plugins.count(s.name))
        for (const auto& p : s.params)
          if (std::string v = VariableOf(p); LooksLikeName(v)) DefineVariable(v);
      continue;
    }
    for (std::size_t i = 0; i < ref->parameters.size() && i < s.params.size(); ++i) {
      if (ref->parameters[i].kind != ParameterKind::ResultVariable) continue;
      std::string_view text = s.params[i];
      if (ref->parameters[i].traits & kPersistable) text = text.substr(0, text.find(kPersistMarker));
      DefineVariable(VariableOf(text));
    }
    if (*kind == StatementKind::DefineComponent && !s.params.empty()) {
      const std::string& name = s.params[0];
      if (HasReference(name)) componentsFromVariables_ = true;
      else if (components_.insert(UpperCase(name)).second) componentNames_.push_back(name);
    }
  }
}

void ProjectNames::DefineVariable(std::string_view name) {
  if (name.empty()) return;
  if (variables_.insert(UpperCase(name)).second) variableNames_.emplace_back(name);
}

bool ProjectNames::DefinesVariable(std::string_view name) const { return variables_.count(UpperCase(name)) != 0; }

std::string ProjectNames::VariableSuggestion(std::string_view name) const {
  std::string close = Closest(name, variableNames_);
  return close.empty() ? close : "; did you mean $" + close + "$?";
}

std::string ProjectNames::ValidationSuggestion(std::string_view message) const {
  if (message.substr(0, kVariableNotDefinedMessage.size()) != kVariableNotDefinedMessage) return {};
  std::string name = VariableOf(message.substr(kVariableNotDefinedMessage.size()));
  return DefinesVariable(name) ? std::string() : VariableSuggestion(name);
}

bool ProjectNames::DefinesComponent(std::string_view name) const {
  return componentsFromVariables_ || components_.count(UpperCase(name)) != 0;
}

std::string ProjectNames::ComponentSuggestion(std::string_view name) const {
  std::string close = Closest(name, componentNames_);
  return close.empty() ? close : "; did you mean \"" + close + "\"?";
}

void CheckProjectNames(const Project& project, const std::vector<ScriptStatement>& statements,
                       const ProjectNames& names, std::vector<Diagnostic>& errors,
                       std::vector<Diagnostic>& warnings) {
  for (const auto& c : project.componentSizes)
    if (!names.DefinesComponent(c.name))
      errors.push_back({kManifestName, c.line,
                        "[component-sizes] names the component " + c.name + ", which no Define Component defines" +
                            names.ComponentSuggestion(c.name)});
  for (const auto& s : statements) {
    if (s.commentedOut) continue;
    auto kind = FindStatementKind(s.name);
    if (!kind) continue;
    auto error = [&](std::string m) { errors.push_back({s.file, s.line + 1, std::move(m)}); };
    const std::string what(StatementKindName(*kind));
    if (NamesComponent(*kind) && !s.params.empty()) {
      const std::string& name = s.params[0];
      if (!name.empty() && !HasReference(name) && !names.DefinesComponent(name))
        error(what + " names the component " + name + ", which no Define Component defines" +
              names.ComponentSuggestion(name));
    }
    // The engine refuses to run a script whose If compares a variable nobody defines
    // (also with "defined": its validation wants the variable declared before).
    if ((*kind == StatementKind::If || *kind == StatementKind::ElseIf) && !s.params.empty()) {
      const std::string name = VariableOf(s.params[0]);
      if (!name.empty() && !HasReference(name) && !names.DefinesVariable(name)) {
        error(std::string(kVariableNotDefinedMessage) + "$" + name + "$" + names.VariableSuggestion(name) +
              " (a variable compared by " + what + " must be set before)");
        // The doubt about the same variable on the same line is now an error.
        const std::string about = "variable " + name;
        std::erase_if(warnings, [&](const Diagnostic& w) {
          return w.file == s.file && w.line == s.line + 1 && w.message.find(about) != std::string::npos;
        });
      }
    }
    if (*kind == StatementKind::WriteRegistry && s.params.size() > 4 && s.params[4] == "2" &&
        !HasReference(s.params[3]) && !IsDwordText(s.params[3]))
      error("the data of a dword value must be a whole number from -2147483648 to 4294967295, not \"" + s.params[3] +
            "\"");
  }
}

void CheckBindings(const forms::FormObject& root, std::string_view formText, const std::string& formPath,
                   const ProjectNames& names, std::vector<Diagnostic>& errors) {
  BindingChecker checker(formText, formPath, names, errors);
  checker.CollectFolderButtons(root);
  checker.Walk(root, true);
}

}  // namespace kem::builder
