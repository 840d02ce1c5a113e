// The web example (examples/web) installed by the real engine under Wine: the offline data
// comes from data\OFFLINE\, the block Core from a local HTTP server or from a copy of
// Core.7zip beside the setup, unpacked with the password the builder stored. Checked
// through Win32: the installed files, the block's files and marker in the installer cache.
//
// argv[1]: the folder the builder made from examples/web; argv[2]: the file that holds the
// port of the HTTP server serving its data folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <string>

#include "support/engine_runner.h"

namespace kem::test {
namespace {

constexpr const char* kProduct = "{8D2C4F61-7A3B-4E95-B1C0-2F6E9A4D7B13}";
constexpr const char* kRevision = "{1F5E9C27-3B4A-4D86-9E01-7C2B8A6F4D35}";
constexpr const char* kTitle = "Kem Web Example";
const std::string kUninstallKey = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kTitle;
const std::string kCacheKey = std::string("SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\") + kProduct;
const std::string kRoot = "C:\\kem-e2e\\web";
std::string g_built;
std::string g_portFile;

std::string RegString(HKEY root, const std::string& key, const char* name) {
  char buffer[2048] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return "<none>";
  return buffer;
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

// The first sub-folder of folder whose name is not "bin" (the command header's folder).
std::string OnlyFolder(const std::string& folder) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
  std::string found;
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = fd.cFileName;
    if (name != "." && name != ".." && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found = name;
  } while (found.empty() && FindNextFileA(h, &fd));
  FindClose(h);
  return found;
}

class WebBuildE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto args = ::testing::internal::GetArgvs();
    if (args.size() > 1) g_built = WindowsPath(args[1]);
    if (args.size() > 2) g_portFile = WindowsPath(args[2]);
  }
  void SetUp() override {
    if (g_built.empty()) GTEST_SKIP() << "the web example was not built";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    media_ = kRoot + "\\" + name_;
    temp_ = media_ + "-temp";
    target_ = media_ + "-target";
    Clean();
    CopyTree(g_built, media_);
    MakeFolder(temp_);
  }
  void TearDown() override { Clean(); }
  void Clean() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductA(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const std::string folder = RegString(root, kCacheKey, nullptr);
      if (folder != "<none>") RemoveTree(folder);
      RegDeleteTreeA(root, kUninstallKey.c_str());
      RegDeleteTreeA(root, kCacheKey.c_str());
    }
    if (!CacheFolder().empty()) RemoveTree(CacheFolder());
    RemoveTree(media_);
    RemoveTree(temp_);
    RemoveTree(target_);
  }
  // This revision's folder of the installer cache (an administrator's installation is
  // for all users): where a web build's data goes.
  static std::string CacheFolder() {
    char data[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("ProgramData", data, MAX_PATH)) return {};
    return std::string(data) + "\\" + kRevision;
  }

  // Runs the setup silently into target_ with the extra arguments; true when it ended with 0.
  void Install(const std::string& extra) {
    const std::string log = temp_ + "\\install.log";
    RunResult r = RunEngine(media_ + "\\web.exe", "/s /l=" + log + " TARGETDIR=" + target_ + "\\ " + extra, 240000,
                            temp_);
    ASSERT_FALSE(r.TimedOut);
    ASSERT_EQ(r.ExitCode, 0u) << ReadTraceLog(log);
  }
  void ExpectInstalled() {
    EXPECT_EQ(ReadFileBytes(target_ + "\\readme.txt"), "Kem web example: the offline readme.\r\n");
    EXPECT_EQ(ReadFileBytes(target_ + "\\core.ini"), "[Core]\r\nDownloaded=TRUE\r\n");
    EXPECT_EQ(ReadFileBytes(target_ + "\\bin\\program.txt"), "The program of the web example, from the Core block.\r\n");
    EXPECT_TRUE(PathExists(target_ + "\\bin\\empty.dat"));
  }

  std::string name_, media_, temp_, target_;
};

TEST_F(WebBuildE2E, DownloadsTheBlockFromTheServerAndInstallsIt) {
  const std::string port = ReadFileBytes(g_portFile);
  if (port.empty()) GTEST_SKIP() << "no HTTP server runs for this test";
  Install("WEBSERVER=http://127.0.0.1:" + port);
  ExpectInstalled();
  // The downloaded archive is gone once unpacked; the block is marked present.
  const std::string cache = CacheFolder();
  EXPECT_FALSE(PathExists(cache + "\\Core.7zip"));
  EXPECT_TRUE(PathExists(cache + "\\Core\\" + kRevision));
}

TEST_F(WebBuildE2E, InstallsTheOfflineDataAndTheBlockBesideTheSetup) {
  // The block's archive beside the setup is used without downloading (its URLs point at a
  // server that does not run here).
  ASSERT_TRUE(CopyFileA((media_ + "\\data\\Core.7zip").c_str(), (media_ + "\\Core.7zip").c_str(), FALSE));
  // No server answers at the example's address here: the copy must be what is used.
  Install("WEBSERVER=http://127.0.0.1:9");
  // Offline data and the block's files, each where its statement put it.
  ExpectInstalled();

  // The block was unpacked into the installer cache and marked present; the copy beside
  // the setup is kept.
  const std::string cache = CacheFolder();
  ASSERT_FALSE(cache.empty());
  const std::string block = cache + "\\Core";
  EXPECT_TRUE(PathExists(cache + "\\" + kProduct)) << "the source marker";
  EXPECT_TRUE(PathExists(cache + "\\OFFLINE\\" + kRevision)) << "the offline data's marker";
  EXPECT_TRUE(PathExists(block + "\\" + kRevision)) << block;
  const std::string header = OnlyFolder(block);
  EXPECT_TRUE(PathExists(block + "\\" + header + "\\bin\\program.txt")) << block;
  EXPECT_TRUE(PathExists(media_ + "\\Core.7zip"));
}

}  // namespace
}  // namespace kem::test
