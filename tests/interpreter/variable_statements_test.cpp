// The variable and string statements.
#include "support/script_fixture.h"

namespace kem::test {
namespace {

class VariableStatementsTest : public ScriptTest {};

TEST_F(VariableStatementsTest, SetVariableExpandsMarksPersistenceAndRefreshesProgress) {
  std::vector<std::pair<std::string, std::int64_t>> progress;
  hooks.Progress.Refresh = [&](const std::string& text, std::int64_t position) {
    EXPECT_TRUE(Engine().WorkerActive);
    progress.emplace_back(text, position);
  };
  script.Add("Set Variable", {"$RESULT$", "$TITLE$ Setup"});
  script.Add("Set Variable", {"keep$VRAX$VRAX$TRUE", "1"});
  script.Add("Set Variable", {"Keep$VRAX$VRAX$TRUE", "2"});
  script.Add("Set Variable", {"NOTKEPT$VRAX$VRAX$true", "3"});
  script.Add("Set Variable", {"PROGRESSTEXT", "Copying"});
  script.Add("Set Variable", {"progress", "40"});
  script.Add("Localization Variable", {"$GREETING$", "Hello $RESULT$"});
  Run();
  EXPECT_EQ(GetVar("RESULT"), "Test Product Setup");
  EXPECT_EQ(GetVar("KEEP"), "2");
  EXPECT_EQ(GetVar("NOTKEPT"), "3");
  EXPECT_EQ(Engine().SavedVariables, (std::vector<std::string>{"keep"}));
  EXPECT_EQ(progress, (std::vector<std::pair<std::string, std::int64_t>>{{"Copying", 0}, {"Copying", 40}}));
  EXPECT_FALSE(Engine().WorkerActive);
  EXPECT_EQ(GetVar("GREETING"), "Hello Test Product Setup");
}

TEST_F(VariableStatementsTest, StringStatementsOnTheirExamples) {
  script.Add("Set Variable", {"P", "C:\\dir\\sub\\file.txt"});
  for (int code = 0; code <= 6; ++code) {
    std::string v = "P" + std::to_string(code);
    script.Add("Set Variable", {v, "$P$"});
    script.Add("Extract Path", {v, std::to_string(code)});
  }
  script.Add("Set Variable", {"TWO", "one$NEWLINE$two"});
  script.Add("Replace String", {"TWO", "ONE", "1", "TRUE", "FALSE"});
  script.Add("Set Variable", {"R", "a-b-A-b"});
  script.Add("Replace String", {"R", "a", "x", "TRUE", "TRUE"});
  script.Add("Set Variable", {"C", "MiXeD"});
  script.Add("Convert Case", {"C", "FALSE"});
  script.Add("Mathematics", {"-7", "2", "4", "REM"});
  script.Add("Mathematics", {"65", "", "12", "CHR"});
  script.Add("Set Variable", {"A", "10"});
  script.Add("Evaluate Expression", {"$A$ > \"9\" and \"x\" = \"x\"", "E"});
  Run();
  ASSERT_FALSE(terminated);
  const std::vector<std::pair<const char*, std::string>> expected = {
      {"P0", "file.txt"}, {"P1", "file"}, {"P2", "txt"}, {"P3", "C:\\dir\\sub\\"}, {"P4", "C:\\dir\\"},
      {"P5", "C:\\"},     {"P6", "C:\\dir\\sub\\file.txt"},
      {"TWO", "1$NEWLINE$two"}, {"R", "x-b-x-b"}, {"C", "mixed"},
      {"REM", "-1"},    {"CHR", "A"}, {"E", "TRUE"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(GetVar(name), value) << name;
}

TEST_F(VariableStatementsTest, TheGeneratorOfMathematicsBelongsToTheRunsContext) {
  script.Add("Mathematics", {"1", "5", "13", "S"});  // multiplier 1, increment 5
  script.Add("Mathematics", {"7", "", "14", "S"});   // state 7
  script.Add("Mathematics", {"1000", "", "15", "R"});
  Run();
  EXPECT_EQ(GetVar("R"), "12");
  // A second run in the same process, with a context of its own, starts unseeded.
  struct SecondRun : ScriptTest {
    void TestBody() override {}
  } second;
  second.SetUp();
  second.script.Add("Mathematics", {"1000", "", "15", "R"});
  second.Run();
  EXPECT_EQ(second.GetVar("R"), "0");
}

TEST_F(VariableStatementsTest, ParseStringModes) {
  struct Case {
    const char* source;
    const char* separator;
    int mode;
    bool trim, ignoreCase;
    const char* first;
    const char* second;
  };
  const std::vector<Case> cases = {
      {"key=value", "=", 0, false, false, "key", "value"},
      {"no separator", ";", 0, false, false, "no separator", ""},
      {"no separator", ";", 1, false, false, "", "no separator"},
      {"a.b.c", ".", 1, false, false, "a.b", "c"},
      {"abcdef", "3", 2, false, false, "abc", "def"},
      {"abcdef", "0", 2, false, false, "", "abcdef"},
      {"abcdef", "2", 3, false, false, "abcd", "ef"},
      {"abcdef", "6", 3, false, false, "", ""},
      {"abcdef", "x", 2, false, false, "", ""},
      {"abcdef", "", 7, false, false, "", ""},
      {"Name IS Value", " is ", 0, false, true, "Name", "Value"},
      {"Name IS Value", " is ", 0, false, false, "Name IS Value", ""},
      {" a , b ", ",", 0, true, false, "a", "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " / " + c.separator + " / " + std::to_string(c.mode));
    auto [first, second] = ParseText(Latin1Rules(), c.source, c.separator, c.mode, c.trim, c.ignoreCase);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
  }
  // Through the statement: optional variables, created upper-cased.
  script.Add("Parse String", {"left|right", "|", "first", "", "0", "FALSE", "FALSE"});
  Run();
  EXPECT_EQ(GetVar("FIRST"), "left");
}

TEST_F(VariableStatementsTest, EnvironmentTemporaryFileAndPathsUnderThe64BitMode) {
  host.environment = {{"A", "1"}, {"PATH", "C:\\bin"}};
  host.shortNames["C:\\Program Files\\App"] = "C:\\PROGRA~1\\App";
  host.storedNames["C:\\program files"] = "Program Files";
  host.storedNames["C:\\program files\\app"] = "App";
  script.Add("Set 64 Bit Mode", {"x64"});
  script.Add("Get Environment", {"PATH", "$ENVPATH$"});
  script.Add("Get Environment", {"UNDEFINED", "UNDEF"});
  script.Add("Get Environment", {"", "ALL"});
  script.Add("Get Temporary File", {"tmp"});
  script.Add("Set Variable", {"S", "C:\\Program Files\\\\App"});
  script.Add("Convert Path", {"S", "TRUE"});
  script.Add("Set Variable", {"L", "\"C:\\program files\\app\\\""});
  script.Add("Convert Path", {"L", "FALSE"});
  script.Add("Set Variable", {"MISSING", "C:\\nowhere\\x"});
  script.Add("Convert Path", {"MISSING", "TRUE"});
  Run();
  EXPECT_EQ(GetVar("ENVPATH"), "C:\\bin");
  EXPECT_EQ(GetVar("UNDEF"), "%UNDEFINED%");
  EXPECT_EQ(GetVar("ALL"), "A=1$NEWLINE$PATH=C:\\bin");
  EXPECT_EQ(GetVar("TMP"), "C:\\Temp\\kem1.tmp");
  EXPECT_EQ(GetVar("S"), "C:\\PROGRA~1\\App");
  EXPECT_EQ(GetVar("L"), "C:\\Program Files\\App");
  EXPECT_EQ(GetVar("MISSING"), "C:\\nowhere\\x");
  // Redirection off and back on around each of the seven file-system statements.
  std::vector<bool> expected;
  for (int i = 0; i < 7; ++i) expected.insert(expected.end(), {true, false});
  EXPECT_EQ(host.redirection, expected);

  // In the 32-bit mode nothing is switched.
  NewScript();
  host.redirection.clear();
  script.Add("Get Environment", {"PATH", "E"});
  Run();
  EXPECT_TRUE(host.redirection.empty());
}

TEST_F(VariableStatementsTest, CommandLineProtectsResultsOfEveryStatementInSilentMode) {
  Startup().SilentMode = true;
  Startup().CommandLineAssignments = {"OUT", "fixed"};
  script.Add("Set Variable", {"OUT", "script"});
  script.Add("Mathematics", {"1", "2", "0", "OUT"});
  script.Add("Localization Variable", {"OUT", "loc"});
  Run();
  EXPECT_EQ(GetVar("OUT"), "fixed");
}

}  // namespace
}  // namespace kem::test
