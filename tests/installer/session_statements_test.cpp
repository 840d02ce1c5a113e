// "Apply Changes" and "Apply Patch" run by the interpreter over the fake installer: the
// session's call, its result, LASTERROR and the exit code, the retry while another
// installation runs, the property file's life, the rows each session commits, the
// sources that are missing, the installer that is missing, the trace log's header.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "installer/properties.h"
#include "installer/session.h"
#include "installer/session_statements.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

constexpr const char* kProduct = "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}";

class SessionTest : public ScriptTest {
 public:
  void SetUp() override {
    ScriptTest::SetUp();
    host.files.insert(std::string("C:\\App\\data\\") + kProduct);
    host.folders.insert("C:\\App\\data\\");
    installer.packages[kDatabase];
    state = NewSessionRunState();
    SetSessionTiming(*state, {1});
    RegisterSessionStatements(table, SessionServices{installer, machine}, state);
    // The fixture's table has no session statements: they run as the script's own
    // statements through the plug-in hook.
    prepare = [](SetupData& data) {
      data.PluginStatements.push_back("Apply Changes");
      data.PluginStatements.push_back("Apply Patch");
    };
    hooks.PluginStatement = [this](Interpreter& in, std::size_t i) {
      (*table.Find(in.Data().Kinds[i]))(in, i);
    };
    AddSessionHooks(hooks, state);
  }
  void Install(const std::string& result = "RESULT") {
    script.Add("Apply Changes", {"progress", result, "TRUE", "FALSE"});
  }
  const FakeInstaller::Call& LastCall() const { return installer.calls.back(); }

  StatementTable table;
  std::shared_ptr<SessionRunState> state;
};

TEST_F(SessionTest, InstallationRunsOneSessionAndReportsTheOutcome) {
  struct Case {
    std::vector<unsigned> codes;
    std::string result, lastError;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{0}, "COMPLETE", "", 0},
      {{3010}, "REBOOT", "", 3010},
      {{1603}, "ERROR", "Fatal error during installation", 1603},
      // Another installation: tried again until it clears.
      {{1618, 1618, 0}, "COMPLETE", "", 0},
  };
  for (const auto& c : cases) {
    NewScript();
    installer.calls.clear();
    installer.codes = c.codes;
    installer.codeTexts = {{1603, "Fatal error during installation.\r\n"}};
    Install();
    script.Add("Set Variable", {"AFTER", "ran"});
    Run();
    EXPECT_EQ(GetVar("RESULT"), c.result);
    EXPECT_EQ(GetVar("LASTERROR"), c.lastError) << c.result;
    EXPECT_EQ(installer.calls.size(), c.codes.size()) << c.result;
    EXPECT_EQ(ctx.Startup.ExitCode, c.exitCode) << c.result;
    EXPECT_EQ(GetVar("AFTER"), "ran");  // the script goes on
    EXPECT_EQ(GetVar("REBOOTCOMPUTER") == "TRUE", c.result == "REBOOT");
  }
  EXPECT_EQ(LastCall().kind, "install");
  EXPECT_EQ(LastCall().package, kDatabase);
  EXPECT_EQ(LastCall().commandLine.rfind("ADDLOCAL=ALL ALLUSERS=", 0), 0u) << LastCall().commandLine;
  EXPECT_NE(LastCall().commandLine.find("ARPINSTALLLOCATION=\"" + GetVar("TARGETDIR") + "\""), std::string::npos);
  EXPECT_EQ(installer.tempPackageCleanups.back(), kProduct);
  // The package is marked uncompressed and free of elevation before the session.
  EXPECT_EQ(installer.packages[kDatabase].summaryInts[15], 8);
}

TEST_F(SessionTest, PackageFollowsTheSixtyFourBitMode) {
  struct Case {
    const char* mode;
    std::string before, after;
    bool components64;
  };
  const std::vector<Case> cases = {{"x64", "Intel;1033", "x64;1033", true},
                                   {"Win32", "Intel;1033", "Intel;1033", false},
                                   {"ia64", "Intel;1031,1033", "Intel64;1031,1033", true},
                                   {"Win32", "x64;1033", "Intel;1033", false}};
  for (const auto& c : cases) {
    NewScript();
    FakePackage& package = installer.packages[kDatabase];
    package.summary[7] = c.before;
    package.components64 = !c.components64;
    script.Add("Set 64 Bit Mode", {c.mode});
    Install();
    Run();
    EXPECT_EQ(package.summary[7], c.after) << c.mode;
    // Only a changed platform touches the components.
    if (c.before != c.after) EXPECT_EQ(package.components64, c.components64) << c.mode;
    else EXPECT_NE(package.components64, c.components64) << c.mode;
  }
}

TEST_F(SessionTest, ScriptsExitCodeWinsOverTheSessions) {
  installer.codes = {1603};
  Install();
  script.Add("Terminate with Exit Code", {"7"});
  Run();
  EXPECT_EQ(GetVar("RESULT"), "ERROR");
  EXPECT_EQ(terminated.value_or(ctx.Startup.ExitCode), 7);
}

TEST_F(SessionTest, ModesFromTheFlagsAndThePatchBesideTheDatabase) {
  installer.productStates[kProduct] = 5;
  script.Add("Apply Changes", {"progress", "R1", "FALSE", "TRUE"});
  script.Add("Apply Changes", {"progress", "R2", "FALSE", "FALSE"});
  script.Add("Apply Patch", {"$R3$"});
  Run();
  ASSERT_EQ(installer.calls.size(), 3u);
  EXPECT_EQ(installer.calls[0].commandLine.rfind("REMOVE=ALL ", 0), 0u);
  EXPECT_EQ(installer.removalSources.size(), 1u);
  EXPECT_EQ(installer.calls[1].commandLine.rfind("REINSTALL=ALL REINSTALLMODE=vomus ", 0), 0u);
  EXPECT_EQ(installer.calls[2].kind, "patch");
  EXPECT_EQ(installer.calls[2].package, "C:\\Temp\\kem1\\setup.msp");
  EXPECT_EQ(installer.patchSources, (std::vector<std::string>{std::string(kProduct) + "|C:\\App\\data\\"}));
  EXPECT_EQ(GetVar("R3"), "COMPLETE");
}

// An installer that opens the patch as a database (Wine's does) must not get to rewrite
// it: its template lists the products it applies to, not a platform.
TEST_F(SessionTest, ThePatchPackageStaysAsItIs) {
  installer.productStates[kProduct] = 5;
  FakePackage& patch = installer.packages["C:\\Temp\\kem1\\setup.msp"];
  patch.summary[7] = kProduct;
  script.Add("Apply Patch", {"R"});
  Run();
  ASSERT_EQ(installer.calls.size(), 1u);
  EXPECT_EQ(GetVar("R"), "COMPLETE");
  EXPECT_EQ(patch.summary.at(7), kProduct);
  EXPECT_EQ(patch.summaryInts.count(15), 0u);
  EXPECT_EQ(patch.commits, 0);
}

TEST_F(SessionTest, PropertyFileLivesForTheSessionOnlyAndEachSessionCommitsNewRows) {
  std::vector<std::string> filesDuring;
  installer.duringCall = [&] {
    for (const auto& [path, text] : machine.privateFiles) {
      filesDuring.push_back(path);
      // The installer's own properties stay out; the script's values go in, secrets too.
      EXPECT_EQ(text.find("\r\nALLUSERS\r\n"), std::string::npos) << text;
      EXPECT_NE(text.find("\r\nMYPASSWORD\r\nhunter2\r\n"), std::string::npos) << text;
    }
  };
  script.Add("Set Variable", {"MYPASSWORD", "hunter2"});
  Install("R1");
  Install("R2");
  Run();
  EXPECT_EQ(filesDuring.size(), 2u);
  EXPECT_TRUE(machine.privateFiles.empty());
  const auto& props = installer.packages[kDatabase].properties;
  EXPECT_EQ(props.count("VRAXPROPERTYFILE"), 1u);
  EXPECT_EQ(props.at("VRAXPROPERTYFILE"), filesDuring[1]);
  // The second session inserted only the row queued since the first commit.
  const auto& sql = installer.packages[kDatabase].sql;
  std::size_t inserts = 0;
  for (const auto& s : sql)
    if (s.find("INSERT INTO `Property`") == 0 && s.find("VRAXPROPERTYFILE") != std::string::npos) ++inserts;
  EXPECT_EQ(inserts, 2u);
}

TEST_F(SessionTest, MessagesProgressAndTheUsersCancel) {
  installer.messages = {{kMsgProgress, 0, "1: 0 2: 200 3: 0 "},
                        {kMsgActionStart, 0, "Action 1: InstallFiles. Copying new files"},
                        {kMsgProgress, 0, "1: 2 2: 50 "},
                        {kMsgError, 0x1, "The file is locked."}};
  installer.codes = {1603};
  host.answers = {1};
  Install();
  Run();
  ASSERT_FALSE(host.shown.empty());
  EXPECT_NE(host.shown[0].find("Error\r\rThe file is locked."), std::string::npos) << host.shown[0];
  EXPECT_EQ(installer.answers, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(GetVar("VRAX_thProgressText"), "Copying new files");
  EXPECT_EQ(GetVar("VRAX_thProgress"), "50");
  EXPECT_EQ(GetVar("VRAX_thMax"), "200");
  // No system text for the code: the installer's last error, its lone final stop dropped.
  EXPECT_EQ(GetVar("LASTERROR"), "The file is locked");

  // A cancel: every message answers IDCANCEL, and a failed session reads CANCEL.
  NewScript();
  installer.answers.clear();
  installer.messages = {{kMsgProgress, 0, "1: 2 2: 1 "}};
  installer.codes = {1602};
  installer.duringCall = [&] {
    ctx.Vars.Set("VRAX_IsCancelled", "TRUE");
    // The main thread passes the cancel on between its messages.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  };
  Install();
  Run();
  EXPECT_EQ(installer.answers, (std::vector<int>{2}));
  EXPECT_EQ(GetVar("RESULT"), "CANCEL");
  EXPECT_EQ(ctx.Startup.ExitCode, 1602);
}

TEST_F(SessionTest, CancelBeforeTheSessionRunsNothingAndReadsCancel) {
  script.Add("Set Variable", {"VRAX_IsCancelled", "TRUE"});
  Install();
  Run();
  EXPECT_TRUE(installer.calls.empty());
  EXPECT_EQ(GetVar("RESULT"), "CANCEL");
  EXPECT_EQ(ctx.Startup.ExitCode, 1602);
  EXPECT_TRUE(machine.privateFiles.empty());
}

TEST_F(SessionTest, MissingSourcesCancelWithoutASession) {
  host.files.erase(std::string("C:\\App\\data\\") + kProduct);
  script.Add("Set Variable", {"SILENT", "TRUE"});
  script.Add("Set Variable", {"MAINTENANCE", "TRUE"});
  Install();
  Run();
  EXPECT_TRUE(installer.calls.empty());
  EXPECT_EQ(GetVar("RESULT"), "CANCEL");
  EXPECT_EQ(GetVar("LASTERROR"), "Original setup sources required to complete operation, sources not found");
  EXPECT_TRUE(installer.browsePrompts.empty());  // a silent run asks nobody

  // Shown: the user points at a folder whose data subfolder holds the sources.
  NewScript();
  host.files.insert(std::string("E:\\disk\\data\\") + kProduct);
  installer.browseAnswers = {std::string("E:\\disk")};
  script.Add("Set Variable", {"SILENT", "FALSE"});
  script.Add("Set Variable", {"MAINTENANCE", "TRUE"});
  Install();
  Run();
  EXPECT_EQ(installer.browsePrompts.size(), 1u);
  EXPECT_EQ(GetVar("RESULT"), "COMPLETE");
  EXPECT_EQ(GetVar("DATADIR"), "E:\\disk\\data\\");
  EXPECT_NE(LastCall().commandLine.find("SRCDIR=\"E:\\disk\\data\\\""), std::string::npos) << LastCall().commandLine;
}

TEST_F(SessionTest, MissingInstallerEndsTheSessionWithItsText) {
  installer.missing = true;
  Install();
  Run();
  EXPECT_EQ(GetVar("RESULT"), "ERROR");
  EXPECT_EQ(GetVar("LASTERROR"), "Library not found: msi.dll");
  EXPECT_TRUE(machine.privateFiles.empty());
}

TEST_F(SessionTest, TraceLogGetsTheHeaderWithoutSecretsAndTheInstallersLog) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  script.Add("Set Variable", {"DBPASSWORD", "hunter2"});
  Install();
  Run();
  std::string log;
  for (const auto& line : trace.Lines()) log += line + "\n";
  const auto header = log.find(": Applying Changes @");
  ASSERT_NE(header, std::string::npos) << log;
  for (const char* section : {"*** Variables ***", "*** Properties ***", "*** MSI Database ***", "*** GUID ***",
                              "*** Data Directory ***", "*** Media Directory ***", "*** MSI Directory ***"})
    EXPECT_NE(log.find(section, header), std::string::npos) << section;
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
  EXPECT_EQ(installer.logs, (std::vector<std::string>{trace.Path()}));
}

}  // namespace
}  // namespace kem::test
