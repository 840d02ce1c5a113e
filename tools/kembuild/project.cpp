#include "kembuild/project.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "common/text.h"
#include "kembuild/guid.h"
#include "kembuild/quoted_text.h"
#include "kembuild/script_parser.h"

namespace fs = std::filesystem;

namespace kem::builder {

std::string FormatDiagnostic(const Diagnostic& d) {
  std::string out = d.file.empty() ? std::string("project") : d.file;
  if (d.line) out += ":" + std::to_string(d.line);
  out += ": error: " + d.message;
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
bool ParseValue(std::string_view raw, std::string& value, std::string& error) {
  std::string_view v = Trim(raw);
  if (v.empty() || v.front() != '"') {
    value = std::string(v);
    return true;
  }
  std::size_t column = 0;
  auto q = ParseQuoted(v, 0, error, column);
  if (!q) return false;
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

BuildError::BuildError(std::vector<Diagnostic> diagnostics)
    : std::runtime_error(JoinDiagnostics(diagnostics)), diagnostics_(std::move(diagnostics)) {}

BuildError::BuildError(std::string file, std::size_t line, std::string message)
    : BuildError(std::vector<Diagnostic>{{std::move(file), line, std::move(message)}}) {}

std::string ReadProjectFile(const fs::path& dir, const std::string& relative, const std::string& referencedFrom,
                            std::size_t line) {
  std::ifstream in(dir / relative, std::ios::binary);
  if (!in) {
    if (!referencedFrom.empty())
      throw BuildError(referencedFrom, line, "cannot read " + relative);
    throw BuildError(relative, 0, "cannot read the file");
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Project LoadManifest(const fs::path& dir) {
  Project p;
  p.dir = dir;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw BuildError("", 0, "no project folder " + dir.string());
  const std::string file = kManifestName;
  if (!fs::is_regular_file(dir / file, ec)) throw BuildError(file, 0, "the project folder has no " + file);
  const std::string text = ReadProjectFile(dir, file);

  std::vector<Diagnostic> ds;
  std::string section;
  std::map<std::string, std::size_t> seenKeys;
  std::map<std::string, std::size_t> seenNames;  // per table: upper-cased "section/name"
  std::size_t lineNo = 0, start = 0;
  bool haveCode = false, haveRevision = false, haveTitle = false, haveVersion = false;
  while (start < text.size()) {
    std::size_t eol = text.find('\n', start);
    std::string_view line(text.data() + start, (eol == std::string::npos ? text.size() : eol) - start);
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
                                        "support-files"};
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
      if (!ParseValue(t, item, error)) {
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
        if (!fs::is_regular_file(dir / item, ec)) {
          fail("support file " + item + " not found");
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
    std::string value;
    if (!ParseValue(t.substr(eq + 1), value, error)) {
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
    if (section == "compiler-variables" || section == "component-sizes") {
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
    if (key != "script") {
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
      else p.codePage = static_cast<std::uint32_t>(n);
    } else if (key == "setup-name") {
      if (!IsFileNameSafe(value)) fail("setup-name must be a plain file name without extension");
      else p.baseName = value;
    } else if (key == "splash") {
      std::string path = RelativePath(value);
      if (IsAbsolutePath(path) || !fs::is_regular_file(dir / path, ec)) fail("splash picture " + path + " not found");
      else p.splash = path;
    } else if (key == "script") {
      std::string path = RelativePath(value);
      if (path.empty() || IsAbsolutePath(path)) fail("scripts are given by paths relative to the project folder");
      else if (path.find('*') != std::string::npos)
        fail("a script path cannot hold \"*\" (it separates path and line in the source map)");
      else if (!fs::is_regular_file(dir / path, ec)) fail("script file " + path + " not found");
      else if (std::any_of(p.scripts.begin(), p.scripts.end(), [&](auto& s) { return s.path == path; }))
        fail("script file " + path + " is named twice");
      else p.scripts.push_back({path, lineNo});
    } else {
      fail("unknown key " + key + " in [product]");
    }
  }
  if (!haveCode) ds.push_back({file, 0, "the product code (code = {...}) is missing"});
  if (!haveRevision) ds.push_back({file, 0, "the revision code (revision = {...}) is missing"});
  if (!haveTitle) ds.push_back({file, 0, "the product title (title = ...) is missing"});
  if (!haveVersion) ds.push_back({file, 0, "the product version (version = ...) is missing"});
  if (p.scripts.empty()) ds.push_back({file, 0, "no script file (script = ...) is named"});
  if (p.splash.empty() && fs::is_regular_file(dir / "setup.bmp", ec)) p.splash = "setup.bmp";
  if (p.upgradeCode.empty() && haveCode) p.upgradeCode = DerivedGuid("upgrade-code|" + p.productCode);
  if (!ds.empty()) throw BuildError(std::move(ds));
  return p;
}

Project LoadProject(const fs::path& dir) {
  Project p = LoadManifest(dir);
  std::vector<Diagnostic> ds;
  for (const auto& script : p.scripts) {
    std::string text = ReadProjectFile(dir, script.path, kManifestName, script.line);
    ParseScript(text, script.path, p.statements, ds);
  }

  // Dialog forms: dialogs/NAME.dfm (binary) or dialogs/NAME.dfm.txt (text), rules beside.
  std::error_code ec;
  const fs::path dialogDir = dir / "dialogs";
  if (fs::is_directory(dialogDir, ec)) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dialogDir, ec))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::map<std::string, std::size_t> byName;  // upper-cased dialog name -> index
    for (const auto& n : names) {
      bool text = EndsWith(n, ".dfm.txt");
      if (!text && !EndsWith(n, ".dfm")) continue;
      std::string name = n.substr(0, n.size() - (text ? 8 : 4));
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
      if (std::find(names.begin(), names.end(), rules) != names.end()) d.rulesPath = "dialogs/" + rules;
      p.dialogs.push_back(std::move(d));
    }
  }
  if (!ds.empty()) throw BuildError(std::move(ds));
  return p;
}

}  // namespace kem::builder
