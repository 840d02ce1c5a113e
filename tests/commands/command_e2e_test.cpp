// The file, registry, system and program statements run by the real engine under Wine:
// the script reports what it found through "Write to Text File", checked byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\commands";
constexpr const char* kKey = "Software\\KemCommandsE2E";

std::string Beside(const char* name) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  return path.substr(0, path.find_last_of('\\') + 1) + name;
}

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

}  // namespace
}  // namespace kem::test
