#include "kembuild/project.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

#include "common/text.h"
#include "kembuild/code_page.h"
#include "kembuild/guid.h"
#include "kembuild/quoted_text.h"
#include "kembuild/script_parser.h"
#include "kembuild/web_blocks.h"
#include "media/sevenzip/extract.h"

namespace fs = std::filesystem;

namespace kem::builder {

std::string FormatDiagnostic(const Diagnostic& d) {
  std::string out = d.file.empty() ? std::string("kembuild") : d.file;
  if (d.line) out += ":" + std::to_string(d.line);
  out += (d.warning ? ": warning: " : ": error: ") + d.message;
  return out;
}

namespace {

std::string JoinDiagnostics(const std::vector<Diagnostic>& ds) {
  std::string out;
  for (const auto& d : ds) {
    if (!out.empty()) out += '\n';
    out += FormatDiagnostic(d);
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A manifest value: a quoted text (escapes as in scripts) or bare text, blanks trimmed.
// With a code page the text is converted to it; without one (paths) it must be UTF-8.
bool ParseValue(std::string_view raw, std::string& value, std::string& error, const CodePage* codePage) {
  std::string_view v = Trim(raw);
  if (v.empty() || v.front() != '"') {
    if (!codePage) {
      if (!IsUtf8(v)) {
        error = "the text is not UTF-8; save the file as UTF-8";
        return false;
      }
      value = std::string(v);
      return true;
    }
    auto converted = codePage->FromUtf8(v, error);
    if (!converted) return false;
    value = std::move(*converted);
    return true;
  }
  std::size_t column = 0;
  auto q = ParseQuoted(v, 0, error, column, codePage);
  if (!q) return false;
  if (!codePage && !IsUtf8(q->text)) {
    error = "a path must be UTF-8 text";
    return false;
  }
  if (!Trim(v.substr(q->end)).empty()) {
    error = "unexpected text after the quoted value";
    return false;
  }
  value = std::move(q->text);
  return true;
}

std::string RelativePath(std::string_view p) {
  std::string s(p);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool IsAbsolutePath(const std::string& p) {
  return p.empty() ? false : (p[0] == '/' || (p.size() > 1 && p[1] == ':'));
}

bool ParseUnsigned(std::string_view s, std::uint64_t& v) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

// Product versions as Windows Installer takes them: major.minor[.build[.revision]],
// major and minor below 256, build below 65536.
bool IsProductVersion(std::string_view v) {
  std::uint64_t limits[] = {255, 255, 65535, 65535};
  std::size_t parts = 0;
  while (true) {
    std::size_t dot = v.find('.');
    std::string_view part = v.substr(0, dot);
    std::uint64_t n = 0;
    if (parts >= 4 || !ParseUnsigned(part, n) || n > limits[parts]) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    v.remove_prefix(dot + 1);
  }
  return parts >= 2;
}

bool IsFileNameSafe(std::string_view n) {
  if (n.empty() || n.back() == '.' || n.back() == ' ') return false;
  for (char c : n)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      return false;
  return true;
}


}  // namespace

std::string ArchiveNameProblem(std::string_view name, const CodePage& codePage) {
  if (!IsUtf8(name)) return "the name is not UTF-8";
  std::string error;
  if (!codePage.FromUtf8(name, error)) return "the name cannot be written in the setup's code page: " + error;
  // The engine refuses these names in its support archive; Windows would also drop a
  // trailing dot or blank and so find another file.
  if (name.empty() || name.back() == '.' || name.back() == ' ')
    return "a file name cannot end with a dot or a blank";
  if (!sevenzip::IsSafeEntryName(Utf8ToUtf16(name)))
    return "the engine refuses this name (device names such as CON, AUX or NUL, \":\", \"..\", and the "
           "characters < > \" | ? * are not allowed)";
  return {};
}

namespace {

// Whether `real` is `folder` or lies below it (both real paths, links followed).
bool Inside(const fs::path& real, const fs::path& folder) {
  auto r = real.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++r) {
    if (f->empty()) break;
    if (r == real.end() || *r != *f) return false;
  }
  return true;
}

}  // namespace

std::string SourceFolderProblem(const fs::path& projectDir, const fs::path& real) {
  for (const char* system : {"/proc", "/sys", "/dev"})
    if (Inside(real, system)) return " is a system folder (/proc, /sys and /dev never lend files)";
  std::error_code ec;
  const fs::path project = fs::canonical(projectDir, ec);
  if (ec) return " cannot be checked: the project folder cannot be read";
  auto usable = [](const fs::path& folder) { return !folder.empty() && folder != folder.root_path(); };
  const fs::path parent = project.parent_path();
  if (usable(parent) && Inside(real, parent)) return {};
  if (Inside(real, project)) return {};
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    const fs::path homeFolder = fs::canonical(home, ec);
    // Below the home folder, not all of it.
    if (!ec && usable(homeFolder) && real != homeFolder && Inside(real, homeFolder)) return {};
  }
  return " lies outside the project's parent folder and below no folder of your home folder";
}

std::string SourceFileProblem(const Project& p, const std::string& relative, bool textFile) {
  std::error_code ec;
  const fs::path path = p.dir / relative;
  if (!fs::exists(path, ec)) return " not found";
  const fs::path real = fs::canonical(path, ec);
  if (ec) return " cannot be read";
  bool allowed = Inside(real, fs::canonical(p.dir, ec));
  if (!allowed && textFile)
    return " lies outside the project folder (also through a link); scripts, translations, forms and rules "
           "must lie inside it";
  for (const auto& folder : p.sourceFolders) allowed = allowed || Inside(real, folder);
  if (!allowed)
    return " lies outside the project folder (also through a link); name its folder with source-folder = "
           "in [product] to use it";
  if (!fs::is_regular_file(real, ec)) return " is not a file";
  return {};
}

BuildError::BuildError(std::vector<Diagnostic> diagnostics)
    : std::runtime_error(JoinDiagnostics(diagnostics)), diagnostics_(std::move(diagnostics)) {}

BuildError::BuildError(std::string file, std::size_t line, std::string message)
    : BuildError(std::vector<Diagnostic>{{std::move(file), line, std::move(message)}}) {}

std::string ReadProjectFile(const fs::path& dir, const std::string& relative, const std::string& referencedFrom,
                            std::size_t line, std::uint64_t maxBytes) {
  auto fail = [&](const std::string& why) -> BuildError {
    if (!referencedFrom.empty()) return BuildError(referencedFrom, line, why + " " + relative);
    return BuildError(relative, 0, why + " the file");
  };
  std::ifstream in(dir / relative, std::ios::binary);
  if (!in) throw fail("cannot read");
  // Read piece by piece, so that the size is checked before a larger file (or a file
  // without end, such as a device) is held whole.
  std::string text;
  std::string piece(1u << 20, '\0');
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (text.size() + got > maxBytes)
      throw fail("more than " + std::to_string(maxBytes >> 20) + " MB (the largest text the builder reads) in");
    text.append(piece.data(), got);
  }
  if (in.bad()) throw fail("cannot read");
  return text;
}

namespace {

// The problems found so far: handed to the caller's list when it gives one, else raised.
void Report(std::vector<Diagnostic>& ds, std::vector<Diagnostic>* problems) {
  if (ds.empty()) return;
  if (!problems) throw BuildError(std::move(ds));
  problems->insert(problems->end(), std::make_move_iterator(ds.begin()), std::make_move_iterator(ds.end()));
  ds.clear();
}

}  // namespace

Project LoadManifest(const fs::path& dir, std::vector<Diagnostic>* problems) {
  Project p;
  p.dir = dir;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw BuildError("", 0, "no project folder " + dir.string());
  const std::string file = kManifestName;
  if (!fs::is_regular_file(dir / file, ec))
    throw BuildError(file, 0, ec && ec != std::errc::no_such_file_or_directory
                                  ? "cannot read " + file + ": " + ec.message()
                                  : "the project folder has no " + file);
  if (std::string problem = SourceFileProblem(p, file); !problem.empty()) throw BuildError(file, 0, "the manifest" + problem);
  const std::string fileText = ReadProjectFile(dir, file);
  const std::string_view text = WithoutBom(fileText);

  std::vector<Diagnostic> ds;
  // The code page comes first: every other text of the manifest is converted to it.
  std::size_t codePageLine = 0;
  {
    std::string scanSection;
    std::size_t n = 0, at = 0;
    while (at < text.size()) {
      std::size_t eol = text.find('\n', at);
      std::string_view line = text.substr(at, (eol == std::string::npos ? text.size() : eol) - at);
      at = eol == std::string::npos ? text.size() : eol + 1;
      ++n;
      std::string_view t = Trim(line.substr(0, line.find('\r')));
      if (!t.empty() && t.front() == '[' && t.back() == ']') scanSection = std::string(Trim(t.substr(1, t.size() - 2)));
      std::size_t eq = t.find('=');
      if (scanSection != "product" || eq == std::string_view::npos || Trim(t.substr(0, eq)) != "code-page") continue;
      std::uint64_t number = 0;
      std::string_view v = Trim(t.substr(eq + 1));
      if (ParseUnsigned(v, number) && number <= 0xFFFFFFFFull) {
        p.codePage = static_cast<std::uint32_t>(number);
        codePageLine = n;
      }
    }
  }
  std::unique_ptr<CodePage> codePage;
  try {
    codePage = std::make_unique<CodePage>(p.codePage);
  } catch (const std::invalid_argument& e) {
    ds.push_back({file, codePageLine, std::string(e.what()) + " (for example 1252, 1250, 1251, 932)"});
    p.codePage = 1252;
    codePage = std::make_unique<CodePage>(p.codePage);
  }
  const CodePage* cp = codePage.get();
  bool scriptNamed = false;
  std::size_t splashLine = 0;
  std::set<std::string> givenKeys;  // [product] keys written, also those whose value was refused
  std::string section;
  std::map<std::string, std::size_t> seenKeys;
  std::map<std::string, std::size_t> seenNames;  // per table: upper-cased "section/name"
  std::size_t lineNo = 0, start = 0;
  bool haveCode = false, haveRevision = false, haveTitle = false, haveVersion = false;
  while (start < text.size()) {
    std::size_t eol = text.find('\n', start);
    std::string_view line = text.substr(start, (eol == std::string::npos ? text.size() : eol) - start);
    start = eol == std::string::npos ? text.size() : eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto fail = [&](std::string m) { ds.push_back({file, lineNo, std::move(m)}); };
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == '#') continue;
    if (t.front() == '[') {
      if (t.back() != ']') {
        fail("section header must end with ]");
        continue;
      }
      section = std::string(Trim(t.substr(1, t.size() - 2)));
      static const char* kSections[] = {"product", "compiler-variables", "plugin-statements", "component-sizes",
                                        "support-files", "translations", "web-blocks"};
      if (std::find(std::begin(kSections), std::end(kSections), section) == std::end(kSections))
        fail("unknown section [" + section + "]");
      continue;
    }
    if (section.empty()) {
      fail("a line outside any section; start with [product]");
      continue;
    }
    std::string error;
    if (section == "plugin-statements" || section == "support-files") {
      std::string item;
      if (!ParseValue(t, item, error, section == "plugin-statements" ? cp : nullptr)) {
        fail(error);
        continue;
      }
      if (section == "plugin-statements") {
        if (item.empty() || item == "$" || item.find_first_of("\r\n") != std::string::npos) {
          fail("a plug-in statement name must be a non-empty single line other than \"$\"");
          continue;
        }
        p.pluginStatements.push_back({item, "", lineNo});
      } else {
        item = RelativePath(item);
        if (item.empty() || IsAbsolutePath(item)) {
          fail("support files are given by paths relative to the project folder");
          continue;
        }
        p.supportFiles.push_back({item, lineNo});
      }
      continue;
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
      fail("expected name = value");
      continue;
    }
    std::string key(Trim(t.substr(0, eq)));
    if (section == "product") givenKeys.insert(key);
    std::string value;
    const bool pathValue = (section == "product" && (key == "script" || key == "splash" || key == "source-folder")) ||
                           section == "translations";
    if (!ParseValue(t.substr(eq + 1), value, error, pathValue ? nullptr : cp)) {
      fail(error);
      continue;
    }
    if (key.empty()) {
      fail("name missing before =");
      continue;
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
      fail("the value of " + key + " cannot hold a line break");
      continue;
    }
    if (section == "translations") {
      p.translations.push_back({key, RelativePath(value), lineNo});
      continue;
    }
    if (section == "web-blocks") {
      auto convertedKey = cp->FromUtf8(key, error);
      if (!convertedKey) {
        fail(error);
        continue;
      }
      key = std::move(*convertedKey);
      auto [it, fresh] = seenNames.emplace(section + "/" + UpperCase(key), lineNo);
      if (!fresh) {
        fail("web block " + std::string(Trim(t.substr(0, eq))) + " is already given on line " + std::to_string(it->second));
        continue;
      }
      p.webBlocks.push_back({key, value, lineNo});
      continue;
    }
    if (section == "compiler-variables" || section == "component-sizes") {
      auto convertedKey = cp->FromUtf8(key, error);
      if (!convertedKey) {
        fail(error);
        continue;
      }
      key = std::move(*convertedKey);
      if (key == "$" || value == "$" || key.find('#') != std::string::npos) {
        fail("names cannot hold \"#\", and neither name nor value can be \"$\"");
        continue;
      }
      auto [it, fresh] = seenNames.emplace(section + "/" + UpperCase(key), lineNo);
      if (!fresh) {
        fail(key + " is already defined on line " + std::to_string(it->second));
        continue;
      }
      if (section == "component-sizes") {
        std::uint64_t n = 0;
        if (!ParseUnsigned(value, n) || n > 0x7FFFFFFFFFFFFFFFull) {
          fail("the size of component " + key + " must be a decimal number of bytes");
          continue;
        }
        p.componentSizes.push_back({key, value, lineNo});
      } else {
        p.compilerVariables.push_back({key, value, lineNo});
      }
      continue;
    }
    // [product]
    if (key != "script" && key != "source-folder") {
      auto [it, fresh] = seenKeys.emplace(key, lineNo);
      if (!fresh) {
        fail(key + " is already given on line " + std::to_string(it->second));
        continue;
      }
    }
    auto guid = [&](std::string& dest, bool& have) {
      auto g = CanonicalGuid(value);
      if (!g) {
        fail(key + " must be a GUID in braces, e.g. {432F7A50-944D-4F75-848E-CD6D0D8FA35E}");
        return;
      }
      dest = *g;
      have = true;
    };
    bool dummy = false;
    if (key == "code") guid(p.productCode, haveCode);
    else if (key == "revision") guid(p.revisionCode, haveRevision);
    else if (key == "upgrade-code") guid(p.upgradeCode, dummy);
    else if (key == "title") {
      p.title = value;
      haveTitle = !value.empty();
      if (!haveTitle) fail("title cannot be empty");
    } else if (key == "company") p.company = value;
    else if (key == "contact") p.contact = value;
    else if (key == "help-link") p.helpLink = value;
    else if (key == "update-link") p.updateLink = value;
    else if (key == "comments") p.comments = value;
    else if (key == "version") {
      if (!IsProductVersion(value))
        fail("version must be major.minor[.build[.revision]] (major and minor up to 255, build up to 65535)");
      else {
        p.version = value;
        haveVersion = true;
      }
    } else if (key == "media-mode") {
      std::uint64_t n = 0;
      if (!ParseUnsigned(value, n) || n > 0x7FFFFFFF) fail("media-mode must be a decimal number (0, 2 or 3)");
      else p.mediaMode = static_cast<std::int64_t>(n);
    } else if (key == "default-language") p.defaultLanguage = value;
    else if (key == "select-language") {
      if (SameText(value, "true") || SameText(value, "yes")) p.selectLanguage = true;
      else if (SameText(value, "false") || SameText(value, "no")) p.selectLanguage = false;
      else fail("select-language must be true or false");
    } else if (key == "code-page") {
      std::uint64_t n = 0;
      if (!ParseUnsigned(value, n) || n > 0xFFFFFFFFull) fail("code-page must be a decimal number, e.g. 1252");
    } else if (key == "setup-name") {
      if (!IsFileNameSafe(value)) fail("setup-name must be a plain file name without extension");
      else p.baseName = value;
    } else if (key == "splash") {
      std::string path = RelativePath(value);
      if (path.empty() || IsAbsolutePath(path)) fail("the splash picture is given by a path relative to the project folder");
      else {
        p.splash = path;
        splashLine = lineNo;
      }
    } else if (key == "source-folder") {
      fs::path folder = fs::path(value).is_absolute() ? fs::path(value) : dir / value;
      fs::path real;
      if (value.empty() || !fs::is_directory(folder, ec)) fail("source folder " + value + " not found");
      else if (real = fs::canonical(folder, ec); ec) fail("source folder " + value + " cannot be read");
      else if (std::string problem = SourceFolderProblem(dir, real); !problem.empty())
        fail("source folder " + value + problem);
      else p.sourceFolders.push_back(real);
    } else if (key == "script") {
      scriptNamed = true;
      std::string path = RelativePath(value);
      if (path.empty() || IsAbsolutePath(path)) fail("scripts are given by paths relative to the project folder");
      else if (path.find('*') != std::string::npos)
        fail("a script path cannot hold \"*\" (it separates path and line in the source map)");
      else if (std::any_of(p.scripts.begin(), p.scripts.end(), [&](auto& s) { return s.path == path; }))
        fail("script file " + path + " is named twice");
      else p.scripts.push_back({path, lineNo});
    } else {
      fail("unknown key " + key + " in [product]");
    }
  }
  if (!haveCode && !givenKeys.count("code")) ds.push_back({file, 0, "the product code (code = {...}) is missing"});
  if (!haveRevision && !givenKeys.count("revision")) ds.push_back({file, 0, "the revision code (revision = {...}) is missing"});
  if (!haveTitle && !givenKeys.count("title")) ds.push_back({file, 0, "the product title (title = ...) is missing"});
  if (!haveVersion && !givenKeys.count("version")) ds.push_back({file, 0, "the product version (version = ...) is missing"});
  if (!scriptNamed) ds.push_back({file, 0, "no script file (script = ...) is named"});

  // Every file the manifest names must lie in the project folder or a named source folder,
  // also after following links.
  auto located = [&](const std::string& path, const std::string& what, std::size_t line, bool textFile = false) {
    std::string problem = SourceFileProblem(p, path, textFile);
    if (!problem.empty()) ds.push_back({file, line, what + " " + path + problem});
    return problem.empty();
  };
  std::vector<SupportFile> scripts;
  for (auto& script : p.scripts)
    if (located(script.path, "script file", script.line, true)) scripts.push_back(script);
  p.scripts = std::move(scripts);
  if (!p.splash.empty() && !located(p.splash, "splash picture", splashLine)) p.splash.clear();
  std::vector<SupportFile> supportFiles;
  for (auto& f : p.supportFiles) {
    if (!located(f.path, "support file", f.line)) continue;
    std::string problem = ArchiveNameProblem(f.path.substr(f.path.find_last_of('/') + 1), *cp);
    if (!problem.empty()) {
      ds.push_back({file, f.line, "support file " + f.path + ": " + problem});
      continue;
    }
    supportFiles.push_back(f);
  }
  p.supportFiles = std::move(supportFiles);
  if (p.splash.empty() && !splashLine && fs::is_regular_file(dir / "setup.bmp", ec) &&
      SourceFileProblem(p, "setup.bmp").empty())
    p.splash = "setup.bmp";
  if (p.upgradeCode.empty() && haveCode) p.upgradeCode = DerivedGuid("upgrade-code|" + p.productCode);
  Report(ds, problems);
  return p;
}

Project LoadProject(const fs::path& dir, std::vector<Diagnostic>* problems) {
  Project p = LoadManifest(dir, problems);
  std::vector<Diagnostic> ds;
  const CodePage codePage(p.codePage);
  for (const auto& script : p.scripts) {
    std::string text;
    try {
      text = ReadProjectFile(dir, script.path, kManifestName, script.line);
    } catch (const BuildError& e) {
      if (!problems) throw;
      ds.insert(ds.end(), e.Diagnostics().begin(), e.Diagnostics().end());
      continue;
    }
    ParseScript(text, script.path, p.statements, ds, &codePage);
  }

  // Dialog forms: dialogs/NAME.dfm (binary) or dialogs/NAME.dfm.txt (text), rules beside.
  std::error_code ec;
  const fs::path dialogDir = dir / "dialogs";
  if (fs::is_directory(dialogDir, ec)) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dialogDir, ec))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    if (ec) ds.push_back({"dialogs", 0, "cannot read the folder: " + ec.message()});
    std::sort(names.begin(), names.end());
    std::map<std::string, std::size_t> byName;  // upper-cased dialog name -> index
    for (const auto& n : names) {
      bool text = EndsWith(n, ".dfm.txt");
      if (!text && !EndsWith(n, ".dfm")) continue;
      std::string name = n.substr(0, n.size() - (text ? 8 : 4));
      if (std::string problem = SourceFileProblem(p, "dialogs/" + n, true); !problem.empty()) {
        ds.push_back({"dialogs/" + n, 0, "the form file" + problem});
        continue;
      }
      if (std::string problem = ArchiveNameProblem(name + ".dfm", codePage); !problem.empty()) {
        ds.push_back({"dialogs/" + n, 0, problem});
        continue;
      }
      auto [it, fresh] = byName.emplace(UpperCase(name), p.dialogs.size());
      if (!fresh) {
        ds.push_back({"dialogs/" + n, 0, "dialog " + name + " has more than one form file"});
        continue;
      }
      DialogForm d;
      d.name = name;
      d.formPath = "dialogs/" + n;
      d.textForm = text;
      std::string rules = name + ".dfm.kemf";
      if (std::find(names.begin(), names.end(), rules) != names.end()) {
        d.rulesPath = "dialogs/" + rules;
        if (std::string problem = SourceFileProblem(p, d.rulesPath, true); !problem.empty()) {
          ds.push_back({d.rulesPath, 0, "the rules file" + problem});
          continue;
        }
      }
      p.dialogs.push_back(std::move(d));
    }
  }
  Report(ds, problems);
  return p;
}

}  // namespace kem::builder
