// The file, registry, system and program statements run by the real engine under Wine:
// the script reports what it found through "Write to Text File", checked byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\commands";
constexpr const char* kKey = "Software\\KemCommandsE2E";

class CommandE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(dir_);
    RemoveTree(temp_);
    MakeFolder(temp_);
    MakeFolder(dir_);
    report_ = dir_ + "\\report.txt";
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  // Adds a report line "label=text" (text expanded by the engine).
  void Report(const std::string& label, const std::string& text) {
    script_.Add("Write to Text File", {report_, label + "=" + text, "FALSE"});
  }
  RunResult Run() {
    script_.Add("Terminate with Exit Code", {"7"});
    std::string exe = ComposeSetup(dir_ + "\\setup", "setup", script_.Data());
    return RunEngine(exe, "/s", 60000, temp_);
  }
  ScriptBuilder script_;
  std::string name_, dir_, temp_, report_;
};

TEST_F(CommandE2E, RegistryFoldersFilesAndTextFiles) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegSetValueExA(k, "sz", 0, REG_SZ, reinterpret_cast<const BYTE*>("text"), 5);
  RegSetValueExA(k, "expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9);
  const DWORD dword = 0xFFFFFFFF;
  RegSetValueExA(k, "dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4);
  RegSetValueExA(k, "binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x0a\xff"), 2);
  RegSetValueExA(k, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b\0c\0"), 7);
  RegCloseKey(k);
  MakeFolder(dir_ + "\\find\\sub dir");
  WriteFileBytes(dir_ + "\\find\\a.txt", "x");
  WriteFileBytes(dir_ + "\\find\\c.log", "x");
  WriteFileBytes(dir_ + "\\find\\sub dir\\b.txt", "x");
  MakeFolder(dir_ + "\\del\\deep");
  WriteFileBytes(dir_ + "\\del\\deep\\ro.txt", "x");
  SetFileAttributesA((dir_ + "\\del\\deep\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileBytes(dir_ + "\\lines.txt", "one\r\ntwo\n");
  WriteFileBytes(dir_ + "\\s.ini", "[Sec]\r\nKey=ini value\r\n");

  script_.Add("Set Variable", {"KEY", kKey});
  for (const char* name : {"sz", "expand", "dword", "binary", "multi"}) {
    script_.Add("Read Registry", {std::string("R_") + name, "1", "$KEY$", name});
    Report(name, std::string("$R_") + name + "$");
  }
  script_.Add("Check Registry", {"MISSING", "1", "$KEY$", "absent"});
  Report("missing", "$MISSING$");
  script_.Add("Check Registry", {"NOKEY", "1", "$KEY$\\None", "absent"});
  Report("nokey", "$NOKEY$");
  script_.Add("Get Folder Location", {"WIN", "25", "FALSE"});
  Report("windows", "$WIN$");
  script_.Add("Find All Files", {dir_ + "\\find\\*.txt", "TRUE", "FALSE", "FOUND"});
  Report("found", "$FOUND$");
  script_.Add("Does File/Folder Exist", {"EXISTS", dir_ + "\\find\\a.txt", "TRUE"});
  Report("exists", "$EXISTS$");
  script_.Add("Get INI File Settings", {"INI", dir_ + "\\s.ini", "Sec", "Key"});
  Report("ini", "$INI$");
  script_.Add("Read from Text File", {dir_ + "\\lines.txt", "L1", "E1"});
  script_.Add("Read from Text File", {dir_ + "\\lines.txt", "L2", "E2"});
  Report("lines", "$L1$/$E1$/$L2$/$E2$");
  script_.Add("Delete Files Recursive", {dir_ + "\\del\\*.*"});
  script_.Add("Write to Text File", {dir_ + "\\lines.txt", "zero", "TRUE"});
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);

  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string expected = "sz=text\r\nexpand=%TEMP%\\x\r\ndword=4294967295\r\nbinary=0AFF\r\nmulti=a\r\nb\r\nc\r\n"
                               "missing=NO$VALUE\r\nnokey=NO$KEY\r\nwindows=" +
                               std::string(windows) + "\\\r\nfound=\"" + dir_ + "\\find\\sub dir\\b.txt\"|" + dir_ +
                               "\\find\\a.txt\r\nexists=TRUE\r\nini=ini value\r\nlines=one/FALSE/two/TRUE\r\n";
  EXPECT_EQ(ReadFileBytes(report_), expected);
  EXPECT_EQ(ReadFileBytes(dir_ + "\\lines.txt"), "zero\r\none\r\ntwo\r\n");
  EXPECT_TRUE(PathExists(dir_ + "\\del"));
  EXPECT_FALSE(PathExists(dir_ + "\\del\\deep"));
}

// "Delete Files Recursive" over a folder holding links to a read-only file and to a folder
// elsewhere: the folder's own files go, what the links lead to stays whole. Under Wine the
// links are the host's and look like a plain file and a plain folder, which cannot be
// removed without removing their targets, so they stay too.
TEST_F(CommandE2E, DeleteFilesRecursiveNeverRemovesWhatLinksLeadTo) {
  const std::wstring outside = Widen(dir_) + L"-outside";
  const std::wstring fileLink = Widen(dir_) + L"\\del\\file-link.txt";
  const std::wstring folderLink = Widen(dir_) + L"\\del\\sub\\folder-link";
  RemoveLinks({fileLink, folderLink});
  RemoveTreeW(outside);
  MakeFolderW(outside + L"\\folder");
  WriteFileW(outside + L"\\folder\\precious.txt", "precious");
  WriteFileW(outside + L"\\readonly.txt", "read-only");
  SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFolder(dir_ + "\\del\\sub");
  WriteFileBytes(dir_ + "\\del\\own.txt", "x");
  WriteFileBytes(dir_ + "\\del\\sub\\own.txt", "x");
  if (!MakeLink(fileLink, outside + L"\\readonly.txt", false) || !MakeLink(folderLink, outside + L"\\folder", true))
    GTEST_SKIP() << "no way to make a link on this system";
  script_.Add("Delete Files Recursive", {dir_ + "\\del\\*.*"});
  RunResult r = Run();
  RemoveLinks({fileLink, folderLink});
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_FALSE(PathExists(dir_ + "\\del\\own.txt"));
  EXPECT_FALSE(PathExists(dir_ + "\\del\\sub\\own.txt"));
  EXPECT_EQ(FolderEntriesW(outside),
            (std::vector<std::wstring>{L"folder\\", L"folder\\precious.txt", L"readonly.txt"}));
  EXPECT_EQ(ReadFileBytes(Narrow(outside) + "\\folder\\precious.txt"), "precious");
  EXPECT_EQ(ReadFileBytes(Narrow(outside) + "\\readonly.txt"), "read-only");
  SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// "Write to Text File" copies the old lines with every line end made CR LF, also where a
// line end is split between two of the reader's 64 KB pieces, and ends an open last line.
TEST_F(CommandE2E, WriteToTextFileMakesEveryLineEndCrLf) {
  const std::string x(65535, 'x');
  const struct {
    std::string before, after;
  } cases[] = {
      {x + "\r\ny\rz\n\nw", x + "\r\ny\r\nz\r\n\r\nw\r\nend\r\n"},  // CR LF split between pieces
      {x + "\r" + "a", x + "\r\na\r\nend\r\n"},                      // a lone CR at a piece's end
      {x + "x\n\r", x + "x\r\n\r\nend\r\n"},                         // LF first in the next piece
      {x + "x" + x + "\r", x + "x" + x + "\r\nend\r\n"},                // a line over three pieces
      {"", "end\r\n"},
      {"\r\n\r\n", "\r\n\r\nend\r\n"},
      {std::string("a\0b\n", 4), std::string("a\0b\r\nend\r\n", 10)},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    WriteFileBytes(dir_ + "\\t" + std::to_string(k) + ".txt", cases[k].before);
    script_.Add("Write to Text File", {dir_ + "\\t" + std::to_string(k) + ".txt", "end", "FALSE"});
  }
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  for (std::size_t k = 0; k < std::size(cases); ++k)
    EXPECT_EQ(ReadFileBytes(dir_ + "\\t" + std::to_string(k) + ".txt"), cases[k].after) << "case " << k;
}

TEST_F(CommandE2E, RunProgramPassesItsParametersVerbatimAndReturnsTheExitCode) {
  const std::string folder = dir_ + "\\kem test";
  MakeFolder(folder);
  const std::string recorder = folder + "\\srv.exe";
  ASSERT_TRUE(CopyFileA(Beside("kem_recorder.exe").c_str(), recorder.c_str(), FALSE));
  const std::string record = dir_ + "\\record.txt";
  SetEnvironmentVariableA("KEM_RECORD", record.c_str());
  script_.Add("Run Program", {recorder, "TRUE", "/exit=42 \"a b\" %PATH% & x", "TRUE", "RESULT"});
  Report("result", "$RESULT$");
  script_.Add("Run Program As", {recorder, folder, "/exit=9", "1", "", "", "", "AS", "TRUE", "KEM_RECORD=" + record + "$NEWLINE$$NEWLINE$ONLY=1"});
  Report("as", "$AS$");
  RunResult r = Run();
  SetEnvironmentVariableA("KEM_RECORD", nullptr);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "result=42\r\nas=9\r\n");
  // The last start: "Run Program As" with its quoted path and its own two-line environment.
  EXPECT_EQ(ReadFileBytes(record), "\"" + recorder + "\" /exit=9\r\n" + folder);
}

// "Run Light Mode Setup" makes a setup of a setup data file with the engine, runs it with its
// support files, passes back its exit code and leaves the folder as it was.
TEST_F(CommandE2E, LightModeSetupRunsAndLeavesTheFolderAsItWas) {
  ScriptBuilder inner;
  inner.Add("Terminate with Exit Code", {"5"});
  const std::string folder = dir_ + "\\light";
  ComposeSetup(folder, "inner", inner.Data());
  DeleteFileA((folder + "\\inner.exe").c_str());
  DeleteFileA((folder + "\\kem.lib").c_str());
  const std::string dataFile = folder + "\\inner.dat";
  const std::string data = WriteSetupData(inner.Data());
  WriteFileBytes(dataFile, data);
  script_.Add("Run Light Mode Setup", {dataFile, "LIGHT", "", "TRUE"});
  Report("light", "$LIGHT$");
  script_.Add("Run Light Mode Setup", {folder + "\\missing.dat", "NONE", "", "TRUE"});
  Report("missing", "$NONE$");
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "light=5\r\nmissing=-1\r\n");
  EXPECT_EQ(ReadFileBytes(dataFile), data);
  for (const char* leftover : {"\\inner.dat.nox", "\\inner.dat.to", "\\kem.lib"})
    EXPECT_FALSE(PathExists(folder + leftover)) << leftover;
}

// "Register Library" calls a self-registering library's entry points in the library's own
// folder; a library without them, or none at all, gives FALSE.
TEST_F(CommandE2E, RegisterLibraryCallsTheEntryPointsInTheLibrarysFolder) {
  const std::string folder = dir_ + "\\lib folder";
  MakeFolder(folder);
  const std::string library = folder + "\\reg.dll";
  ASSERT_TRUE(CopyFileA(Beside("kem_self_registering.dll").c_str(), library.c_str(), FALSE));
  const std::string registered = dir_ + "\\registered.txt", unregistered = dir_ + "\\unregistered.txt";
  // The library writes where KEM_RECORD points, which the engine inherits: one engine run
  // registers, a second one unregisters.
  for (bool reg : {true, false}) {
    SCOPED_TRACE(reg ? "register" : "unregister");
    ScriptBuilder script;
    script.Add("Register Library", {library, reg ? "TRUE" : "FALSE", "RESULT"});
    script.Add("Register Library", {folder + "\\missing.dll", "TRUE", "MISSING"});
    script.Add("Register Library", {Files().Library, "TRUE", "NOENTRY"});
    script.Add("Write to Text File", {report_, "$RESULT$ $MISSING$ $NOENTRY$", "FALSE"});
    script.Add("Terminate with Exit Code", {"7"});
    DeleteFileA(report_.c_str());
    const std::string record = reg ? registered : unregistered;
    SetEnvironmentVariableA("KEM_RECORD", record.c_str());
    const std::string exe = ComposeSetup(dir_ + (reg ? "\\setup1" : "\\setup2"), "setup", script.Data());
    RunResult r = RunEngine(exe, "/s", 60000, temp_);
    SetEnvironmentVariableA("KEM_RECORD", nullptr);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 7u);
    EXPECT_EQ(ReadFileBytes(report_), "TRUE FALSE FALSE\r\n");
    EXPECT_EQ(ReadFileBytes(record), std::string(reg ? "register" : "unregister") + "\r\n" + folder);
  }
}

// The statements that ask the system: each answer agrees with what the test reads through
// Win32 itself.
TEST_F(CommandE2E, SystemQueriesAgreeWithWin32) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string kernel = std::string(system) + "\\kernel32.dll";
  script_.Add("Check Disk Space", {"FREE", dir_, "TRUE"});
  script_.Add("Check Disk Space", {"TOTAL", dir_, "FALSE"});
  Report("disk", "$FREE$ $TOTAL$");
  script_.Add("Get File Version", {kernel, "VER"});
  Report("version", "$VER$");
  script_.Add("Check File Version", {"OLDER", kernel, "FALSE", "", "0.0.0.1"});
  script_.Add("Check File Version", {"NEWER", kernel, "FALSE", "", "999.0"});
  Report("check", "$OLDER$ $NEWER$");
  script_.Add("Get OS or SP Level", {"OSNAME", "TRUE"});
  script_.Add("Get OS or SP Level", {"SP", "FALSE"});
  Report("os", "$OSNAME$ $SP$");
  script_.Add("Get System Settings", {"OWNER", "35"});
  Report("owner", "$OWNER$");
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);

  std::map<std::string, std::string> got;
  const std::string report = ReadFileBytes(report_);
  for (std::size_t at = 0; at < report.size();) {
    std::size_t end = report.find("\r\n", at);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) got[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 2;
  }

  ULARGE_INTEGER freeToCaller{}, total{}, freeTotal{};
  ASSERT_TRUE(GetDiskFreeSpaceExA(dir_.c_str(), &freeToCaller, &total, &freeTotal));
  unsigned long long engineFree = 0, engineTotal = 0;
  ASSERT_EQ(std::sscanf(got["disk"].c_str(), "%llu %llu", &engineFree, &engineTotal), 2) << got["disk"];
  EXPECT_EQ(engineTotal, total.QuadPart);
  // Free space moves while other programs write; a twentieth of the volume is plenty.
  const unsigned long long slack = total.QuadPart / 20;
  EXPECT_LE(engineFree, freeToCaller.QuadPart + slack);
  EXPECT_GE(engineFree + slack, freeToCaller.QuadPart);

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(kernel.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(kernel.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(got["version"], version);
  EXPECT_EQ(got["check"], "TRUE FALSE");

  // The name for the systems a test machine runs (Wine reports Windows 7 SP1 by default);
  // the level is the number of the service pack text.
  OSVERSIONINFOEXA v{};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)));
  const bool server = v.wProductType != VER_NT_WORKSTATION;
  std::string name;
  if (v.dwMajorVersion == 6 && v.dwMinorVersion == 1) name = server ? "2008R2" : "SEVEN";
  if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0) name = server ? "2008" : "VISTA";
  if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) name = "XP";
  int level = 0;
  std::sscanf(v.szCSDVersion, "Service Pack %d", &level);
  if (!name.empty()) EXPECT_EQ(got["os"], name + " " + std::to_string(level));
  else EXPECT_NE(got["os"].find(' '), std::string::npos) << got["os"];

  char owner[256] = {};
  DWORD ownerSize = sizeof(owner);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner",
                   RRF_RT_REG_SZ, nullptr, owner, &ownerSize) != ERROR_SUCCESS)
    owner[0] = '\0';
  EXPECT_EQ(got["owner"], owner);
}

// Under Wine a program's Windows version is set by its file name (AppDefaults): every
// version the 64-bit Wine offers is named as the table of names says, with the service pack
// level of that version's text. Versions after 6.1 and before NT4 have no name.
TEST_F(CommandE2E, OsNameAndServicePackOfEachWindowsVersion) {
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "needs Wine's per-program versions";
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Wine's name, then the name, the service pack level and "server edition" (setting 68).
      {"win95", "95 0 FALSE"},
      {"win98", "98SE 0 FALSE"},  // Wine's 98 is the second edition: build 4.10.2222
      {"winme", "ME 0 FALSE"},
      {"win31", "UNKNOWN 3 FALSE"},  // Win32s, service pack text "Win32s 1.3"
      {"nt351", "UNKNOWN 5 FALSE"},
      {"nt40", "NT4 6 FALSE"},
      {"win2k", "2000 4 FALSE"},
      {"winxp", "XP 3 FALSE"},
      {"winxp64", "2003 2 FALSE"},  // 5.2 is "2003" for the workstation too
      {"win2003", "2003 2 TRUE"},
      {"vista", "VISTA 2 FALSE"},
      {"win2008", "2008 2 TRUE"},
      {"win7", ""},
      {"win2008r2", ""},
      {"win8", "UNKNOWN 0 FALSE"},
      {"win81", "UNKNOWN 0 FALSE"},
      {"win10", "UNKNOWN 0 FALSE"},
  };
  script_.Add("Get OS or SP Level", {"OSNAME", "TRUE"});
  script_.Add("Get OS or SP Level", {"SP", "FALSE"});
  script_.Add("Get System Settings", {"SERVER", "68"});
  Report("os", "$OSNAME$ $SP$ $SERVER$");
  script_.Add("Terminate with Exit Code", {"7"});
  // A name of its own: the setting holds for every program of that name in the prefix.
  const std::string exe = ComposeSetup(dir_ + "\\setup", "kem_os_version", script_.Data());
  const std::string key = "Software\\Wine\\AppDefaults\\kem_os_version.exe";
  std::map<std::string, std::string> answers;
  for (const auto& [wine, answer] : cases) {
    SCOPED_TRACE(wine);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, wine.c_str(),
                              static_cast<DWORD>(wine.size() + 1)),
              ERROR_SUCCESS);
    DeleteFileA(report_.c_str());
    RunResult r = RunEngine(exe, "/s", 60000, temp_);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 7u);
    answers[wine] = ReadFileBytes(report_);
    if (!answer.empty()) EXPECT_EQ(answers[wine], "os=" + answer + "\r\n");
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  // Wine 8.0 gives "win7" the data of Server 2008 R2 and "win2008r2" those of 7: between
  // them the two names of 6.1 must come out once each.
  std::set<std::string> sixOne = {answers["win7"], answers["win2008r2"]};
  EXPECT_EQ(sixOne, (std::set<std::string>{"os=SEVEN 1 FALSE\r\n", "os=2008R2 1 TRUE\r\n"}));
}

}  // namespace
}  // namespace kem::test
