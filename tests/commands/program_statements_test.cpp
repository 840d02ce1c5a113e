// Program execution over a scripted program starter.
#include "command_fixture.h"
#include "commands/program_statements.h"

namespace kem::test {
namespace {

class ProgramStatementsTest : public CommandTest {};

TEST_F(ProgramStatementsTest, RunProgramResults) {
  struct Case {
    const char* title;
    std::function<void(FakePrograms&)> setup;
    const char* wait;
    const char* result;
  };
  const Case cases[] = {
      {"exit code", [](FakePrograms& p) { p.exitCode = 7; }, "TRUE", "7"},
      {"still running without wait", [](FakePrograms& p) { p.hangs = true; }, "FALSE", "259"},
      {"cannot be started", [](FakePrograms& p) { p.shellFails = true; }, "TRUE", "-1"},
      {"the shell gave no process", [](FakePrograms& p) { p.shellWithoutHandle = true; }, "TRUE", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    programs = FakePrograms();
    c.setup(programs);
    script.Add("Set Variable", {"P", "C:\\Program Files\\tool.exe"});
    script.Add("Run Program", {"$P$", "TRUE", "/x \"a b\" %PATH% & del", c.wait, "RESULT"});
    Run();
    ASSERT_EQ(Failure(), "");
    EXPECT_EQ(GetVar("RESULT"), c.result);
    ASSERT_EQ(programs.starts.size(), 1u);
    const auto& s = programs.starts[0];
    EXPECT_EQ(s.start.Program, "C:\\Program Files\\tool.exe");
    EXPECT_EQ(s.start.Parameters, "/x \"a b\" %PATH% & del");  // verbatim
    EXPECT_EQ(s.start.Folder, "C:\\Program Files\\");
    EXPECT_EQ(s.folderAtStart, "C:\\Program Files\\");
    EXPECT_EQ(s.start.Show, 0);
    EXPECT_EQ(programs.current, "C:\\start\\");  // the engine's folder is back
  }
}

TEST_F(ProgramStatementsTest, ACancelEndsTheWaitWithMinus314AndLeavesTheProgramRunning) {
  programs.hangs = true;
  programs.onWait = [this] { RawSet("VRAX_IsCancelled", "TRUE"); };
  script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script.Add("Run Program", {"C:\\t\\hang.exe", "FALSE", "", "TRUE", "RESULT"});
  script.Add("Run Program As", {"C:\\t\\hang.exe", "", "", "0", "", "", "", "AS", "TRUE", ""});
  script.Add("Set Variable", {"AFTER", "ran"});
  Run();
  EXPECT_EQ(GetVar("RESULT"), "-314");
  EXPECT_EQ(GetVar("AS"), "-314");
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(GetVar("AFTER"), "ran");
  ASSERT_EQ(host.boxes.size(), 1u);  // "Setup cancelled" once: the second finds ABORTEDONERROR set
  EXPECT_EQ(host.boxes[0].text, "Setup cancelled");

  NewScript();
  programs = FakePrograms();
  programs.hangs = true;
  programs.onWait = [this] { RawSet("VRAX_IsCancelled", "TRUE"); };
  script.Add("Set Variable", {"ABORTONERROR", "TRUE"});
  script.Add("Run Program", {"C:\\t\\hang.exe", "FALSE", "", "TRUE", "RESULT"});
  script.Add("Set Variable", {"AFTER", "ran"});
  Run();
  EXPECT_EQ(GetVar("RESULT"), "-314");
  EXPECT_FALSE(VarExists("AFTER"));
}

TEST_F(ProgramStatementsTest, RunProgramAsChoosesTheWayAndPassesTheBlockVerbatim) {
  struct Case {
    const char* title;
    std::string program, user, show, environment;
    std::optional<int> shellUserCode;  // StartAsShellUser: nullopt falls back to a plain start
    std::string how;
    int showMode;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"plain", "C:\\t\\a.exe", "", "0", "", std::nullopt, "plain", 5, "3"},
      {"plain, other show code", "C:\\t\\a.exe", "", "9", "", std::nullopt, "plain", 0, "3"},
      {"another user", "C:\\t\\a.exe", "bob", "2", "", std::nullopt, "logon", 3, "3"},
      {"another user, other show code", "C:\\t\\a.exe", "bob", "9", "", std::nullopt, "logon", 1, "3"},
      {"logged-on user, not elevated", "C:\\t\\a.exe", "$VRAX_UAC$", "4", "", std::nullopt, "shelluser,plain", 7, "3"},
      {"logged-on user, token refused", "C:\\t\\a.exe", "$VRAX_UAC$", "1", "", -8, "shelluser", 0, "-8"},
      {"a quote in the path", "C:\\t\\a\".exe", "", "0", "", std::nullopt, "", 0, "-11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    programs = FakePrograms();
    programs.exitCode = 3;
    if (c.shellUserCode) programs.shellUserResult = StartResult{nullptr, false, *c.shellUserCode};
    script.Add("Set Variable", {"PW", "s3cret"});
    script.Add("Run Program As",
               {c.program, "C:\\work", "-a \"x y\"", c.show, c.user, "$PW$", "DOM", "RESULT", "TRUE", c.environment});
    Run();
    ASSERT_EQ(Failure(), "");
    EXPECT_EQ(GetVar("RESULT"), c.result);
    std::string how;
    for (const auto& s : programs.starts) how += (how.empty() ? "" : ",") + s.how;
    EXPECT_EQ(how, c.how);
    if (programs.starts.empty()) continue;
    const auto& s = programs.starts.back();
    EXPECT_EQ(s.start.CommandLine, "\"" + c.program + "\" -a \"x y\"");
    EXPECT_EQ(s.start.Show, c.showMode);
    EXPECT_EQ(s.folderAtStart, "C:\\work");
    if (s.how == "logon") {
      EXPECT_EQ(s.user, "bob");
      EXPECT_EQ(s.password, "s3cret");
      EXPECT_EQ(s.domain, "DOM");
    }
  }
  EXPECT_EQ(EnvironmentLines("A=1\r\n\r\nB=two words\n"), (std::vector<std::string>{"A=1", "B=two words"}));
  EXPECT_EQ(EnvironmentLines(""), std::nullopt);
  // The password never reaches a message or the trace.
  EXPECT_EQ(TraceLogPath(), "");
}

TEST_F(ProgramStatementsTest, TheEnvironmentParameterBecomesTheWholeBlock) {
  script.Add("Set Variable", {"ENV", "ONE=1$NEWLINE$$NEWLINE$TWO=2"});
  script.Add("Run Program As", {"C:\\t\\a.exe", "", "", "0", "", "", "", "R", "TRUE", "$ENV$"});
  script.Add("Run Program As", {"C:\\t\\a.exe", "", "", "0", "", "", "", "R", "TRUE", ""});
  Run();
  ASSERT_EQ(programs.starts.size(), 2u);
  EXPECT_EQ(programs.starts[0].start.Environment, (std::vector<std::string>{"ONE=1", "TWO=2"}));
  EXPECT_EQ(programs.starts[1].start.Environment, std::nullopt);
}

TEST_F(ProgramStatementsTest, RegisterLibraryByExtension) {
  system.wow64 = true;
  struct Case {
    const char* file;
    const char* reg;
    std::function<void(FakePrograms&)> setup;
    std::string call;
    const char* result;
  };
  const Case cases[] = {
      {"C:\\Program Files\\a.exe", "TRUE", [](FakePrograms&) {}, "exe \"C:\\Program Files\\a.exe\" /regserver", "TRUE"},
      {"C:\\p\\a.EXE", "FALSE", [](FakePrograms& p) { p.detachedOk = false; }, "exe \"C:\\p\\a.EXE\" /unregserver", "FALSE"},
      {"C:\\p\\lib.tlb", "TRUE", [](FakePrograms&) {}, "tlb+ C:\\p\\lib.tlb in C:\\p\\", "TRUE"},
      {"C:\\p\\lib.Tlb", "FALSE", [](FakePrograms& p) { p.typeLibOk = false; }, "tlb- C:\\p\\lib.Tlb in C:\\p\\", "FALSE"},
      {"C:\\p\\x.dll", "TRUE", [](FakePrograms& p) { p.serverOk = false; }, "dll+ C:\\p\\x.dll", "FALSE"},
      {"C:\\p\\x.ocx", "FALSE", [](FakePrograms&) {}, "dll- C:\\p\\x.ocx", "TRUE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    NewScript();
    programs = FakePrograms();
    c.setup(programs);
    script.Add("Set 64 Bit Mode", {"x64"});
    script.Add("Register Library", {c.file, c.reg, "OK"});
    Run();
    ASSERT_EQ(programs.registrations.size(), 1u);
    EXPECT_EQ(programs.registrations[0], c.call);
    EXPECT_EQ(GetVar("OK"), c.result);
    EXPECT_EQ(programs.registrationViews, (std::vector<std::uint32_t>{256, 512}));
    EXPECT_EQ(programs.current, "C:\\start\\");
  }
}

TEST_F(ProgramStatementsTest, LightModeBuildsRunsAndPutsEverythingBack) {
  struct Case {
    const char* title;
    std::function<void(FakeFiles&)> setup;
    const char* result;
    bool ran;
    bool libraryKept;  // a kem.lib that was there before stays
  };
  const Case cases[] = {
      {"normal", [](FakeFiles&) {}, "0", true, false},
      {"kem.lib already there", [](FakeFiles& f) { f.AddFile("C:\\l\\kem.lib", "theirs"); }, "0", true, true},
      {"no setup data file", [](FakeFiles& f) { f.files.erase("C:\\l\\data.bin"); }, "-1", false, false},
      {"the data cannot be moved aside",
       [](FakeFiles& f) { f.failingMoves.insert("C:\\l\\data.bin>C:\\l\\data.bin.nox"); }, "-1", false, false},
      {"the built setup cannot take its place",
       [](FakeFiles& f) { f.failingMoves.insert("C:\\l\\data.bin.to>C:\\l\\data.bin"); }, "-1", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    files = FakeFiles();
    programs = FakePrograms();
    files.AddFile("C:\\App\\setup.exe", "STUBappended");
    files.AddFile("C:\\App\\kem.lib", "ours");
    files.AddFile("C:\\l\\data.bin", "DATA");
    c.setup(files);
    const bool hadData = files.FileExists("C:\\l\\data.bin");
    script.Add("Run Light Mode Setup", {"C:\\l\\data.bin", "R", "/s", "TRUE"});
    Run();
    ASSERT_EQ(Failure(), "");
    EXPECT_EQ(GetVar("R"), c.result);
    EXPECT_EQ(programs.starts.size(), c.ran ? 1u : 0u);
    if (c.ran) {
      EXPECT_EQ(programs.starts[0].start.Program, "C:\\l\\data.bin");
      EXPECT_EQ(programs.starts[0].start.Parameters, "/s");
    }
    if (hadData) EXPECT_EQ(files.files["C:\\l\\data.bin"], "DATA");
    EXPECT_FALSE(files.FileExists("C:\\l\\data.bin.to"));
    EXPECT_FALSE(files.FileExists("C:\\l\\data.bin.nox"));
    EXPECT_EQ(files.FileExists("C:\\l\\kem.lib"), c.libraryKept);
    if (c.libraryKept) EXPECT_EQ(files.files["C:\\l\\kem.lib"], "theirs");
  }
}

}  // namespace
}  // namespace kem::test
