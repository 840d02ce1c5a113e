// The engine's start-up on a hostile or unusual machine: libraries planted beside the setup
// and in the current folder, two setups of the same product at once, temporary folders that
// are long, outside the code page or Japanese, and support files with double-byte names.
//
// Arguments: the engine, kem.lib, the support archive (see engine_runner.h) and the marker
// library (planted_dll/marker_dll.c).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sevenzip/archive_writer.h"
#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

using ::testing::IsEmpty;

const std::string kRoot = "C:\\kem-e2e\\startup";

// What the e2e support archive unpacks to, with the database copy beside it.
const std::vector<std::wstring> kSupportEntries = {L"docs\\", L"docs\\licence.txt", L"readme.txt", L"setup.msi"};

std::string& MarkerLibrary() {
  static std::string path;
  return path;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Whether the process code page holds every character of the text (no best fit, no
// default character).
bool InCodePage(const std::wstring& text) {
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, &usedDefault);
  return n > 0 && !usedDefault;
}

// "kem*" entries of a folder: the support folders some run left there.
std::set<std::wstring> SupportFoldersIn(const std::wstring& folder) {
  std::set<std::wstring> found;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\kem*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do found.insert(fd.cFileName);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return found;
}

std::wstring WindowsTempFolder() {
  wchar_t buf[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
  return std::wstring(buf, n) + L"\\Temp";
}

// The names of the DLLs a PE file imports, in lower case.
std::vector<std::string> ImportedLibraries(const std::string& path) {
  const std::string f = ReadFileBytes(path);
  auto byteAt = [&](std::size_t at) -> std::uint32_t { return at < f.size() ? static_cast<unsigned char>(f[at]) : 0; };
  auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(byteAt(at) | byteAt(at + 1) << 8); };
  auto u32 = [&](std::size_t at) { return byteAt(at) | byteAt(at + 1) << 8 | byteAt(at + 2) << 16 | byteAt(at + 3) << 24; };
  std::vector<std::string> names;
  const std::uint32_t pe = u32(0x3C);
  if (f.size() < pe + 24 || f.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return names;
  const std::uint16_t sections = u16(pe + 6);
  const std::uint16_t optionalSize = u16(pe + 20);
  const std::size_t optional = pe + 24;
  // The data directories follow the optional header's fixed part: 96 bytes in a 32-bit
  // image, 112 in a 64-bit one.
  const std::uint16_t magic = u16(optional);
  if (magic != 0x10B && magic != 0x20B) return names;
  const std::uint32_t importRva = u32(optional + (magic == 0x10B ? 96 : 112) + 8);
  auto offsetOf = [&](std::uint32_t rva) -> std::size_t {
    for (std::uint16_t i = 0; i < sections; ++i) {
      std::size_t s = optional + optionalSize + 40u * i;
      std::uint32_t va = u32(s + 12), rawSize = u32(s + 16), raw = u32(s + 20), virtualSize = u32(s + 8);
      if (rva >= va && rva < va + std::max(rawSize, virtualSize)) return raw + (rva - va);
    }
    return std::string::npos;
  };
  std::size_t at = offsetOf(importRva);
  for (; at != std::string::npos && at + 20 <= f.size(); at += 20) {
    const std::uint32_t nameRva = u32(at + 12);
    if (nameRva == 0) break;
    std::size_t name = offsetOf(nameRva);
    if (name >= f.size()) break;
    names.push_back(Lower(std::string(f.c_str() + name)));
  }
  return names;
}

// Libraries the loader maps from the system's list of known libraries (on every Windows
// from 7 on), never from the program's folder.
const std::set<std::string> kKnownLibraries = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll",   "imagehlp.dll",
    "imm32.dll",    "kernel32.dll", "msctf.dll",   "msvcrt.dll",  "normaliz.dll", "nsi.dll",
    "ole32.dll",    "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",  "sechost.dll",  "setupapi.dll",
    "shell32.dll",  "shlwapi.dll",  "user32.dll",  "wldap32.dll", "ws2_32.dll"};

class Startup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ParseEngineFilesFromTestArguments();
    std::vector<std::string> args = ::testing::internal::GetArgvs();
    if (args.size() > 4) MarkerLibrary() = WindowsPath(args[4]);
  }

  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = Widen(dir_ + "-temp");
    RemoveTreeW(temp_);
    MakeFolderW(temp_);
  }

  std::string Compose(ScriptBuilder& script, const SetupOptions& o = {}) {
    return ComposeSetup(dir_, "setup", script.Data(), o);
  }

  // A setup that holds its support folder until the test creates GO.TXT beside it, then
  // exits with 100 + the folder's number.
  std::string ComposeWaitingSetup(const SetupOptions& o = {}, const std::string& supportFile = "readme.txt") {
    ScriptBuilder script;
    AddWaitForFile(script, dir_, "go.txt");
    AddExitWithSupportFolderNumber(script, supportFile);
    return Compose(script, o);
  }
  void Release() { WriteFileBytes(dir_ + "\\GO.TXT", "go"); }

  // Waits until the folder holds what `done` looks for, or the process ended, or 60 s.
  bool WaitFor(const EngineProcess& process, const std::function<bool()>& done) {
    for (int i = 0; i < 1200; ++i) {
      if (done()) return true;
      if (!process.Running()) return done();
      Sleep(50);
    }
    return false;
  }

  std::string name_, dir_;
  std::wstring temp_;
};

// The 932 twin of this suite runs under a Japanese locale; a prefix that silently fell back
// to another code page would prove nothing.
TEST(CodePage, ProcessCodePageIsTheOneAskedFor) {
  const char* want = std::getenv("KEM_WINE_CODE_PAGE");
  if (!want) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(want)));
}

// The loader resolves the import table before the engine's first instruction, from the
// program's folder first: only known libraries (and kem.lib, meant to lie beside the engine)
// may be imported. kem.lib's own imports are resolved the same way.
TEST_F(Startup, EngineAndLibraryImportOnlyKnownLibraries) {
  std::vector<std::string> engine = ImportedLibraries(Files().Engine);
  ASSERT_THAT(engine, ::testing::Contains("kernel32.dll")) << "import table not read";
  for (const std::string& name : engine)
    EXPECT_TRUE(kKnownLibraries.count(name) || name == "kem.lib") << "kemstub.exe imports " << name;
  std::vector<std::string> library = ImportedLibraries(Files().Library);
  ASSERT_THAT(library, ::testing::Contains("kernel32.dll")) << "import table not read";
  for (const std::string& name : library) EXPECT_TRUE(kKnownLibraries.count(name)) << "kem.lib imports " << name;
}

// Copies of a library that writes a marker when it is loaded are planted under the names
// of system libraries beside the setup and in the current folder of the engine; neither a
// silent run nor one with the start-up windows loads any of them.
TEST_F(Startup, LibrariesPlantedBesideTheSetupOrInTheCurrentFolderAreNeverLoaded) {
  ASSERT_FALSE(MarkerLibrary().empty()) << "no marker library given";
  std::vector<std::wstring> planted = {L"version.dll", L"uxtheme.dll",   L"dwmapi.dll",  L"msi.dll",
                                       L"cryptbase.dll", L"profapi.dll", L"comctl32.dll", L"shlwapi.dll",
                                       L"shell32.dll",  L"ws2_32.dll"};
#ifndef _WIN64
  // The 64-bit Wine loader resolves shlwapi's forwards into shcore from the program's folder
  // while it resolves the static imports, before the engine's first instruction; Windows
  // maps shcore as a known library. The 64-bit test build leaves that one name out.
  planted.push_back(L"shcore.dll");
#endif
  const std::wstring markers = Widen(dir_ + "-markers");
  const std::wstring current = Widen(dir_ + "-current");

  // The marker works: a copy under a name of no system library, loaded by this process.
  {
    const std::wstring control = current + L"\\kem-marker-control.dll";
    RemoveTreeW(current);
    MakeFolderW(current);
    ASSERT_TRUE(CopyFileW(Widen(MarkerLibrary()).c_str(), control.c_str(), FALSE));
    HMODULE m = LoadLibraryW(control.c_str());
    ASSERT_NE(m, nullptr);
    FreeLibrary(m);
    EXPECT_TRUE(PathExistsW(control + L".loaded")) << "the marker library wrote no marker";
  }

  for (bool silent : {true, false}) {
    SCOPED_TRACE(silent ? "silent" : "with the start-up windows");
    ScriptBuilder script;
    script.Add("Set Variable", {"A", "1"});
    script.Add("Terminate with Exit Code", {"7"});
    const std::string exe = Compose(script);
    RemoveTreeW(markers);
    RemoveTreeW(current);
    MakeFolderW(markers);
    MakeFolderW(current);
    for (const std::wstring& name : planted) {
      ASSERT_TRUE(CopyFileW(Widen(MarkerLibrary()).c_str(), (Widen(dir_) + L"\\" + name).c_str(), FALSE));
      ASSERT_TRUE(CopyFileW(Widen(MarkerLibrary()).c_str(), (current + L"\\" + name).c_str(), FALSE));
    }
    StartOptions o;
    o.TempFolder = temp_;
    o.WorkingFolder = Narrow(current);
    o.Environment = {{L"KEM_PLANTED_MARKERS", markers}};
    std::string box;
    RunResult r = RunEngine(exe, silent ? "/s" : "", o, 60000, [&](DWORD pid) {
      if (HWND h = FindMessageBox(pid)) {
        box = ChildTexts(h);
        PostMessageA(h, WM_COMMAND, IDOK, 0);
      }
    });
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 7u) << box;
    EXPECT_THAT(FolderEntriesW(markers), IsEmpty()) << "planted libraries were loaded";
    for (const std::wstring& folder : {Widen(dir_), current}) {
      std::vector<std::wstring> entries = FolderEntriesW(folder);
      for (const std::wstring& e : entries) EXPECT_EQ(e.find(L".loaded"), std::wstring::npos) << Narrow(e);
    }
  }
}

// Two engines of the same setup at once: each claims a support folder of its own, both hold
// every support file at the same time, each ends with its own folder's number and removes
// only that folder.
TEST_F(Startup, TwoSetupsAtOnceUseSupportFoldersOfTheirOwn) {
  const std::string exe = ComposeWaitingSetup();
  StartOptions o;
  o.TempFolder = temp_;
  const std::string firstLog = dir_ + "-first.log", secondLog = dir_ + "-second.log";
  EngineProcess first(exe, "/s /l=" + firstLog, o);
  EngineProcess second(exe, "/s /l=" + secondLog, o);
  auto bothHold = [&] {
    std::vector<std::wstring> entries = FolderEntriesW(temp_);
    return std::count(entries.begin(), entries.end(), L"kem1\\setup.msi") == 1 &&
           std::count(entries.begin(), entries.end(), L"kem2\\setup.msi") == 1;
  };
  bool held = WaitFor(first, bothHold) && WaitFor(second, bothHold);
  EXPECT_TRUE(held) << "the two setups never held two support folders at once";
  EXPECT_TRUE(first.Running() && second.Running()) << "a setup ended before it was released";
  EXPECT_EQ(FolderEntriesW(temp_ + L"\\kem1"), kSupportEntries);
  EXPECT_EQ(FolderEntriesW(temp_ + L"\\kem2"), kSupportEntries);
  Release();
  RunResult a = first.Wait();
  RunResult b = second.Wait();
  ASSERT_FALSE(a.TimedOut);
  ASSERT_FALSE(b.TimedOut);
  EXPECT_EQ(std::set<DWORD>({a.ExitCode, b.ExitCode}), std::set<DWORD>({101u, 102u}));
  for (const std::string& log : {firstLog, secondLog}) {
    std::string trace = ReadTraceLog(log);
    EXPECT_NE(trace.find("    <SupportDir>\r\n    </SupportDir>\r\n    <ExtractArchive>\r\n    </ExtractArchive>\r\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("  </CachedSupportDir>\r\n</Vantrel>\r\n"), std::string::npos) << trace;
  }
  EXPECT_THAT(FolderEntriesW(temp_), IsEmpty());
}

// Temporary folders the ANSI calls cannot name as they are. The engine still runs the script
// with its support folder inside that very folder (through the short name where needed),
// removes it afterwards, and never falls back to a drive root.
TEST_F(Startup, AwkwardTemporaryFoldersStillHoldTheSupportFolder) {
  std::wstring outside;
  for (const wchar_t* candidate : {L"\u03A9mega", L"\u00E9t\u00E9", L"\u0E01\u0E32\u0E23"})
    if (!InCodePage(candidate)) {
      outside = candidate;
      break;
    }
  ASSERT_FALSE(outside.empty());
  std::wstring longTail;
  for (int i = 0; i < 5; ++i) longTail += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
  struct Case {
    const char* what;
    std::wstring tail;
  };
  const std::vector<Case> cases = {
      {"longer than MAX_PATH", longTail},
      {"a character outside the code page", L"\\" + outside},
      // ポ ends in "|" and 表 in "\" in code page 932.
      {"Japanese", L"\\\u30C6\u30F3\u30DD\u30E9\u30EA"},
      {"Japanese, ending in a character whose last byte is a backslash", L"\\\u4E00\u6642\\\u8868"},
  };
  // The support folder's contents are checked from outside: "Convert Path", which the
  // script's own check uses, is not the subject here.
  const std::string exe = ComposeWaitingSetup({}, "");
  const std::wstring windowsTemp = WindowsTempFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring temp = temp_ + c.tail;
    MakeFolderW(temp);
    ASSERT_TRUE(PathExistsW(temp));
    if (c.tail == longTail) {
      ASSERT_GT(temp.size(), static_cast<std::size_t>(MAX_PATH));
    }
    const std::set<std::wstring> atRoot = SupportFoldersIn(L"C:"), inWindowsTemp = SupportFoldersIn(windowsTemp);
    const std::vector<std::wstring> around = FolderEntriesW(temp_);
    DeleteFileA((dir_ + "\\GO.TXT").c_str());
    StartOptions o;
    o.TempFolder = temp;
    EngineProcess engine(exe, "/s", o);
    const bool held = WaitFor(engine, [&] {
      std::vector<std::wstring> entries = FolderEntriesW(temp);
      return std::find(entries.begin(), entries.end(), L"kem1\\setup.msi") != entries.end();
    });
    EXPECT_TRUE(held) << "no support folder in the temporary folder";
    EXPECT_EQ(FolderEntriesW(temp + L"\\kem1"), kSupportEntries);
    Release();
    RunResult r = engine.Wait();
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 101u);
    EXPECT_THAT(FolderEntriesW(temp), IsEmpty());
    EXPECT_EQ(FolderEntriesW(temp_), around) << "a folder the code page names differently was used";
    EXPECT_EQ(SupportFoldersIn(L"C:"), atRoot);
    EXPECT_EQ(SupportFoldersIn(windowsTemp), inWindowsTemp);
  }
}

// Support files whose names hold characters with a second byte of "|" (ポ) or "\" (表) in
// code page 932 are unpacked under exactly those names, also inside a folder of such a
// name.
TEST_F(Startup, DoubleByteSupportFileNamesAreUnpackedUnderTheirOwnNames) {
  ArchiveWriter archive;
  archive.Add(u"readme.txt", "readme\n");
  archive.Add(u"\u30DD\u30FC\u30C8.txt", "port\n");
  archive.Add(u"\u8868\u793A.txt", "display\n");
  archive.AddFolder(u"\u8868");
  archive.Add(u"\u8868\\\u30BD.txt", "so\n");
  std::vector<std::uint8_t> bytes = archive.Bytes();
  SetupOptions o;
  o.ArchiveBytes.assign(bytes.begin(), bytes.end());
  const std::string exe = ComposeWaitingSetup(o);
  StartOptions start;
  start.TempFolder = temp_;
  EngineProcess engine(exe, "/s", start);
  WaitFor(engine, [&] { return PathExistsW(temp_ + L"\\kem1\\setup.msi"); });
  EXPECT_EQ(FolderEntriesW(temp_ + L"\\kem1"),
            (std::vector<std::wstring>{L"readme.txt", L"setup.msi", L"\u30DD\u30FC\u30C8.txt", L"\u8868\\",
                                       L"\u8868\\\u30BD.txt", L"\u8868\u793A.txt"}));
  Release();
  RunResult r = engine.Wait();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 101u) << "15: the support archive was refused";
  EXPECT_THAT(FolderEntriesW(temp_), IsEmpty());
}


// Folders of earlier runs: a support folder whose lock file no running setup holds (left by
// a crash or a kill) is removed at the next start, with its lock; a lock without its
// folder goes too. The folder of a setup still running, and a "kem" folder without a lock
// file (not known to be ours), stay untouched.
TEST_F(Startup, StaleSupportFoldersAreRemovedAndHeldOnesStay) {
  MakeFolderW(temp_ + L"\\kem5\\sub");
  WriteFileW(temp_ + L"\\kem5\\sub\\left.txt", "left behind");
  SetFileAttributesW((temp_ + L"\\kem5\\sub\\left.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileW(temp_ + L"\\kem5.lock", "");
  WriteFileW(temp_ + L"\\kem8.lock", "");
  MakeFolderW(temp_ + L"\\kem6");
  WriteFileW(temp_ + L"\\kem6\\mine.txt", "the user's");
  // Names of another form are not support folders.
  MakeFolderW(temp_ + L"\\kem07");
  WriteFileW(temp_ + L"\\kem07.lock", "");

  const std::string waiting = ComposeWaitingSetup();
  StartOptions o;
  o.TempFolder = temp_;
  EngineProcess running(waiting, "/s", o);
  ASSERT_TRUE(WaitFor(running, [&] { return PathExistsW(temp_ + L"\\kem1\\setup.msi"); }));

  ScriptBuilder quick;
  AddExitWithSupportFolderNumber(quick);
  const std::string quickExe = ComposeSetup(dir_ + "-quick", "setup", quick.Data());
  RunResult r = RunEngine(quickExe, "/s", o);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 102u);
  EXPECT_EQ(FolderEntriesW(temp_), (std::vector<std::wstring>{L"kem07.lock", L"kem07\\", L"kem1.lock", L"kem1\\",
                                                               L"kem1\\docs\\", L"kem1\\docs\\licence.txt",
                                                               L"kem1\\readme.txt", L"kem1\\setup.msi", L"kem6\\",
                                                               L"kem6\\mine.txt"}));
  EXPECT_TRUE(running.Running());

  Release();
  RunResult first = running.Wait();
  ASSERT_FALSE(first.TimedOut);
  EXPECT_EQ(first.ExitCode, 101u) << "the running setup lost its support files";
  EXPECT_EQ(FolderEntriesW(temp_),
            (std::vector<std::wstring>{L"kem07.lock", L"kem07\\", L"kem6\\", L"kem6\\mine.txt"}));
}

// A setup killed while it runs leaves its folder and lock; the next setup removes both and
// may take the same number again.
TEST_F(Startup, TheFolderOfAKilledSetupIsRemovedByTheNextOne) {
  const std::string waiting = ComposeWaitingSetup();
  StartOptions o;
  o.TempFolder = temp_;
  {
    EngineProcess killed(waiting, "/s", o);
    ASSERT_TRUE(WaitFor(killed, [&] { return PathExistsW(temp_ + L"\\kem1\\setup.msi"); }));
  }  // ended here, as by the task manager
  for (int i = 0; i < 100 && !PathExistsW(temp_ + L"\\kem1.lock"); ++i) Sleep(50);
  ASSERT_TRUE(PathExistsW(temp_ + L"\\kem1\\readme.txt"));

  ScriptBuilder quick;
  AddExitWithSupportFolderNumber(quick);
  const std::string quickExe = ComposeSetup(dir_ + "-quick", "setup", quick.Data());
  RunResult r = RunEngine(quickExe, "/s", o);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 101u);
  EXPECT_THAT(FolderEntriesW(temp_), IsEmpty());
}

// Links planted in the support folder while the setup runs, to a read-only file and to a
// folder elsewhere: the targets stay whole. Links the system marks as such are removed with
// the support folder where the system can remove a link by itself; a file link that looks
// like a plain file (Wine shows host links so) cannot be removed without removing its
// target, and stays, with its folder and lock. The same in a temporary folder longer than
// MAX_PATH, where some systems cannot give a resolved path in the usual way.
TEST_F(Startup, LinksPlantedInTheSupportFolderAreRemovedNotFollowed) {
  std::wstring longTail;
  for (int i = 0; i < 5; ++i) longTail += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
  const std::string waiting = ComposeWaitingSetup();
  const std::wstring outside = Widen(dir_) + L"-outside";
  for (const std::wstring& temp : {temp_, temp_ + longTail}) {
    SCOPED_TRACE(Narrow(temp));
    RemoveTreeW(outside);
    MakeFolderW(outside + L"\\folder");
    WriteFileW(outside + L"\\folder\\precious.txt", "precious");
    WriteFileW(outside + L"\\readonly.txt", "read-only");
    SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    // Links an earlier run of this test left behind (it stopped before its clean-up).
    const std::wstring folderLink = temp + L"\\kem1\\folder-link", fileLink = temp + L"\\kem1\\file-link";
    if (PathExistsW(temp_ + L"\\kem1") || PathExistsW(temp + L"\\kem1")) {
      RemoveLinks({fileLink, folderLink, temp_ + L"\\kem1\\file-link", temp_ + L"\\kem1\\folder-link"});
      RemoveTreeW(temp_);
      MakeFolderW(temp_);
    }
    MakeFolderW(temp);

    DeleteFileA((dir_ + "\\GO.TXT").c_str());
    StartOptions o;
    o.TempFolder = temp;
    EngineProcess engine(waiting, "/s", o);
    ASSERT_TRUE(WaitFor(engine, [&] { return PathExistsW(temp + L"\\kem1\\setup.msi"); }));
    const bool madeFolderLink = MakeLink(folderLink, outside + L"\\folder", true);
    const bool madeFileLink = MakeLink(fileLink, outside + L"\\readonly.txt", false);
    if (!madeFolderLink && !madeFileLink) {
      Release();
      engine.Wait();
      GTEST_SKIP() << "no way to make a link on this system";
    }
    Release();
    RunResult r = engine.Wait();
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 101u);
    // Whatever is left is the links (listed with what they lead to), their folder and its
    // lock; every support file is gone.
    for (const std::wstring& entry : FolderEntriesW(temp))
      EXPECT_TRUE(entry == L"kem1.lock" || entry == L"kem1\\" || entry.rfind(L"kem1\\file-link", 0) == 0 ||
                  entry.rfind(L"kem1\\folder-link", 0) == 0)
          << Narrow(entry);
    // The test's own clean-up, past the engine: the links themselves, by the host.
    RemoveLinks({fileLink, folderLink});
    EXPECT_EQ(FolderEntriesW(outside),
              (std::vector<std::wstring>{L"folder\\", L"folder\\precious.txt", L"readonly.txt"}));
    EXPECT_EQ(ReadFileBytes(Narrow(outside) + "\\folder\\precious.txt"), "precious");
    EXPECT_EQ(ReadFileBytes(Narrow(outside) + "\\readonly.txt"), "read-only");
    EXPECT_NE(GetFileAttributesW((outside + L"\\readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
}  // namespace kem::test
