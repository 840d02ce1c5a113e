// "Apply Changes" run by the real engine under Wine over a small installer database the
// test writes itself through msi.dll: a registry component per switch, a custom action
// that fails on request. Checked through Win32: what was installed, the exit code, the
// trace log, the property file.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\session";
constexpr const char* kKey = "Software\\KemSessionE2E";
constexpr const char* kProduct = "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}";
constexpr const char* kPatchCode = "{2E7B9C41-5A3D-4F62-8B1E-0C9D8A7F6E51}";
// Summary information value types.
constexpr UINT kVtI4 = 3;
constexpr UINT kVtLpstr = 30;

bool Sql(MSIHANDLE db, const std::string& sql) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(db, sql.c_str(), &view) != ERROR_SUCCESS) return false;
  const bool ok = MsiViewExecute(view, 0) == ERROR_SUCCESS;
  MsiViewClose(view);
  MsiCloseHandle(view);
  return ok;
}

// A database whose components write registry values under kKey: "Main" when switch A1R
// is "TRUE" (value Target := the install location, value PropertyFile := the property
// file's path), "Other" when A2R is. Custom action "Fail" ends the session with an error
// when A9F is "TRUE".
void WriteTestDatabase(const std::string& path) {
  DeleteFileA(path.c_str());
  MSIHANDLE db = 0;
  ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &db), static_cast<UINT>(ERROR_SUCCESS));
  const std::vector<std::string> sql = {
      "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL PRIMARY KEY `Property`)",
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) "
      "NOT NULL PRIMARY KEY `Directory`)",
      "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT "
      "NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)",
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY "
      "`Feature_`, `Component_`)",
      "CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL, "
      "`Name` CHAR(255), `Value` CHAR(0), `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)",
      "CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` "
      "CHAR(255) PRIMARY KEY `Action`)",
      "CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT "
      "PRIMARY KEY `Action`)",
      std::string("INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '") + kProduct + "')",
      "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Kem Session Test')",
      "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductVersion', '1.0.0')",
      "INSERT INTO `Property` (`Property`, `Value`) VALUES ('Manufacturer', 'Kem')",
      "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductLanguage', '1033')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')",
      "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`, `KeyPath`) "
      "VALUES ('Main', '{1B0D3C55-2E3F-4A61-9C1D-7E1A2B3C4D01}', 'TARGETDIR', 4, 'A1R=\"TRUE\"', 'RegMain')",
      "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`, `KeyPath`) "
      "VALUES ('Other', '{1B0D3C55-2E3F-4A61-9C1D-7E1A2B3C4D02}', 'TARGETDIR', 4, 'A2R=\"TRUE\"', 'RegOther')",
      "INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('All', 1, 0)",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('All', 'Main')",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('All', 'Other')",
      std::string("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES "
                  "('RegMain', 1, '") + kKey + "', 'Target', '[ARPINSTALLLOCATION]', 'Main')",
      std::string("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES "
                  "('RegFile', 1, '") + kKey + "', 'PropertyFile', '[VRAXPROPERTYFILE]', 'Main')",
      std::string("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES "
                  "('RegOther', 1, '") + kKey + "', 'Other', 'x', 'Other')",
      "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES ('Fail', 19, 'Planned failure.')",
  };
  for (const auto& s : sql) ASSERT_TRUE(Sql(db, s)) << s;
  const std::pair<const char*, int> sequence[] = {
      {"CostInitialize", 800},      {"FileCost", 900},           {"CostFinalize", 1000},
      {"InstallValidate", 1400},    {"InstallInitialize", 1500}, {"ProcessComponents", 1600},
      {"WriteRegistryValues", 5000}, {"RegisterProduct", 6100},   {"PublishFeatures", 6300},
      {"PublishProduct", 6400},     {"InstallFinalize", 6600}};
  for (auto [action, n] : sequence)
    ASSERT_TRUE(Sql(db, std::string("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('") + action +
                            "', " + std::to_string(n) + ")"));
  ASSERT_TRUE(Sql(db, "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Fail', "
                      "'A9F=\"TRUE\"', 5100)"));
  MSIHANDLE info = 0;
  ASSERT_EQ(MsiGetSummaryInformationA(db, nullptr, 5, &info), static_cast<UINT>(ERROR_SUCCESS));
  MsiSummaryInfoSetPropertyA(info, 7, kVtLpstr, 0, nullptr, "Intel;1033");
  MsiSummaryInfoSetPropertyA(info, 9, kVtLpstr, 0, nullptr, "{5A1C2B3D-4E5F-4061-8A9B-0C1D2E3F4A5B}");
  MsiSummaryInfoSetPropertyA(info, 14, kVtI4, 200, nullptr, nullptr);
  MsiSummaryInfoSetPropertyA(info, 15, kVtI4, 2, nullptr, nullptr);
  MsiSummaryInfoPersist(info);
  MsiCloseHandle(info);
  ASSERT_EQ(MsiDatabaseCommit(db), static_cast<UINT>(ERROR_SUCCESS));
  MsiCloseHandle(db);
}

std::string RegValue(const char* name) {
  char buffer[1024] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return "<none>";
  return buffer;
}

// A successful session also registers the product and keeps its setup in the installer
// cache: both go between tests, so no test starts as a maintenance run of another.
void RemoveRegistration() {
  const std::string cacheKey = std::string("SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\") + kProduct;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    char folder[MAX_PATH] = {};
    DWORD size = sizeof(folder);
    if (RegGetValueA(root, cacheKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS)
      RemoveTree(folder);
    RegDeleteTreeA(root, cacheKey.c_str());
    RegDeleteTreeA(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Test Product");
  }
}

class SessionE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(temp_);
    MakeFolder(temp_);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    // A product left by an earlier test goes first.
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductA(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    RemoveRegistration();
  }
  void TearDown() override {
    MsiConfigureProductA(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    RemoveRegistration();
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  }
  // A deferred statement with its command header (its switch is A + header).
  void Deferred(const std::string& header) {
    const std::size_t i = script_.Add("Write Registry", {"1", kKey, "n", "v", ""});
    script_.Data().CommandHeaders.Add(header);
    script_.Data().CommandHeaders.Add(std::to_string(i));
  }
  // Composes the setup with the test database and the sources' marker file.
  std::string Compose() {
    const std::string exe = ComposeSetup(dir_, "setup", script_.Data());
    WriteTestDatabase(dir_ + "\\setup.msi");
    MakeFolder(dir_ + "\\data");
    WriteFileBytes(dir_ + "\\data\\" + kProduct, "");
    return exe;
  }
  ScriptBuilder script_;
  std::string name_, dir_, temp_;
};

TEST_F(SessionE2E, SilentInstallationInstallsWhatTheScriptSwitchedOn) {
  const std::string target = temp_ + "\\Target Folder\\";
  Deferred("1R");
  script_.Add("Set Variable", {"F", "0"});
  script_.Add("If", {"F", "0", "1", "FALSE"});
  Deferred("2R");  // skipped: its component stays out
  script_.Add("End");
  script_.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  const std::string log = temp_ + "\\trace.log";
  const std::string exe = Compose();
  RunResult r = RunEngine(exe, "/s /l=" + log + " \"TARGETDIR=" + target + "\"", 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 0u);
  EXPECT_EQ(RegValue("Target"), target);
  EXPECT_EQ(RegValue("Other"), "<none>");
  EXPECT_EQ(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
  // The property file reached the database and is gone after the session.
  const std::string propertyFile = RegValue("PropertyFile");
  EXPECT_NE(propertyFile, "<none>");
  EXPECT_FALSE(propertyFile.empty());
  EXPECT_FALSE(PathExists(propertyFile)) << propertyFile;

  // The trace log: the session header and the session's outcome.
  const std::string text = ReadTraceLog(log);
  const auto header = text.find(": Applying Changes @");
  ASSERT_NE(header, std::string::npos) << text;
  EXPECT_NE(text.find("*** MSI Directory ***", header), std::string::npos);
  EXPECT_NE(text.find("Installer session: COMPLETE (0)", header), std::string::npos);
  // The installer's own lines follow the header on Windows; Wine's installer writes to
  // the log only the messages an external interface declines, and this one answers all.
}

TEST_F(SessionE2E, FailingSessionGivesErrorLastErrorAndExitCode) {
  Deferred("1R");
  Deferred("9F");
  script_.Add("Set Variable", {"DBPASSWORD", "hunter2"});
  script_.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  script_.Add("Set Variable", {"ERRTEXT", "[$LASTERROR$]"});
  const std::string log = temp_ + "\\trace.log";
  const std::string exe = Compose();
  // The verbose trace shows what each statement wrote.
  RunResult r = RunEngine(exe, "/s /lv=" + log, 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 1603u);
  EXPECT_EQ(RegValue("Target"), "<none>");  // rolled back
  EXPECT_NE(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
  const std::string text = ReadTraceLog(log);
  EXPECT_NE(text.find("Installer session: ERROR (1603)"), std::string::npos) << text;
  EXPECT_NE(text.find("Apply Changes | RESULT = ERROR"), std::string::npos) << text;
  EXPECT_NE(text.find("Set Variable | DBPASSWORD = ********"), std::string::npos) << text;
  EXPECT_EQ(text.find("hunter2"), std::string::npos);
  const auto error = text.find("Set Variable | ERRTEXT = [");
  ASSERT_NE(error, std::string::npos) << text;
  EXPECT_NE(text[error + 26], ']') << "LASTERROR is empty";
}

TEST_F(SessionE2E, CancelBeforeTheSessionInstallsNothing) {
  Deferred("1R");
  script_.Add("Set Variable", {"VRAX_IsCancelled", "TRUE"});
  script_.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  const std::string log = temp_ + "\\trace.log";
  const std::string exe = Compose();
  RunResult r = RunEngine(exe, "/s /l=" + log, 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 1602u);
  EXPECT_EQ(RegValue("Target"), "<none>");
  EXPECT_NE(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
  EXPECT_NE(ReadTraceLog(log).find("Installer session: CANCEL"), std::string::npos);
}

TEST_F(SessionE2E, ScriptsOwnExitCodeWins) {
  Deferred("9F");
  script_.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  script_.Add("If", {"RESULT", "0", "ERROR", "FALSE"});
  script_.Add("Terminate with Exit Code", {"77"});
  script_.Add("End");
  const std::string exe = Compose();
  RunResult r = RunEngine(exe, "/s", 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 77u);
}

// A patch package the test makes with make_patch.exe (built beside this program) from the
// test database and a copy whose value "Other" reads "patched" instead of "x".
std::string MakePatch(const std::string& dir, const std::string& products) {
  const std::string original = dir + "\\original.msi", updated = dir + "\\updated.msi";
  const std::string patch = dir + "\\setup.msp";
  WriteTestDatabase(original);
  WriteTestDatabase(updated);
  MSIHANDLE db = 0;
  EXPECT_EQ(MsiOpenDatabaseA(updated.c_str(), MSIDBOPEN_TRANSACT, &db), static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_TRUE(Sql(db, "UPDATE `Registry` SET `Value` = 'patched' WHERE `Registry` = 'RegOther'"));
  MsiDatabaseCommit(db);
  MsiCloseHandle(db);
  RunResult r = RunEngine(Beside("kem_make_patch.exe"),
                          "\"" + original + "\" \"" + updated + "\" \"" + patch + "\" " + kPatchCode + " " + products,
                          60000);
  EXPECT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 0u) << "make_patch failed";
  return patch;
}

TEST_F(SessionE2E, ApplyPatchChangesTheInstalledProduct) {
  // The product with both switches on: "Other" reads "x".
  Deferred("1R");
  Deferred("2R");
  script_.Add("Apply Changes", {"progress", "RESULT", "TRUE", "FALSE"});
  RunResult r = RunEngine(Compose(), "/s", 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  ASSERT_EQ(r.ExitCode, 0u);
  ASSERT_EQ(RegValue("Other"), "x");

  // The patch beside a setup whose script applies it and reports the outcome.
  const std::string patchDir = dir_ + "-patch";
  ScriptBuilder patchScript;
  patchScript.Add("Apply Patch", {"RESULT"});
  patchScript.Add("Write to Text File", {temp_ + "\\result.txt", "$RESULT$|$LASTERROR$", "FALSE"});
  const std::string exe = ComposeSetup(patchDir, "setup", patchScript.Data());
  WriteTestDatabase(patchDir + "\\setup.msi");
  MakeFolder(patchDir + "\\data");
  WriteFileBytes(patchDir + "\\data\\" + kProduct, "");
  MakePatch(patchDir, kProduct);
  r = RunEngine(exe, "/s", 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  const std::string result = ReadFileBytes(temp_ + "\\result.txt");
  EXPECT_EQ(result.substr(0, result.find('|')), "COMPLETE") << result;
  EXPECT_EQ(r.ExitCode, 0u);
  EXPECT_EQ(RegValue("Other"), "patched");
  EXPECT_EQ(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
}

TEST_F(SessionE2E, APatchForAnotherProductGivesErrorWithTheInstallersText) {
  ScriptBuilder patchScript;
  patchScript.Add("Apply Patch", {"RESULT"});
  patchScript.Add("Write to Text File", {temp_ + "\\result.txt", "$RESULT$|$LASTERROR$", "FALSE"});
  const std::string exe = ComposeSetup(dir_, "setup", patchScript.Data());
  WriteTestDatabase(dir_ + "\\setup.msi");
  MakeFolder(dir_ + "\\data");
  WriteFileBytes(dir_ + "\\data\\" + kProduct, "");
  MakePatch(dir_, "{0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6}");  // not installed anywhere
  RunResult r = RunEngine(exe, "/s", 120000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 1603u);
  const std::string result = ReadFileBytes(temp_ + "\\result.txt");
  const auto bar = result.find('|');
  ASSERT_NE(bar, std::string::npos) << result;
  EXPECT_EQ(result.substr(0, bar), "ERROR");
  std::string text = result.substr(bar + 1);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  EXPECT_NE(text, "") << "LASTERROR is empty";
  EXPECT_NE(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
}

}  // namespace
}  // namespace kem::test
