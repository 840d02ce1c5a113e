#include "kembuild/compile_setup.h"
#include "kembuild/translations.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <set>
#include <unordered_set>

#include "common/text.h"
#include "kembuild/authoring_checks.h"
#include "kembuild/code_page.h"
#include "kembuild/guid.h"
#include "kembuild/installer_rows.h"
#include "kembuild/quoted_text.h"
#include "kembuild/statement_checks.h"
#include "kembuild/web_blocks.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"

#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_text.h"
#include "kembuild/form_checks.h"
#include "kembuild/form_commands.h"
#include "script/validation/script_validation.h"

namespace fs = std::filesystem;

namespace kem::builder {
namespace {

bool CarriesFiles(StatementKind kind) {
  return kind == StatementKind::InstallFiles || kind == StatementKind::InstallAssembly ||
         kind == StatementKind::InstallOdbcDriver || kind == StatementKind::InstallService;
}

std::string SourcePath(const std::string& file) {
  std::string s = file;
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

std::string HexNoLeadingZeros(std::uint32_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kHex[v & 15]);
    v >>= 4;
  } while (v);
  return out;
}

// A command header from the statement's ID, so it stays the same when other statements
// are added. Headers are unique and always hold a letter: a header made only of digits
// could be mistaken for a statement index when the engine searches the list by index.
std::string CommandHeaderFor(const std::string& id, std::unordered_set<std::string>& used) {
  std::uint32_t v = static_cast<std::uint32_t>(std::stoul(id.substr(1, 8), nullptr, 16));
  for (;;) {
    if (v != 0) {
      std::string h = HexNoLeadingZeros(v);
      bool hasLetter = h.find_first_of("ABCDEF") != std::string::npos;
      if (hasLetter && used.insert(h).second) return h;
    }
    v = v * 0x9E3779B1u + 0x7F4A7C15u;
  }
}

// The form compiler reports "file:line: message"; the line goes into the diagnostic.
[[maybe_unused]] Diagnostic FormDiagnostic(const std::string& file, std::string_view what) {
  Diagnostic d{file, 0, std::string(what)};
  const std::string prefix = file + ":";
  if (what.substr(0, prefix.size()) == prefix) {
    std::string_view rest = what.substr(prefix.size());
    std::size_t digits = 0, line = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
      line = line * 10 + static_cast<std::size_t>(rest[digits++] - '0');
    if (digits && rest.substr(digits, 2) == ": ") {
      d.line = line;
      d.message = std::string(rest.substr(digits + 2));
    } else {
      d.message = std::string(rest.substr(rest.find_first_not_of(' ') == std::string_view::npos
                                              ? rest.size()
                                              : rest.find_first_not_of(' ')));
    }
  }
  return d;
}

// Support files the engine shows or reads as text in the setup's code page: the readme
// and licence texts, index pages, INI files and language files.
bool IsTextSupportFile(std::string_view name) {
  const std::string upper = UpperCase(name);
  for (std::string_view ext : {".TXT", ".HTM", ".HTML", ".INI"})
    if (upper.size() > ext.size() && upper.compare(upper.size() - ext.size(), ext.size(), ext) == 0) return true;
  return upper.rfind("SHARED.TRANSLATIONS.", 0) == 0;
}

// A text support file as the setup reads it. UTF-8 text (with or without a byte-order
// mark) is converted to the code page like the project's own texts; a file that is no
// UTF-8 is taken to be written in the code page already and kept byte for byte, and so is
// plain ASCII. Returns the converted text, or nullopt when the file is to be copied as it
// is; error (with badLine) says why a character the code page lacks refuses the file.
std::optional<std::string> SupportTextInCodePage(const CodePage& codePage, const std::string& bytes,
                                                 std::size_t& badLine, std::string& error) {
  const bool bom = bytes.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0;
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || (!bom && !IsUtf8(bytes))) return std::nullopt;
  auto converted = ConvertFileText(codePage, bytes, badLine, error);
  if (!converted) {
    error = "the text cannot be shown in the setup's code page " + std::to_string(codePage.Number()) + ": " + error;
    return std::nullopt;
  }
  error.clear();
  return converted;
}

bool IsBinaryForm(const std::string& bytes) {
  return bytes.substr(0, 64).find("TPF0") != std::string::npos;
}


}  // namespace

std::string EntryBytes(const ArchiveEntry& entry) {
  if (entry.source.empty()) return entry.bytes;
  std::ifstream in(entry.source, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool IsDeferredStatement(std::string_view n) {
  static const std::set<std::string, std::less<>> kinds = {
      "Install Files",   "Install Assembly", "Install ODBC Driver",   "Install Service",
      "Create ODBC DSN", "Control Service",  "Create Folder",         "Delete Files",
      "Copy/Move Local Files", "Edit INI File", "Set Environment",    "Write Registry",
      "Create File Type", "Advertised File Type", "Create Shortcut", "Advertised Shortcut"};
  return kinds.find(n) != kinds.end();
}

std::string DerivedStatementId(const Project& project, const ScriptStatement& s, int attempt) {
  std::string seed = "statement|" + project.productCode + "|" + s.file + "|" + std::to_string(s.line);
  if (attempt) seed += "|" + std::to_string(attempt);
  return DerivedGuid(seed);
}

namespace {

// The IDs, with a message for every ID written twice (the later statement keeps it too).
std::vector<std::string> StatementIds(const Project& project, std::vector<Diagnostic>& ds) {
  std::map<std::string, const ScriptStatement*> used;
  for (const auto& s : project.statements) {
    if (s.id.empty()) continue;
    auto [it, fresh] = used.emplace(s.id, &s);
    if (!fresh)
      ds.push_back({s.file, s.line + 1,
                    "duplicate statement ID " + s.id + " (first used at " + it->second->file + ":" +
                        std::to_string(it->second->line + 1) + ")"});
  }
  std::vector<std::string> ids;
  ids.reserve(project.statements.size());
  for (const auto& s : project.statements) {
    if (!s.id.empty()) {
      ids.push_back(s.id);
      continue;
    }
    std::string id;
    for (int attempt = 0;; ++attempt) {
      id = DerivedStatementId(project, s, attempt);
      if (used.emplace(id, &s).second) break;
    }
    ids.push_back(id);
  }
  return ids;
}

}  // namespace

std::vector<std::string> ResolveStatementIds(const Project& project) {
  std::vector<Diagnostic> ds;
  std::vector<std::string> ids = StatementIds(project, ds);
  if (!ds.empty()) throw BuildError(std::move(ds));
  return ids;
}

CompiledSetup CompileProject(const Project& project, std::vector<Diagnostic>* problems) {
  std::vector<Diagnostic> ds;
  CompiledSetup out;
  // The statements as the engine gets them: readable enumeration names become codes.
  Project p = project;
  if (p.statements.size() > kMaxStatements)
    throw BuildError(p.scripts.empty() ? std::string(kManifestName) : p.scripts.back().path, 0,
                     "the project has " + std::to_string(p.statements.size()) +
                         " statements; the 32-bit engine loads at most " + std::to_string(kMaxStatements));
  CheckStatements(project, p.statements, ds, out.warnings);
  const ProjectNames names(p, p.statements);
  CheckProjectNames(p, p.statements, names, ds, out.warnings);
  const std::vector<std::string> ids = StatementIds(p, ds);
  std::unordered_set<std::string> idSet(ids.begin(), ids.end());

  std::map<std::string, std::string> dialogsByName;  // upper-cased name -> name
  for (const auto& d : p.dialogs) dialogsByName.emplace(UpperCase(d.name), d.name);

  // Labels are collected from every "Label", commented out or not, as the engine does.
  std::map<std::string, const ScriptStatement*> labels;
  for (const auto& s : p.statements) {
    if (ResolveStatementKind(s.name) != StatementKind::Label) continue;
    const std::string label = s.Param(param::Label::Label);
    auto [it, fresh] = labels.emplace(UpperCase(label), &s);
    if (!fresh)
      ds.push_back({s.file, s.line + 1,
                    "label " + label + " is already defined at " +
                        it->second->file + ":" + std::to_string(it->second->line + 1)});
  }

  // Web builds: the media folder of every file-carrying statement.
  std::vector<bool> carriesFiles;
  for (const auto& s : p.statements) carriesFiles.push_back(CarriesFiles(ResolveStatementKind(s.name)));
  const bool webBuild = p.mediaMode == 2;
  WebPlan web;
  if (webBuild) {
    web = PlanWebBuild(p, carriesFiles, ds, out.warnings);
    out.webBlocks = web.blocks;
  } else if (!p.webBlocks.empty()) {
    out.warnings.push_back({kManifestName, p.webBlocks.front().line,
                            "[web-blocks] is used only by web builds (media-mode = 2 in [product])", true});
  }

  SetupData& d = out.data;
  StringList params;
  for (std::size_t i = 0; i < p.statements.size(); ++i) {
    const ScriptStatement& s = p.statements[i];
    auto fail = [&](std::string m) { ds.push_back({s.file, s.line + 1, std::move(m)}); };
    const StatementKind kind = ResolveStatementKind(s.name);
    if (!s.commentedOut && kind == StatementKind::DisplayDialog) {
      std::string dialog = s.Param(param::DisplayDialog::Dialog);
      if (dialog.empty()) fail("Display Dialog needs the dialog name as its first parameter");
      else if (!dialogsByName.count(UpperCase(dialog)))
        fail("dialog " + dialog + " not found: add dialogs/" + dialog + ".dfm or dialogs/" + dialog + ".dfm.txt");
    }
    if (kind == StatementKind::GoToLabel) {
      const std::string label = s.Param(param::GoToLabel::Label);
      if (!labels.count(UpperCase(label))) fail("label " + label + " is not defined");
    }

    d.StatementNames.Add(s.name);
    d.StatementIds.Add(ids[i]);
    d.CommentFlags.Add(s.commentedOut ? "C" : "");
    if (webBuild) d.StatementMedia.Add(web.media[i].empty() ? std::string() : web.media[i] + "\\");
    else d.StatementMedia.Add(CarriesFiles(kind) ? "OFFLINE\\" : "");
    d.SourceMap.Add(SourcePath(s.file) + "*" + std::to_string(s.line));
    if (s.params.empty()) continue;
    params.push_back(ids[i]);
    for (std::size_t n = 0; n < s.params.size(); ++n) {
      std::string line = JoinLines(s.params[n]);
      const std::string where = "parameter " + std::to_string(n + 1) + " ";
      if (SameText(line, "$DOLLAR$") || SameText(line, "$WILD_DOLLAR$"))
        fail(where + "is " + line + ", which the engine reads as \"$\"; write \"$\" for a dollar sign");
      else if (idSet.count(UpperCase(line)))
        fail(where + "equals a statement ID, which would break the engine's parameter look-up");
      params.push_back(std::move(line));
    }
    for (std::size_t n = s.params.size(); n < kParameterBlockMinimum; ++n) params.emplace_back();
  }
  d.ParameterLines = HashedStringList(std::move(params));

  d.ProductCode = p.productCode;
  d.ProductTitle = p.title;
  d.CompiledTitle = p.title;
  for (const auto& ps : p.pluginStatements) d.PluginStatements.push_back(ps.name);
  d.CompanyName = p.company;
  d.ContactName = p.contact;
  d.HelpLinkUrl = p.helpLink;
  d.UpdateInfoUrl = p.updateLink;
  d.ProductComments = p.comments;
  d.ProductVersion = p.version;
  d.MediaMode = p.mediaMode;
  d.WebBlockSources = web.sources;
  for (const auto& c : p.componentSizes) {
    d.ComponentSizes.push_back(c.name);
    d.ComponentSizes.push_back(c.value);
  }
  d.RevisionCode = p.revisionCode;
  d.SelectLanguageAtStart = p.selectLanguage;
  d.DefaultLanguage = p.defaultLanguage;
  for (const auto& v : p.compilerVariables) {
    d.CompilerVariables.Add(v.name);
    d.CompilerVariables.Add(v.value);
  }
  d.CodePage = p.codePage;

  std::unordered_set<std::string> headers;
  for (std::size_t i = 0; i < p.statements.size(); ++i) {
    const ScriptStatement& s = p.statements[i];
    if (s.commentedOut || !IsDeferredStatement(s.name)) continue;
    std::string h = CommandHeaderFor(ids[i], headers);
    d.CommandHeaders.Add(h);
    d.CommandHeaders.Add(std::to_string(i));
    out.deferred.push_back({i, s.name, h, ids[i], s.params, s.file, s.line + 1, {}, webBuild ? web.media[i] : std::string()});
  }

  // Support files: dialogs (compiled or copied) with their rules, then the listed files.
  std::map<std::string, std::string> origin;  // upper-cased archive name -> where it came from
  auto addFile = [&](std::string name, std::string bytes, const std::string& from, std::size_t line,
                     fs::path source = {}) {
    auto [it, fresh] = origin.emplace(UpperCase(name), from);
    if (!fresh) {
      ds.push_back({from, line, name + " is already supplied by " + it->second});
      return;
    }
    out.supportFiles.push_back({std::move(name), std::move(bytes), std::move(source)});
  };
  const CodePage codePage(p.codePage);
  for (const auto& dlg : p.dialogs) {
    std::string bytes, formText;
    std::optional<forms::FormObject> form;
    try {
      bytes = ReadProjectFile(p.dir, dlg.formPath);
    } catch (const BuildError& e) {
      ds.insert(ds.end(), e.Diagnostics().begin(), e.Diagnostics().end());
      continue;
    }
    if (dlg.textForm) {
      std::size_t badLine = 0;
      std::string error;
      auto converted = ConvertFileText(codePage, bytes, badLine, error);
      if (!converted) {
        ds.push_back({dlg.formPath, badLine, error});
        continue;
      }
      bytes = std::move(*converted);
      try {
        form = forms::ParseTextForm(bytes, dlg.formPath);
        formText = bytes;
        auto compiled = kem::CompileTextForm(bytes, dlg.formPath);
        bytes.assign(reinterpret_cast<const char*>(compiled.data()), compiled.size());
      } catch (const std::exception& e) {
        ds.push_back(FormDiagnostic(dlg.formPath, e.what()));
        continue;
      }
    } else if (!IsBinaryForm(bytes)) {
      ds.push_back({dlg.formPath, 0, "not a binary form file (no TPF0 signature)"});
      continue;
    } else {
      try {
        form = forms::ReadBinaryForm(bytes, dlg.formPath);
      } catch (const std::exception&) {
        // Copied as it is; the engine's reader decides.
      }
    }
    addFile(dlg.name + ".dfm", std::move(bytes), dlg.formPath, 0);
    // The engine loads a rules file beside every dialog: an empty one stands in for none.
    std::string rules;
    if (!dlg.rulesPath.empty()) {
      try {
        rules = ReadProjectFile(p.dir, dlg.rulesPath);
        std::size_t badLine = 0;
        std::string error;
        auto converted = ConvertFileText(codePage, rules, badLine, error);
        if (converted) rules = std::move(*converted);
        else ds.push_back({dlg.rulesPath, badLine, error});
      } catch (const BuildError& e) {
        ds.insert(ds.end(), e.Diagnostics().begin(), e.Diagnostics().end());
      }
    }
    if (form) {
      std::vector<DialogText> texts = DialogTexts(dlg.name, *form);
      out.dialogTexts.insert(out.dialogTexts.end(), texts.begin(), texts.end());
    }
    if (form) {
      CheckDialog(*form, formText, dlg.formPath, rules, dlg.rulesPath, ds, out.warnings);
      CheckBindings(*form, formText, dlg.formPath, names, ds);
    }
    addFile(dlg.name + ".dfm.kemf", std::move(rules), dlg.rulesPath.empty() ? dlg.formPath : dlg.rulesPath, 0);
  }
  for (const auto& f : p.supportFiles) {
    std::string name = f.path.substr(f.path.find_last_of('/') + 1);
    const fs::path source = p.dir / f.path;
    if (!std::ifstream(source, std::ios::binary)) {
      ds.push_back({kManifestName, f.line, "cannot read " + f.path});
      continue;
    }
    if (IsTextSupportFile(name)) {
      std::string error;
      std::size_t badLine = 0;
      auto text = SupportTextInCodePage(codePage, EntryBytes({name, {}, source}), badLine, error);
      if (!error.empty()) {
        ds.push_back({f.path, badLine, error});
        continue;
      }
      if (text) {
        addFile(name, std::move(*text), kManifestName, f.line);
        continue;
      }
    }
    addFile(name, {}, kManifestName, f.line, source);
  }
  // The translation files, generated from the script and the translators' sources.
  for (auto& f : TranslationFiles(p, d, out.dialogTexts, ds, out.warnings)) addFile(f.name, std::move(f.bytes), kManifestName, 0);
  std::sort(out.supportFiles.begin(), out.supportFiles.end(),
            [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.name < b.name; });
  ResolveDeferredStatements(p, out.deferred, ds);
  // Where the setup puts each file of a block after unpacking: the block's folder in the
  // archive, the file's path below it, and its folder below the data folder.
  for (const auto& s : out.deferred) {
    if (s.media.empty() || SameText(s.media, kOfflineMedia)) continue;
    for (const auto& f : s.files) {
      const std::string path = DataPathOf(s, f);
      const std::string below = path.substr(s.media.size() + 1);
      d.MediaFileMap.Add(s.media);
      d.MediaFileMap.Add(below);
      d.MediaFileMap.Add(path.substr(0, path.size() - f.name.size()));
    }
  }

  // The engine's own pass stops at its first problem. Its message is kept unless the
  // builder already reported that statement (the pass then often only repeats it in other
  // words), or it concerns the script as a whole while other errors are open.
  kem::ResolveStatementKinds(d);
  if (auto failure = kem::ValidateScript(d)) {
    if (failure->statementIndex < p.statements.size()) {
      const auto& s = p.statements[failure->statementIndex];
      const bool reported = std::any_of(ds.begin(), ds.end(), [&](const Diagnostic& e) {
        return e.file == s.file && e.line == s.line + 1;
      });
      if (!reported) ds.push_back({s.file, s.line + 1, failure->message + names.ValidationSuggestion(failure->message)});
    } else if (ds.empty()) {
      ds.push_back({p.scripts.empty() ? std::string(kManifestName) : p.scripts.back().path, 0, failure->message});
    }
  }
  if (!ds.empty()) {
    if (!problems) throw BuildError(std::move(ds));
    problems->insert(problems->end(), ds.begin(), ds.end());
    return out;
  }

  try {
    out.setupDataText = WriteSetupData(d);
    if (out.setupDataText.size() > kMaxSetupDataBytes)
      throw BuildError("", 0, "the setup data takes " + std::to_string(out.setupDataText.size() >> 20) +
                                  " MB; the 32-bit engine loads at most " + std::to_string(kMaxSetupDataBytes >> 20) +
                                  " MB (fewer or shorter statements)");
  } catch (const SetupDataError& e) {
    throw BuildError("", 0, std::string("the setup data cannot be written: ") + e.what());
  }
  return out;
}

}  // namespace kem::builder
