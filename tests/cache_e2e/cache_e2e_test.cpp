// The example product installed, repaired and removed by the real engine under Wine, the
// way Windows starts the registration's command lines. Checked through Win32: the
// uninstall entry's values, the installer cache, the installed files, the product state.
//
// argv[1]: the folder the builder made from examples/product.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "support/engine_runner.h"

namespace kem::test {
namespace {

constexpr const char* kProduct = "{3E7A51C2-84B6-4D1F-9C2A-6B0D8E4F1A27}";
constexpr const char* kTitle = "Kem Product";
const std::string kUninstallKey = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kTitle;
const std::string kCacheKey = std::string("SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\") + kProduct;
const std::string kRoot = "C:\\kem-e2e\\cache";
std::string g_built;

std::string RegString(HKEY root, const std::string& key, const char* name) {
  char buffer[2048] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return "<none>";
  return buffer;
}

DWORD RegDword(HKEY root, const std::string& key, const char* name) {
  DWORD value = 0xFFFFFFFF, size = sizeof(value);
  RegGetValueA(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

void CopyTree(const std::string& from, const std::string& to) {
  MakeFolder(to);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((from + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CopyTree(from + "\\" + name, to + "\\" + name);
    else
      CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}

// Starts a command line as the list of installed programs does: the whole text to
// CreateProcess, no program name apart. The exit code; ~0 when it did not end in time.
DWORD RunCommandLine(const std::string& commandLine, const std::string& temp) {
  std::string line = commandLine;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  SetEnvironmentVariableA("TEMP", temp.c_str());
  SetEnvironmentVariableA("TMP", temp.c_str());
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u - 1;
  DWORD code = ~0u;
  if (WaitForSingleObject(pi.hProcess, 180000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

class CacheE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto args = ::testing::internal::GetArgvs();
    if (args.size() > 1) g_built = WindowsPath(args[1]);
  }
  void SetUp() override {
    if (g_built.empty()) GTEST_SKIP() << "the example product was not built";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    media_ = kRoot + "\\" + name_;
    temp_ = media_ + "-temp";
    Clean();
    CopyTree(g_built, media_);
    MakeFolder(temp_);
  }
  void TearDown() override { Clean(); }
  // Whatever an earlier run left: the product, its registration, its cache.
  void Clean() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductA(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const std::string folder = RegString(root, kCacheKey, nullptr);
      if (folder != "<none>") RemoveTree(folder);
      RegDeleteTreeA(root, kUninstallKey.c_str());
      RegDeleteTreeA(root, kCacheKey.c_str());
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kem Examples\\Product");
    RemoveTree(media_);
    RemoveTree(temp_);
  }
  // What an installation registered: the root of its keys, its cache folder, its target.
  struct Installed {
    HKEY Root;
    std::string Cache, Target;
    std::string Value(const char* name) const { return RegString(Root, kUninstallKey, name); }
  };
  // Installs from the media.
  Installed Install() {
    RunResult r = RunEngine(media_ + "\\product.exe", "/s /l=" + temp_ + "\\install.log", 180000, temp_);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 0u) << ReadTraceLog(temp_ + "\\install.log");
    Installed i;
    i.Root = KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    i.Cache = RegString(i.Root, kCacheKey, nullptr);
    i.Target = i.Value("InstallLocation");
    return i;
  }
  void ExpectNothingLeft(const Installed& installed) {
    const std::string& cache = installed.Cache;
    const std::string& target = installed.Target;
    EXPECT_NE(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      EXPECT_FALSE(KeyExists(root, kUninstallKey));
      EXPECT_FALSE(KeyExists(root, kCacheKey));
    }
    EXPECT_FALSE(PathExists(cache)) << cache;
    EXPECT_FALSE(PathExists(target + "readme.txt")) << target;
    EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Kem Examples\\Product", "Folder"), "<none>");
  }
  std::string name_, media_, temp_;
};

TEST_F(CacheE2E, InstallationRegistersAndTheQuietRemovalTakesEverythingAway) {
  const Installed installed = Install();
  ASSERT_TRUE(KeyExists(installed.Root, kUninstallKey));
  EXPECT_EQ(MsiQueryProductStateA(kProduct), INSTALLSTATE_DEFAULT);

  // The cache key points at the cache folder, which holds the setup and its state.
  const std::string& cache = installed.Cache;
  ASSERT_NE(cache, "<none>");
  for (const char* file : {"product.exe", "product.msi", "product.res", "kem.lib", "product.dat", "product.par",
                           "instance.dat"})
    EXPECT_TRUE(PathExists(cache + file)) << file;

  // The entry's values.
  const std::string engine = cache + "product.exe";
  EXPECT_EQ(installed.Value("DisplayName"), kTitle);
  EXPECT_EQ(installed.Value("DisplayIcon"), engine);
  EXPECT_EQ(installed.Value("UninstallString"), "\"" + engine + "\" REMOVE=TRUE MODIFY=FALSE");
  EXPECT_EQ(installed.Value("QuietUninstallString"), "\"" + engine + "\" /s REMOVE=TRUE MODIFY=FALSE");
  EXPECT_EQ(installed.Value("ModifyPath"), "\"" + engine + "\"");
  EXPECT_EQ(installed.Value("Publisher"), "Kem Examples");
  EXPECT_EQ(installed.Value("DisplayVersion"), "2.1.0");
  EXPECT_EQ(RegDword(installed.Root, kUninstallKey, "VersionMajor"), 2u);
  EXPECT_EQ(RegDword(installed.Root, kUninstallKey, "VersionMinor"), 1u);
  EXPECT_EQ(RegDword(installed.Root, kUninstallKey, "EstimatedSize"), 8u);
  const std::string& target = installed.Target;
  EXPECT_TRUE(PathExists(target + "readme.txt")) << target;
  EXPECT_TRUE(PathExists(target + "doc\\manual.txt")) << target;
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Kem Examples\\Product", "Folder"), target);

  // The quiet removal, started as Windows starts it.
  EXPECT_EQ(RunCommandLine(installed.Value("QuietUninstallString"), temp_), 0u);
  ExpectNothingLeft(installed);
}

TEST_F(CacheE2E, RepairRestoresADeletedFileAndTheRemovalEntryRemoves) {
  const Installed installed = Install();
  ASSERT_TRUE(DeleteFileA((installed.Target + "readme.txt").c_str())) << installed.Target;

  // The modify entry with a silent run: a maintenance run repairs.
  EXPECT_EQ(RunCommandLine(installed.Value("ModifyPath") + " /s /l=" + temp_ + "\\repair.log", temp_), 0u);
  const std::string log = ReadTraceLog(temp_ + "\\repair.log");
  EXPECT_NE(log.find("REINSTALL=ALL"), std::string::npos) << log;
  EXPECT_TRUE(PathExists(installed.Target + "readme.txt")) << log;
  EXPECT_TRUE(KeyExists(installed.Root, kUninstallKey));

  // The removal entry, as the list of installed programs starts it.
  EXPECT_EQ(RunCommandLine(installed.Value("UninstallString"), temp_), 0u);
  ExpectNothingLeft(installed);
}

TEST_F(CacheE2E, RemovalWorksWhenTheInstallationMediaAreGone) {
  const Installed installed = Install();
  RemoveTree(media_);
  ASSERT_FALSE(PathExists(media_));
  EXPECT_EQ(RunCommandLine(installed.Value("QuietUninstallString"), temp_), 0u);
  ExpectNothingLeft(installed);
}

}  // namespace
}  // namespace kem::test
