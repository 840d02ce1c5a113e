// Checks of a dialog's form and rules that the form compiler does not make: control classes
// the dialog runtime knows, property names (misspelt ones are errors, others the runtime
// does not read are warnings), control names used twice, an ActiveControl that names no
// control, and rules that are malformed or name controls the form lacks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dialogs/forms/form_value.h"
#include "kembuild/project.h"

namespace kem::builder {

// formText and rulesText are the files' texts (for the lines of messages); rulesPath is
// empty when the dialog has no rules file.
void CheckDialog(const forms::FormObject& root, std::string_view formText, const std::string& formPath,
                 std::string_view rulesText, const std::string& rulesPath, std::vector<Diagnostic>& errors,
                 std::vector<Diagnostic>& warnings);

}  // namespace kem::builder
