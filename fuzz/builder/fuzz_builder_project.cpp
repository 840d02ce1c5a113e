// The builder's readers of a project over arbitrary bytes: the manifest (written to a
// project folder of its own and read as the builder reads it) and a script text. The input
// is split at its first NUL byte: the manifest, then the script.
// Findings: anything but a BuildError from the manifest; a crash; a script statement that
// does not read back the same from its own source form (ParseScript after FormatStatement).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "kembuild/code_page.h"
#include "kembuild/project.h"
#include "kembuild/script_parser.h"

namespace fs = std::filesystem;
using namespace kem::builder;

namespace {

const fs::path& ProjectFolder() {
  static const fs::path folder = [] {
    fs::path f = fs::temp_directory_path() / ("kem-fuzz-project-" + std::to_string(getpid()));
    fs::create_directories(f);
    std::ofstream(f / "main.kems", std::ios::binary) << "Comment\n";
    return f;
  }();
  return folder;
}

bool SameStatement(const ScriptStatement& a, const ScriptStatement& b) {
  return a.name == b.name && a.id == b.id && a.commentedOut == b.commentedOut && a.params == b.params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view manifest = input.substr(0, nul);
  const std::string_view script = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const fs::path& folder = ProjectFolder();
  {
    std::ofstream out(folder / kManifestName, std::ios::binary | std::ios::trunc);
    out.write(manifest.data(), static_cast<std::streamsize>(manifest.size()));
  }
  try {
    LoadManifest(folder);
  } catch (const BuildError&) {
  }

  // With the code page the texts are converted; without it they are taken as they are and
  // each statement's source form must read back the same.
  const CodePage codePage(1252);
  std::vector<ScriptStatement> converted;
  std::vector<Diagnostic> diagnostics;
  ParseScript(script, "main.kems", converted, diagnostics, &codePage);
  std::vector<ScriptStatement> statements;
  ParseScript(script, "main.kems", statements, diagnostics);
  for (const ScriptStatement& s : statements) {
    std::vector<ScriptStatement> again;
    std::vector<Diagnostic> problems;
    ParseScript(FormatStatement(s), "main.kems", again, problems);
    if (again.size() != 1 || !problems.empty() || !SameStatement(again[0], s)) std::abort();
  }
  return 0;
}
