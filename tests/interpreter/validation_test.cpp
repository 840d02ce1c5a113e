// The validation pass over scripts built in memory.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "engine/engine_context.h"
#include "script/validation/script_validation.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

struct ValidationCase {
  const char* name;
  std::function<void(ScriptBuilder&)> build;
  std::optional<std::size_t> index;  // nullopt: the script passes
  std::string message;
};

void Wizard(ScriptBuilder& s) {
  s.Add("Wizard Loop");
  s.Add("Display Dialog", {"welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  s.Add("Comment", {"note"});
  s.Add("Set Variable", {"X", "1"}, true);
  s.Add("Display Dialog", {"finish", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
}

TEST(ValidationTest, ReportsTheFirstProblemWithItsStatementAndMessage) {
  const std::vector<ValidationCase> cases = {
      {"empty script", [](auto&) {}, std::nullopt, ""},
      {"End before any If makes a later Label nested",
       [](auto& s) { s.Add("End"); s.Add("Label", {"x"}); s.Add("If", {"TITLE", "0", "a"}); },
       1, "LABEL statements cannot be nested inside loops/conditionals"},
      {"Label inside an If", [](auto& s) { s.Add("If", {"TITLE", "0", "a"}); s.Add("Label", {"x"}); s.Add("End"); },
       1, "LABEL statements cannot be nested inside loops/conditionals"},
      {"commented-out If without End passes",
       [](auto& s) { s.Add("If", {"TITLE", "0", "a"}, true); s.Add("Set Variable", {"A", "1"}); }, std::nullopt, ""},
      {"missing End", [](auto& s) { s.Add("Wizard Loop"); s.Add("If", {"TITLE", "0", "a"}); s.Add("End"); },
       kScriptAsAWhole, "Insufficient END statements"},
      {"extra End", [](auto& s) { s.Add("If", {"TITLE", "0", "a"}); s.Add("End"); s.Add("End"); },
       kScriptAsAWhole, "Too many END statements"},
      {"commented-out duplicate Label", [](auto& s) { s.Add("Label", {"here"}); s.Add("Label", {"HERE"}, true); },
       1, "LABEL re-defined: HERE"},
      {"GoTo a label defined later passes",
       [](auto& s) { s.Add("GoTo Label", {"later"}); s.Add("Label", {"Later"}); }, std::nullopt, ""},
      {"GoTo an undefined label", [](auto& s) { s.Add("Label", {"a"}); s.Add("GoTo Label", {"nowhere"}); },
       1, "LABEL undefined: nowhere"},
      {"If on a variable set only later",
       [](auto& s) { s.Add("If", {"$X$", "0", "1"}); s.Add("End"); s.Add("Set Variable", {"X", "1"}); },
       0, "Variable not defined: $X$"},
      {"If on a variable set later but persistent",
       [](auto& s) {
         s.Add("If", {"$X$", "0", "1"}); s.Add("End"); s.Add("Set Variable", {"X$VRAX$VRAX$TRUE", "1"}, true);
       },
       std::nullopt, ""},
      {"If with a plain right-hand text", [](auto& s) { s.Add("If", {"TITLE", "0", "abc"}); s.Add("End"); },
       std::nullopt, ""},
      {"If with an undefined right-hand reference reports it last",
       [](auto& s) { s.Add("If", {"$NOPE$", "0", "$Y$"}); s.Add("End"); }, 0, "Variable not defined: $Y$"},
      {"Else If without a variable", [](auto& s) {
         s.Add("If", {"TITLE", "0", "a"}); s.Add("Else If", {"", "0", "a"}); s.Add("End");
       }, 1, "Variable required"},
      {"Evaluate Expression with references", [](auto& s) { s.Add("Evaluate Expression", {"$A$ = \"1\"", "R"}); },
       std::nullopt, ""},
      {"Evaluate Expression with a bad connective",
       [](auto& s) { s.Add("Evaluate Expression", {"\"1\" = \"1\" AND \"2\" = \"2\"", "R"}); }, 0,
       "Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax."},
      {"wizard loop with dialogs, a comment and a commented-out statement",
       [](auto& s) { Wizard(s); s.Add("End"); s.Add("Set Variable", {"Y", "1"}); }, std::nullopt, ""},
      {"wizard loop with an active statement",
       [](auto& s) { Wizard(s); s.Add("Set Variable", {"Y", "1"}); s.Add("End"); }, 5,
       "Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP"},
      {"Convert Path of a variable declared earlier",
       [](auto& s) { s.Add("Get Environment", {"PATH", "envpath"}); s.Add("Convert Path", {"ENVPATH", "TRUE"}); },
       std::nullopt, ""},
      {"Replace String of an undefined variable", [](auto& s) { s.Add("Replace String", {"NOPE", "a", "b"}); }, 0,
       "Variable not defined: NOPE"},
      {"Is MSI Setup Installed without its variable", [](auto& s) { s.Add("Is MSI Setup Installed", {"{code}", ""}); },
       0, "Variable required"},
      {"Delete Files without a mode", [](auto& s) { s.Add("Delete Files", {"a", "b", "FALSE", "0"}); }, 0,
       "At least one delete mode must be selected"},
      {"Install Files without a target", [](auto& s) { s.Add("Install Files", {"a", "b", ""}); }, 0,
       "A target folder must be specified for files that are being installed.\r"
       "The value $TARGETDIR$ represents the destination folder chosen by the user."},
      {"Web Media Block with an illegal name", [](auto& s) { s.Add("Web Media Block", {"dir\\a|b", "http://x"}); }, 0,
       "Web Media Block name must be a legal file name"},
      {"Web Media Block without a URL wins over an illegal name",
       [](auto& s) { s.Add("Web Media Block", {"a*b", ""}); }, 0,
       "Web Media Block must have at least one download URL"},
      {"Web Media Block with a legal last part", [](auto& s) { s.Add("Web Media Block", {"a/b\\ok", "http://x"}); },
       std::nullopt, ""},
      {"Display Dialog without a name", [](auto& s) { s.Add("Display Dialog", {"", "WIZARD"}); }, 0,
       "Dialog name not specified"},
      {"Display Dialog with an undefined condition variable",
       [](auto& s) { s.Add("Display Dialog", {"d", "WIZARD", "TRUE", "$COND$", "TRUE", "FALSE"}); }, 0,
       "Variable not defined: $COND$"},
      {"Check Disk Space without its variable", [](auto& s) { s.Add("Check Disk Space", {"", "C:\\"}); }, 0,
       "Variable required"},
      {"Find All Files without its variable", [](auto& s) { s.Add("Find All Files", {"C:\\*.*", "", "", ""}); }, 0,
       "Variable required"},
      {"Convert Case of a variable named by reference", [](auto& s) { s.Add("Convert Case", {"$TITLE$", "TRUE"}); },
       0, "Variable not defined: $TITLE$"},
      {"Extract Path of an undefined variable", [](auto& s) { s.Add("Extract Path", {"NOPE", "0"}); }, 0,
       "Variable not defined: NOPE"},
      {"Display Dialog declares its result for a later condition",
       [](auto& s) {
         s.Add("Display Dialog", {"d", "ANSWER", "TRUE", "", "TRUE", "FALSE"});
         s.Add("Display Dialog", {"e", "WIZARD", "TRUE", "$ANSWER$", "TRUE", "FALSE"});
       },
       std::nullopt, ""},
      // Each statement declares the variables it writes, and only those.
      {"result variables of the querying statements are declared",
       [](auto& s) {
         s.Add("Get OS or SP Level", {"OS", "TRUE"});
         s.Add("Mathematics", {"1", "2", "0", "SUM"});
         s.Add("Read from Text File", {"a.txt", "LINE", "EOF"});
         s.Add("Run Program As", {"a.exe", "", "", "0", "", "", "", "EXITCODE", "TRUE", ""});
         s.Add("Get IIS Site Index", {"site", "SITE"});
         for (const char* name : {"OS", "SUM", "LINE", "EOF", "EXITCODE", "SITE"}) s.Add("Convert Path", {name, "TRUE"});
       },
       std::nullopt, ""},
      {"Run Program declares the variable that receives the exit code",
       [](auto& s) {
         s.Add("Run Program", {"setup.exe", "FALSE", "/q", "TRUE", "RC"});
         s.Add("If", {"RC", "0", "0"});
         s.Add("End");
       },
       std::nullopt, ""},
      {"Run Program's wait flag names no variable",
       [](auto& s) {
         s.Add("Run Program", {"setup.exe", "FALSE", "/q", "WAITED", "RC"});
         s.Add("Convert Path", {"WAITED", "TRUE"});
       },
       1, "Variable not defined: WAITED"},
      {"a statement without its parameter block reads empty parameters",
       [](auto& s) { s.Add("Set Variable", {"A", "1"}); s.Add("Install Files"); }, 1,
       "A target folder must be specified for files that are being installed.\r"
       "The value $TARGETDIR$ represents the destination folder chosen by the user."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptBuilder s;
    c.build(s);
    SetupData data = s.Build();
    auto failure = ValidateScript(data);
    if (!c.index) {
      EXPECT_FALSE(failure) << failure->message;
      continue;
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->statementIndex, *c.index);
    EXPECT_EQ(failure->message, c.message);
  }
}

TEST(ValidationTest, DeclarationsLiveInTheValidationsOwnSymbolTable) {
  // A statement that declares a variable lets later statements use it ...
  ScriptBuilder declares;
  declares.Add("Parse String", {"a", "b", "first", "", "0"});
  declares.Add("Convert Path", {"FIRST", "TRUE"});
  SetupData data = declares.Build();
  std::vector<std::string> labels;
  EXPECT_FALSE(ValidateScript(data, labels));

  // ... but nothing carries over to the next validation (no shared store).
  ScriptBuilder uses;
  uses.Add("Convert Path", {"FIRST", "TRUE"});
  SetupData other = uses.Build();
  auto failure = ValidateScript(other, labels);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->message, "Variable not defined: FIRST");

  // A run's store is never touched: the predefined variables are known to the pass
  // without being in any store.
  EngineContext ctx;
  ctx.Vars.Set("LEFTOVER", "x");
  ScriptBuilder predefined;
  predefined.Add("Convert Path", {"TARGETDIR", "TRUE"});
  SetupData third = predefined.Build();
  EXPECT_FALSE(ValidateScript(third, labels));
  EXPECT_EQ(ctx.Vars.Count(), 1u);
}

TEST(ValidationTest, LegalFileNames) {
  EXPECT_TRUE(IsLegalFileName(""));
  EXPECT_TRUE(IsLegalFileName("block1"));
  EXPECT_TRUE(IsLegalFileName("a?b\\c"));
  EXPECT_TRUE(IsLegalFileName("x:y"));
  for (const char* bad : {"a/b", "a*", "?", "\"q\"", "<", ">", "a|b", "c:\\d\\e?"}) EXPECT_FALSE(IsLegalFileName(bad)) << bad;
}

}  // namespace
}  // namespace kem::test
