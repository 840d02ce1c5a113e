// The installed product over fake machines: the cache folder and registration a
// successful installation leaves, the maintenance and upgrade runs that find them, the
// removal that takes them away (also from inside the cache), the cache root's choice,
// OVERRIDECACHE, the refused cache folders, and the instance data file's damage checks
// and update.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/instance_data.h"
#include "installer/fake_installer_cache.h"
#include "installer/installer_cache.h"
#include "installer/session_statements.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

constexpr const char* kProduct = "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}";
constexpr const char* kRevision = "{A1B2C3D4-1111-2222-3333-444455556666}";
const std::string kCache = std::string("C:\\ProgramData\\") + kRevision + "\\";
const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Test Product";
const std::string kCacheKey = std::string("SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\") + kProduct;

class CacheTest : public ScriptTest {
 public:
  void SetUp() override {
    ScriptTest::SetUp();
    host.files.insert(std::string("C:\\App\\data\\") + kProduct);
    host.folders.insert("C:\\App\\data\\");
    installer.packages[kDatabase];
    for (const char* name : {"setup.exe", "setup.msi", "setup.res", "kem.lib"})
      cache.Put(std::string("C:\\App\\") + name, std::string("original ") + name);
    prepare = [](SetupData& data) { data.PluginStatements.push_back("Apply Changes"); };
  }

  // One run of the setup with a fresh cache object, as one process has.
  void RunSetup(const std::string& database = kDatabase) {
    product = std::make_shared<InstalledProduct>(InstallerCacheServices{cache, installer, machine});
    auto state = NewSessionRunState();
    SetSessionTiming(*state, {1});
    table = std::make_unique<StatementTable>();
    RegisterSessionStatements(*table, SessionServices{installer, machine, nullptr, product.get()}, state);
    hooks = InterpreterHooks{};
    hooks.PluginStatement = [this](Interpreter& in, std::size_t i) { (*table->Find(in.Data().Kinds[i]))(in, i); };
    AddSessionHooks(hooks, state);
    AddInstallerCacheHooks(hooks, product);
    Run(database);
  }

  // A script that installs, with a component and a saved variable.
  void InstallScript() {
    script.Add("Define Component", {"Main", "TRUE", "The program"});
    script.Add("Define Component", {"Extras", "FALSE", "More"});
    script.Add("Set Component Space", {"Main", "2048000"});
    script.Add("Set Variable", {"NOTE$VRAX$VRAX$TRUE", "first$NEWLINE$second"});
    script.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  }

  // Installs once and leaves the machine as the product's cached setup finds it: the
  // installed product and the cached engine as the program.
  void InstallAndStartFromCache() {
    InstallScript();
    RunSetup();
    ASSERT_EQ(GetVar("RESULT"), "COMPLETE");
    installer.productStates[kProduct] = 5;
    cache.packageCodes[kProduct] = kRevision;
    ctx.State.SavedVariables.clear();
    auto& g = Startup();
    g.ProgramPath = kCache + "setup.exe";
    g.ProgramFolder = kCache;
    g.DataFolder = kCache + "data\\";
    NewScript();
  }

  FakeInstallerCache cache{host};
  std::shared_ptr<InstalledProduct> product;
  std::unique_ptr<StatementTable> table;
};

TEST_F(CacheTest, InstallationCachesTheSetupAndRegistersIt) {
  InstallScript();
  RunSetup();
  ASSERT_EQ(GetVar("RESULT"), "COMPLETE");

  // The setup's own files, the identity and the companions.
  for (const char* name : {"setup.exe", "setup.msi", "setup.res", "kem.lib"})
    EXPECT_EQ(cache.contents[kCache + name], std::string("original ") + name) << name;
  EXPECT_EQ(cache.contents[kCache + "instance.dat"],
            std::string(kProduct) + "\r\n" + kRevision + "\r\nTest Product\r\n");
  EXPECT_TRUE(host.files.contains(kCache + "setup.par"));
  EXPECT_TRUE(host.files.contains(kCache + "setup.lnk"));
  EXPECT_FALSE(host.files.contains(kCache + "setup.lan"));  // no language selected
  EXPECT_TRUE(cache.protectedFolders.contains(kCache));     // a per-machine cache
  EXPECT_TRUE(cache.hidden.contains(kCache));
  EXPECT_TRUE(cache.compression[kCache]);  // VRAX_COMPRESS_INSTALLER_CACHE starts "TRUE"
  const std::string dat = cache.contents[kCache + "setup.dat"];
  EXPECT_EQ(InstanceDataDamage(dat), std::nullopt) << dat;
  EXPECT_NE(dat.find("NOTE\r\nfirst$NEWLINE$second\r\n"), std::string::npos) << dat;

  // The registration, every command line quoted.
  const std::string engine = kCache + "setup.exe";
  const std::vector<std::pair<std::string, std::string>> values = {
      {"DisplayIcon", engine},
      {"DisplayName", "Test Product"},
      {"UninstallString", "\"" + engine + "\" REMOVE=TRUE MODIFY=FALSE"},
      {"QuietUninstallString", "\"" + engine + "\" /s REMOVE=TRUE MODIFY=FALSE"},
      {"ModifyPath", "\"" + engine + "\""},
      {"Publisher", "Test Company"},
      {"DisplayVersion", "1.0.0"},
      {"VersionMajor", "dword:1"},
      {"VersionMinor", "dword:0"},
      {"InstallLocation", GetVar("TARGETDIR")},
      {"EstimatedSize", "dword:2000"},  // the selected component, in KB
  };
  for (const auto& [name, value] : values) EXPECT_EQ(cache.Value(true, kUninstall, name), value) << name;
  EXPECT_EQ(cache.Value(true, std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct,
                        "UninstallString"),
            "\"" + kCache + "setup.exe\"");
  EXPECT_EQ(cache.Value(true, kCacheKey, ""), kCache);
  EXPECT_EQ(cache.Value(true, kCacheKey, "VersionMajor"), "dword:1");
  EXPECT_FALSE(cache.KeyExists(false, kUninstall));  // ALLUSERS: the machine's list only
}

TEST_F(CacheTest, FailedOrCancelledSessionCachesAndRegistersNothing) {
  for (unsigned code : {1603u, 1602u}) {
    NewScript();
    installer.codes = {code};
    InstallScript();
    RunSetup();
    EXPECT_NE(GetVar("RESULT"), "COMPLETE");
    EXPECT_TRUE(cache.registry.empty()) << code;
    EXPECT_FALSE(host.folders.contains(kCache)) << code;
  }
}

TEST_F(CacheTest, MaintenanceRunFromTheCacheFindsTheSavedState) {
  InstallAndStartFromCache();
  RunSetup();
  EXPECT_EQ(GetVar("MAINTENANCE"), "TRUE");
  EXPECT_EQ(GetVar("NEEDSUPGRADE"), "FALSE");
  EXPECT_EQ(GetVar("NEWINSTANCE"), "FALSE");  // instance.dat lies beside the program
  EXPECT_EQ(GetVar("NOTE"), "first$NEWLINE$second");
  EXPECT_EQ(GetVar("TARGETDIR"), "C:\\Program Files\\Test Product\\");
  EXPECT_EQ(GetVar("ENGINECACHE"), kCache);
  EXPECT_EQ(GetVar("UNINSTALLLINK"), kCache + "setup.exe");
  // The sources stay where the installation found them.
  EXPECT_EQ(GetVar("DATADIR"), "C:\\App\\data\\");
  const ComponentTables& t = Engine().Components;
  ASSERT_EQ(t.Names.size(), 3u);  // the predefined component, Main, Extras
  EXPECT_EQ(t.States[1], "TRUE");
  EXPECT_EQ(t.States[2], "FALSE");
  EXPECT_EQ(t.InstalledSize, 2048000);
}

TEST_F(CacheTest, ModifyRunSavesTheNewChoicesAndRegistersAgain) {
  InstallAndStartFromCache();
  script.Add("Set Component State", {"Extras", "TRUE"});
  script.Add("Set Component Space", {"Extras", "1024000"});
  script.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  RunSetup();
  ASSERT_EQ(GetVar("RESULT"), "COMPLETE");
  EXPECT_EQ(installer.calls.back().commandLine.rfind("REINSTALL=ALL REINSTALLMODE=vomus ", 0), 0u);
  EXPECT_EQ(cache.Value(true, kUninstall, "EstimatedSize"), "dword:3000");
  // The next maintenance run finds the new choice.
  ctx.State.SavedVariables.clear();
  NewScript();
  RunSetup();
  const ComponentTables& t = Engine().Components;
  ASSERT_EQ(t.Names.size(), 3u);
  EXPECT_EQ(t.States[2], "TRUE");
  EXPECT_EQ(t.InstalledSize, 3072000);
  EXPECT_EQ(GetVar("NOTE"), "first$NEWLINE$second");
}

TEST_F(CacheTest, DamagedInstanceDataCountsAsAbsent) {
  InstallAndStartFromCache();
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  std::string dat = cache.contents[kCache + "setup.dat"];
  const std::string target = "C:\\Program Files\\Test Product\\";
  dat.replace(dat.find(target), target.size(), "C:\\Elsewhere\\");
  cache.Put(kCache + "setup.dat", dat.substr(0, dat.find("NOTE") + 2));  // cut off while it was written
  RunSetup();
  EXPECT_EQ(GetVar("MAINTENANCE"), "TRUE");
  EXPECT_EQ(GetVar("NOTE"), "");
  EXPECT_EQ(GetVar("TARGETDIR"), "C:\\Program Files\\Test Product\\");  // the first installation's default
  bool traced = false;
  for (const auto& line : trace.Lines()) traced = traced || line.find("setup.dat ignored:") != std::string::npos;
  EXPECT_TRUE(traced);
}

TEST_F(CacheTest, AnotherRevisionIsAnUpgrade) {
  struct Case {
    const char* loadOld;
    std::string note;
  };
  for (const Case& c : {Case{"TRUE", "first$NEWLINE$second"}, Case{"FALSE", ""}}) {
    cache.registry.clear();
    installer.productStates.clear();
    cache.packageCodes.clear();
    NewScript();
    InstallScript();
    RunSetup();
    installer.productStates[kProduct] = 5;
    cache.packageCodes[kProduct] = "{OTHER-REVISION}";
    ctx.State.SavedVariables.clear();
    NewScript();
    script.Data().RevisionCode = "{B1B2C3D4-1111-2222-3333-444455556666}";
    script.Data().CompilerVariables.Add("LOADOLDDATA");
    script.Data().CompilerVariables.Add(c.loadOld);
    RunSetup();
    EXPECT_EQ(GetVar("NEEDSUPGRADE"), "TRUE");
    EXPECT_EQ(GetVar("MAINTENANCE"), "FALSE");
    EXPECT_EQ(GetVar("NEWINSTANCE"), "TRUE");  // no instance.dat beside the program
    EXPECT_EQ(GetVar("NOTE"), c.note) << c.loadOld;
  }
}

TEST_F(CacheTest, RemovalFromTheCacheTakesCacheAndRegistrationAway) {
  InstallAndStartFromCache();
  // Wherever the sources went, a removal still runs.
  host.files.erase(std::string("C:\\App\\data\\") + kProduct);
  cache.busy.insert(kCache + "setup.exe");  // the running engine
  host.folders.insert("C:\\ProgramData\\~0\\");  // a name taken already
  script.Add("Apply Changes", {"progress", "RESULT", "FALSE", "TRUE"});
  RunSetup();
  EXPECT_EQ(GetVar("RESULT"), "COMPLETE");
  EXPECT_EQ(installer.calls.back().commandLine.find("REMOVE=ALL"), 0u) << installer.calls.back().commandLine;
  for (bool machineRoot : {true, false}) {
    EXPECT_FALSE(cache.KeyExists(machineRoot, kUninstall));
    EXPECT_FALSE(cache.KeyExists(machineRoot, kCacheKey));
  }
  EXPECT_FALSE(host.folders.contains(kCache));
  EXPECT_EQ(cache.moves, (std::vector<std::string>{kCache.substr(0, kCache.size() - 1) + " -> C:\\ProgramData\\~1"}));
  EXPECT_EQ(cache.restartDeletions,
            (std::vector<std::string>{"C:\\ProgramData\\~1\\setup.exe", "C:\\ProgramData\\~1\\kem.lib",
                                      "C:\\ProgramData\\~1"}));
  EXPECT_FALSE(host.files.contains("C:\\ProgramData\\~1\\setup.dat"));  // no instance data after a removal
}

TEST_F(CacheTest, RemovalWithSaveDataKeepsTheCacheButNotTheKeys) {
  InstallAndStartFromCache();
  script.Add("Set Variable", {"SAVEDATA", "TRUE"});
  script.Add("Apply Changes", {"progress", "RESULT", "FALSE", "TRUE"});
  RunSetup();
  EXPECT_EQ(GetVar("RESULT"), "COMPLETE");
  EXPECT_TRUE(host.files.contains(kCache + "setup.dat"));
  EXPECT_FALSE(cache.KeyExists(true, kUninstall));
  EXPECT_FALSE(cache.KeyExists(true, kCacheKey));
}

TEST_F(CacheTest, CacheRootFollowsOverrideKeyAndUser) {
  struct Case {
    const char* name;
    bool admin;
    std::string override, registered, expected;
  };
  const std::vector<Case> cases = {
      {"machine", true, "", "", kCache},
      {"user", false, "", "", std::string("C:\\Users\\me\\AppData\\Local\\") + kRevision + "\\"},
      {"override", true, "D:\\Cache", "", std::string("D:\\Cache\\") + kRevision + "\\"},
      {"key of this revision", true, "", std::string("E:\\Kept\\") + kRevision + "\\",
       std::string("E:\\Kept\\") + kRevision + "\\"},
      {"key of another revision", true, "", "E:\\Kept\\{OTHER}\\", kCache},
  };
  for (const auto& c : cases) {
    cache.registry.clear();
    if (!c.registered.empty()) cache.WriteString(false, kCacheKey, "", c.registered);
    host.admin = c.admin;
    NewScript();
    script.Add("Set Variable", {"OVERRIDECACHE", c.override});
    script.Add("Set Variable", {"SEEN", "$ENGINECACHE$"});
    RunSetup();
    EXPECT_EQ(GetVar("SEEN"), c.expected) << c.name;
  }
}

TEST_F(CacheTest, OverrideThatCannotBeCreatedIsCleared) {
  script.Add("Set Variable", {"OVERRIDECACHE", "Q:\\Nowhere"});
  script.Add("Set Variable", {"SEEN", "$OVERRIDECACHE$|$ENGINECACHE$"});
  RunSetup();
  EXPECT_EQ(GetVar("SEEN"), "|" + kCache);
  // A folder that can be made is, only to be tried: nothing is left of it.
  NewScript();
  script.Add("Set Variable", {"OVERRIDECACHE", "D:\\New\\Cache"});
  script.Add("Set Variable", {"SEEN", "$OVERRIDECACHE$"});
  RunSetup();
  EXPECT_EQ(GetVar("SEEN"), "D:\\New\\Cache\\");
  EXPECT_FALSE(host.folders.contains("D:\\New\\"));
}

TEST_F(CacheTest, ForeignCacheFolderIsRefused) {
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  const std::vector<Case> cases = {
      {"planted file", [&] { cache.Put(kCache + "version.dll", "planted"); }},
      {"owned by a user", [&] { host.folders.insert(kCache); cache.foreignOwned.insert(kCache); }},
      {"link", [&] { cache.links.insert(kCache.substr(0, kCache.size() - 1)); }},
      {"permissions refused", [&] { cache.unprotectable.insert(kCache); }},
  };
  for (const auto& c : cases) {
    cache.links.clear();
    cache.foreignOwned.clear();
    cache.unprotectable.clear();
    host.folders.erase(kCache);
    host.files.erase(kCache + "version.dll");
    c.plant();
    NewScript();
    InstallScript();
    RunSetup();
    EXPECT_EQ(GetVar("RESULT"), "COMPLETE") << c.name;
    EXPECT_FALSE(host.files.contains(kCache + "setup.exe")) << c.name;
    EXPECT_FALSE(cache.KeyExists(true, kUninstall)) << c.name;
  }
}

TEST_F(CacheTest, PatchBuildServesTheInstalledRevision) {
  InstallScript();
  RunSetup();
  ctx.State.SavedVariables.clear();
  NewScript();
  script.Data().RevisionCode = "{B1B2C3D4-1111-2222-3333-444455556666}";
  script.Data().MediaMode = 3;
  host.files.insert("C:\\Temp\\kem1\\setup.msp");
  script.Add("Set Variable", {"SEEN", "$ENGINECACHE$|$UNINSTALLLINK$"});
  RunSetup();
  EXPECT_EQ(GetVar("NOTE"), "first$NEWLINE$second");
  EXPECT_EQ(GetVar("SEEN"), kCache + "|" + kCache + "setup.exe");
  EXPECT_EQ(Engine().Components.InstalledSize, 2048000);
}

TEST_F(CacheTest, CacheSourcesFalseEmptiesAWebBuildsBlocksButOffline) {
  for (const char* setting : {"FALSE", ""}) {
    for (const char* block : {"OFFLINE", "BLOCK1"}) cache.Put(kCache + block + "\\part.7zip", "data");
    NewScript();
    script.Data().MediaMode = 2;
    if (*setting) {
      script.Data().CompilerVariables.Add("CACHESOURCES");
      script.Data().CompilerVariables.Add(setting);
    }
    RunSetup();
    EXPECT_TRUE(host.files.contains(kCache + "OFFLINE\\part.7zip")) << setting;
    EXPECT_EQ(host.files.contains(kCache + "BLOCK1\\part.7zip"), !*setting) << setting;
  }
}

TEST(VersionNumbers, MajorAndMinor) {
  struct Case {
    const char* text;
    std::uint32_t major, minor;
  };
  for (const Case& c : {Case{"1.0.1", 1, 0}, Case{"2", 2, 0}, Case{"3.beta", 3, 0}, Case{"", 0, 0},
                        Case{"12.34.56", 12, 34}, Case{"a.1", 0, 1}, Case{"4.99999999999", 4, 0}}) {
    auto [major, minor] = VersionNumbers(c.text);
    EXPECT_EQ(major, c.major) << c.text;
    EXPECT_EQ(minor, c.minor) << c.text;
  }
}

// --- The instance data file ---------------------------------------------------------------

const std::string kSound =
    "VRAX-PREDEF-COMPONENT\r\nMain\r\n$\r\nTRUE\r\nFALSE\r\n$\r\n$\r\n$\r\n$\r\nMain\r\n100\r\n$\r\n"
    "C:\\Target\\\r\nTRUE\r\nStart\r\nC:\\DATA~1\\\r\nNOTE\r\na$NEWLINE$b\r\nVRAX64WOW\r\nx64\r\nOVERRIDECACHE\r\n\r\n";

TEST(InstanceData, DamageIsNamed) {
  struct Case {
    std::string text, damage;
  };
  auto replaced = [](std::string from, const std::string& what, const std::string& with) {
    return from.replace(from.find(what), what.size(), with);
  };
  const std::vector<Case> cases = {
      {kSound, ""},
      {"", "its last line has no line break"},
      {kSound.substr(0, 30), "its last line has no line break"},
      {kSound.substr(0, kSound.find("$\r\nC:") ), "it ends before its sixth list does"},
      {kSound.substr(0, kSound.find("Start")), "it ends before its single lines do"},
      {replaced(kSound, "TRUE\r\nFALSE\r\n$", "TRUE\r\n$"), "its component names and states differ in number"},
      {replaced(kSound, "FALSE\r\n$", "maybe\r\n$"), "a component state reads 'maybe'"},
      {replaced(kSound, "Main\r\n100\r\n", "Main\r\n"), "its size list has a name without a size"},
      {replaced(kSound, "100", "1x0"), "a component size reads '1x0'"},
      {kSound.substr(0, kSound.rfind("\r\n\r\n") + 2), "its last variable has no value"},
      {replaced(kSound, "Start", std::string("St\0rt", 5)), "it holds a NUL byte"},
  };
  for (const auto& c : cases) EXPECT_EQ(InstanceDataDamage(c.text).value_or(""), c.damage) << c.text;
}

TEST(InstanceData, RoundTripAndUpdate) {
  EngineContext ctx;
  ASSERT_EQ(ReadInstanceData(ctx, kSound, ComponentListsRead::Normal), std::optional<std::string>("C:\\DATA~1\\"));
  EXPECT_EQ(ctx.Vars.Get("NOTE"), "a$NEWLINE$b");
  EXPECT_EQ(ctx.State.PlatformMode, "x64");
  EXPECT_EQ(WriteInstanceData(ctx, "C:\\DATA~1\\"), kSound);

  // An update keeps the lists and single lines and writes the pairs anew.
  ctx.Vars.Set("NOTE", "changed");
  ctx.State.AddSavedVariable("OTHER");
  ctx.Vars.Set("OTHER", "x\r\ny");
  auto updated = UpdateInstanceData(ctx, kSound);
  ASSERT_TRUE(updated);
  EXPECT_EQ(*updated, kSound.substr(0, kSound.find("NOTE")) +
                          "NOTE\r\nchanged\r\nOTHER\r\nx$NEWLINE$y\r\nVRAX64WOW\r\nx64\r\nOVERRIDECACHE\r\n\r\n");
  EXPECT_EQ(UpdateInstanceData(ctx, kSound.substr(0, kSound.find("Start"))), std::nullopt);
}

TEST(InstanceIdentity, ReadsThreeLines) {
  auto id = ReadInstanceIdentity("{P}\r\n{R}\r\nTitle\r\n");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->ProductCode, "{P}");
  EXPECT_EQ(id->RevisionCode, "{R}");
  EXPECT_EQ(id->Title, "Title");
  EXPECT_EQ(WriteInstanceIdentity(*id), "{P}\r\n{R}\r\nTitle\r\n");
  for (const char* damaged : {"", "{P}\r\n{R}", "\r\n{R}\r\nTitle\r\n"})
    EXPECT_FALSE(ReadInstanceIdentity(damaged)) << damaged;
}

}  // namespace
}  // namespace kem::test
