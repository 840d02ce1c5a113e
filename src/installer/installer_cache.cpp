#include "installer/installer_cache.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "common/text.h"
#include "components/components.h"
#include "components/instance_data.h"
#include "engine/engine_context.h"
#include "engine/services/installer.h"
#include "engine/services/installer_cache.h"
#include "engine/services/system.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

constexpr std::string_view kIdentityFile = "instance.dat";
constexpr std::string_view kAdvertisedFolder = "__ad";
constexpr std::string_view kOriginOverride = "Inject Override Command Line";
constexpr std::string_view kOriginOverrideFailed = "Failed Cache Override";

std::string FileNameOf(std::string_view path) {
  auto cut = path.find_last_of("\\/:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The folder holding the folder (a trailing backslash ignored), with a trailing backslash.
std::string ParentFolder(std::string_view folder) {
  if (!folder.empty() && folder.back() == '\\') folder.remove_suffix(1);
  auto cut = folder.find_last_of("\\:");
  return cut == std::string_view::npos ? std::string() : std::string(folder.substr(0, cut + 1));
}

std::string WithoutBackslash(std::string folder) {
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::uint32_t NumberOrZero(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return 0;
  std::uint32_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return n;
}

}  // namespace

std::pair<std::uint32_t, std::uint32_t> VersionNumbers(std::string_view version) {
  std::uint32_t numbers[2] = {0, 0};
  for (auto& n : numbers) {
    auto dot = version.find('.');
    n = NumberOrZero(version.substr(0, dot));
    version = dot == std::string_view::npos ? std::string_view() : version.substr(dot + 1);
  }
  return {numbers[0], numbers[1]};
}

std::optional<InstanceIdentity> ReadInstanceIdentity(std::string_view text) {
  auto lines = SplitFileLines(text);
  if (lines.size() < 3 || lines[0].empty() || lines[1].empty()) return std::nullopt;
  return InstanceIdentity{lines[0], lines[1], lines[2]};
}

std::string WriteInstanceIdentity(const InstanceIdentity& id) {
  return id.ProductCode + "\r\n" + id.RevisionCode + "\r\n" + id.Title + "\r\n";
}

std::string QuotedCommand(std::string_view program, std::string_view arguments) {
  std::string command = "\"" + std::string(program) + "\"";
  if (!arguments.empty()) command += " " + std::string(arguments);
  return command;
}

// --- InstalledProduct --------------------------------------------------------------------

struct InstalledProduct::State {
  // The cache key's folder as last read (outer optional: not read since the last change).
  std::optional<std::optional<std::string>> Registered;
  std::string LastOverride;
  bool Installed = false;  // an installation completed in this run
  bool Removed = false;    // the product was removed in this run
  std::string SavedDataFolder;
  std::string PatchRevision;  // a patch build's installed revision (cache folder name)
  // The system's folders under which caches go, asked once per run: the question goes to
  // the shell, and the hook before every statement needs the answer.
  std::optional<std::string> MachineRoot, UserRoot;
};

InstalledProduct::InstalledProduct(InstallerCacheServices services)
    : services_(services), state_(std::make_unique<State>()) {}

InstalledProduct::~InstalledProduct() = default;

std::string InstalledProduct::DatabaseBaseName(Interpreter& in) const {
  std::string name = FileNameOf(in.DatabasePath());
  auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string InstalledProduct::CacheRoot(Interpreter& in, bool allUsers) {
  InstallerCacheService& cache = services_.Cache;
  if (std::string over = in.Vars().Get("OVERRIDECACHE"); !over.empty()) return WithTrailingBackslash(over);
  if (!state_->Registered) {
    const std::string key = std::string(kCacheKey) + in.Data().ProductCode;
    const bool machine = cache.KeyExists(true, key);
    state_->Registered = cache.ReadString(machine, key, "");
  }
  if (const auto& folder = *state_->Registered; folder && !folder->empty()) {
    const std::string f = WithoutBackslash(*folder);
    if (FileNameOf(f) == in.Data().RevisionCode) return ParentFolder(f);
  }
  std::optional<std::string>& known = allUsers ? state_->MachineRoot : state_->UserRoot;
  if (!known) {
    std::string root;
    if (allUsers) {
      root = cache.CommonAppDataFolder();
    } else {
      root = cache.LocalAppDataFolder();
      if (root.empty()) root = cache.RoamingAppDataFolder();
    }
    if (root.empty()) root = ParentFolder(cache.DesktopFolder()) + "Application Data\\";
    known = WithTrailingBackslash(root);
  }
  return *known;
}

std::string InstalledProduct::CacheFolder(Interpreter& in, bool allUsers) {
  const std::string& revision =
      in.Data().MediaMode == 3 && !state_->PatchRevision.empty() ? state_->PatchRevision : in.Data().RevisionCode;
  return CacheRoot(in, allUsers) + revision + "\\";
}

bool InstalledProduct::CachedDataMissing(Interpreter& in) {
  return !in.Machine().Files.FileExists(CacheFolder(in, false) + DatabaseBaseName(in) + ".dat");
}

bool InstalledProduct::ReadData(Interpreter& in, const std::string& path, int mode) {
  auto text = services_.Cache.ReadFile(path);
  if (!text) return false;
  if (auto damage = InstanceDataDamage(*text)) {
    in.Context().Trace("      Instance data " + path + " ignored: " + *damage);
    return false;
  }
  auto saved = ReadInstanceData(in.Context(), *text, static_cast<ComponentListsRead>(mode));
  if (!saved) return false;
  state_->SavedDataFolder = *saved;
  return true;
}

void InstalledProduct::LoadCompanions(Interpreter& in, const std::string& datPath) {
  const std::string stem = datPath.substr(0, datPath.size() - 4);
  InstallerState& st = in.Context().State.Installer;
  if (auto text = services_.Cache.ReadFile(stem + ".lnk")) {
    st.PreviousPinList.clear();
    for (auto& line : SplitFileLines(*text))
      if (!line.empty()) st.PreviousPinList.push_back(line);
  }
  if (auto text = services_.Cache.ReadFile(stem + ".par")) {
    auto lines = SplitFileLines(*text);
    if (lines.size() % 2) {
      in.Context().Trace("      " + stem + ".par ignored: a property has no value");
      return;
    }
    st.SessionProperties.clear();
    for (auto& line : lines) st.SessionProperties.push_back(line);
  }
}

void InstalledProduct::FirstInstallDefaults(Interpreter& in, bool admin) {
  const Services& machine = in.Machine();
  TVariableManager& vars = in.Vars();
  const SetupData& data = in.Data();
  ComponentTables& t = in.Context().State.Components;
  t = ComponentTables{};
  t.Sizes = data.ComponentSizes;
  StartFirstInstallComponents(t, in.Context().Text());
  in.Context().State.Installer.SessionProperties.clear();
  const std::string base = admin ? WithTrailingBackslash(machine.Shell.ProgramFilesFolder())
                                 : ParentFolder(machine.Shell.DocumentsFolder());
  vars.SetVar("TARGETDIR", base + data.ProductTitle + "\\", kOriginBootstrap);
  vars.SetVar("STARTMENU", data.ProductTitle, kOriginBootstrap);
  vars.SetVar("ALLUSERS", BoolText(admin), kOriginBootstrap);
}

void InstalledProduct::Bootstrap(Interpreter& in) {
  EngineContext& ctx = in.Context();
  SetupData& data = in.Data();
  auto& g = ctx.Startup;
  TVariableManager& vars = in.Vars();
  InstallerCacheService& cache = services_.Cache;
  state_->Registered.reset();

  // The identity of an installed instance travels with its cached setup.
  const auto identityText = cache.ReadFile(g.ProgramFolder + std::string(kIdentityFile));
  if (identityText) {
    if (auto id = ReadInstanceIdentity(*identityText)) {
      data.ProductCode = id->ProductCode;
      data.RevisionCode = id->RevisionCode;
      data.ProductTitle = id->Title;
    } else {
      ctx.Trace("      instance.dat ignored: it does not hold a product code, a revision code and a title");
    }
  }
  vars.SetVar("PRODUCTCODE", data.ProductCode, kOriginBootstrap);
  vars.SetVar("REVISIONCODE", data.RevisionCode, kOriginBootstrap);

  const bool admin = in.Machine().Process.IsAdministrator();
  const std::string folder = CacheFolder(in, admin);
  vars.SetVar("UNINSTALLLINK", folder + FileNameOf(g.ProgramPath), kOriginBootstrap);
  vars.SetVar("ENGINECACHE", folder, kOriginBootstrap);
  if (data.MediaMode == 2) g.DataFolder = folder;
  vars.SetVar("DATADIR", g.DataFolder, kOriginBootstrap);

  // Installed, and by this revision or another one?
  bool installed = false, upgrade = false;
  try {
    installed = services_.Installer.QueryProductState(data.ProductCode) == 5;
    if (installed) {
      const std::string package = cache.ProductPackageCode(data.ProductCode);
      upgrade = !package.empty() && LowerCase(package) != LowerCase(data.RevisionCode);
    }
  } catch (const std::exception& e) {
    ctx.Trace(std::string("      Installed state unknown: ") + e.what());
    installed = upgrade = false;
  }
  const bool maintenance = installed && !upgrade;
  const bool loadOld = upgrade && ExpandCompilerVars(data.CompilerVariables, "#LOADOLDDATA#") == "TRUE";
  vars.SetVar("NEEDSUPGRADE", BoolText(upgrade), kOriginBootstrap);
  vars.SetVar("MAINTENANCE", BoolText(maintenance), kOriginBootstrap);

  // The instance data of the last installation.
  const std::string datPath = CacheFolder(in, CachedDataMissing(in)) + DatabaseBaseName(in) + ".dat";
  state_->SavedDataFolder.clear();
  if (maintenance) {
    ComponentTables& t = ctx.State.Components;
    t = ComponentTables{};
    t.Sizes = data.ComponentSizes;
    if (ReadData(in, datPath, static_cast<int>(ComponentListsRead::Normal))) {
      t.InstalledSize = ComponentModel(t, ctx.Text()).SelectedSize();
      LoadCompanions(in, datPath);
    } else {
      // Without its data (a cache the user deleted) the product can still be repaired or
      // removed: the first installation's defaults stand in.
      ctx.Trace("      No instance data in " + datPath + ": first installation's defaults used");
      FirstInstallDefaults(in, admin);
    }
    // A cached setup has no data folder of its own: the sources stay where the
    // installation found them.
    if (data.MediaMode != 2 && !state_->SavedDataFolder.empty() && !in.Machine().Files.FolderExists(g.DataFolder) &&
        in.Machine().Files.FolderExists(state_->SavedDataFolder)) {
      g.DataFolder = WithTrailingBackslash(state_->SavedDataFolder);
      vars.SetVar("DATADIR", g.DataFolder, kOriginBootstrap);
    }
  } else {
    FirstInstallDefaults(in, admin);
    ReadData(in, datPath, static_cast<int>(ComponentListsRead::Normal));
  }

  // Old data: what an earlier revision left in the folder the cache key names.
  const std::string key = std::string(kCacheKey) + data.ProductCode;
  if (auto old = cache.ReadString(cache.KeyExists(true, key), key, ""); old && !old->empty()) {
    const std::string oldFolder = WithTrailingBackslash(*old);
    std::vector<std::string> names;
    if (in.Machine().Files.FolderExists(oldFolder))
      for (auto& name : cache.ListFiles(oldFolder, "*.dat"))
        if (!ctx.Text().SameText(name, kIdentityFile)) names.push_back(name);
    std::string chosen;
    if (names.size() == 1) {
      chosen = oldFolder + names[0];
    } else {
      for (const auto& name : names) {
        const std::string stem = oldFolder + name.substr(0, name.size() - 4);
        auto& files = in.Machine().Files;
        if (files.FileExists(stem + ".exe") && files.FileExists(stem + ".res") && files.FileExists(stem + ".msi") &&
            files.FileExists(stem + ".par")) {
          chosen = oldFolder + name;
          break;
        }
      }
    }
    if (loadOld && !chosen.empty()) {
      ReadData(in, chosen, static_cast<int>(ComponentListsRead::DropSizes));
      if (auto text = cache.ReadFile(chosen.substr(0, chosen.size() - 4) + ".lnk")) {
        auto& previous = ctx.State.Installer.PreviousPinList;
        previous.clear();
        for (auto& line : SplitFileLines(*text))
          if (!line.empty()) previous.push_back(line);
      }
    }
  }

  vars.SetVar("NEWINSTANCE", BoolText(!identityText && (maintenance || upgrade)), kOriginBootstrap);
  LoadPatchTarget(in);
  state_->LastOverride = vars.Get("OVERRIDECACHE");
}

std::string InstalledProduct::InstalledEngine(Interpreter& in, bool machineFirst) {
  const std::string key = std::string(kUninstallKey) + in.Data().ProductTitle;
  for (bool machine : {machineFirst, !machineFirst}) {
    auto command = services_.Cache.ReadString(machine, key, "UninstallString");
    if (!command || command->empty()) continue;
    std::string path = *command;
    if (auto first = path.find('"'); first != std::string::npos) path.erase(first, 1);
    if (auto next = path.find('"'); next != std::string::npos) path.erase(next);
    return path;
  }
  return {};
}

void InstalledProduct::LoadPatchTarget(Interpreter& in) {
  // A patch beside the database: the state to load is the installed revision's.
  std::string patch = in.DatabasePath();
  const auto slash = patch.find_last_of('\\'), dot = patch.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) patch.resize(dot);
  if (!in.Machine().Files.FileExists(patch + ".msp")) return;
  const std::string engine = InstalledEngine(in, false);
  const std::string revision = FileNameOf(WithoutBackslash(ParentFolder(engine)));
  if (revision.empty()) return;
  state_->PatchRevision = revision;
  const std::string datPath = CacheRoot(in, CachedDataMissing(in)) + revision + "\\" + DatabaseBaseName(in) + ".dat";
  ComponentTables& t = in.Context().State.Components;
  t = ComponentTables{};
  t.Sizes = in.Data().ComponentSizes;
  if (ReadData(in, datPath, static_cast<int>(ComponentListsRead::Normal))) {
    t.InstalledSize = ComponentModel(t, in.Context().Text()).SelectedSize();
    LoadCompanions(in, datPath);
  }
}

void InstalledProduct::BeforeStatement(Interpreter& in) {
  TVariableManager& vars = in.Vars();
  if (const std::string value = vars.Get("OVERRIDECACHE"); value != state_->LastOverride) {
    if (value.empty()) {
      Bootstrap(in);
    } else {
      std::vector<std::string> created;
      if (services_.Cache.CreateFolders(value, created)) {
        vars.SetVar("OVERRIDECACHE", WithTrailingBackslash(value), kOriginOverride);
        Bootstrap(in);
        // Folders made only to test the path go again; one something was put into stays.
        for (auto it = created.rbegin(); it != created.rend(); ++it) services_.Cache.RemoveEmptyFolder(*it);
      } else {
        vars.SetVar("OVERRIDECACHE", "", kOriginOverrideFailed);
        state_->LastOverride.clear();
      }
    }
  }
  std::string folder, link;
  if (in.Data().MediaMode == 3) {
    // A patch build serves the installed product's cache.
    link = InstalledEngine(in, IsTrue(vars.Get("ALLUSERS")));
    folder = ParentFolder(link);
  } else {
    folder = CacheFolder(in, IsTrue(vars.Get("ALLUSERS")));
    link = folder + FileNameOf(in.Context().Startup.ProgramPath);
  }
  if (vars.Get("ENGINECACHE") != folder) vars.SetVar("ENGINECACHE", folder, kOriginBootstrap);
  if (vars.Get("UNINSTALLLINK") != link) vars.SetVar("UNINSTALLLINK", link, kOriginBootstrap);
}

bool InstalledProduct::AdvertisedBefore(Interpreter& in) {
  return in.Machine().Files.FolderExists(CacheFolder(in, IsTrue(in.Vars().Get("ALLUSERS"))) +
                                         std::string(kAdvertisedFolder));
}

void InstalledProduct::WriteData(Interpreter& in, const std::string& folder, bool full) {
  const std::string path = folder + DatabaseBaseName(in) + ".dat";
  std::optional<std::string> text;
  if (full) {
    text = WriteInstanceData(in.Context(), services_.Cache.ShortPath(in.Vars().Get("DATADIR")));
  } else {
    auto old = services_.Cache.ReadFile(path);
    if (!old) return;
    if (auto damage = InstanceDataDamage(*old)) {
      in.Context().Trace("      Instance data " + path + " not updated: " + *damage);
      return;
    }
    text = UpdateInstanceData(in.Context(), *old);
  }
  if (text && !services_.Cache.WriteReplacing(path, *text))
    in.Context().Trace("      Instance data " + path + " could not be written");
}

bool InstalledProduct::PrepareFolder(Interpreter& in, const std::string& folder, bool allUsers) {
  InstallerCacheService& cache = services_.Cache;
  EngineContext& ctx = in.Context();
  auto refuse = [&](const std::string& why) {
    ctx.Trace("      Installer cache " + folder + " refused: " + why);
    return false;
  };
  if (cache.IsLink(WithoutBackslash(folder))) return refuse("it is a link");
  if (in.Machine().Files.FolderExists(folder)) {
    // A folder that is there already must be this product's own cache.
    bool ours = ctx.Text().SameText(ctx.Startup.ProgramFolder, folder);
    if (auto text = cache.ReadFile(folder + std::string(kIdentityFile)))
      if (auto id = ReadInstanceIdentity(*text)) ours = ours || ctx.Text().SameText(id->ProductCode, in.Data().ProductCode);
    if (!ours && !cache.ListFiles(folder, "*").empty()) return refuse("it holds files of something else");
    if (!ours && !cache.ListFolders(folder).empty()) return refuse("it holds folders of something else");
    if (allUsers && !cache.OwnedByAdministrators(folder)) return refuse("it is not owned by the administrators");
    if (allUsers && !cache.ProtectFolder(folder)) return refuse("its permissions cannot be set");
    return true;
  }
  std::vector<std::string> created;
  if (allUsers ? !cache.CreateProtectedFolder(folder) : !cache.CreateFolders(folder, created))
    return refuse("it cannot be created");
  return true;
}

void InstalledProduct::Install(Interpreter& in, bool advertise) {
  EngineContext& ctx = in.Context();
  const auto& g = ctx.Startup;
  const SetupData& data = in.Data();
  TVariableManager& vars = in.Vars();
  InstallerCacheService& cache = services_.Cache;
  const bool allUsers = IsTrue(vars.Get("ALLUSERS"));
  const bool compress = vars.Get("VRAX_COMPRESS_INSTALLER_CACHE") == "TRUE";
  state_->Registered.reset();
  const std::string folder = CacheFolder(in, allUsers);
  if (!PrepareFolder(in, folder, allUsers)) return;
  cache.SetCompression(folder, compress);
  const std::string advertised = folder + std::string(kAdvertisedFolder);
  if (advertise) {
    std::vector<std::string> created;
    cache.CreateFolders(advertised, created);
    cache.SetCompression(advertised, compress);
  } else {
    cache.RemoveEmptyFolder(advertised);
  }
  if (data.MediaMode == 2) cache.WriteReplacing(folder + data.ProductCode, "");

  // The setup's own files.
  const std::string engineName = FileNameOf(g.ProgramPath);
  const std::string base = DatabaseBaseName(in);
  const std::string& transformed = ctx.State.Installer.TransformedDatabase;
  const std::pair<std::string, std::string> copies[] = {
      {g.ProgramPath, engineName},
      {transformed.empty() ? g.ProgramFolder + base + ".msi" : transformed, base + ".msi"},
      {g.ProgramFolder + base + ".res", base + ".res"},
      {g.ProgramFolder + "kem.lib", "kem.lib"},
      {g.ProgramFolder + "setup.bmp", "setup.bmp"},
  };
  for (const auto& [from, name] : copies) {
    const std::string to = folder + name;
    if (ctx.Text().SameText(from, to) || !in.Machine().Files.FileExists(from)) continue;
    cache.CopyOver(from, to);
  }

  // The instance data and its companions.
  WriteData(in, folder, true);
  const InstallerState& st = ctx.State.Installer;
  cache.WriteReplacing(folder + base + ".par", JoinFileLines(st.SessionProperties));
  cache.WriteReplacing(folder + base + ".lnk", JoinFileLines(st.PinList));
  if (std::string language = vars.Get("LANGUAGE"); !language.empty())
    cache.WriteReplacing(folder + base + ".lan", language + "\r\n");
  else
    cache.RemoveFile(folder + base + ".lan");
  state_->Installed = true;
  state_->Removed = false;

  // The registration.
  const bool machine = allUsers;
  const std::string engine = folder + engineName;
  const auto [major, minor] = VersionNumbers(data.ProductVersion);
  if (services_.System.WindowsMajor() >= 5)
    cache.WriteString(machine, std::string(kUninstallKey) + data.ProductCode, "UninstallString",
                      QuotedCommand(folder + base + ".exe", ""));
  const std::string title = vars.Get("TITLE");
  const std::string key = std::string(kUninstallKey) + title;
  const std::int64_t size = ComponentModel(ctx.State.Components, ctx.Text()).SelectedSize();
  const std::pair<const char*, std::string> strings[] = {
      {"DisplayIcon", engine},
      {"DisplayName", title},
      {"UninstallString", QuotedCommand(engine, kRemovalArguments)},
      {"QuietUninstallString", QuotedCommand(engine, kQuietRemovalArguments)},
      {"ModifyPath", QuotedCommand(engine, "")},
      {"Publisher", data.CompanyName},
      {"Contact", data.ContactName},
      {"HelpLink", data.HelpLinkUrl},
      {"URLUpdateInfo", data.UpdateInfoUrl},
      {"Comments", data.ProductComments},
      {"DisplayVersion", data.ProductVersion},
  };
  for (const auto& [name, value] : strings) cache.WriteString(machine, key, name, value);
  cache.WriteDword(machine, key, "VersionMajor", major);
  cache.WriteDword(machine, key, "VersionMinor", minor);
  cache.WriteString(machine, key, "InstallLocation", ExpandPath(vars, vars.Get("TARGETDIR")));
  if (size > 0)
    cache.WriteDword(machine, key, "EstimatedSize",
                     static_cast<std::uint32_t>(std::min<std::int64_t>((size + 1023) / 1024, 0xFFFFFFFF)));
  const std::string cacheKey = std::string(kCacheKey) + data.ProductCode;
  cache.WriteDword(machine, cacheKey, "VersionMajor", major);
  cache.WriteDword(machine, cacheKey, "VersionMinor", minor);
  cache.WriteString(machine, cacheKey, "", folder);
  cache.WriteReplacing(folder + std::string(kIdentityFile),
                    WriteInstanceIdentity({data.ProductCode, data.RevisionCode, title}));
  state_->Registered.reset();
  ctx.Trace("      Registered " + title + " with its installer cache " + folder);
}

void InstalledProduct::Remove(Interpreter& in) {
  EngineContext& ctx = in.Context();
  const SetupData& data = in.Data();
  TVariableManager& vars = in.Vars();
  InstallerCacheService& cache = services_.Cache;
  FileService& files = in.Machine().Files;
  const std::string folder = CacheFolder(in, IsTrue(vars.Get("ALLUSERS")));
  if (vars.Get("SAVEDATA") != "TRUE") {
    if (data.MediaMode == 2) cache.RemoveFile(folder + data.ProductCode);
    const std::string bare = WithoutBackslash(folder);
    if (cache.IsLink(bare)) {
      // A link in the cache's place is taken away itself; what it points at is not ours.
      cache.RemoveEmptyFolder(bare);
    } else if (files.FolderExists(folder)) {
      cache.RemoveTree(folder);
      if (files.FolderExists(folder)) {
        // The running engine lies in it: the folder moves aside and goes at the restart.
        const std::string parent = ParentFolder(folder);
        std::string aside;
        for (unsigned n = 0;; ++n) {
          aside = parent + "~" + std::to_string(n);
          if (!files.FolderExists(aside + "\\") && !files.FileExists(aside)) break;
        }
        if (cache.MoveFolder(bare, aside)) {
          cache.DeleteAtRestart(aside + "\\" + FileNameOf(ctx.Startup.ProgramPath));
          cache.DeleteAtRestart(aside + "\\kem.lib");
          cache.DeleteAtRestart(aside);
          ctx.Trace("      Installer cache moved to " + aside + ", removed at the next restart");
        } else {
          cache.DeleteAtRestart(bare);
        }
      }
    }
    state_->Removed = true;
  }
  const std::string title = vars.Get("TITLE");
  for (bool machine : {true, false}) {
    cache.DeleteKey(machine, std::string(kUninstallKey) + title);
    cache.DeleteKey(machine, std::string(kCacheKey) + data.ProductCode);
  }
  state_->Registered.reset();
  ctx.Trace("      Registration of " + title + " removed");
}

void InstalledProduct::AfterSession(Interpreter& in, SessionMode mode, bool advertise) {
  if (mode == SessionMode::Patch) return;
  if (mode == SessionMode::Removal)
    Remove(in);
  else
    Install(in, advertise);
}

void InstalledProduct::AfterRun(Interpreter& in) {
  const SetupData& data = in.Data();
  InstallerCacheService& cache = services_.Cache;
  const bool machineRoot = CachedDataMissing(in);
  const std::string folder = CacheFolder(in, machineRoot);
  const std::string cacheSources = ExpandCompilerVars(data.CompilerVariables, "#CACHESOURCES#");
  if (data.MediaMode == 2 && cacheSources != "#CACHESOURCES#" && UpperCase(cacheSources) == "FALSE") {
    try {
      for (const auto& name : cache.ListFolders(folder))
        if (!in.Context().Text().SameText(name, "OFFLINE")) cache.RemoveTree(folder + name + "\\");
    } catch (const std::exception&) {
    }
  }
  if (state_->Removed || !in.Machine().Files.FolderExists(folder)) return;
  cache.SetHidden(folder);
  cache.SetCompression(folder, in.Vars().Get("VRAX_COMPRESS_INSTALLER_CACHE") == "TRUE");
  if (!in.Context().State.SavedVariables.empty()) WriteData(in, folder, state_->Installed);
}

namespace {

// The installed product: its bootstrap, the per-statement refresh and the instance data
// it keeps when the run ends.
class InstallerCachePhases : public RunParticipant {
 public:
  explicit InstallerCachePhases(std::shared_ptr<InstalledProduct> product) : product_(std::move(product)) {}
  bool Bootstrap(Interpreter& in) override {
    product_->Bootstrap(in);
    return true;
  }
  void BeforeStatement(Interpreter& in) override { product_->BeforeStatement(in); }
  void WriteInstanceData(Interpreter& in) override { product_->AfterRun(in); }
  void AfterRun(Interpreter& in) override { product_->AfterRun(in); }

 private:
  std::shared_ptr<InstalledProduct> product_;
};

}  // namespace

void AddInstallerCacheHooks(InterpreterHooks& hooks, std::shared_ptr<InstalledProduct> product) {
  hooks.Phases.Add(std::make_shared<InstallerCachePhases>(std::move(product)));
}

}  // namespace kem
