// The project: what an author writes by hand. A project folder holds
//
//   project.kemp        the manifest: product identity and tables (see docs/project-format.md)
//   *.kems              script files named by the manifest, one statement per line
//   dialogs/NAME.dfm    dialog forms, binary, or dialogs/NAME.dfm.txt in text form;
//                       optional rules beside them: dialogs/NAME.dfm.kemf
//   support files       readme, licence, translations, pictures..., listed in the manifest
//   setup.bmp           optional splash picture
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kem::builder {

inline constexpr const char* kManifestName = "project.kemp";

// One problem found in a project file. line is 1-based; 0 when the problem concerns the
// file (or the project) as a whole.
struct Diagnostic {
  std::string file;  // path relative to the project folder, with "/"
  std::size_t line = 0;
  std::string message;
  bool warning = false;  // a doubt that does not stop the build
};
std::string FormatDiagnostic(const Diagnostic& d);

// A build that cannot go on; carries every problem found, in the order found.
class BuildError : public std::runtime_error {
 public:
  explicit BuildError(std::vector<Diagnostic> diagnostics);
  BuildError(std::string file, std::size_t line, std::string message);
  const std::vector<Diagnostic>& Diagnostics() const noexcept { return diagnostics_; }

 private:
  std::vector<Diagnostic> diagnostics_;
};

struct ScriptStatement {
  std::string name;
  std::string id;                   // canonical braced GUID; empty when the source has none
  bool commentedOut = false;
  std::vector<std::string> params;  // as the author means them (line breaks kept)
  std::string file;                 // project-relative path, "/" separated
  std::size_t line = 0;             // 0-based
  std::size_t idColumn = 0;         // where an ID goes in the source line (before the name)

  // The parameter at a position (param::<Kind>::<Position>, 1-based); empty when left out.
  std::string Param(int position) const {
    const auto i = static_cast<std::size_t>(position - 1);
    return position > 0 && i < params.size() ? params[i] : std::string();
  }
};

struct NamedValue {
  std::string name;
  std::string value;
  std::size_t line = 0;  // 1-based manifest line
};

struct SupportFile {
  std::string path;  // project-relative, "/" separated
  std::size_t line = 0;
};

struct DialogForm {
  std::string name;          // dialog name, as "Display Dialog" names it
  std::string formPath;      // project-relative path of the form file
  bool textForm = false;     // NAME.dfm.txt (compiled) rather than NAME.dfm (copied)
  std::string rulesPath;     // project-relative path of NAME.dfm.kemf; empty when absent
};

struct Project {
  std::filesystem::path dir;

  // [product]
  std::string productCode;   // canonical braced GUID
  std::string revisionCode;  // canonical braced GUID
  std::string upgradeCode;   // canonical braced GUID (derived from the product code when not given)
  std::string title;
  std::string company;
  std::string contact;
  std::string helpLink;
  std::string updateLink;
  std::string comments;
  std::string version;
  std::int64_t mediaMode = 0;
  std::string defaultLanguage = "English";
  bool selectLanguage = false;
  std::uint32_t codePage = 1252;
  std::string baseName = "setup";  // output file names: base + ".exe", ".res", ".msi"
  std::string splash;              // project-relative path of the splash picture, or empty
  std::vector<SupportFile> scripts;
  // Folders besides the project folder that may hold files the manifest names (canonical).
  std::vector<std::filesystem::path> sourceFolders;

  std::vector<NamedValue> compilerVariables;
  std::vector<NamedValue> pluginStatements;  // value unused
  std::vector<NamedValue> componentSizes;    // value: decimal size in bytes
  std::vector<NamedValue> translations;      // language -> project-relative translation source
  std::vector<NamedValue> webBlocks;         // web block name -> password (code page), for media-mode 2
  std::vector<SupportFile> supportFiles;
  std::vector<DialogForm> dialogs;

  std::vector<ScriptStatement> statements;  // every script file, in manifest order
};

// Reads the manifest, the scripts and the dialog folder. Raises BuildError with every
// problem found (syntax errors, missing files, bad values). With problems given, the
// problems are appended there instead and the project is returned with what could be
// read (what was refused left out), so that later checks still run; only a folder
// without a readable manifest is still raised.
Project LoadProject(const std::filesystem::path& dir, std::vector<Diagnostic>* problems = nullptr);

// Reads the manifest alone (used by LoadProject and the ID assignment).
Project LoadManifest(const std::filesystem::path& dir, std::vector<Diagnostic>* problems = nullptr);

class CodePage;

// Why a file the project names cannot be used (" not found", " lies outside the project
// folder ..."), or empty when it can: it must exist and lie, links followed, in the project
// folder or one of its source folders. relative is project-relative. Files whose lines the
// builder reads and may quote in its messages (the manifest, scripts, translations, forms
// and their rules) are `textFile`s: they must lie in the project folder itself, so that no
// line of a file from elsewhere ever reaches a message.
std::string SourceFileProblem(const Project& project, const std::string& relative, bool textFile = false);

// Why a folder named by `source-folder` (its real path, links followed) cannot lend the
// project its files, or empty when it can: it must lie below the project's parent folder
// (the project folder included) or below the user's home folder ($HOME), and never in
// /proc, /sys or /dev. A parent or home that is the file system's root does not count.
std::string SourceFolderProblem(const std::filesystem::path& projectDir, const std::filesystem::path& realFolder);

// Why name (UTF-8) cannot be a file name in the support archive, or empty: the engine's
// own rules for archive names, no trailing dot or blank, and the code page must hold it.
std::string ArchiveNameProblem(std::string_view name, const CodePage& codePage);

// The largest text file (manifest, script, translation, form, rules) the builder reads:
// the setup data a script becomes cannot be larger either.
inline constexpr std::uint64_t kMaxProjectTextBytes = 64u << 20;

// Reads a whole file; raises BuildError naming the project-relative path when it cannot, or
// when it holds more than maxBytes (found while reading: a larger file is never held whole).
std::string ReadProjectFile(const std::filesystem::path& dir, const std::string& relative,
                            const std::string& referencedFrom = {}, std::size_t line = 0,
                            std::uint64_t maxBytes = kMaxProjectTextBytes);

}  // namespace kem::builder
