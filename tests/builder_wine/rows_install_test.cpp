// The installer database that kembuild writes for tests/builder_wine/rows, installed under
// Wine in two ways and checked through Win32:
//  - by msiexec alone, with the switch and parameter properties the script would record;
//  - by the setup itself, silently, through "Apply Changes" with TARGETDIR from its
//    command line.
// Either way exactly the statements that ran are installed (files, registry values, a
// shortcut, an INI value, an environment variable, a folder), nothing of the skipped
// block, and the removal takes everything away again.
#include <windows.h>
#include <msi.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/engine_runner.h"

namespace kem::test {
namespace {

// Given by the test's command line: the folder kembuild built the project into.
std::string g_built;

constexpr const char* kProduct = "{6E1D2C3B-4A59-4F68-8E7D-1C2B3A4F5E60}";
constexpr const char* kKey = "Software\\KemRowsTest";
const std::string kRoot = "C:\\kem-e2e\\rows";

// The command headers of the project's statements (from their IDs): those that run, and
// those of the block the script skips.
constexpr const char* kFiles = "A1000001";
constexpr const char* kRegFolder = "A1000002";
constexpr const char* kRegCount = "A1000003";
constexpr const char* kShortcut = "A1000004";
constexpr const char* kIni = "A1000005";
constexpr const char* kEnvironment = "A1000006";
constexpr const char* kFolder = "A1000007";
const char* const kSkipped[] = {"B1000001", "B1000002", "B1000004", "B1000005", "B1000006", "B1000007"};

std::string RegText(HKEY root, const char* key, const char* name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(root, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return "<none>";
  return buffer;
}

DWORD RegNumber(const char* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return ~0u;
  return value;
}

std::string IniValue(const std::string& file, const char* section, const char* key) {
  char buffer[512] = {};
  GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, file.c_str());
  return buffer;
}

// The target, arguments and description of a shortcut file, read through IShellLink.
struct LinkFields {
  std::string Target, Arguments, Description;
};
bool ReadLink(const std::string& file, LinkFields& out) {
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return false;
  IPersistFile* persist = nullptr;
  bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)));
  if (ok) ok = SUCCEEDED(persist->Load(Widen(file).c_str(), STGM_READ));
  char buffer[MAX_PATH * 2] = {};
  if (ok && SUCCEEDED(link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH))) out.Target = buffer;
  if (ok && SUCCEEDED(link->GetArguments(buffer, sizeof buffer))) out.Arguments = buffer;
  if (ok && SUCCEEDED(link->GetDescription(buffer, sizeof buffer))) out.Description = buffer;
  if (persist) persist->Release();
  link->Release();
  return ok;
}

std::string SystemProgram(const char* name) {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

class RowsInstall : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto args = ::testing::internal::GetArgvs();
    if (args.size() > 1) g_built = WindowsPath(args[1]);
  }
  void SetUp() override {
    if (g_built.empty()) GTEST_SKIP() << "the project was not built";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name;
    target_ = dir_ + "\\Target Folder\\";
    temp_ = dir_ + "-temp";
    Clean();
    MakeFolder(temp_);
  }
  void TearDown() override {
    Clean();
    CoUninitialize();
  }
  void Clean() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductA(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", "KEMROWS_ON");
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", "KEMROWS_OFF");
    RemoveTree(dir_);
    RemoveTree(temp_);
  }

  // Runs msiexec with the arguments; its exit code.
  DWORD Msiexec(const std::string& args) {
    RunResult r = RunEngine(SystemProgram("msiexec.exe"), args, 180000, temp_);
    EXPECT_FALSE(r.TimedOut) << args;
    return r.ExitCode;
  }

  // What a script that ran the first block records, with the skipped block's properties
  // set as well (switched off), so that anything the switch fails to hold back would land
  // inside the target too.
  std::string RecordedProperties() const {
    const std::string t = target_;
    const std::vector<std::pair<std::string, std::string>> values = {
        {std::string("A") + kFiles, "TRUE"},
        {std::string("P") + kFiles + "_1", t},
        {std::string("A") + kRegFolder, "TRUE"},
        {std::string("P") + kRegFolder + "_2", t},
        {std::string("A") + kRegCount, "TRUE"},
        {std::string("A") + kShortcut, "TRUE"},
        {std::string("P") + kShortcut + "_1", t + "Menu"},
        {std::string("P") + kShortcut + "_2", t + "app.txt"},
        {std::string("P") + kShortcut + "_3", "-v"},
        {std::string("P") + kShortcut + "_4", t},
        {std::string("A") + kIni, "TRUE"},
        {std::string("P") + kIni + "_1", t},
        {std::string("P") + kIni + "_2", "Main"},
        {std::string("P") + kIni + "_3", "Folder"},
        {std::string("P") + kIni + "_4", t},
        {std::string("A") + kEnvironment, "TRUE"},
        {std::string("P") + kEnvironment + "_1", t},
        {std::string("A") + kFolder, "TRUE"},
        {std::string("P") + kFolder + "_1", t + "Logs"},
        {"PB1000001_1", t + "Extra"},
        {"PB1000002_2", t},
        {"PB1000004_1", t + "Menu"},
        {"PB1000004_2", t + "app.txt"},
        {"PB1000005_1", t},
        {"PB1000005_2", "Main"},
        {"PB1000005_3", "Off"},
        {"PB1000005_4", t},
        {"PB1000006_1", t},
        {"PB1000007_1", t + "Empty"},
    };
    std::string line;
    for (const char* header : kSkipped) line += std::string(" A") + header + "=FALSE";
    for (const auto& [name, value] : values) line += " " + name + "=\"" + value + "\"";
    return line;
  }

  // Everything the first block installs, and nothing of the skipped one.
  void ExpectInstalled() {
    EXPECT_EQ(ReadFileBytes(target_ + "app.txt"), "the application\n");
    EXPECT_EQ(ReadFileBytes(target_ + "doc\\Read Me.txt"), "read me\n");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kKey, "Folder"), target_);
    EXPECT_EQ(RegNumber("Count"), 7u);
    LinkFields link;
    ASSERT_TRUE(ReadLink(target_ + "Menu\\Rows App.lnk", link)) << "no shortcut";
    EXPECT_EQ(link.Target, target_ + "app.txt");
    EXPECT_EQ(link.Arguments, "-v");
    EXPECT_EQ(link.Description, "Opens the application");
    EXPECT_EQ(IniValue(target_ + "rows.ini", "Main", "Folder"), target_);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Environment", "KEMROWS_ON"), target_);
    EXPECT_TRUE(PathExists(target_ + "Logs"));

    EXPECT_FALSE(PathExists(target_ + "Extra"));
    EXPECT_FALSE(PathExists(target_ + "off.txt"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kKey, "Off"), "<none>");
    EXPECT_FALSE(PathExists(target_ + "Menu\\Rows Off.lnk"));
    EXPECT_FALSE(PathExists(target_ + "off.ini"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Environment", "KEMROWS_OFF"), "<none>");
    EXPECT_FALSE(PathExists(target_ + "Empty"));
    EXPECT_EQ(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
  }

  void ExpectRemoved() {
    EXPECT_NE(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
    EXPECT_FALSE(PathExists(target_ + "app.txt"));
    EXPECT_FALSE(PathExists(target_ + "doc\\Read Me.txt"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kKey, "Folder"), "<none>");
    EXPECT_EQ(RegNumber("Count"), ~0u);
    EXPECT_FALSE(PathExists(target_ + "Menu\\Rows App.lnk"));
    EXPECT_EQ(IniValue(target_ + "rows.ini", "Main", "Folder"), "<none>");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Environment", "KEMROWS_ON"), "<none>");
    EXPECT_FALSE(PathExists(target_ + "Logs"));
  }

  std::string dir_, target_, temp_;
};

TEST_F(RowsInstall, MsiexecInstallsWhatTheRecordedPropertiesSwitchOnAndRemovesIt) {
  const std::string database = "\"" + g_built + "\\rows.msi\"";
  const std::string source = " SRCDIR=\"" + g_built + "\\data\\\"";
  ASSERT_EQ(Msiexec("/i " + database + " /qn" + source + RecordedProperties()), 0u);
  ExpectInstalled();
  // The removal gets the switches too, as the setup's own removal passes them: Wine's
  // installer evaluates the components' conditions again when it removes a product.
  ASSERT_EQ(Msiexec("/x " + database + " /qn" + RecordedProperties()), 0u);
  ExpectRemoved();
}

TEST_F(RowsInstall, SilentSetupInstallsThroughApplyChangesAndRemovesAgain) {
  const std::string log = temp_ + "\\install.log";
  RunResult r = RunEngine(g_built + "\\rows.exe", "/s /l=" + log + " \"TARGETDIR=" + target_ + "\"", 180000, temp_);
  ASSERT_FALSE(r.TimedOut);
  ASSERT_EQ(r.ExitCode, 0u) << ReadTraceLog(log);
  EXPECT_NE(ReadTraceLog(log).find("Installer session: COMPLETE (0)"), std::string::npos);
  ExpectInstalled();

  r = RunEngine(g_built + "\\rows.exe", "/s REMOVE=TRUE /l=" + log + " \"TARGETDIR=" + target_ + "\"", 180000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 0u) << ReadTraceLog(log);
  ExpectRemoved();
}

}  // namespace
}  // namespace kem::test
