// Control rules: the text file written beside each dialog (dialog file + ".kemf"), one
// rule a line:
//
//   IF (Memo1.MaxLength = 2147483647)  THEN  RadioButton1.Enabled := True;
//
// Four opening characters, control A "." property A, the operator " = " or " <> ",
// value A, ")  THEN  ", control B "." property B, " := ", value B, ";". A rule sets
// property B when the current text of property A equals value A (" = ") or differs from
// it (" <> "); there is no else branch.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/forms/form_model.h"

namespace kem::forms {

struct ControlRule {
  std::string controlA;
  std::string propertyA;
  bool notEqual = false;  // operator " <> "
  std::string valueA;
  std::string controlB;
  std::string propertyB;
  std::string valueB;
};

// Reading and setting properties by control and property name. The model implements it
// over a form file's components; the dialog runtime implements it over live controls.
// Names are compared without regard to case.
class PropertyAccess {
 public:
  virtual ~PropertyAccess() = default;
  // The property's text, or nullopt when the control or the property does not exist.
  virtual std::optional<std::string> GetPropertyText(std::string_view control, std::string_view property) = 0;
  // Sets the property from a text; false when the control or property is missing or the
  // text does not convert (the rule is then skipped).
  virtual bool SetPropertyText(std::string_view control, std::string_view property, std::string_view text) = 0;
};

// Parses one rule line; nullopt for a line without the rule's structure (blank lines,
// text without the "." of control A, the operator, ")  THEN  ", the "." of control B or
// " := "). The operator is looked for in the condition only, and value B runs to the last
// ";" of the line (to its end when there is none), so that value B may itself contain
// " <> " or ";".
std::optional<ControlRule> ParseRuleLine(std::string_view line);

// Splits a rules file's text into lines (CR LF, LF or CR) and parses each; lines that are
// not rules are skipped.
std::vector<ControlRule> ParseRules(std::string_view text);

// Reads a rules file. Throws FormError naming the file when it cannot be read.
std::vector<ControlRule> LoadRulesFile(const std::string& path);

// Evaluates the rules in order: a value that contains "." and names an existing control
// and property ("Edit1.Text") is replaced by that property's current text; a missing
// control or property yields the empty text for property A, and a failed assignment is
// ignored.
void ApplyRules(const std::vector<ControlRule>& rules, PropertyAccess& access);

// PropertyAccess over a form model: components of the form found by name, properties by
// published or stored name, with the kinds' defaults for properties the file omits.
class ModelPropertyAccess : public PropertyAccess {
 public:
  explicit ModelPropertyAccess(FormModel& model) : model_(model) {}
  std::optional<std::string> GetPropertyText(std::string_view control, std::string_view property) override;
  bool SetPropertyText(std::string_view control, std::string_view property, std::string_view text) override;

 private:
  FormModel& model_;
};

}  // namespace kem::forms
