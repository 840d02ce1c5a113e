// The launcher seen from outside: exit codes, trace lines, support folders and windows.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\launcher";

class Launcher : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }

  void SetUp() override {
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(temp_);
    MakeFolder(temp_);
  }

  std::string Compose(const SetupOptions& o = {}) {
    ScriptBuilder b;
    b.Add("Set Variable", {"A", "1"});
    // Every parameter of a statement kind is written, as the builder does.
    b.Add("Display Dialog", {"Welcome", "DIALOGRESULT", "TRUE", ""});
    b.Add("Display Dialog", {"Finish", "DIALOGRESULT", "TRUE", ""}, /*commentedOut=*/true);
    return ComposeSetup(dir_, "setup", b.Data(), o);
  }
  std::string Compose(ScriptBuilder& script, const SetupOptions& o = {}) {
    return ComposeSetup(dir_, "setup", script.Data(), o);
  }

  std::string TracePath() const { return dir_ + "\\trace.log"; }

  RunResult Run(const std::string& exe, const std::string& args, const std::function<void(DWORD)>& whileRunning = {}) {
    return RunEngine(exe, args, 60000, temp_, whileRunning);
  }

  bool HasLibrary() const { return !Files().Library.empty(); }

  std::string name_, dir_, temp_;
};

// Lines the launcher writes before the step that fails.
std::string Lines(std::initializer_list<const char*> lines) {
  std::string s;
  for (const char* l : lines) s += std::string(l) + "\r\n";
  return s;
}

TEST_F(Launcher, NoSetupDataExits13WithThreeTraceLines) {
  SetupOptions o;
  o.WithData = false;
  std::string exe = Compose(o);
  RunResult r = Run(exe, "/s /l=" + TracePath());
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 13u);
  // The exact bytes: UTF-16LE, no byte-order mark, CR LF after every line.
  const std::string expected = Lines({"<Vantrel>", "  <SetupSplash>", "    <StubSize>"});
  std::string wide;
  for (char c : expected) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  EXPECT_EQ(ReadFileBytes(TracePath()), wide);
}

TEST_F(Launcher, MissingArchiveExits14AndRemovesItsSupportFolder) {
  SetupOptions o;
  o.WithArchive = false;
  RunResult r = Run(Compose(o), "-S /L=" + TracePath());
  ASSERT_FALSE(r.TimedOut) << "a message box was shown in silent mode";
  EXPECT_EQ(r.ExitCode, 14u);
  EXPECT_EQ(ReadTraceLog(TracePath()),
            Lines({"<Vantrel>", "  <SetupSplash>", "    <StubSize>", "    </StubSize>", "    <StubData>",
                   "    </StubData>", "    <GlobalLists>", "    </GlobalLists>", "    <SupportDir>", "    </SupportDir>",
                   "    <ExtractArchive>"}));
  EXPECT_FALSE(PathExists(temp_ + "\\kem1"));
}

// The script reads its support folder's number from SUPPORTDIR and exits with 100 + N.
TEST_F(Launcher, SupportFolderNumberSkipsExistingNames) {
  if (!HasLibrary()) GTEST_SKIP() << "kem.lib is not built";
  MakeFolder(temp_ + "\\kem1");
  MakeFolder(temp_ + "\\kem2");
  WriteFileBytes(temp_ + "\\kem2\\keep.txt", "another setup's file");
  WriteFileBytes(temp_ + "\\kem3", "a file, not a folder");
  ScriptBuilder script;
  AddExitWithSupportFolderNumber(script);
  RunResult r = Run(Compose(script), "/s");
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 104u);
  EXPECT_TRUE(PathExists(temp_ + "\\kem1"));
  EXPECT_TRUE(PathExists(temp_ + "\\kem2\\keep.txt"));
  EXPECT_EQ(ReadFileBytes(temp_ + "\\kem3"), "a file, not a folder");
  EXPECT_FALSE(PathExists(temp_ + "\\kem4"));
}

// The launcher's early exits remove the support folder they claimed (after 16 it holds every
// support file and the database copy) and nothing else in the temporary folder.
TEST_F(Launcher, EarlyExitsRemoveTheirOwnSupportFolderOnly) {
  struct Case {
    const char* what;
    DWORD code;
    SetupOptions options;
    bool needsLibrary;
  };
  std::vector<Case> cases(3);
  cases[0] = {"no support archive", 14, {}, false};
  cases[0].options.WithArchive = false;
  cases[1] = {"damaged support archive", 15, {}, false};
  cases[1].options.ArchiveBytes = "this is not an archive at all";
  cases[2] = {"no installer database", 16, {}, true};
  cases[2].options.WithMsi = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsLibrary && !HasLibrary()) continue;
    RemoveTree(temp_);
    MakeFolder(temp_ + "\\kem1");
    WriteFileBytes(temp_ + "\\kem1\\keep.txt", "another setup's file");
    RunResult r = Run(Compose(c.options), "/s");
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, c.code);
    EXPECT_EQ(FolderEntriesW(Widen(temp_)), (std::vector<std::wstring>{L"kem1\\", L"kem1\\keep.txt"}));
  }
}

TEST_F(Launcher, DamagedArchiveExits15) {
  SetupOptions o;
  o.ArchiveBytes = "this is not an archive at all";
  RunResult r = Run(Compose(o), "/qn /l=" + TracePath());
  EXPECT_EQ(r.ExitCode, 15u);
  std::string trace = ReadTraceLog(TracePath());
  EXPECT_NE(trace.find("    <ExtractArchive>\r\n"), std::string::npos);
  EXPECT_EQ(trace.find("</ExtractArchive>"), std::string::npos);
  EXPECT_FALSE(PathExists(temp_ + "\\kem1"));
}

TEST_F(Launcher, MissingDatabaseExits16) {
  if (!HasLibrary()) GTEST_SKIP() << "kem.lib is not built";
  SetupOptions o;
  o.WithMsi = false;
  RunResult r = Run(Compose(o), "/s /l=" + TracePath());
  EXPECT_EQ(r.ExitCode, 16u);
  std::string trace = ReadTraceLog(TracePath());
  EXPECT_NE(trace.find("    </ExtractArchive>\r\n    <ExtractResource>\r\n"), std::string::npos);
  EXPECT_EQ(trace.find("</Vantrel>"), std::string::npos);
  EXPECT_FALSE(PathExists(temp_ + "\\kem1"));
}

TEST_F(Launcher, PatchOnlyRunsAndCleansUp) {
  if (!HasLibrary()) GTEST_SKIP() << "kem.lib is not built";
  SetupOptions o;
  o.WithMsi = false;
  o.WithMsp = true;
  RunResult r = Run(Compose(o), "/s /l=" + TracePath());
  EXPECT_EQ(r.ExitCode, 0u);
  EXPECT_FALSE(PathExists(temp_ + "\\kem1"));
}

TEST_F(Launcher, SuccessfulRunWritesEveryLauncherLineAndRemovesTheSupportFolder) {
  if (!HasLibrary()) GTEST_SKIP() << "kem.lib is not built";
  RunResult r = Run(Compose(), "/s /l=" + TracePath());
  EXPECT_EQ(r.ExitCode, 0u);
  std::string trace = ReadTraceLog(TracePath());
  const char* order[] = {"<Vantrel>\r\n",        "  <SetupSplash>\r\n",   "    <StubSize>\r\n",
                         "    </StubSize>\r\n",  "    <StubData>\r\n",    "    </StubData>\r\n",
                         "    <GlobalLists>\r\n", "    </GlobalLists>\r\n", "    <SupportDir>\r\n",
                         "    </SupportDir>\r\n", "    <ExtractArchive>\r\n", "    </ExtractArchive>\r\n",
                         "    <ExtractResource>\r\n", "    </ExtractResource>\r\n", "    <ResourcePath>\r\n",
                         "    </ResourcePath>\r\n", "    <Dialogs>\r\n",     "    </Dialogs>\r\n",
                         "  </SetupSplash>\r\n", "  <RunScript>\r\n",     "  </RunScript>\r\n",
                         "  <Free>\r\n",          "  </Free>\r\n",         "  <CachedSupportDir>\r\n",
                         "  </CachedSupportDir>\r\n", "</Vantrel>\r\n"};
  std::size_t at = 0;
  for (const char* line : order) {
    std::size_t found = trace.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << trace;
    at = found + std::strlen(line);
  }
  EXPECT_FALSE(PathExists(temp_ + "\\kem1"));
  EXPECT_FALSE(PathExists(temp_ + "\\kem.tmp"));
}

TEST_F(Launcher, TruncatedSetupDataExits11) {
  SetupOptions o;
  o.RawData = "Set Variable\r\n$\r\n{00000000-0000-0000-0000-000000000001}\r\n";
  RunResult r = Run(Compose(o), "/s /l=" + TracePath());
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 11u);
  std::string trace = ReadTraceLog(TracePath());
  EXPECT_NE(trace.find("    <GlobalLists>\r\n  <CachedSupportDir>\r\n  </CachedSupportDir>\r\n</Vantrel>\r\n"),
            std::string::npos)
      << trace;
}

TEST_F(Launcher, ErrorBoxHasTheMessageAndThePreparingWindowAsOwner) {
  SetupOptions o;
  o.WithArchive = false;
  std::string text, caption;
  bool owned = false;
  RunResult r = Run(Compose(o), "", [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      text = ChildTexts(box);
      caption = WindowText(box);
      owned = GetWindow(box, GW_OWNER) != nullptr;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 14u);
  EXPECT_NE(text.find("Setup resource not found"), std::string::npos) << text;
  EXPECT_EQ(caption, "Vantrel Wizard");
  EXPECT_TRUE(owned);
}

TEST_F(Launcher, UpdateSwitchShowsNoWindowsButStillReportsErrors) {
  SetupOptions o;
  o.WithArchive = false;
  std::string text;
  bool owned = true;
  RunResult r = Run(Compose(o), "/update", [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      text = ChildTexts(box);
      owned = GetWindow(box, GW_OWNER) != nullptr;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 14u);
  EXPECT_NE(text.find("Setup resource not found"), std::string::npos);
  EXPECT_FALSE(owned);
}

// A 24-bit bitmap file of the given size.
std::string BitmapFile(int width, int height) {
  const int stride = (width * 3 + 3) & ~3;
  const std::uint32_t pixels = static_cast<std::uint32_t>(stride * height);
  std::string f(54 + pixels, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&f[at], &v, 4); };
  auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&f[at], &v, 2); };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<std::uint32_t>(f.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  put16(26, 1);
  put16(28, 24);
  put32(34, pixels);
  for (std::size_t i = 54; i < f.size(); ++i) f[i] = static_cast<char>(0x80);
  return f;
}

TEST_F(Launcher, SplashSizesToItsBitmapAndPlacesThePreparingWindowBesideIt) {
  SetupOptions o;
  o.WithArchive = false;
  std::string exe = Compose(o);
  WriteFileBytes(dir_ + "\\setup.bmp", BitmapFile(200, 100));
  RECT splash{}, init{}, initClient{};
  std::string initCaption, initLabel;
  bool seen = false;
  RunResult r = Run(exe, "", [&](DWORD pid) {
    HWND box = FindMessageBox(pid);
    if (!box) return;
    HWND s = FindProcessWindow(pid, "TSetupSplash");
    HWND i = FindProcessWindow(pid, "TSetupInit");
    if (s && i && !seen) {
      seen = true;
      GetWindowRect(s, &splash);
      GetWindowRect(i, &init);
      GetClientRect(i, &initClient);
      initCaption = WindowText(i);
      initLabel = ChildTexts(i);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 14u);
  ASSERT_TRUE(seen) << "the splash and the preparing window were not found";
  EXPECT_EQ(splash.right - splash.left, 200);
  EXPECT_EQ(splash.bottom - splash.top, 100);
  EXPECT_EQ(splash.left, (GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
  EXPECT_EQ(init.left, splash.left + 100 + 50);
  EXPECT_EQ(init.top, splash.top + 100 + 25);
  EXPECT_EQ(initClient.right, 369);
  EXPECT_EQ(initClient.bottom, 89);
  EXPECT_EQ(initCaption, "Vantrel Wizard");
  EXPECT_NE(initLabel.find("Vantrel is preparing the Vantrel Wizard which will install this application. Please wait."),
            std::string::npos);
}

TEST_F(Launcher, MessagesComeFromTheLanguageDataAppendedToTheLibrary) {
  if (!HasLibrary()) GTEST_SKIP() << "kem.lib is not built";
  SetupOptions o;
  o.WithArchive = false;
  std::string exe = Compose(o);
  std::string block;
  for (int i = 1; i <= 115; ++i) block += (i == 2 ? std::string("Ressource introuvable") : "text " + std::to_string(i)) + "\r\n";
  std::string library = ReadFileBytes(dir_ + "\\kem.lib");
  WriteFileBytes(dir_ + "\\kem.lib", library + block);
  std::string text;
  RunResult r = Run(exe, "/update", [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      text = ChildTexts(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  });
  EXPECT_EQ(r.ExitCode, 14u);
  EXPECT_NE(text.find("Ressource introuvable"), std::string::npos) << text;
  EXPECT_FALSE(PathExists(temp_ + "\\lang.loc"));
}

}  // namespace
}  // namespace kem::test
