#include "kembuild/check_project.h"

#include <algorithm>
#include <tuple>

namespace kem::builder {

void SortDiagnostics(std::vector<Diagnostic>& ds) {
  // The project as a whole, then the manifest, which names every other file, then the
  // other files by name.
  auto rank = [](const Diagnostic& d) { return d.file.empty() ? 0 : d.file == kManifestName ? 1 : 2; };
  std::stable_sort(ds.begin(), ds.end(), [&](const Diagnostic& a, const Diagnostic& b) {
    const int ra = rank(a), rb = rank(b);
    return std::tie(ra, a.file, a.line) < std::tie(rb, b.file, b.line);
  });
}

ProjectCheck CheckProject(const std::filesystem::path& dir) {
  ProjectCheck c;
  std::vector<Diagnostic> problems;
  c.project = LoadProject(dir, &problems);
  c.compiled = CompileProject(c.project, &problems);
  for (auto& d : problems) (d.warning ? c.warnings : c.errors).push_back(std::move(d));
  for (auto& d : c.compiled.warnings) c.warnings.push_back(d);
  SortDiagnostics(c.errors);
  SortDiagnostics(c.warnings);
  c.compiled.warnings = c.warnings;
  return c;
}

}  // namespace kem::builder
