// The component statements over scripts: each case runs a script after the prelude and
// reads back variables and tables.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "components/components.h"
#include "components/instance_data.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

struct Stmt {
  std::string name;
  std::vector<std::string> params;
};

struct ScriptCase {
  const char* title;
  std::vector<Stmt> script;
  std::map<std::string, std::string> expected;  // variable -> value
};

class ComponentScriptTest : public ScriptTest {
 protected:
  void RunStatements(const std::vector<Stmt>& stmts) {
    for (const auto& s : stmts) script.Add(s.name, s.params);
    Run();
  }
  const ComponentTables& Tables() const { return ctx.State.Components; }
};

TEST_F(ComponentScriptTest, StatementsOverATableOfScripts) {
  const std::vector<ScriptCase> cases = {
      {"defined and selected",
       {{"Define Component", {"SetupTest", "TRUE", "Description for SetupTest"}},
        {"Get Component State", {"SetupTest", "SELECTED"}}},
       {{"SELECTED", "TRUE"}}},
      {"names compare without regard to case; state false",
       {{"Define Component", {"Docs", "false", ""}}, {"Get Component State", {"DOCS", "R"}}},
       {{"R", "FALSE"}}},
      {"unknown component answers FALSE and 0",
       {{"Get Component State", {"Nope", "R"}}, {"Get Component Space", {"Nope", "S"}},
        {"Set Component State", {"Nope", "TRUE"}}, {"Get Component State", {"Nope", "R2"}}},
       {{"R", "FALSE"}, {"S", "0"}, {"R2", "FALSE"}}},
      {"redefining keeps the user's choice",
       {{"Define Component", {"App", "TRUE", "a"}}, {"Set Component State", {"App", "FALSE"}},
        {"Define Component", {"App", "TRUE", "b"}}, {"Get Component State", {"App", "R"}}},
       {{"R", "FALSE"}}},
      {"a deleted component is not selected and comes back when defined again",
       {{"Define Component", {"App", "TRUE", ""}}, {"Delete Component", {"App"}},
        {"Get Component State", {"App", "R1"}}, {"Define Component", {"App", "FALSE", ""}},
        {"Get Component State", {"App", "R2"}}},
       {{"R1", "FALSE"}, {"R2", "TRUE"}}},
      {"state of a parent leaves its children alone",
       {{"Define Component", {"Main", "TRUE", ""}}, {"Define Component", {"Main\\Docs", "TRUE", ""}},
        {"Set Component State", {"Main", "FALSE"}}, {"Get Component State", {"Main\\Docs", "R"}}},
       {{"R", "TRUE"}}},
      {"sizes: set, read, a non-integer size does nothing",
       {{"Define Component", {"App", "TRUE", ""}}, {"Set Component Space", {"App", "$SZ$"}},
        {"Get Component Space", {"App", "S1"}}, {"Set Component Space", {"App", "12x"}},
        {"Get Component Space", {"App", "S2"}}, {"Set Component Space", {"Ghost", "99"}},
        {"Get Component Space", {"Ghost", "S3"}}},
       {{"S1", "5000"}, {"S2", "5000"}, {"S3", "0"}}},
      {"required space counts selected, not deleted components, the predefined one included",
       {{"Define Component", {"A", "TRUE", ""}}, {"Define Component", {"B", "TRUE", ""}},
        {"Define Component", {"C", "FALSE", ""}}, {"Set Component Space", {"A", "100"}},
        {"Set Component Space", {"B", "20"}}, {"Set Component Space", {"C", "3"}},
        {"Delete Component", {"B"}}, {"Get Component Space", {"", "REQ"}}},
       {{"REQ", "1100"}}},
      {"names are expanded",
       {{"Set Variable", {"WHICH", "Main"}}, {"Define Component", {"$WHICH$", "TRUE", "d"}},
        {"Get Component State", {"Main", "R"}}},
       {{"R", "TRUE"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    script.Add("Set Variable", {"SZ", "5000"});
    script.Data().ComponentSizes = {"VRAX-PREDEF-COMPONENT", "1000"};
    ctx.State.Components = {};
    RunStatements(c.script);
    ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
    for (const auto& [var, value] : c.expected) EXPECT_EQ(GetVar(var), value) << var;
  }
}

TEST_F(ComponentScriptTest, ChoiceAndVisibilityListsAddOnceAndRemoveTheFirstEntry) {
  RunStatements({{"Define Component", {"Main", "TRUE", ""}},
                 {"Set Component Choice", {"Main", "FALSE"}},
                 {"Set Component Choice", {"MAIN", "FALSE"}},
                 {"Set Component Choice", {"Unknown", "FALSE"}},
                 {"Set Component Visibility", {"Main", "FALSE"}},
                 {"Set Component Visibility", {"Main", "FALSE"}},
                 {"Set Component Visibility", {"Main", "TRUE"}},
                 {"Set Component Choice", {"Unknown", "TRUE"}}});
  EXPECT_EQ(Tables().Fixed, (StringList{"Main"}));
  EXPECT_TRUE(Tables().Hidden.empty());
}

TEST_F(ComponentScriptTest, FirstInstallStartsWithTheSelectedPredefinedComponentOnly) {
  script.Data().ComponentSizes = {"VRAX-PREDEF-COMPONENT", "4096", "App", "10"};
  RunStatements({{"Get Component Space", {"", "REQ"}}});
  EXPECT_EQ(Tables().Names, (StringList{"VRAX-PREDEF-COMPONENT"}));
  EXPECT_EQ(Tables().States, (StringList{"TRUE"}));
  EXPECT_EQ(GetVar("REQ"), "4096");
}

TEST_F(ComponentScriptTest, TranslatedNameTakesTheSizeOfTheNameAsWritten) {
  script.Data().ComponentSizes = {"Docs", "700"};
  phases->OnPrepareRun = [](Interpreter& in) { in.Vars().SetVar("LANGUAGE", "German", "test"); };
  ctx.SetTranslator([](std::string_view text, std::string_view, int k) {
    if (k == 1 && text == "Docs") return std::string("Dokumente");
    return std::string(text);
  });
  RunStatements({{"Define Component", {"Docs", "TRUE", ""}}, {"Get Component Space", {"Dokumente", "S"}}});
  EXPECT_EQ(GetVar("S"), "700");
  EXPECT_EQ(Tables().Names.back(), "Dokumente");
}

TEST_F(ComponentScriptTest, FeatureSelectionsSaveAndMergeIntoALaterRun) {
  RunStatements({{"Define Component", {"Main", "TRUE", ""}},
                 {"Define Component", {"Extra", "TRUE", ""}},
                 {"Set Component State", {"Extra", "FALSE"}},
                 {"Set Component Visibility", {"Main", "FALSE"}},
                 {"Set Variable", {"TARGETDIR", "D:\\Chosen\\"}},
                 {"Save Feature Selections", {"C:\\sel.dat"}}});
  ASSERT_TRUE(machine.files.contains("C:\\sel.dat"));
  const std::string saved = machine.files["C:\\sel.dat"];
  EXPECT_NE(saved.find("D:\\Chosen\\\r\n"), std::string::npos);

  // A second run defines the same components selected and loads the file.
  NewScript();
  ctx.State.Components = {};
  RunStatements({{"Define Component", {"Main", "TRUE", ""}},
                 {"Define Component", {"EXTRA", "TRUE", ""}},
                 {"Load Feature Selections", {"C:\\sel.dat"}},
                 {"Load Feature Selections", {"C:\\missing.dat"}},
                 {"Get Component State", {"Extra", "E"}}});
  EXPECT_EQ(GetVar("E"), "FALSE");
  EXPECT_EQ(Tables().Hidden, (StringList{"Main"}));
  EXPECT_EQ(GetVar("TARGETDIR"), "D:\\Chosen\\");
}

TEST_F(ComponentScriptTest, FeatureSelectionFilesFollowTheRedirectionSwitch) {
  standIn64BitMode = false;
  RunStatements({{"Set 64 Bit Mode", {"FALSE", "FALSE", "TRUE"}}, {"Save Feature Selections", {"C:\\s.dat"}}});
  EXPECT_EQ(host.redirection, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace kem::test
