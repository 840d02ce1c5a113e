#include "kembuild/form_checks.h"

#include <map>

#include "common/text.h"
#include "dialogs/forms/control_kinds.h"
#include "dialogs/forms/form_rules.h"
#include "kembuild/statement_reference.h"

namespace kem::builder {
namespace {

using forms::ControlKind;

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Lines of a text, for finding where an object or a property is written.
class Lines {
 public:
  explicit Lines(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t eol = text.find('\n', start);
      std::string_view line = text.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = eol == std::string_view::npos ? text.size() : eol + 1;
    }
  }
  // The 1-based line of "object NAME:" (or inherited/inline), from line from on; 0 if none.
  std::size_t ObjectLine(const std::string& name, std::size_t from = 1) const {
    for (std::size_t i = from ? from - 1 : 0; i < lines_.size(); ++i) {
      std::string_view l = TrimLeft(lines_[i]);
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
  // The 1-based line where property name is written after line from; from when none.
  std::size_t PropertyLine(std::string_view name, std::size_t from) const {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      std::string_view l = TrimLeft(lines_[i]);
      if (l.size() > name.size() && SameText(l.substr(0, name.size()), name) &&
          (l[name.size()] == ' ' || l[name.size()] == '='))
        return i + 1;
    }
    return from;
  }

 private:
  std::vector<std::string_view> lines_;
};

class DialogChecker {
 public:
  DialogChecker(std::string_view formText, const std::string& formPath, std::vector<Diagnostic>& errors,
                std::vector<Diagnostic>& warnings)
      : lines_(formText), formPath_(formPath), errors_(errors), warnings_(warnings) {
    for (ControlKind k : forms::RegisteredControlKinds()) classNames_.push_back(forms::ClassNameOfKind(k));
  }

  void Walk(const forms::FormObject& o, bool root) {
    // Objects come in the text in the order of this walk.
    const std::size_t line = o.name.empty() ? 0 : lines_.ObjectLine(o.name, cursor_);
    if (line) cursor_ = line + 1;
    ControlKind kind = root ? ControlKind::Form : forms::KindOfClass(o.className);
    if (!o.name.empty()) {
      auto [it, fresh] = controls_.emplace(UpperCase(o.name), kind);
      if (!fresh) Error(line, "the control name " + o.name + " is used twice");
    }
    if (kind == ControlKind::Unknown) {
      std::string close = ClosestName(o.className, classNames_);
      Error(line, (o.name.empty() ? std::string("an object") : o.name) + " has the class " + o.className +
                      ", which is no dialog control" + (close.empty() ? "" : "; did you mean " + close + "?"));
    } else {
      std::vector<std::string_view> names;
      for (const auto& info : forms::PropertiesOfKind(kind)) names.push_back(info.name);
      for (const auto& p : o.properties) {
        if (forms::FindPropertyInfo(kind, p.name)) continue;
        if (root && SameText(p.name, "ActiveControl")) continue;  // checked on its own below
        std::string close = ClosestName(p.name, names);
        std::size_t at = lines_.PropertyLine(p.name, line);
        if (!close.empty())
          Error(at, o.className + " has no property " + p.name + "; did you mean " + close + "?");
        else
          Warning(at, p.name + " is not a property of " + o.className + " that the dialog runtime reads");
      }
    }
    if (root)
      for (const auto& p : o.properties)
        if (SameText(p.name, "ActiveControl")) activeControl_ = {p.value.text, lines_.PropertyLine(p.name, line)};
    for (const auto& child : o.children) Walk(child, false);
  }

  void Finish() {
    if (!activeControl_.first.empty() && !controls_.count(UpperCase(activeControl_.first)))
      Error(activeControl_.second, "ActiveControl names " + activeControl_.first + ", which the form does not have");
  }

  void CheckRules(std::string_view text, const std::string& path) {
    std::size_t lineNo = 0, start = 0;
    text = text.substr(0, text.size());
    while (start < text.size()) {
      std::size_t eol = text.find('\n', start);
      std::string_view line = text.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
      start = eol == std::string_view::npos ? text.size() : eol + 1;
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (TrimLeft(line).empty()) continue;
      auto rule = forms::ParseRuleLine(line);
      if (!rule) {
        errors_.push_back({path, lineNo,
                           "not a rule; a rule reads IF (Control.Property = value)  THEN  Control.Property := value;"});
        continue;
      }
      for (const auto* control : {&rule->controlA, &rule->controlB}) {
        if (controls_.count(UpperCase(*control))) continue;
        errors_.push_back({path, lineNo, "the rule names the control " + *control + ", which the form does not have"});
      }
    }
  }

 private:
  void Error(std::size_t line, std::string m) { errors_.push_back({formPath_, line, std::move(m)}); }
  void Warning(std::size_t line, std::string m) {
    Diagnostic d{formPath_, line, std::move(m)};
    d.warning = true;
    warnings_.push_back(std::move(d));
  }

  Lines lines_;
  const std::string& formPath_;
  std::vector<Diagnostic>& errors_;
  std::vector<Diagnostic>& warnings_;
  std::vector<std::string_view> classNames_;
  std::map<std::string, ControlKind> controls_;
  std::pair<std::string, std::size_t> activeControl_;
  std::size_t cursor_ = 1;
};

}  // namespace

void CheckDialog(const forms::FormObject& root, std::string_view formText, const std::string& formPath,
                 std::string_view rulesText, const std::string& rulesPath, std::vector<Diagnostic>& errors,
                 std::vector<Diagnostic>& warnings) {
  DialogChecker c(formText, formPath, errors, warnings);
  c.Walk(root, true);
  c.Finish();
  if (!rulesPath.empty()) c.CheckRules(rulesText, rulesPath);
}

}  // namespace kem::builder
