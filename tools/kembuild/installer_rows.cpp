#include "kembuild/installer_rows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

#include "common/text.h"
#include "engine/statement_parameters.h"
#include "kembuild/code_page.h"
#include "kembuild/guid.h"

namespace fs = std::filesystem;

namespace kem::builder {
namespace {

using Row = DatabaseRow;
using Field = std::optional<std::string>;

const Field kNull = std::nullopt;

std::string Param(const DeferredStatement& s, std::size_t n) {
  return n >= 1 && n <= s.params.size() ? s.params[n - 1] : std::string();
}

bool IsTrueText(const std::string& v) { return SameText(v, "TRUE") || v == "-1"; }

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

// --- File lists --------------------------------------------------------------------------

bool Matches(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

struct FoundFile {
  std::string relative;  // project-relative, "/" separated (UTF-8)
  std::string folder;    // below the destination, "/" separated (UTF-8)
};

// The files below folder (project-relative) whose names match pattern; with deep, also
// those of its subfolders, each with its folder below the destination.
std::vector<FoundFile> ListFolder(const Project& p, const std::string& folder, const std::string& pattern, bool deep) {
  std::vector<FoundFile> out;
  std::error_code ec;
  const fs::path root = p.dir / folder;
  auto take = [&](const fs::directory_entry& e) {
    if (!e.is_regular_file(ec) || !Matches(pattern, e.path().filename().string())) return;
    const std::string sub = e.path().parent_path().lexically_relative(root).generic_string();
    const std::string rel = (folder.empty() ? std::string() : folder + "/") +
                            e.path().lexically_relative(root).generic_string();
    out.push_back({rel, sub == "." ? std::string() : sub});
  };
  if (deep) {
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) take(*it);
  } else {
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) take(*it);
  }
  std::sort(out.begin(), out.end(), [](const FoundFile& a, const FoundFile& b) { return a.relative < b.relative; });
  return out;
}

// Parameter filesParam: project-relative files, folders (their whole contents) or
// wildcard patterns in the last part, separated by "|".
void ResolveFiles(const Project& p, DeferredStatement& s, std::size_t filesParam, bool deepPatterns, bool single,
                  std::vector<Diagnostic>& errors) {
  const CodePage cp(p.codePage);
  auto fail = [&](std::string m) { errors.push_back({s.file, s.line, s.name + ": " + std::move(m)}); };
  const std::string text = cp.ToUtf8(Param(s, filesParam));
  std::vector<FoundFile> found;
  std::size_t entries = 0;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t bar = text.find('|', at);
    if (bar == std::string::npos) bar = text.size();
    std::string entry = Trim(std::string_view(text).substr(at, bar - at));
    at = bar + 1;
    if (entry.empty()) continue;
    ++entries;
    std::replace(entry.begin(), entry.end(), '\\', '/');
    while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
    const std::size_t slash = entry.find_last_of('/');
    const std::string last = slash == std::string::npos ? entry : entry.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string() : entry.substr(0, slash);
    std::error_code ec;
    std::vector<FoundFile> these;
    if (last.find_first_of("*?") != std::string::npos) {
      if (!fs::is_directory(p.dir / (folder.empty() ? "." : folder), ec)) {
        fail("source folder " + (folder.empty() ? std::string(".") : folder) + " not found");
        continue;
      }
      these = ListFolder(p, folder, last, deepPatterns);
      if (these.empty()) fail("no source file matches " + entry);
    } else if (!single && fs::is_directory(p.dir / entry, ec)) {
      these = ListFolder(p, entry, "*", true);
      if (these.empty()) fail("source folder " + entry + " holds no files");
    } else {
      these.push_back({entry, {}});
    }
    for (auto& f : these) {
      if (std::string problem = SourceFileProblem(p, f.relative); !problem.empty()) {
        fail("source file " + f.relative + problem);
        continue;
      }
      found.push_back(std::move(f));
    }
  }
  if (entries == 0) fail("parameter " + std::to_string(filesParam) + " names no source file");
  if (single && found.size() > 1) fail("parameter " + std::to_string(filesParam) + " must name one file");

  std::set<std::string> targets;
  for (const auto& f : found) {
    std::string error;
    const std::string nameUtf8 = fs::path(f.relative).filename().string();
    // The installed name and every folder on its way keep the engine's rules for file names
    // (no device names such as CON or NUL, no trailing dot or blank, ...).
    if (std::string problem = ArchiveNameProblem(f.folder.empty() ? nameUtf8 : f.folder + "/" + nameUtf8, cp);
        !problem.empty()) {
      fail("source file " + f.relative + ": " + problem);
      continue;
    }
    auto name = cp.FromUtf8(nameUtf8, error);
    auto folder = cp.FromUtf8(f.folder, error);
    if (!name || !folder) {
      fail("source file " + f.relative + ": " + error);
      continue;
    }
    std::replace(folder->begin(), folder->end(), '/', '\\');
    const std::string key = UpperCase(*folder + "\\" + *name);
    if (!targets.insert(key).second) {
      fail("two source files would be installed as " + (folder->empty() ? "" : *folder + "\\") + *name + " (the second is " +
           f.relative + ")");
      continue;
    }
    std::error_code ec;
    const fs::path source = p.dir / f.relative;
    s.files.push_back({source, *folder, *name, fs::file_size(source, ec)});
  }
}

// --- Names ---------------------------------------------------------------------------------

bool ShortChar(unsigned char c) {
  return c > ' ' && c < 0x7F && !std::strchr("\"*+,/:;<=>?[\\]|.", c);
}

bool IsShortName(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::string::npos && ext.empty())) return false;
  for (char c : base + ext)
    if (!ShortChar(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string ShortPart(std::string_view s, std::size_t max) {
  std::string out;
  for (char c : s) {
    if (out.size() == max) break;
    if (ShortChar(static_cast<unsigned char>(c))) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

// A folder's or file's name as the installer takes it: "short|long", or the name alone
// when it is a short name itself.
std::string NamePair(const std::string& name, std::vector<std::string>& used) {
  std::string shortName = ShortFileName(name, used);
  return shortName == name ? name : shortName + "|" + name;
}

std::string SwitchCondition(const std::string& header) { return "A" + header + "=\"TRUE\""; }
std::string Prop(const std::string& header, int n) { return "P" + header + "_" + std::to_string(n); }
std::string PropRef(const std::string& header, int n) { return "[" + Prop(header, n) + "]"; }

// A text column fed from the parameter property when the script's text holds a "$" (the
// engine records the property only then), else from the text as written.
std::string PropertyOrLiteral(const DeferredStatement& s, std::size_t param, int n) {
  const std::string raw = Param(s, param);
  return raw.find('$') != std::string::npos ? PropRef(s.header, n) : FormattedLiteral(raw);
}

class RowWriter {
 public:
  RowWriter(InstallerDatabase& db, const Project& p) : db_(db), p_(p) {}

  std::string Guid(const DeferredStatement& s, const std::string& part) const {
    return DerivedGuid("component|" + p_.upgradeCode + "|" + s.id + "|" + UpperCase(part));
  }

  // A component of the statement, installed while its switch is on.
  void Component(const DeferredStatement& s, const std::string& key, const std::string& part,
                 const std::string& directory, int attributes, Field keyPath = kNull) {
    db_.AddRow("Component", {key, Guid(s, part), directory, std::to_string(attributes), SwitchCondition(s.header),
                             std::move(keyPath)});
    db_.AddRow("FeatureComponents", {std::string("Complete"), key});
  }

  // The folder taken from parameter property n (a Directory row named after it).
  // In a web build the source of a statement's files lies below its media folder: a
  // Directory row for that folder (target "." keeps it out of the installed tree).
  std::string PropertyFolder(const DeferredStatement& s, int n) {
    std::string key = Prop(s.header, n);
    if (folders_.insert(key).second) db_.AddRow("Directory", {key, MediaFolder(s.media), s.header});
    return key;
  }

  std::string MediaFolder(const std::string& media) {
    if (media.empty()) return "TARGETDIR";
    auto [it, fresh] = mediaFolders_.emplace(UpperCase(media), std::string());
    if (fresh) {
      it->second = "KEMMEDIA_" + std::to_string(mediaFolders_.size());
      db_.AddRow("Directory", {it->second, std::string("TARGETDIR"), ".:" + NamePair(media, mediaShortNames_)});
    }
    return it->second;
  }

  int NextSequence() { return ++sequence_; }
  int LastSequence() const { return sequence_; }

  InstallerDatabase& db_;
  const Project& p_;

 private:
  std::set<std::string> folders_;
  std::map<std::string, std::string> mediaFolders_;  // upper-cased media folder -> Directory key
  std::vector<std::string> mediaShortNames_;
  int sequence_ = 0;
};

// --- Per statement ----------------------------------------------------------------------

// "Install Files", "Install Assembly": the files into the folder of property 1, one
// component per folder, laid out below data/<header>/.
void InstallFileRows(RowWriter& w, const DeferredStatement& s, const std::string& destination, int attributes,
                     std::vector<DataFileCopy>& copies, const CodePage& cp, std::string* firstFileKey = nullptr) {
  std::map<std::string, std::string> directories;  // folder (upper case) -> Directory key
  std::map<std::string, std::vector<std::string>> shortNames;  // Directory key -> short names taken
  std::map<std::string, std::string> components;   // Directory key -> Component key
  directories[""] = destination;
  int fileNumber = 0;
  for (const auto& f : s.files) {
    // The folder's Directory rows, parents first.
    std::string parent = destination, path;
    std::size_t at = 0;
    while (!f.folder.empty() && at <= f.folder.size()) {
      std::size_t cut = f.folder.find('\\', at);
      if (cut == std::string::npos) cut = f.folder.size();
      const std::string part = f.folder.substr(at, cut - at);
      path += (path.empty() ? "" : "\\") + part;
      at = cut + 1;
      auto [it, fresh] = directories.emplace(UpperCase(path), std::string());
      if (fresh) {
        it->second = "D" + s.header + "_" + std::to_string(directories.size() - 1);
        w.db_.AddRow("Directory", {it->second, parent, NamePair(part, shortNames[parent])});
      }
      parent = it->second;
    }
    const std::string directory = parent;
    const std::string fileKey = "F" + s.header + "_" + std::to_string(++fileNumber);
    auto [comp, freshComponent] = components.emplace(directory, std::string());
    if (freshComponent) {
      comp->second = "C" + s.header + (directory == destination ? std::string() : "_" + directory.substr(s.header.size() + 2));
      w.Component(s, comp->second, f.folder, directory, attributes, fileKey);
    }
    if (firstFileKey && firstFileKey->empty()) *firstFileKey = fileKey;
    w.db_.AddRow("File", {fileKey, comp->second, NamePair(f.name, shortNames[directory]), std::to_string(f.size), kNull,
                          kNull, std::string("0"), std::to_string(w.NextSequence())});
    std::string below = DataPathOf(s, f);
    std::replace(below.begin(), below.end(), '\\', '/');
    copies.push_back({f.source, cp.ToUtf8(below), s.media});
  }
}

int RegistryRoot(const std::string& code) {
  if (code == "0" || code == "1" || code == "2" || code == "3") return std::stoi(code);
  return -2;
}

void WriteRegistryRows(RowWriter& w, const DeferredStatement& s) {
  namespace registry = param::WriteRegistry;
  w.Component(s, "C" + s.header, "", "TARGETDIR", IsTrueText(Trim(Param(s, registry::Permanent))) ? 16 : 0);
  const std::string name = PropertyOrLiteral(s, registry::Value, 1);
  const std::string data = PropertyOrLiteral(s, registry::Data, 2);
  const std::string type = Trim(Param(s, registry::Type));
  Field value;
  if (type == "1") value = "#%" + data;
  else if (type == "2") value = "#" + data;
  else if (type == "3") value = "#x" + data;
  else if (!data.empty()) value = data.front() == '#' ? "#" + data : data;
  else if (!name.empty()) value = "[~]";  // formats to an empty text
  // Neither value name nor data: the key alone, removed with the product when empty.
  const Field valueName = name.empty() && !value ? Field("+") : name.empty() ? kNull : Field(name);
  w.db_.AddRow("Registry", {"R" + s.header, std::to_string(RegistryRoot(Trim(Param(s, registry::Root)))),
                            FormattedLiteral(Param(s, registry::Key)), valueName, value, "C" + s.header});
}

// The short and long name pair of a shortcut, as the engine also forms it for its text patch.
std::string ShortcutName(const std::string& name) {
  std::string head = Trim(name.substr(0, 6));
  return head + "~1|" + name;
}

void ShortcutRows(RowWriter& w, const DeferredStatement& s) {
  const std::string folder = w.PropertyFolder(s, 1);
  w.Component(s, "C" + s.header, "", folder, 0);
  // Create Shortcut and Advertised Shortcut take the same parameters.
  namespace shortcut = param::CreateShortcut;
  const std::string show = Trim(Param(s, shortcut::Show));
  const std::string description = Param(s, shortcut::Description);
  w.db_.AddRow("Shortcut",
               {"S" + s.header, folder, ShortcutName(Param(s, shortcut::Name)), "C" + s.header, PropRef(s.header, 2),
                PropRef(s.header, 3), description.empty() ? kNull : Field(description), kNull, kNull, kNull,
                show.empty() ? Field("1") : Field(show), Prop(s.header, 4)});
}

void IniRows(RowWriter& w, const DeferredStatement& s, std::vector<std::string>& shortNames) {
  const std::string folder = w.PropertyFolder(s, 1);
  w.Component(s, "C" + s.header, "", folder, 0);
  std::string action = Trim(Param(s, param::EditIniFile::Action));
  if (action.empty()) action = "0";
  w.db_.AddRow("IniFile", {"I" + s.header, NamePair(Param(s, param::EditIniFile::File), shortNames), folder,
                           PropRef(s.header, 2), PropRef(s.header, 3), PropRef(s.header, 4), action, "C" + s.header});
}

void EnvironmentRows(RowWriter& w, const DeferredStatement& s) {
  w.Component(s, "C" + s.header, "", "TARGETDIR", 0);
  namespace environment = param::SetEnvironment;
  const std::string mode = Trim(Param(s, environment::Mode));
  std::string value = PropRef(s.header, 1);
  if (mode == "1") value = "[~];" + value;
  else if (mode == "2") value = value + ";[~]";
  std::string prefix = "=";
  if (!IsTrueText(Trim(Param(s, environment::Permanent)))) prefix += "-";
  if (IsTrueText(Trim(Param(s, environment::System)))) prefix += "*";
  w.db_.AddRow("Environment", {"E" + s.header, prefix + Trim(Param(s, environment::Name)), value, "C" + s.header});
}

void CreateFolderRows(RowWriter& w, const DeferredStatement& s) {
  const std::string folder = w.PropertyFolder(s, 1);
  w.Component(s, "C" + s.header, "", folder, 0);
  w.db_.AddRow("CreateFolder", {folder, "C" + s.header});
}

void DeleteFilesRows(RowWriter& w, const DeferredStatement& s, std::vector<std::string>& shortNames) {
  w.Component(s, "C" + s.header, "", "TARGETDIR", 0);
  const int when = (IsTrueText(Trim(Param(s, param::DeleteFiles::AtInstall))) ? 1 : 0) +
                   (IsTrueText(Trim(Param(s, param::DeleteFiles::AtRemoval))) ? 2 : 0);
  const std::string names = Trim(Param(s, param::DeleteFiles::Files));
  (void)shortNames;
  w.db_.AddRow("RemoveFile", {"X" + s.header, "C" + s.header, names.empty() ? kNull : Field(names),
                              Prop(s.header, 1), std::to_string(when)});
}

void MoveFileRows(RowWriter& w, const DeferredStatement& s, std::vector<std::string>& shortNames) {
  w.Component(s, "C" + s.header, "", "TARGETDIR", 0);
  namespace copyMove = param::CopyMoveLocalFiles;
  const std::string newName = Trim(Param(s, copyMove::NewName));
  w.db_.AddRow("MoveFile", {"M" + s.header, "C" + s.header, Trim(Param(s, copyMove::Files)),
                            newName.empty() ? kNull : Field(NamePair(newName, shortNames)), Prop(s.header, 1),
                            Prop(s.header, 2), IsTrueText(Trim(Param(s, copyMove::Move))) ? "1" : "0"});
}

// A file type as registry values below HKEY_CLASSES_ROOT: the extension names the type,
// the type its description, open command and icon. texts: property references or literals.
void FileTypeRows(RowWriter& w, const DeferredStatement& s, const std::string& type, const std::string& extension,
                  const std::string& description, const std::string& command, const std::string& icon) {
  const std::string c = "C" + s.header;
  w.Component(s, c, "", "TARGETDIR", 0);
  const std::string r = "R" + s.header + "_";
  w.db_.AddRow("Registry", {r + "1", std::string("0"), extension, kNull, type, c});
  w.db_.AddRow("Registry", {r + "2", std::string("0"), type, kNull, description.empty() ? Field("[~]") : Field(description), c});
  w.db_.AddRow("Registry", {r + "3", std::string("0"), type + "\\shell\\open\\command", kNull, command, c});
  if (!icon.empty()) w.db_.AddRow("Registry", {r + "4", std::string("0"), type + "\\DefaultIcon", kNull, icon, c});
  // The type's key goes at removal with everything below it.
  w.db_.AddRow("Registry", {r + "5", std::string("0"), type, std::string("-"), kNull, c});
}

void ServiceControlRow(RowWriter& w, const DeferredStatement& s, const std::string& key, const std::string& name,
                       int events, const Field& arguments, bool wait) {
  w.db_.AddRow("ServiceControl", {key, name, std::to_string(events), arguments, wait ? "1" : "0", "C" + s.header});
}

}  // namespace

std::string ShortFileName(const std::string& longName, std::vector<std::string>& used) {
  auto take = [&](const std::string& n) {
    if (std::find(used.begin(), used.end(), UpperCase(n)) != used.end()) return false;
    used.push_back(UpperCase(n));
    return true;
  };
  if (IsShortName(longName) && take(longName)) return longName;
  const std::size_t dot = longName.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  std::string base = ShortPart(std::string_view(longName).substr(0, hasExt ? dot : longName.size()), 6);
  const std::string ext = hasExt ? ShortPart(std::string_view(longName).substr(dot + 1), 3) : std::string();
  if (base.empty()) base = "F";
  for (int n = 1;; ++n) {
    const std::string number = std::to_string(n);
    std::string head = base.substr(0, std::min(base.size(), std::size_t(7) - number.size()));
    std::string candidate = head + "~" + number + (ext.empty() ? "" : "." + ext);
    if (take(candidate)) return candidate;
  }
}

std::string FormattedLiteral(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[') out += "[\\[]";
    else if (c == ']') out += "[\\]]";
    else out += c;
  }
  return out;
}

void ResolveDeferredStatements(const Project& project, std::vector<DeferredStatement>& statements,
                               std::vector<Diagnostic>& errors) {
  for (auto& s : statements) {
    auto fail = [&](std::string m) { errors.push_back({s.file, s.line, s.name + ": " + std::move(m)}); };
    auto number = [](int position) { return "parameter " + std::to_string(position); };
    if (s.name == "Install Files")
      ResolveFiles(project, s, param::InstallFiles::Files, IsTrueText(Trim(Param(s, param::InstallFiles::Subfolders))),
                   false, errors);
    else if (s.name == "Install Assembly")
      ResolveFiles(project, s, param::InstallAssembly::File, false, true, errors);
    else if (s.name == "Install Service")
      ResolveFiles(project, s, param::InstallService::File, false, true, errors);
    else if (s.name == "Write Registry") {
      namespace registry = param::WriteRegistry;
      if (RegistryRoot(Trim(Param(s, registry::Root))) < 0)
        fail("the installer writes below HKCR, HKCU, HKLM and HKU only (" + number(registry::Root) + " is " +
             Param(s, registry::Root) + ")");
      // The engine records no value for the key and the type: the rows hold them as written.
      if (Param(s, registry::Key).find('$') != std::string::npos)
        fail(number(registry::Key) +
             " (the key) is written into the installer database as it is and cannot use variables");
      if (Param(s, registry::Key).empty()) fail(number(registry::Key) + " must name the key");
      if (Param(s, registry::Type).find('$') != std::string::npos)
        fail(number(registry::Type) +
             " (the type) is written into the installer database as it is and cannot use variables");
    } else if (s.name == "Create File Type" || s.name == "Advertised File Type") {
      static_assert(int{param::CreateFileType::Extension} == int{param::AdvertisedFileType::Extension});
      const std::string ext = Param(s, param::CreateFileType::Extension);
      if (ext.find('$') == std::string::npos && (ext.size() < 2 || ext.front() != '.'))
        fail(number(param::CreateFileType::Extension) + " must be the extension with its dot, such as .txt");
    } else if (s.name == "Control Service") {
      const std::string events = Trim(Param(s, param::ControlService::Events));
      if (!events.empty() && (events.find_first_not_of("0123456789") != std::string::npos || events.size() > 3 ||
                              std::stoi(events) > 255))
        fail(number(param::ControlService::Events) + " must be the sum of the event codes, 0 to 255");
    } else if (s.name == "Edit INI File") {
      if (Trim(Param(s, param::EditIniFile::File)).empty())
        fail(number(param::EditIniFile::File) + " must name the INI file");
    } else if (s.name == "Set Environment") {
      if (Trim(Param(s, param::SetEnvironment::Name)).empty())
        fail(number(param::SetEnvironment::Name) + " must name the environment variable");
    } else if (s.name == "Copy/Move Local Files") {
      if (Trim(Param(s, param::CopyMoveLocalFiles::Files)).empty())
        fail(number(param::CopyMoveLocalFiles::Files) + " must name the files to copy or move");
    } else if (s.name == "Install ODBC Driver" || s.name == "Create ODBC DSN") {
      fail("this builder cannot put ODBC drivers and data sources into the installer database; "
           "install the driver's files with Install Files and register it with Write Registry");
    }
  }
}

std::string DataPathOf(const DeferredStatement& s, const InstalledFile& f) {
  return (s.media.empty() ? std::string() : s.media + "\\") + s.header + "\\" +
         (f.folder.empty() ? std::string() : f.folder + "\\") + f.name;
}

std::vector<DataFileCopy> AddStatementRows(InstallerDatabase& db, const Project& project,
                                           const std::vector<DeferredStatement>& statements) {
  const auto text = [](const char* type) { return std::string(type); };
  db.tables.push_back({"Registry",
                       {{"Registry", "CHAR(72)", false, true},
                        {"Root", "SHORT"},
                        {"Key", text("CHAR(255)")},
                        {"Name", "CHAR(255)", true},
                        {"Value", "CHAR(0)", true},
                        {"Component_", "CHAR(72)"}},
                       {}});
  db.tables.push_back({"Shortcut",
                       {{"Shortcut", "CHAR(72)", false, true},
                        {"Directory_", "CHAR(72)"},
                        {"Name", "CHAR(128)"},
                        {"Component_", "CHAR(72)"},
                        {"Target", "CHAR(72)"},
                        {"Arguments", "CHAR(255)", true},
                        {"Description", "CHAR(255)", true},
                        {"Hotkey", "SHORT", true},
                        {"Icon_", "CHAR(72)", true},
                        {"IconIndex", "SHORT", true},
                        {"ShowCmd", "SHORT", true},
                        {"WkDir", "CHAR(72)", true}},
                       {}});
  db.tables.push_back({"IniFile",
                       {{"IniFile", "CHAR(72)", false, true},
                        {"FileName", "CHAR(255)"},
                        {"DirProperty", "CHAR(72)", true},
                        {"Section", "CHAR(96)"},
                        {"Key", "CHAR(128)"},
                        {"Value", "CHAR(255)"},
                        {"Action", "SHORT"},
                        {"Component_", "CHAR(72)"}},
                       {}});
  db.tables.push_back({"Environment",
                       {{"Environment", "CHAR(72)", false, true},
                        {"Name", "CHAR(255)"},
                        {"Value", "CHAR(255)", true},
                        {"Component_", "CHAR(72)"}},
                       {}});
  db.tables.push_back(
      {"CreateFolder", {{"Directory_", "CHAR(72)", false, true}, {"Component_", "CHAR(72)", false, true}}, {}});
  db.tables.push_back({"RemoveFile",
                       {{"FileKey", "CHAR(72)", false, true},
                        {"Component_", "CHAR(72)"},
                        {"FileName", "CHAR(255)", true},
                        {"DirProperty", "CHAR(72)"},
                        {"InstallMode", "SHORT"}},
                       {}});
  db.tables.push_back({"MoveFile",
                       {{"FileKey", "CHAR(72)", false, true},
                        {"Component_", "CHAR(72)"},
                        {"SourceName", "CHAR(255)", true},
                        {"DestName", "CHAR(255)", true},
                        {"SourceFolder", "CHAR(72)", true},
                        {"DestFolder", "CHAR(72)"},
                        {"Options", "SHORT"}},
                       {}});
  db.tables.push_back({"ServiceInstall",
                       {{"ServiceInstall", "CHAR(72)", false, true},
                        {"Name", "CHAR(255)"},
                        {"DisplayName", "CHAR(255)", true},
                        {"ServiceType", "LONG"},
                        {"StartType", "LONG"},
                        {"ErrorControl", "LONG"},
                        {"LoadOrderGroup", "CHAR(255)", true},
                        {"Dependencies", "CHAR(255)", true},
                        {"StartName", "CHAR(255)", true},
                        {"Password", "CHAR(255)", true},
                        {"Arguments", "CHAR(255)", true},
                        {"Component_", "CHAR(72)"},
                        {"Description", "CHAR(255)", true}},
                       {}});
  db.tables.push_back({"ServiceControl",
                       {{"ServiceControl", "CHAR(72)", false, true},
                        {"Name", "CHAR(255)"},
                        {"Event", "SHORT"},
                        {"Arguments", "CHAR(255)", true},
                        {"Wait", "SHORT", true},
                        {"Component_", "CHAR(72)"}},
                       {}});
  db.tables.push_back({"CustomAction",
                       {{"Action", "CHAR(72)", false, true},
                        {"Type", "SHORT"},
                        {"Source", "CHAR(72)", true},
                        {"Target", "CHAR(255)", true}},
                       {}});

  // The source root: the data folder, which the command line names with SRCDIR (the
  // installer finds the database elsewhere, in the setup's support folder).
  db.AddRow("CustomAction", {std::string("SourceFromSrcDir"), std::string("51"), std::string("SourceDir"), std::string("[SRCDIR]")});
  db.AddRow("CustomAction", {std::string("SOURCEDIRFromSrcDir"), std::string("51"), std::string("SOURCEDIR"), std::string("[SRCDIR]")});
  auto sequence = [&](const char* table, std::vector<std::pair<const char*, int>> actions, bool source) {
    DatabaseTable* t = db.Find(table);
    for (auto& [action, number] : actions) t->rows.push_back({std::string(action), kNull, std::to_string(number)});
    if (source) {
      t->rows.push_back({std::string("SourceFromSrcDir"), std::string("SRCDIR"), std::string("10")});
      t->rows.push_back({std::string("SOURCEDIRFromSrcDir"), std::string("SRCDIR"), std::string("11")});
    }
    std::stable_sort(t->rows.begin(), t->rows.end(),
                     [](const Row& a, const Row& b) { return std::stoi(*a[2]) < std::stoi(*b[2]); });
  };
  sequence("InstallExecuteSequence",
           {{"StopServices", 1900},
            {"DeleteServices", 2000},
            {"RemoveRegistryValues", 2600},
            {"RemoveIniValues", 3100},
            {"RemoveShortcuts", 3200},
            {"RemoveEnvironmentStrings", 3300},
            {"RemoveFolders", 3600},
            {"CreateFolders", 3700},
            {"MoveFiles", 3800},
            {"CreateShortcuts", 4500},
            {"WriteRegistryValues", 5000},
            {"WriteIniValues", 5100},
            {"WriteEnvironmentStrings", 5200},
            {"InstallServices", 5800},
            {"StartServices", 5900}},
           true);
  sequence("InstallUISequence", {}, true);

  const CodePage cp(project.codePage);
  RowWriter w(db, project);
  std::vector<DataFileCopy> copies;
  std::vector<std::string> iniNames, removeNames, moveNames;
  for (const auto& s : statements) {
    if (s.name == "Install Files") {
      const int attributes = IsTrueText(Trim(Param(s, param::InstallFiles::Permanent))) ? 16 : 0;
      InstallFileRows(w, s, w.PropertyFolder(s, 1), attributes, copies, cp);
    } else if (s.name == "Install Assembly") {
      InstallFileRows(w, s, w.PropertyFolder(s, 1), 0, copies, cp);
    } else if (s.name == "Write Registry") {
      WriteRegistryRows(w, s);
    } else if (s.name == "Create Shortcut" || s.name == "Advertised Shortcut") {
      ShortcutRows(w, s);
    } else if (s.name == "Edit INI File") {
      IniRows(w, s, iniNames);
    } else if (s.name == "Set Environment") {
      EnvironmentRows(w, s);
    } else if (s.name == "Create Folder") {
      CreateFolderRows(w, s);
    } else if (s.name == "Delete Files") {
      DeleteFilesRows(w, s, removeNames);
    } else if (s.name == "Copy/Move Local Files") {
      MoveFileRows(w, s, moveNames);
    } else if (s.name == "Create File Type") {
      FileTypeRows(w, s, PropRef(s.header, 1), PropRef(s.header, 2), PropRef(s.header, 3), PropRef(s.header, 4),
                   Trim(Param(s, param::CreateFileType::Icon)).empty() ? std::string() : PropRef(s.header, 5));
    } else if (s.name == "Advertised File Type") {
      // Records no properties: the rows hold the texts as written.
      namespace fileType = param::AdvertisedFileType;
      FileTypeRows(w, s, FormattedLiteral(Param(s, fileType::Type)), FormattedLiteral(Param(s, fileType::Extension)),
                   FormattedLiteral(Param(s, fileType::Description)), FormattedLiteral(Param(s, fileType::Command)),
                   FormattedLiteral(Param(s, fileType::Icon)));
    } else if (s.name == "Install Service") {
      std::string fileKey;
      InstallFileRows(w, s, w.PropertyFolder(s, 4), 0, copies, cp, &fileKey);
      auto number = [&](std::size_t n, const char* fallback) {
        std::string v = Trim(Param(s, n));
        return v.empty() ? std::string(fallback) : v;
      };
      auto optional = [&](std::size_t n, int property) {
        return Trim(Param(s, n)).empty() ? kNull : Field(PropRef(s.header, property));
      };
      namespace service = param::InstallService;
      db.AddRow("ServiceInstall",
                {"V" + s.header, PropRef(s.header, 1), optional(service::DisplayName, 2), number(service::Type, "16"),
                 number(service::Start, "2"), number(service::ErrorControl, "1"), optional(service::Group, 9),
                 optional(service::Dependencies, 5), optional(service::Account, 6), optional(service::Password, 7),
                 optional(service::Arguments, 8), "C" + s.header, optional(service::Description, 3)});
      const int events = (IsTrueText(Trim(Param(s, service::StartNow))) ? 1 : 0) + 32 + 128;
      ServiceControlRow(w, s, "V" + s.header, PropRef(s.header, 1), events, kNull, true);
    } else if (s.name == "Control Service") {
      w.Component(s, "C" + s.header, "", "TARGETDIR", 0);
      namespace control = param::ControlService;
      const std::string events = Trim(Param(s, control::Events));
      ServiceControlRow(w, s, "V" + s.header, PropRef(s.header, 1), events.empty() ? 1 : std::stoi(events),
                        Trim(Param(s, control::Arguments)).empty() ? kNull : Field(PropRef(s.header, 2)),
                        IsTrueText(Trim(Param(s, control::Wait))));
    }
  }
  db.Find("Media")->rows.front()[1] = std::to_string(w.LastSequence());
  return copies;
}

}  // namespace kem::builder
