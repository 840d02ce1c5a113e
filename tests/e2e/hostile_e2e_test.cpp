// What a hostile support archive or command line can make a setup do, through the engine's
// own start-up: each case ends within seconds with a defined exit code (a crash is never
// read as success: the code comes from GetExitCodeProcess), writes nothing outside its
// temporary folder, and leaves that folder empty.
//
// Arguments: the engine, kem.lib, the support archive (see engine_runner.h).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "sevenzip/archive_writer.h"
#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\hostile";

std::string FromBytes(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string OneEntry(const std::u16string& name) {
  ArchiveWriter writer;
  writer.Add(u"readme.txt", "readme\n");
  writer.Add(name, "escaped\n");
  return FromBytes(writer.Bytes());
}

// Every path below the folder, and the names at the drive root: what a case may not change
// outside its own temporary folder.
std::set<std::wstring> Surroundings(const std::wstring& caseFolder) {
  std::set<std::wstring> seen;
  for (const std::wstring& e : FolderEntriesW(Widen(kRoot))) seen.insert(L"root:" + e);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(L"C:\\*", &fd);
  if (h != INVALID_HANDLE_VALUE) {
    // Other suites, which CTest may run at the same time in the same prefix, keep their
    // folders in C:\kem-*; they come and go on their own.
    do
      if (_wcsnicmp(fd.cFileName, L"kem-", 4) != 0) seen.insert(std::wstring(L"C:\\") + fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  // The case's own temporary folder may hold anything while the case runs; it is checked
  // separately.
  const std::wstring temp = L"root:" + caseFolder.substr(Widen(kRoot).size() + 1) + L"-temp\\";
  for (auto it = seen.begin(); it != seen.end();) it = it->rfind(temp, 0) == 0 ? seen.erase(it) : std::next(it);
  return seen;
}

class Hostile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ParseEngineFilesFromTestArguments();
    RemoveTree(kRoot);
    MakeFolder(kRoot);
  }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
  }
};

// Crafted support archives: names that leave the folder or name devices, paths past the
// file system's limits, nesting past any real depth, a million entries of one name, a
// damaged archive. Refused archives end with 15; the duplicate names unpack (the last
// entry wins) and the script runs (101: the support folder kem1).
TEST_F(Hostile, CraftedSupportArchivesEndCleanly) {
  std::string valid = ReadFileBytes(Files().Archive);
  struct Case {
    const char* what;
    std::string archive;
    DWORD code;
  };
  std::vector<Case> cases = {
      {"parent folder", OneEntry(u"..\\escaped.txt"), 15},
      {"parent folder inside", OneEntry(u"docs\\..\\..\\escaped.txt"), 15},
      {"forward slashes", OneEntry(u"../escaped.txt"), 15},
      {"drive", OneEntry(u"C:\\escaped.txt"), 15},
      {"drive relative", OneEntry(u"C:escaped.txt"), 15},
      {"root", OneEntry(u"\\escaped.txt"), 15},
      {"network path", OneEntry(u"\\\\server\\share\\escaped.txt"), 15},
      {"device", OneEntry(u"con"), 15},
      {"device with extension", OneEntry(u"nul.txt"), 15},
      {"stream", OneEntry(u"readme.txt:hidden"), 15},
      {"4,500 characters", FromBytes(NamedEntryFixture(LongPathName(), false)), 15},
      {"one name of 65,541 characters", FromBytes(NamedEntryFixture(std::u16string(65541, u'x'), false)), 15},
      {"20,000 nested folders", FromBytes(NamedEntryFixture(DeepFolderName(), true)), 15},
      {"a million entries of one name", FromBytes(DuplicateNamesFixture()), 101},
      {"truncated", valid.substr(0, valid.size() / 2), 15},
      {"header bytes flipped", [&] {
         std::string s = valid;
         for (std::size_t i = 12; i < 32 && i < s.size(); ++i) s[i] = static_cast<char>(s[i] ^ 0x5A);
         return s;
       }(), 15},
  };
  ScriptBuilder script;
  AddExitWithSupportFolderNumber(script, "");
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = kRoot + "\\case" + std::to_string(++n);
    const std::wstring temp = Widen(dir + "-temp");
    MakeFolderW(temp);
    SetupOptions o;
    o.ArchiveBytes = c.archive;
    const std::string exe = ComposeSetup(dir, "setup", script.Data(), o);
    const std::set<std::wstring> before = Surroundings(Widen(dir));
    StartOptions start;
    start.TempFolder = temp;
    const auto began = std::chrono::steady_clock::now();
    RunResult r = RunEngine(exe, "/s", start, 60000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, c.code);
    EXPECT_LT(seconds, 30.0);
    EXPECT_EQ(FolderEntriesW(temp), std::vector<std::wstring>{}) << "left in the temporary folder";
    EXPECT_EQ(Surroundings(Widen(dir)), before) << "written outside the temporary folder";
    RemoveTreeW(temp);
  }
}

// Command lines that try to aim the trace log: a switch inside an assignment is part of
// the value; a trace log naming one of the setup's own files is not written.
TEST_F(Hostile, CommandLinesCannotAimTheTraceLog) {
  ScriptBuilder script;
  AddExitWithSupportFolderNumber(script, "");
  const std::string dir = kRoot + "\\trace";
  const std::string exe = ComposeSetup(dir, "setup", script.Data());
  MakeFolder(dir + "-temp");
  const std::string own[] = {exe, dir + "\\setup.msi", dir + "\\setup.res", dir + "\\kem.lib"};
  std::vector<std::string> contents;
  for (const std::string& f : own) contents.push_back(ReadFileBytes(f));
  const std::string args[] = {"/s X=a/l=escaped.log", "/s /l=" + exe, "/s /l=" + dir + "\\SETUP.MSI",
                              "/s /l=" + dir + "\\.\\setup.res", "/s /l=" + dir + "\\kem.lib"};
  for (const std::string& a : args) {
    SCOPED_TRACE(a);
    StartOptions start;
    start.TempFolder = Widen(dir + "-temp");
    start.WorkingFolder = dir;
    const std::set<std::wstring> before = Surroundings(Widen(dir));
    RunResult r = RunEngine(exe, a, start);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 101u);
    EXPECT_FALSE(PathExists("C:\\l=escaped.log"));
    EXPECT_EQ(Surroundings(Widen(dir)), before);
    for (std::size_t i = 0; i < std::size(own); ++i) EXPECT_EQ(ReadFileBytes(own[i]), contents[i]) << own[i];
  }
}

}  // namespace
}  // namespace kem::test
