// Checks of names that tie the parts of a project together: the variables dialogs bind and
// show, the variable an If compares, the component names statements and [component-sizes]
// use, and the numbers of registry dword values. What the project defines is gathered once
// (ProjectNames); every check then reports the place that uses a name nothing defines,
// with the closest defined name.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/forms/form_value.h"
#include "kembuild/project.h"

namespace kem::builder {

class ProjectNames {
 public:
  // statements: the script as checked (enumeration names already compiled to codes).
  ProjectNames(const Project& project, const std::vector<ScriptStatement>& statements);

  // Whether a statement of the script sets the variable, or the engine defines it.
  bool DefinesVariable(std::string_view name) const;
  // "; did you mean $NAME$?" for the closest defined variable other than name, or empty.
  std::string VariableSuggestion(std::string_view name) const;
  // The same for a message of the engine's validation that names an undefined variable.
  std::string ValidationSuggestion(std::string_view message) const;

  // Whether a "Define Component" defines the component (or it is the engine's own); true
  // also when a component name is built from variables, as nothing can be told then.
  bool DefinesComponent(std::string_view name) const;
  std::string ComponentSuggestion(std::string_view name) const;

 private:
  void DefineVariable(std::string_view name);

  std::set<std::string> variables_;          // upper case
  std::vector<std::string> variableNames_;   // as written
  std::set<std::string> components_;         // upper case
  std::vector<std::string> componentNames_;  // as written
  bool componentsFromVariables_ = false;
};

// Component names nobody defines, If statements on variables nobody defines, registry
// dword data that is no number.
void CheckProjectNames(const Project& project, const std::vector<ScriptStatement>& statements,
                       const ProjectNames& names, std::vector<Diagnostic>& errors,
                       std::vector<Diagnostic>& warnings);

// The variables a dialog's controls bind (Hint) and the $NAME$ references of its texts
// that nothing defines: the page would show the reference as written and what the user
// enters would go to a variable the script never reads. formText is the text form (for
// the lines), empty for a binary form.
void CheckBindings(const forms::FormObject& root, std::string_view formText, const std::string& formPath,
                   const ProjectNames& names, std::vector<Diagnostic>& errors);

}  // namespace kem::builder
