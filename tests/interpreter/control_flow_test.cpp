// Control flow of the interpreter over scripts built in memory.
#include <functional>

#include "support/script_fixture.h"

namespace kem::test {
namespace {

using Marks = std::vector<std::string>;

class ControlFlowTest : public ScriptTest {};

struct FlowCase {
  const char* name;
  std::function<void(ControlFlowTest&)> build;
  Marks expected;
};

TEST_F(ControlFlowTest, RunsExactlyTheStatementsTheBlocksSelect) {
  const std::vector<FlowCase> cases = {
      {"last statement commented out", [](auto& t) { t.Mark("a"); t.Mark("b", true); }, {"a"}},
      {"Ignore and unknown names do nothing",
       [](auto& t) {
         t.script.Add("Ignore", {"whatever"});
         t.script.Add("Frobnicate", {"x"});
         t.script.Add("Code Folding Region");
         t.Mark("a");
       },
       {"a"}},
      {"false If without Else, nested and commented-out If/End inside",
       [](auto& t) {
         t.If("F");
         t.Mark("x");
         t.If("T", true);
         t.If("T");
         t.Mark("y");
         t.script.Add("Else");
         t.Mark("y2");
         t.End();
         t.End(true);
         t.End();
         t.Mark("after");
       },
       {"after"}},
      {"chain at the start: If true", [](auto& t) {
         t.If("T"); t.Mark("if"); t.ElseIf("T"); t.Mark("elseif"); t.Else(); t.Mark("else"); t.End(); t.Mark("after");
       }, {"if", "after"}},
      {"chain at the start: Else If true", [](auto& t) {
         t.If("F"); t.Mark("if"); t.ElseIf("T"); t.Mark("elseif"); t.Else(); t.Mark("else"); t.End(); t.Mark("after");
       }, {"elseif", "after"}},
      {"chain at the start: Else", [](auto& t) {
         t.If("F"); t.Mark("if"); t.ElseIf("F"); t.Mark("elseif"); t.Else(); t.Mark("else"); t.End(); t.Mark("after");
       }, {"else", "after"}},
      {"second Else If of a chain", [](auto& t) {
         t.If("F"); t.Mark("a"); t.ElseIf("F"); t.Mark("b"); t.ElseIf("T"); t.Mark("c"); t.ElseIf("T"); t.Mark("d");
         t.End();
       }, {"c"}},
      // Scripts on which a single depth counter runs the wrong branches.
      {"Else If evaluated inside two executed If blocks", [](auto& t) {
         t.If("T"); t.If("T");
         t.If("F"); t.Mark("a"); t.ElseIf("T"); t.Mark("b"); t.End();
         t.End(); t.End();
       }, {"b"}},
      {"after a failed If with End, a chain still runs one branch", [](auto& t) {
         t.If("F"); t.Mark("a"); t.End();
         t.If("T"); t.Mark("b"); t.ElseIf("T"); t.Mark("c"); t.Else(); t.Mark("d"); t.End();
       }, {"b"}},
      {"after If/Else If/Else, a chain still runs one branch", [](auto& t) {
         t.If("F"); t.Mark("a"); t.ElseIf("T"); t.Mark("b"); t.Else(); t.Mark("c"); t.End();
         t.If("T"); t.Mark("d"); t.ElseIf("T"); t.Mark("e"); t.End();
       }, {"b", "d"}},
      {"executed nested Else then the outer Else", [](auto& t) {
         t.If("T"); t.If("F"); t.Mark("a"); t.Else(); t.Mark("b"); t.End(); t.Else(); t.Mark("c"); t.End();
         t.Mark("after");
       }, {"b", "after"}},
      {"skipped branch holds a whole chain", [](auto& t) {
         t.If("F");
         t.If("T"); t.Mark("a"); t.ElseIf("T"); t.Mark("b"); t.Else(); t.Mark("c"); t.End();
         t.ElseIf("T"); t.Mark("d"); t.End();
       }, {"d"}},
      {"If false as the last block, nothing follows", [](auto& t) { t.If("F"); t.Mark("a"); t.End(); }, {}},
      {"a failed If with no End after it ends the script",
       [](auto& t) { t.End(); t.If("F"); t.Mark("a"); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NewScript();
    c.build(*this);
    Run();
    EXPECT_FALSE(terminated);
    EXPECT_EQ(marks, c.expected);
    EXPECT_TRUE(host.boxes.empty());
  }
}

TEST_F(ControlFlowTest, GoToLabelLeavesNestedBlocksAndResetsTheirState) {
  script.Add("Set Variable", {"N", "0"});
  script.Add("Label", {"Top"});
  script.Add("Mathematics", {"$N$", "1", "0", "N"});
  If("T");
  script.Add("If", {"N", "0", "1", "FALSE"});
  Mark("inside");
  script.Add("GoTo Label", {"top"});
  End();
  End();
  // A chain after the jump still runs exactly one branch.
  If("F");
  Mark("no");
  ElseIf("T");
  Mark("after");
  End();
  Run();
  EXPECT_EQ(marks, (Marks{"inside", "after"}));
  EXPECT_EQ(GetVar("N"), "2");
  EXPECT_EQ(control.openChains, 0u);
}

TEST_F(ControlFlowTest, GoToNumericLabelFindsTheLabelNotAStatementIndex) {
  // The label named 7 must win over the label that stands at statement index 7.
  script.Add("GoTo Label", {"7"});         // 2
  Mark("skipped3");                        // 3
  Mark("skipped4");                        // 4
  Mark("skipped5");                        // 5
  Mark("skipped6");                        // 6
  script.Add("Label", {"other"});          // 7
  Mark("wrong");                           // 8
  script.Add("GoTo Label", {"END"});       // 9
  script.Add("Label", {"7"});              // 10
  Mark("right");                           // 11
  script.Add("GoTo Label", {"end"});       // 12
  Mark("unreached");                       // 13
  script.Add("Label", {"End"});            // 14
  Run();
  EXPECT_EQ(marks, (Marks{"right"}));
}

struct WizardCase {
  const char* name;
  std::vector<std::uintptr_t> results;
  std::vector<std::string> shown;  // dialog names in the order shown
  std::string wizard;
};

TEST_F(ControlFlowTest, WizardLoopMovesWithNextBackAndCancel) {
  const std::vector<WizardCase> cases = {
      {"Next through all pages", {6, 6, 6}, {"d1", "d2", "d3"}, "NEXT"},
      {"Next, Next, Back, Next, Next", {6, 6, 7, 6, 6}, {"d1", "d2", "d3", "d2", "d3"}, "NEXT"},
      {"Back on the first page", {7}, {"d1"}, "BACK"},
      {"Back twice from the second page", {6, 7, 7}, {"d1", "d2", "d1"}, "BACK"},
      {"Cancel on the second page", {6, 2}, {"d1", "d2"}, "CANCEL"},
      {"Cancel on the last page", {6, 6, 2}, {"d1", "d2", "d3"}, "CANCEL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NewScript();
    std::map<std::string, std::string> names;
    script.Add("Wizard Loop");
    names[Key(Dialog("d1"))] = "d1";
    script.Add("Comment", {"between"});
    script.Add("Set Variable", {"X", "1"}, true);
    names[Key(Dialog("d2"))] = "d2";
    script.Add("Ignore");
    names[Key(Dialog("d3"))] = "d3";
    End();
    Mark("after");
    dialogResults.assign(c.results.begin(), c.results.end());
    Run();
    std::vector<std::string> shown;
    for (const auto& k : shownDialogs) shown.push_back(names[k]);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(GetVar("WIZARD"), c.wizard);
    EXPECT_EQ(marks, (Marks{"after"}));
    EXPECT_FALSE(control.inWizardLoop);
  }
}

TEST_F(ControlFlowTest, WizardLoopPassesOverSkippedPagesBothWays) {
  script.Add("Set Variable", {"SKIPIT", "TRUE"});
  script.Add("Wizard Loop");
  std::string d1 = Key(Dialog("d1"));
  Dialog("d2", "$SKIPIT$", "TRUE");
  std::string d3 = Key(Dialog("d3"));
  End();
  If("T");
  Mark("after");
  End();
  dialogResults = {6, 7, 6, 6};
  Run();
  EXPECT_EQ(shownDialogs, (std::vector<std::string>{d1, d3, d1, d3}));
  EXPECT_EQ(marks, (Marks{"after"}));
  EXPECT_EQ(control.openChains, 0u);
}

TEST_F(ControlFlowTest, SilentWizardLoopRunsStraightThrough) {
  script.Add("Wizard Loop");
  Dialog("d1");
  Dialog("d2");
  End();
  Mark("after");
  Run();  // no scripted results: every display answers "NEXT"
  EXPECT_EQ(shownDialogs.size(), 2u);
  EXPECT_EQ(GetVar("WIZARD"), "NEXT");
  EXPECT_EQ(marks, (Marks{"after"}));
}

TEST_F(ControlFlowTest, NonModalDisplayAndHideDialogKeepWindowHandle) {
  script.Add("Display Dialog", {"progress", "RES", "FALSE", "", "TRUE", ""});
  Mark("shown");
  script.Add("Hide Dialog");
  Run();
  EXPECT_EQ(GetVar("RES"), "NOTMODAL");
  EXPECT_EQ(GetVar("WINDOWHANDLE"), "0");
  EXPECT_EQ(marks, (Marks{"shown"}));
}

}  // namespace
}  // namespace kem::test
