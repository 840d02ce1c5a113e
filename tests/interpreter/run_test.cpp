// A run as a whole: preparation, the per-statement refresh, statement failures,
// termination, reboot and resume, cancellation and the removable-media ending.
#include "engine/message_table.h"
#include "script/interpreter/cancellation.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

using Marks = std::vector<std::string>;
using Lines = std::vector<std::string>;

class RunTest : public ScriptTest {};

TEST_F(RunTest, TracesThePhasesInOrderAndFillsThePredefinedVariables) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  Startup().CommandTail = "/s";
  Startup().OuterPackagePath = "d:\\media\\outer.exe";
  Mark("a");
  Run();
  EXPECT_EQ(trace.Lines(), (Lines{"    <Variables>", "    </Variables>", "    <CompileScript>", "    </CompileScript>",
                                  "    <BootStrap>", "    </BootStrap>", "    <vrax>", "    </vrax>",
                                  "    <ExitScript>", "    </ExitScript>"}));
  const std::vector<std::pair<const char*, std::string>> expected = {
      {"TITLE", "Test Product"},          {"COMPANY", "Test Company"},
      {"VERSION", "1.0.0"},               {"PRODUCTCODE", "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}"},
      {"TARGETDIR", "C:\\Program Files\\Test Product\\"}, {"ALLUSERS", "TRUE"},
      {"STARTMENU", "Test Product"},      {"MAINTENANCE", "FALSE"},
      {"NEEDSUPGRADE", "FALSE"},          {"EXEDIR", "C:\\App\\"},
      {"EXEFILE", "C:\\App\\setup.exe"},  {"ROOTDIR", "C:\\App\\"},
      {"USERNAME", "Owner"},              {"USERCOMPANY", "Organisation"},
      {"IISHOST", "host"},                {"CMDLINE", "/s"},
      {"SFXPATH", "d:\\media\\"},         {"SFXFILE", "outer.exe"},
      {"MSIFILE", kDatabase},             {"SUPPORTDIR", "C:\\Temp\\kem1\\"},
      {"TEMPDIR", "C:\\Temp\\"},          {"LOGGED", trace.Path()},
      {"SILENT", "FALSE"},                {"DATE", "date1000"},
      {"TIME", "time1000"},               {"NEWLINE", "\r\n"},
      {"ABORT", "FALSE"},                 {"VRAX_thMax", "100"},
      {"VRAX_LastDelegateTick", "4242"},  {"LANGUAGE", ""},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(GetVar(name), value) << name;
  EXPECT_EQ(marks, (Marks{"a"}));
}

TEST_F(RunTest, FirstInstallTargetOfAUserIsBesideTheDocumentsFolder) {
  host.admin = false;
  Run();
  EXPECT_EQ(GetVar("TARGETDIR"), "C:\\Users\\me\\Test Product\\");
  EXPECT_EQ(GetVar("ALLUSERS"), "FALSE");
}

TEST_F(RunTest, NothingRunsWithoutTheDatabaseUnlessAPatchPackageIsThere) {
  Mark("a");
  host.files.clear();
  Run();
  EXPECT_TRUE(marks.empty());
  Run("");
  EXPECT_TRUE(marks.empty());
  host.files.insert("C:\\Temp\\kem1\\setup.msp");
  Run();
  EXPECT_EQ(marks, (Marks{"a"}));
}

TEST_F(RunTest, SingleInstanceMarkerKeepsASecondRunOut) {
  script.Data().CompilerVariables.Add("SINGLEINSTANCE");
  script.Data().CompilerVariables.Add("TRUE");
  const std::string marker = "C:\\Temp\\{A1B2C3D4-1111-2222-3333-444455556666}.kem";
  bool markerDuringRun = false;
  phases->OnBeforeStatement = [&](Interpreter&) { markerDuringRun = host.files.contains(marker); };
  Mark("a");
  Run();
  EXPECT_EQ(marks, (Marks{"a"}));
  EXPECT_TRUE(markerDuringRun);
  EXPECT_FALSE(host.files.contains(marker));  // removed by the exit-script step

  host.files.insert(marker);  // another instance holds it
  marks.clear();
  Run();
  EXPECT_TRUE(marks.empty());
}

TEST_F(RunTest, ValidationFailureEndsTheProcessWith314BeforeAnythingRuns) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  Mark("a");
  script.Add("GoTo Label", {"missing"});
  Run();
  EXPECT_EQ(terminated, 314);
  EXPECT_TRUE(marks.empty());
  Lines lines = trace.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "    <CompileScript>");
  EXPECT_NE(lines[3].find("LABEL undefined: missing"), std::string::npos) << lines[3];
  EXPECT_NE(lines[3].find("setup, line 4"), std::string::npos) << lines[3];
  // The run's support folder does not stay behind in TEMP.
  EXPECT_EQ(host.removedTrees, (std::vector<std::string>{"C:\\Temp\\kem1\\"}));
}

TEST_F(RunTest, DeclarationsOfTheValidationPassDoNotReachTheScript) {
  script.Add("Terminate Install");
  script.Add("Get Temporary File", {"NEVERSET"});
  Run();
  EXPECT_FALSE(VarExists("NEVERSET"));
}

TEST_F(RunTest, StatementFailureShowsTheSourcePositionAndEndsTheScript) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  Startup().ExitCode = 7;
  If("T");
  script.Add("Terminate with Exit Code", {"abc"});  // index 3, source line 3 shown as 4
  End();
  Mark("after");
  bool exitScript = false;
  phases->OnExitScript = [&](Interpreter&) { exitScript = true; };
  std::vector<std::pair<bool, bool>> prompts;
  hooks.Progress.PromptState = [&](bool p, bool e) { prompts.emplace_back(p, e); };
  Run();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            "Runtime error in setup script:\r\rSource File: setup\rLine Number: 4\r\r'abc' is not a valid integer value");
  EXPECT_EQ(host.boxes[0].caption, "Test Product - Vantrel Wizard");
  EXPECT_EQ(host.boxes[0].owner, 0u);
  EXPECT_EQ(prompts, (std::vector<std::pair<bool, bool>>{{true, true}}));
  EXPECT_TRUE(marks.empty());
  EXPECT_TRUE(exitScript);
  EXPECT_EQ(Startup().ExitCode, 7);  // an exit code the script set stays
  Lines lines = trace.Lines();
  ASSERT_GE(lines.size(), 2u);
  // The failure with its source position, and no end-of-run lines after it.
  EXPECT_EQ(lines[lines.size() - 2], "    <vrax>");
  EXPECT_EQ(lines.back(), "      Statement 3 (setup, line 4): 'abc' is not a valid integer value");
}

TEST_F(RunTest, AFailedRunNeverEndsWithExitCodeZero) {
  struct Case {
    const char* name;
    bool silent;
    int before;
    int after;
  };
  for (const Case& c : {Case{"with the box", false, 0, 1603}, Case{"silent", true, 0, 1603},
                        Case{"the script's own code stays", true, 42, 42}}) {
    SCOPED_TRACE(c.name);
    NewScript();
    Startup().SilentMode = c.silent;
    Startup().ExitCode = c.before;
    script.Add("Mathematics", {"1", "0", "3", "R"});
    Run();
    EXPECT_EQ(Startup().ExitCode, c.after);
    EXPECT_EQ(host.boxes.size(), c.silent ? 0u : 1u);
  }
}

TEST_F(RunTest, ALabelWhoseParametersAreCutOffFailsLikeAStatement) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  Mark("never");
  script.Add("Label", {"LAST"});
  bool afterRun = false, exitScript = false;
  phases->OnAfterRun = [&](Interpreter&) { afterRun = true; };
  phases->OnExitScript = [&](Interpreter&) { exitScript = true; };
  // The setup data ends inside the label's parameter block: its ID line is the last line.
  prepare = [](SetupData& data) {
    std::vector<std::string> lines = data.ParameterLines.Items();
    while (!lines.empty() && lines.back() != data.StatementIds[data.StatementCount() - 1]) lines.pop_back();
    data.ParameterLines = HashedStringList(std::move(lines));
  };
  Run();
  EXPECT_FALSE(terminated);
  EXPECT_TRUE(marks.empty());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("Line Number: 4\r\rList index out of bounds"), std::string::npos)
      << host.boxes[0].text;
  EXPECT_EQ(Startup().ExitCode, 1603);
  EXPECT_TRUE(exitScript);
  EXPECT_TRUE(afterRun);
  EXPECT_TRUE(trace.Lines().back().starts_with("      Statement 3 (setup, line 4): List index out of bounds"));
}

TEST_F(RunTest, FailuresOfBadParametersAreReportedNotCrashed) {
  const std::vector<std::pair<std::function<void(ScriptTest&)>, std::string>> cases = {
      {[](auto& t) { t.script.Add("Extract Path", {"TITLE", ""}); }, "'' is not a valid integer value"},
      {[](auto& t) { t.script.Add("Parse String", {"abc", "b", "A", "B", "x"}); }, "'x' is not a valid integer value"},
      {[](auto& t) { t.script.Add("Mathematics", {"4", "0", "3", "R"}); }, "Division by zero"},
      {[](auto& t) { t.script.Add("Mathematics", {"four", "1", "0", "R"}); }, "'four' is not a valid integer value"},
      {[](auto& t) { t.script.Add("Set Variable", {"PROGRESS", "half"}); }, "'half' is not a valid integer value"},
      {[](auto& t) { t.script.Add("Terminate with Exit Code"); }, "'' is not a valid integer value"},
  };
  for (const auto& [build, message] : cases) {
    SCOPED_TRACE(message);
    NewScript();
    build(*this);
    Mark("after");
    Run();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_TRUE(host.boxes[0].text.ends_with("\r\r" + message)) << host.boxes[0].text;
    EXPECT_TRUE(marks.empty());
  }
}

TEST_F(RunTest, SilentFailureShowsNothingAndScriptCanTurnSilenceOn) {
  script.Add("Set Variable", {"SILENT", "TRUE"});
  script.Add("Terminate with Exit Code", {"x"});
  Run();
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Startup().SilentMode);
}

TEST_F(RunTest, TerminateWithExitCodeEndsAtOnceEvenInsideBlocks) {
  script.Add("Set Variable", {"CODE", "3010"});
  If("T");
  script.Add("Terminate with Exit Code", {"$CODE$"});
  Mark("never");
  End();
  Mark("never either");
  Run();
  EXPECT_EQ(Startup().ExitCode, 3010);
  EXPECT_TRUE(marks.empty());
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(RunTest, TerminateInstallKeepsTheExitCode) {
  Startup().ExitCode = 5;
  script.Add("Terminate Install");
  Mark("never");
  Run();
  EXPECT_EQ(Startup().ExitCode, 5);
  EXPECT_TRUE(marks.empty());
}

TEST_F(RunTest, RebootAndResumeWritesTheRunOnceEntryThenRequestsTheRestart) {
  script.Data().ProductCode = "{12345678-AAAA-BBBB-CCCC-DDDDEEEEFFFF}";
  Startup().SilentMode = true;
  Startup().CommandTail = "/s TARGETDIR=D:\\App";
  Startup().CommandLineAssignments = {"TARGETDIR", "D:\\App"};
  script.Add("Reboot and Resume");
  Mark("never");
  Run();
  ASSERT_EQ(host.runOnce.size(), 1u);
  EXPECT_TRUE(host.runOnce[0].allUsers);
  EXPECT_EQ(host.runOnce[0].name, "12345678");
  EXPECT_EQ(host.runOnce[0].command, "\"C:\\App\\setup.exe\" /s TARGETDIR=D:\\App");
  EXPECT_EQ(host.reboots, 1);
  EXPECT_TRUE(marks.empty());
  // The entry of an earlier run went before the first statement; this run's stays.
  EXPECT_EQ(host.runOnceDeleted, (std::vector<std::string>{"12345678"}));
}

TEST_F(RunTest, EveryRunRemovesAStaleResumeEntryBeforeItsFirstStatement) {
  script.Data().ProductCode = "{87654321-AAAA-BBBB-CCCC-DDDDEEEEFFFF}";
  std::size_t deletedBeforeFirst = 99;
  hooks.PluginStatement = [&](Interpreter&, std::size_t) { deletedBeforeFirst = host.runOnceDeleted.size(); };
  script.Add("Probe");
  script.Data().PluginStatements.push_back("Probe");
  Run();
  EXPECT_EQ(deletedBeforeFirst, 1u);
  EXPECT_EQ(host.runOnceDeleted, (std::vector<std::string>{"87654321"}));
  EXPECT_TRUE(host.runOnce.empty());
}

TEST_F(RunTest, ResumeEntryCommandAndFailure) {
  // The program's path is quoted: a path with blanks would otherwise start whatever
  // program matches its first words.
  EXPECT_EQ(MakeResumeEntry("{ABCDEF01-0000}", "e:\\pkg\\outer.exe", "C:\\App\\setup.exe", "").command,
            "\"e:\\pkg\\outer.exe\"");
  EXPECT_EQ(MakeResumeEntry("{ABCDEF01-0000}", "", "C:\\Program Files\\My App\\setup.exe", "/s").command,
            "\"C:\\Program Files\\My App\\setup.exe\" /s");
  EXPECT_EQ(MakeResumeEntry("{ABCDEF01-0000}", "", "C:\\App\\setup.exe", "").valueName, "ABCDEF01");

  host.admin = false;
  host.runOnceFails = true;
  script.Add("Reboot and Resume");
  Run();
  EXPECT_EQ(host.reboots, 0);  // no restart after a failed registry write
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_TRUE(host.boxes[0].text.ends_with("Failed to set data for '6C2F1B36'"));
}

TEST_F(RunTest, RebootComputerRequestsTheRestartAndEnds) {
  script.Add("Reboot Computer");
  Mark("never");
  Run();
  EXPECT_EQ(host.reboots, 1);
  EXPECT_TRUE(marks.empty());
}

TEST_F(RunTest, CommandLineValuesWinOnlyInSilentMode) {
  for (bool silent : {true, false}) {
    SCOPED_TRACE(silent);
    NewScript();
    Startup().SilentMode = silent;
    Startup().CommandLineAssignments = {"TARGETDIR", "D:\\App", "NEWVAR", "x y"};
    script.Add("Set Variable", {"TARGETDIR", "C:\\Elsewhere\\"});
    Run();
    EXPECT_EQ(GetVar("TARGETDIR"), silent ? "D:\\App" : "C:\\Elsewhere\\");
    EXPECT_EQ(GetVar("NEWVAR"), "x y");
  }
}

TEST_F(RunTest, RefreshesTitleBrandingTraceAndClockBeforeEachStatement) {
  TraceFile trace;
  script.Add("Set Variable", {"TITLE", "Other"});
  script.Add("Set Variable", {"VRAXLOGO", "TRUE"});
  script.Add("Set Variable", {"LOGGED", trace.Path()});
  script.Add("Set Variable", {"DATE", "stale"});
  std::string caption, date;
  bool traced = false;
  script.Add("Set Variable", {"X", "1"});
  phases->OnExitScript = [&](Interpreter&) {
    caption = WindowCaption();
    date = GetVar("DATE");
    traced = !TraceLogPath().empty();
  };
  Run();
  EXPECT_EQ(caption, "Other");
  EXPECT_EQ(date, "date1000");
  EXPECT_TRUE(traced);
  EXPECT_EQ(trace.Lines().back(), "    </ExitScript>");
  EXPECT_LE(host.dateFormats, 1);  // the clock did not move: formatted once
}

TEST_F(RunTest, LanguageChangeReloadsTranslationsOnce) {
  std::vector<std::string> loaded;
  phases->OnLanguageChanged = [&](Interpreter&, const std::string& language) { loaded.push_back(language); };
  script.Add("Set Variable", {"LANGUAGE", "German"});
  Mark("a");
  Mark("b");
  Run();
  EXPECT_EQ(loaded, (std::vector<std::string>{"German"}));
}

TEST_F(RunTest, PumpsMessagesEvery314Statements) {
  for (int i = 0; i < 700; ++i) script.Add("Comment", {"c"});
  Run();
  EXPECT_EQ(host.pumps, 3);  // statements 0, 314 and 628
}

TEST_F(RunTest, ALoopThatNeverReachesStatement314StillPumps) {
  // Five statements run 400 times each: 2,000 statements, all below index 10.
  script.Add("Set Variable", {"N", "0"});
  script.Add("Set Variable", {"LIMIT", "400"});
  script.Add("Label", {"AGAIN"});
  script.Add("Mathematics", {"$N$", "1", "0", "N"});
  script.Add("If", {"LIMIT", "2", "$N$", "FALSE"});
  script.Add("GoTo Label", {"AGAIN"});
  End();
  Run();
  EXPECT_EQ(GetVar("N"), "400");
  EXPECT_GE(host.pumps, 6);
}

TEST_F(RunTest, ConditionsAreTranslatedOnlyWhileALanguageIsSelected) {
  // The translation turns the condition's value (its second translatable text) into "no".
  ctx.SetTranslator([](std::string_view text, std::string_view, int k) {
    return k == 2 ? std::string("no") : std::string(text);
  });
  script.Add("Set Variable", {"V", "YES"});
  script.Add("If", {"$V$", "4", "yes", "FALSE"});
  Mark("untranslated holds");
  End();
  script.Add("Set Variable", {"LANGUAGE", "German"});
  script.Add("If", {"$V$", "4", "yes", "FALSE"});
  Mark("translated holds");
  End();
  Run();
  EXPECT_EQ(marks, (Marks{"untranslated holds"}));
}

TEST_F(RunTest, AssigningAbortCancelsLikeTheCancelButton) {
  script.Add("Set Variable", {"ABORT", "TRUE"});
  script.Add("Set Variable", {"SEEN", "$ABORT$"});
  Run();
  EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
  EXPECT_EQ(GetVar("SEEN"), "TRUE");
}

TEST_F(RunTest, StatementCallbackFalseEndsTheRun) {
  Mark("a");
  Mark("b");
  ctx.Data = script.Build();
  ctx.Data.PluginStatements.push_back("Mark");
  StatementTable table;
  InterpreterHooks markHooks;
  markHooks.PluginStatement = [this](Interpreter& in, std::size_t i) { marks.push_back(in.Param(i, 1)); };
  Interpreter interpreter(ctx, host.AsServices(), table, markHooks);
  std::vector<std::size_t> seen;
  interpreter.Run([&](std::size_t index) {
    seen.push_back(index);
    return index < 3;
  }, kDatabase);
  EXPECT_EQ(marks, (Marks{"a"}));
  EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3}));
}

TEST_F(RunTest, RemovableMediaEndingTerminatesWhenTheMediumIsGone) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  host.fixedDrive = false;
  host.folders.clear();
  host.folders.insert("C:\\Temp\\kem1\\");
  bool instanceData = false;
  phases->OnWriteInstanceData = [&](Interpreter&) { instanceData = true; };
  script.Add("Terminate with Exit Code", {"12"});
  Run();
  EXPECT_EQ(terminated, 12);
  EXPECT_TRUE(instanceData);
  EXPECT_EQ(host.removedTrees, (std::vector<std::string>{"C:\\Temp\\kem1\\"}));
  Lines lines = trace.Lines();
  Lines tail(lines.end() - 9, lines.end());
  EXPECT_EQ(tail, (Lines{"    </ExitScript>", "  </RunScript>", "  <Free>", "  </Free>", "  <CachedSupportDir>",
                         "  </CachedSupportDir>", "  <RemovableMediaPrematureEject>",
                         "  </RemovableMediaPrematureEject>", "</Vantrel>"}));

  // Still there on a removable drive: the run returns normally.
  host.folders.insert("C:\\App\\");
  terminated.reset();
  Run();
  EXPECT_FALSE(terminated);
}

struct CancelCase {
  const char* name;
  bool silent;
  std::string abortOnError;
  std::string abortedOnError;
  bool ends;
  std::size_t boxes;
  std::string abortedAfter;
};

TEST_F(RunTest, CancellationAfterAWorkerWait) {
  const std::vector<CancelCase> cases = {
      {"abort on error", false, "TRUE", "FALSE", true, 1, "FALSE"},
      {"carry on", false, "FALSE", "FALSE", false, 1, "TRUE"},
      {"second cancel is not shown again", false, "FALSE", "TRUE", false, 0, "TRUE"},
      {"silent", true, "TRUE", "FALSE", true, 0, "FALSE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NewScript();
    Startup().SilentMode = c.silent;
    script.Add("Set Variable", {"ABORTONERROR", c.abortOnError});
    script.Add("Set Variable", {"ABORTEDONERROR", c.abortedOnError});
    script.Add("Worker");
    Mark("after");
    int waits = 0, terminates = 0, watchdogs = 0;
    bool ended = false;
    StatementTable extra;
    std::uintptr_t owner = 99;
    hooks.PluginStatement = [&](Interpreter& in, std::size_t) {
      Engine().WindowHandleOfNonModal = owner;
      RawSet("VRAX_LastDelegateTick", "777");
      WorkerWait wait;
      wait.Finished = [&] { return waits >= 3; };
      wait.WaitOnce = [&](bool silent) {
        EXPECT_EQ(silent, c.silent);
        if (++waits == 1) SetVar("VRAX_IsCancelled", "TRUE", "Test");
      };
      wait.RequestTerminate = [&] { ++terminates; };
      wait.StartWatchdog = [&] { ++watchdogs; };
      WaitForWorker(in, wait);
      ended = FinishCancellation(in, "Cancel at Test Time");
    };
    script.Data().PluginStatements.push_back("Worker");
    Run();
    EXPECT_EQ(terminates, 1);
    EXPECT_EQ(watchdogs, 1);
    EXPECT_EQ(GetVar("VRAX_LastActiveTick"), "777");
    EXPECT_EQ(ended, c.ends);
    EXPECT_EQ(marks.empty(), c.ends);
    ASSERT_EQ(host.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(host.boxes[0].text, "Setup cancelled");
      EXPECT_EQ(host.boxes[0].owner, owner);
    }
    EXPECT_EQ(GetVar("ABORTEDONERROR"), c.abortedAfter);
  }
}

}  // namespace
}  // namespace kem::test

namespace kem::test {
namespace {

class PhaseTest : public ScriptTest {
 protected:
  // A participant that records each phase it serves as "NAME phase".
  std::shared_ptr<PhaseFunctions> Recorder(const std::string& name, bool bootstraps = false) {
    auto p = std::make_shared<PhaseFunctions>();
    auto note = [this, name](const char* phase) { calls.push_back(name + " " + phase); };
    p->OnResetRun = [note](Interpreter&) { note("reset"); };
    p->OnBootstrap = [note, bootstraps](Interpreter&) {
      note("bootstrap");
      return bootstraps;
    };
    p->OnPrepareRun = [note](Interpreter&) { note("prepare"); };
    p->OnBeforeStatement = [note](Interpreter&) { note("before"); };
    p->OnAfterStatement = [note](Interpreter&, std::size_t) { note("after"); };
    p->OnExitScript = [note](Interpreter&) { note("exit"); };
    p->OnAfterRun = [note](Interpreter&) { note("end"); };
    return p;
  }
  std::vector<std::string> calls;
};

TEST_F(PhaseTest, ParticipantsServeEachPhaseInTheOrderTheyWereAdded) {
  hooks.Phases.Add(Recorder("a"));
  hooks.Phases.Add(Recorder("b"));
  Mark("x");
  Run();
  std::vector<std::string> once;
  for (const std::string& c : calls)
    if (!c.ends_with(" before") && !c.ends_with(" after")) once.push_back(c);
  EXPECT_EQ(once, (Marks{"a reset", "b reset", "a bootstrap", "b bootstrap", "a prepare", "b prepare", "a exit",
                         "b exit", "a end", "b end"}));
  // The per-statement phases: b right after a, every time, and all between prepare and exit.
  std::size_t perStatement = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (!calls[i].starts_with("a ") || (!calls[i].ends_with(" before") && !calls[i].ends_with(" after"))) continue;
    ++perStatement;
    ASSERT_LT(i + 1, calls.size());
    EXPECT_EQ(calls[i + 1], "b" + calls[i].substr(1));
  }
  EXPECT_GE(perStatement, 2 * (kPrelude + 1));  // before and after each statement
  EXPECT_EQ(marks, (Marks{"x"}));
}

// The first participant that identifies an installed instance bootstraps alone; without one
// the first-install bootstrap publishes its values.
TEST_F(PhaseTest, OneBootstrapRunsAndTheFirstInstallOneOnlyWithoutAParticipant) {
  struct Case {
    bool first, second;
    Marks bootstraps;
    bool firstInstall;
  } cases[] = {
      {false, false, {"a bootstrap", "b bootstrap"}, true},
      {false, true, {"a bootstrap", "b bootstrap"}, false},
      {true, true, {"a bootstrap"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + std::to_string(c.second));
    NewScript();
    calls.clear();
    hooks.Phases = {};
    hooks.Phases.Add(Recorder("a", c.first));
    hooks.Phases.Add(Recorder("b", c.second));
    ctx.Vars.Clear();
    Run();
    Marks bootstraps;
    for (const std::string& call : calls)
      if (call.ends_with(" bootstrap")) bootstraps.push_back(call);
    EXPECT_EQ(bootstraps, c.bootstraps);
    EXPECT_EQ(!GetVar("TARGETDIR").empty(), c.firstInstall);  // empty until a bootstrap sets it
  }
}

// Before an installer session or a plug-in call the participants make its files present;
// one that ends the script skips the statement, and the phase never runs for others.
TEST_F(PhaseTest, ASessionOrPlugInCallIsSkippedWhenTheBeforeSessionPhaseEndsTheScript) {
  moreStatements = [this](StatementTable& table, InterpreterHooks&) {
    table.Add(StatementKind::ApplyChanges, [this](Interpreter&, std::size_t) { marks.push_back("apply"); });
  };
  for (const char* statement : {"Mark", "Apply Changes"}) {
    SCOPED_TRACE(statement);
    for (bool end : {false, true}) {
      NewScript();
      std::vector<std::string> seen;
      auto loader = std::make_shared<PhaseFunctions>();
      loader->OnBeforeSession = [&seen, end](Interpreter& in, std::size_t i) {
        seen.push_back(in.Data().StatementNames[i]);
        if (end) in.EndScript();
      };
      hooks.Phases = {};
      hooks.Phases.Add(loader);
      script.Add("Set Variable", {"BEFORE", "1"});
      script.Add(statement, {"apply"});
      script.Add("Set Variable", {"AFTER", "1"});
      ctx.Vars.Clear();
      Run();
      EXPECT_EQ(seen, (Marks{statement}));
      EXPECT_EQ(marks, end ? Marks{} : Marks{"apply"});
      EXPECT_EQ(VarExists("AFTER"), !end);
    }
  }
}

}  // namespace
}  // namespace kem::test
