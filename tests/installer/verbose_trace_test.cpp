// The verbose trace: "/lv=" on the command line, and a trace line per statement that ran
// with the variable it wrote; secret values masked, failures traced once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/verbose_trace.h"
#include "support/script_fixture.h"
#include "launcher/command_line.h"

namespace kem::test {
namespace {

TEST(VerboseTraceSwitch, NamesTheLogWithoutTakingThePlainSwitchesPlace) {
  auto r = ParseArguments({"/LV=C:\\Logs\\Verbose.log", "X=1"});
  EXPECT_EQ(r.VerboseTracePath, "c:\\logs\\verbose.log");
  EXPECT_EQ(r.TraceLogPath, "");
  EXPECT_EQ(r.Assignments, (std::vector<std::string>{"X", "1"}));
  r = ParseArguments({"/l=plain.log", "/lv=verbose.log"});
  EXPECT_EQ(r.TraceLogPath, "plain.log");
  EXPECT_EQ(r.VerboseTracePath, "verbose.log");
}

class VerboseTraceTest : public ScriptTest {};

TEST_F(VerboseTraceTest, OneLinePerStatementWithTheResultAndNoSecrets) {
  TraceFile trace;
  SetTraceLogPath(trace.Path());
  AddVerboseTraceHooks(hooks);
  prepare = [](SetupData& data) {
    data.SourceMap = HashedStringList(std::vector<std::string>(data.StatementCount(), "setup.kems*7"));
  };
  script.Add("Set Variable", {"GREETING", "hello"});
  script.Add("Set Variable", {"DBPASSWORD", "hunter2"});
  script.Add("Set Variable", {"KEPT$VRAX$VRAX$TRUE", "kept"});
  script.Add("Mathematics", {"1", "2", "0", "SUM"});
  Run();
  std::string log;
  for (const auto& line : trace.Lines()) log += line + "\n";
  EXPECT_NE(log.find("setup.kems:7 Statement 2 Set Variable | GREETING = hello\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Statement 3 Set Variable | DBPASSWORD = ********\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Statement 4 Set Variable | KEPT = kept\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Statement 5 Mathematics | SUM = 3\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
}

}  // namespace
}  // namespace kem::test
