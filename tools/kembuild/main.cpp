// kembuild: the setup builder's command line.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/statement_kinds.h"
#include "kembuild/build_setup.h"
#include "kembuild/check_project.h"
#include "kembuild/compile_setup.h"
#include "kembuild/form_commands.h"
#include "kembuild/statement_reference.h"
#include "kembuild/translations.h"

namespace {

const char kHelp[] =
    "Usage: kembuild COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  build PROJECT_DIR -o OUT_DIR [--engine-dir DIR]\n"
    "      Builds the setup of the project folder into OUT_DIR: BASE.exe (the engine with\n"
    "      the setup data appended), BASE.res (the support archive), BASE.msi (the\n"
    "      installer database), kem.lib, and setup.bmp when the project has a splash\n"
    "      picture. BASE is the manifest's setup-name (default \"setup\"). DIR holds\n"
    "      kemstub.exe and kem.lib; without --engine-dir the environment variable\n"
    "      KEM_ENGINE_DIR names it, else the engine installed with kembuild\n"
    "      (BIN/../share/kem/engine) or kept beside it is used, else, for a kembuild in\n"
    "      a build tree, the engine of a Windows build tree beside it (32-bit first); the\n"
    "      engine used is named on standard error. OUT_DIR must lie outside the project\n"
    "      folder. Nothing is written when the build fails or is stopped.\n"
    "  check PROJECT_DIR\n"
    "      Reads and checks the project as a build does, and writes nothing. Every error\n"
    "      and warning of every kind is reported in one run, by file and line.\n"
    "  assign-ids PROJECT_DIR\n"
    "      Writes an ID into every script statement that has none, the same ID a build\n"
    "      would give it, so the statement keeps it when others are added later.\n"
    "  translations PROJECT_DIR LANGUAGE\n"
    "      Writes or updates the translation source of LANGUAGE (the file the manifest's\n"
    "      [translations] section names, else translations/LANGUAGE.txt): every text of\n"
    "      the script with its translation so far; new texts have an empty translation and\n"
    "      texts changed since they were translated are marked stale.\n"
    "  form-compile ARGUMENTS\n"
    "      Compiles text form files into binary form files (see form-compile --help).\n"
    "  form-text ARGUMENTS\n"
    "      Turns binary form files into text form files (see form-text --help).\n"
    "  statements [NAME | -o FILE]\n"
    "      Prints the statement reference (docs/statements.md): every statement with its\n"
    "      parameters, their kinds and the readable names of enumeration codes; with NAME,\n"
    "      that statement only (letter case does not matter).\n"
    "  help, --help\n"
    "      Shows this text.\n"
    "\n"
    "The project format is described in docs/project-format.md. Errors are reported on\n"
    "standard error as FILE:LINE: error: MESSAGE; the exit status is 0 on success, 1 when\n"
    "the project has errors or the build fails, 2 for a wrong command line.\n";

int Usage(const std::string& message) {
  std::cerr << "kembuild: " << message << "\nTry 'kembuild --help'.\n";
  return 2;
}

// At most this many messages of one kind are printed: a file that is no script at all (a
// program saved under a script's name) would otherwise bury the first message under
// thousands of lines.
constexpr std::size_t kMessagesShown = 50;

// Errors and warnings together, ordered by file and line, at most kMessagesShown of each.
void PrintDiagnostics(std::vector<kem::builder::Diagnostic> ds) {
  kem::builder::SortDiagnostics(ds);
  std::size_t shown[2] = {0, 0}, total[2] = {0, 0};
  for (const auto& d : ds) {
    const int kind = d.warning ? 1 : 0;
    if (++total[kind] <= kMessagesShown) {
      ++shown[kind];
      std::cerr << kem::builder::FormatDiagnostic(d) << '\n';
    }
  }
  for (int kind : {0, 1})
    if (total[kind] > shown[kind])
      std::cerr << "kembuild: " << total[kind] - shown[kind] << " more " << (kind ? "warning" : "error")
                << "(s) not shown\n";
}

void PrintErrors(const kem::builder::BuildError& e) { PrintDiagnostics(e.Diagnostics()); }

int Build(const std::vector<std::string>& args) {
  kem::builder::BuildOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "-o" || a == "--output") && i + 1 < args.size()) o.outputDir = args[++i];
    else if (a == "--engine-dir" && i + 1 < args.size()) o.engineDir = args[++i];
    else if (!a.empty() && a[0] == '-') return Usage("unknown or incomplete option " + a);
    else if (o.projectDir.empty()) o.projectDir = a;
    else return Usage("more than one project folder given");
  }
  if (o.projectDir.empty()) return Usage("build needs a project folder");
  if (o.outputDir.empty()) return Usage("build needs an output folder (-o OUT_DIR)");
  auto r = kem::builder::BuildSetup(o);
  std::cerr << "kembuild: using the engine " << r.engine.string() << '\n';
  PrintDiagnostics(r.compiled.warnings);
  if (r.statementsWithoutId)
    std::cerr << "kembuild: note: " << r.statementsWithoutId
              << " statement(s) have no ID in the source; run 'kembuild assign-ids' to keep their IDs stable\n";
  for (const auto& f : r.files) std::cout << f.string() << '\n';
  return 0;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("check needs exactly one project folder");
  auto checked = kem::builder::CheckProject(args[0]);
  std::vector<kem::builder::Diagnostic> all = checked.errors;
  all.insert(all.end(), checked.warnings.begin(), checked.warnings.end());
  PrintDiagnostics(all);
  if (!checked.errors.empty()) return 1;
  std::cout << args[0] << ": " << checked.compiled.data.StatementCount() << " statements, "
            << checked.compiled.supportFiles.size() << " support files, no errors";
  if (!checked.warnings.empty()) std::cout << ", " << checked.warnings.size() << " warning(s)";
  std::cout << '\n';
  return 0;
}

int Statements(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cout << kem::builder::StatementReferenceMarkdown();
    return 0;
  }
  if (args.size() == 2 && (args[0] == "-o" || args[0] == "--output")) {
    // Written whole to a temporary name, then moved into place.
    const std::string temp = args[1] + ".tmp";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << kem::builder::StatementReferenceMarkdown();
    out.close();
    if (!out || std::rename(temp.c_str(), args[1].c_str()) != 0) {
      std::remove(temp.c_str());
      std::cerr << "kembuild: error: cannot write " << args[1] << '\n';
      return 1;
    }
    return 0;
  }
  std::string name;
  for (const auto& a : args) name += (name.empty() ? "" : " ") + a;
  if (auto kind = kem::builder::FindStatementKindIgnoringCase(name)) {
    std::cout << kem::builder::StatementReferenceText(*kind);
    return 0;
  }
  std::vector<std::string_view> names;
  for (const auto& info : kem::StatementKinds()) names.push_back(info.name);
  std::string close = kem::builder::ClosestName(name, names);
  std::cerr << "kembuild: no statement named \"" << name << "\""
            << (close.empty() ? std::string() : "; did you mean \"" + close + "\"?") << '\n';
  return 1;
}

int AssignIds(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("assign-ids needs exactly one project folder");
  std::size_t n = kem::builder::AssignStatementIds(args[0]);
  std::cout << n << " statement ID(s) written\n";
  return 0;
}

int Translations(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("translations needs a project folder and a language");
  namespace fs = std::filesystem;
  kem::builder::Project project = kem::builder::LoadProject(args[0]);
  const std::string& language = args[1];
  // The name becomes a file name in the project.
  if (language.empty() || language.find_first_of("\\/:") != std::string::npos || language.find("..") != std::string::npos)
    return Usage("the language \"" + language + "\" cannot name a translation file");
  std::string relative = "translations/" + language + ".txt";
  for (const auto& t : project.translations)
    if (kem::SameText(t.name, language)) relative = t.value;
  // The script's texts, whatever the sources hold now.
  project.translations.clear();
  const kem::builder::CompiledSetup compiled = kem::builder::CompileProject(project);
  const fs::path path = project.dir / relative;
  std::string old;
  if (std::ifstream in(path, std::ios::binary); in) old.assign(std::istreambuf_iterator<char>(in), {});
  const std::string text = kem::builder::UpdatedTranslationSource(project, compiled.data, compiled.dialogTexts, language, old);
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  std::cout << "wrote " << relative << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "help" || command == "--help" || command == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (command == "build") return Build(args);
    if (command == "check") return Check(args);
    if (command == "assign-ids") return AssignIds(args);
    if (command == "statements") return Statements(args);
    if (command == "translations") return Translations(args);
    if (command == "form-compile" || command == "form-text") {
      return command == "form-compile" ? kem::RunFormCompile(args) : kem::RunFormText(args);
    }
    return Usage("unknown command " + command);
  } catch (const kem::builder::BuildError& e) {
    PrintErrors(e);
    return 1;
  } catch (const std::filesystem::filesystem_error& e) {
    std::cerr << "kembuild: error: " << (e.path1().empty() ? std::string() : e.path1().string() + ": ")
              << e.code().message() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "kembuild: error: " << e.what() << '\n';
    return 1;
  }
}
