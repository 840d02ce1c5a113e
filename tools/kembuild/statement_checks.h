// The builder's checks of script statements against the engine's statement tables: names
// (with a suggestion when one is close), parameter counts and kinds, integers, flags and
// enumerations (readable names are compiled to the codes the engine reads), the balance of
// If/Else/Else If/End and Wizard Loop blocks with the lines of what is unmatched, references
// to variables nothing defines (warnings) and to unknown compiler variables (errors).
#pragma once

#include <string>
#include <vector>

#include "kembuild/project.h"

namespace kem::builder {

// Checks the statements and rewrites readable enumeration names into codes in place.
// Problems go to errors, doubts (a variable that only the command line may define) to
// warnings.
void CheckStatements(const Project& project, std::vector<ScriptStatement>& statements,
                     std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings);

}  // namespace kem::builder
