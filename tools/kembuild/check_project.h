// One pass over a project: every error and every warning the reading, the checks and the
// compilation find, instead of stopping at the first kind of problem.
#pragma once

#include <filesystem>
#include <vector>

#include "kembuild/compile_setup.h"
#include "kembuild/project.h"

namespace kem::builder {

struct ProjectCheck {
  Project project;
  CompiledSetup compiled;  // complete only when there are no errors
  std::vector<Diagnostic> errors;    // ordered by file and line (SortDiagnostics)
  std::vector<Diagnostic> warnings;  // ordered by file and line (SortDiagnostics)
};

// Reads and compiles the project, collecting every problem. Raises BuildError only when
// there is no project to read (no folder, no readable manifest) or it is beyond what the
// engine can load.
ProjectCheck CheckProject(const std::filesystem::path& dir);

// Orders messages by file and line: those about the project as a whole first, then the
// manifest's, then the other files' by name; those on one line keep their order.
void SortDiagnostics(std::vector<Diagnostic>& ds);

}  // namespace kem::builder
