// Plug-in statements run by the real engine under Wine with the test plug-in: the store
// goes in and comes back, parameter 1 arrives as written, each statement calls the
// plug-in twice, and whatever goes wrong inside the plug-in (a failure, a fault, an absurd
// length, a write beyond the buffer) leaves the store as it was and the setup running.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\plugins";

std::string& TestPlugin() {
  static std::string path;
  return path;
}

class PluginE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ParseEngineFilesFromTestArguments();
    std::vector<std::string> args = ::testing::internal::GetArgvs();
    if (args.size() > 4) TestPlugin() = WindowsPath(args[4]);
  }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    ASSERT_FALSE(TestPlugin().empty()) << "no test plug-in given";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(dir_);
    RemoveTree(temp_);
    MakeFolder(temp_);
  }
  // A statement of the plug-in, which the setup carries in data\PLUG\.
  void Plugin(const std::string& commands) {
    script_.Add("Test Plugin", {commands, "test_plugin.dll"});
  }
  RunResult RunSetup(const std::string& args = "/s") {
    SetupData& d = script_.Data();
    d.PluginStatements.push_back("Test Plugin");
    d.StatementMedia.Clear();
    for (std::size_t i = 0; i < d.StatementNames.Count(); ++i)
      d.StatementMedia.Add(d.StatementNames[i] == "Test Plugin" ? "PLUG\\" : "");
    std::string exe = ComposeSetup(dir_, "setup", d);
    MakeFolder(dir_ + "\\data");
    MakeFolder(dir_ + "\\data\\PLUG");
    EXPECT_TRUE(CopyFileA(TestPlugin().c_str(), (dir_ + "\\data\\PLUG\\test_plugin.dll").c_str(), FALSE));
    return RunEngine(exe, args + " /l=" + TracePath(), 60000, temp_);
  }
  std::string TracePath() const { return temp_ + "\\trace.log"; }
  std::string File(const std::string& name) const { return temp_ + "\\" + name; }

  ScriptBuilder script_;
  std::string name_, dir_, temp_;
};

TEST_F(PluginE2E, VariablesGoInAndComeBackAndTheParameterIsNotExpanded) {
  script_.Add("Set Variable", {"GONE", "soon"});
  script_.Add("Set Variable", {"TRICKY", "a, \"b\" c"});
  Plugin("set:NEW=v a,l;delete:GONE;count:" + File("calls.txt"));
  Plugin("dump:" + File("seen.txt") + ";note:$TRICKY$;count:" + File("calls.txt"));
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  Plugin("set:CODE=57");  // never reached: the exit comes first
  RunResult r = RunSetup();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(ReadFileBytes(File("calls.txt")), "first\r\nsecond\r\nfirst\r\nsecond\r\n");
  const std::string seen = ReadFileBytes(File("seen.txt"));
  EXPECT_EQ(seen.rfind("dump:" + File("seen.txt") + ";note:$TRICKY$;count:", 0), 0u) << seen;
  EXPECT_NE(seen.find("NEW,\"v a,l\""), std::string::npos) << seen;
  EXPECT_NE(seen.find("TRICKY,\"a, \"\"b\"\" c\""), std::string::npos) << seen;
  EXPECT_EQ(seen.find("GONE"), std::string::npos) << seen;
  EXPECT_NE(ReadTraceLog(TracePath()).find("test_plugin.dll: "), std::string::npos);
}

TEST_F(PluginE2E, WhatGoesWrongInsideThePluginKeepsTheStore) {
  script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script_.Add("Set Variable", {"KEEP", "kept"});
  for (const char* failing : {"set:A=1;fail", "set:B=1;crash", "set:C=1;huge", "set:D=1;overrun", "set:E=1;zero"})
    Plugin(failing);
  Plugin("dump:" + File("seen.txt") + ";set:CODE=61");
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  RunResult r = RunSetup();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 61u);
  const std::string seen = ReadFileBytes(File("seen.txt"));
  EXPECT_NE(seen.find("KEEP,kept"), std::string::npos) << seen;
  for (const char* name : {"\nA,", ",A,1", ",B,1", ",C,1", ",D,1", ",E,1"})
    EXPECT_EQ(seen.find(name), std::string::npos) << name << " in " << seen;
  const std::string trace = ReadTraceLog(TracePath());
  for (const char* why : {"the plug-in reported a failure", "fault 0xC0000005 in the first call",
                          "result length 2147483647 refused", "in the second call"})
    EXPECT_NE(trace.find(why), std::string::npos) << why << "\n" << trace;
}

// A plug-in that writes into the texts it was handed, within them and beyond their ends,
// changes neither the store nor the next call's texts; one that writes far beyond them
// faults and fails like any other fault.
TEST_F(PluginE2E, WritesIntoTheHandedTextsStayInThePluginsCopies) {
  script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script_.Add("Set Variable", {"KEEP", "kept"});
  Plugin("set:A=1;scribble;count:" + File("calls.txt"));
  Plugin("set:B=1;scribble-far");
  Plugin("dump:" + File("seen.txt") + ";set:CODE=63");
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  RunResult r = RunSetup();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 63u);
  // The second call of the scribbling statement still read its commands.
  EXPECT_EQ(ReadFileBytes(File("calls.txt")), "first\r\nsecond\r\n");
  const std::string seen = ReadFileBytes(File("seen.txt"));
  EXPECT_NE(seen.find("KEEP,kept"), std::string::npos) << seen;
  EXPECT_NE(seen.find("A,1"), std::string::npos) << seen;
  EXPECT_EQ(seen.find(",B,1"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("ZZZZ"), std::string::npos) << seen;
  EXPECT_NE(ReadTraceLog(TracePath()).find("fault 0xC0000005 in the first call"), std::string::npos);
}

// A silent run's plug-in that never answers is given VRAX_PLUGIN_TIMEOUT seconds, then the
// run goes on as after a cancel.
TEST_F(PluginE2E, ASilentRunGoesOnPastAPluginThatNeverAnswers) {
  script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script_.Add("Set Variable", {"VRAX_PLUGIN_TIMEOUT", "2"});
  Plugin("set:HUNG=1;hang");
  script_.Add("Terminate with Exit Code", {"64"});
  const DWORD started = GetTickCount();
  RunResult r = RunSetup();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 64u);
  EXPECT_LT(GetTickCount() - started, 40000u);
  const std::string trace = ReadTraceLog(TracePath());
  EXPECT_NE(trace.find("no answer within 2 s"), std::string::npos) << trace;
}

TEST_F(PluginE2E, AnEmptyResultFailsTheStatementWhenAbortOnErrorAndAMissingLibraryIsSkipped) {
  script_.Add("Test Plugin", {"set:CODE=1", "absent.dll"});  // no such library: skipped
  script_.Add("Set Variable", {"CODE", "62"});
  Plugin("zero");
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  RunResult r = RunSetup();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 1603u);
  const std::string trace = ReadTraceLog(TracePath());
  EXPECT_NE(trace.find("Plug-in library not found: " + dir_ + "\\data\\PLUG\\absent.dll"), std::string::npos) << trace;
  EXPECT_NE(trace.find("General setup failure"), std::string::npos) << trace;
}

}  // namespace
}  // namespace kem::test
