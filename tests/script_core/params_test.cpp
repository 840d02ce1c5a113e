#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "engine/statement_kinds.h"
#include "script/params/statement_params.h"
#include "engine/statement_error.h"
#include "engine/engine_context.h"
#include "store_fixture.h"

namespace kem {
namespace {

using ParamsTest = test::StoreFixture;

TEST_F(ParamsTest, ExpandVars) {
  RawSet("A", "1");
  RawSet("B", "x");
  RawSet("C", "$B$");
  RawSet("D", "$C$-$C$");
  RawSet("HALF", "$B");  // completed by the text after the reference
  RawSet("EMPTY", "");
  struct Case {
    const char* text;
    const char* expanded;
    const char* quoted;
  } cases[] = {
      {"no references", "no references", "no references"},
      {"$A$$U$", "1$U$", "\"1\"$U$"},
      {"$U$$A$", "$U$1", "$U$\"1\""},
      {"$U$A$", "$U1", "$U\"1\""},
      {"$C$", "x", "\"x\""},
      {"<$D$>", "<x-x>", "<\"x-x\">"},
      {"$HALF$$", "x", "\"$B\"$"},
      {"$$", "$$", "$$"},
      {"$", "$", "$"},
      {"a$b", "a$b", "a$b"},
      {"cost: $5", "cost: $5", "cost: $5"},
      {"$a$", "1", "\"1\""},
      {"[$EMPTY$]", "[]", "[\"\"]"},
      {"$A$ and $B$ and $A", "1 and x and $A", "\"1\" and \"x\" and $A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandVars(c.text), c.expanded) << c.text;
    EXPECT_EQ(ExpandVarsQuoted(c.text), c.quoted) << c.text;
  }
}

TEST_F(ParamsTest, SelfReferencingValuesTerminate) {
  struct Case {
    const char* name;
    const char* value;
  } cases[] = {{"SELF", "$SELF$"}, {"GROW", "x$GROW$"}, {"TWICE", "$TWICE$$TWICE$"}, {"BIG", nullptr}};
  const std::string big = "$BIG$" + std::string(100000, 'b');
  for (const auto& c : cases) {
    ClearVars();
    RawSet(c.name, c.value ? c.value : big.c_str());
    const std::string text = std::string("<$") + c.name + "$>";
    auto start = std::chrono::steady_clock::now();
    std::string out = ExpandVars(text);
    std::string quoted = ExpandVarsQuoted(text);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << c.name;
    EXPECT_LE(out.size(), kMaxExpandedLength) << c.name;
    EXPECT_LE(quoted.size(), kMaxExpandedLength) << c.name;
    // The unexpanded rest is kept: the reference is still there.
    EXPECT_NE(out.find(std::string("$") + c.name + "$"), std::string::npos) << c.name;
    EXPECT_EQ(out.back(), '>');
  }
}

TEST_F(ParamsTest, ExpandPath) {
  RawSet("TARGETDIR", "C:\\Program Files\\App\\");
  RawSet("SHARE", "\\\\server\\share\\");
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"$TARGETDIR$\\bin", "C:\\Program Files\\App\\bin"},
      {"C:\\dir\\\\file", "C:\\dir\\file"},
      {"\\\\server\\share", "\\\\server\\share"},
      {"\\\\\\\\server\\\\share", "\\\\server\\share"},
      {"$SHARE$\\x", "\\\\server\\share\\x"},
      {"C:\\\\\\x", "C:\\\\x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandPath(c.text), c.expected) << c.text;
}

TEST(VarNameOfTest, OnlyTheExactReferenceForm) {
  struct Case {
    const char* text;
    const char* name;
  } cases[] = {{"$X$", "X"}, {"$RESULT$", "RESULT"}, {"X", ""},  {"$X", ""},
               {"X$", ""},   {"$A$B$", ""},          {"$$", ""}, {"$", ""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(VarNameOf(c.text), c.name) << c.text;
  EXPECT_EQ(VarNameOrText("$R$"), "R");
  EXPECT_EQ(VarNameOrText("$A$B$"), "$A$B$");
}

SetupData TwoStatements() {
  SetupData d;
  d.StatementNames = HashedStringList({"Set Variable", "Comment", "If"});
  d.StatementIds = HashedStringList({"{AAAA}", "{BBBB}", "{CCCC}"});
  // Statement 0's second parameter equals statement 2's ID: the first occurrence wins.
  d.ParameterLines = HashedStringList({"{aaaa}", "NAME", "{CCCC}", "{CCCC}", "P1", "P2"});
  d.CommandHeaders = HashedStringList({"00A1", "0", "00C3", "2"});
  d.CompilerVariables = HashedStringList({"LOCMODE", "1", "INNER", "in", "OUTER", "[#inner#]", "LOOP", "<#LOOP#>"});
  return d;
}

TEST(GetParamTest, ReadsTheBlockOfTheStatement) {
  SetupData d = TwoStatements();
  auto GetParam = [&](std::size_t i, int n) { return kem::GetParam(d, i, n); };
  EXPECT_EQ(GetParam(0, 0), "{aaaa}");
  EXPECT_EQ(GetParam(0, 1), "NAME");
  EXPECT_EQ(GetParam(0, 2), "{CCCC}");
  EXPECT_EQ(GetParam(0, 3), "{CCCC}");  // reads on into the next block, as the list does
  EXPECT_EQ(GetParam(1, 1), "");        // no parameter block
  EXPECT_EQ(GetParam(1, 7), "");
  EXPECT_EQ(GetParam(2, 1), "{CCCC}");  // the earlier line with the same text wins
  EXPECT_EQ(GetParam(2, 2), "P1");
  EXPECT_EQ(GetParam(2, 3), "P2");
  EXPECT_THROW(GetParam(2, 4), StatementError);  // past the end of the list
  EXPECT_THROW(GetParam(3, 1), StatementError);  // no such statement
  EXPECT_THROW(GetParam(0, -1), StatementError);
}

TEST(CommandHeaderTest, LookUpAndMessage) {
  SetupData d = TwoStatements();
  auto CommandHeader = [&](std::size_t i, bool allowEmpty = false) { return kem::CommandHeader(d, i, allowEmpty); };
  EXPECT_EQ(CommandHeader(0), "00A1");
  EXPECT_EQ(CommandHeader(2), "00C3");
  EXPECT_EQ(CommandHeader(1, true), "");
  try {
    CommandHeader(1);
    FAIL() << "no error";
  } catch (const StatementError& e) {
    EXPECT_STREQ(e.what(), "Unable to obtain command headers. Please rebuild your project.");
  }
}

TEST(CompilerVarsTest, Expansion) {
  SetupData d = TwoStatements();
  auto ExpandCompilerVars = [&](std::string_view text) { return kem::ExpandCompilerVars(d.CompilerVariables, text); };
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"no marks", "no marks"},
      {"#LOCMODE#", "1"},
      {"#locMode#/#LOCMODE#", "1/1"},
      {"#OUTER#", "[in]"},  // the value's reference is expanded by the repeat
      {"#UNKNOWN# #LOCMODE#", "#UNKNOWN# 1"},
      {"##", "##"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandCompilerVars(c.text), c.expected) << c.text;

  std::string loop = ExpandCompilerVars("#LOOP#");
  EXPECT_EQ(loop, std::string(kMaxCompilerVarPasses, '<') + "#LOOP#" + std::string(kMaxCompilerVarPasses, '>'));
}

TEST(SplitAtTest, FirstOccurrence) {
  EXPECT_EQ(SplitAt("a|b|c", "|"), (std::pair<std::string, std::string>{"a", "b|c"}));
  EXPECT_EQ(SplitAt("abc", "|"), (std::pair<std::string, std::string>{"abc", ""}));
  EXPECT_EQ(SplitAt("|x", "|"), (std::pair<std::string, std::string>{"", "x"}));
  EXPECT_EQ(SplitAt("a::b", "::"), (std::pair<std::string, std::string>{"a", "b"}));
}

std::string Reverse(std::string_view text, std::string_view key, int k) {
  return std::string(key) + ":" + std::to_string(k) + ":" + std::string(text.rbegin(), text.rend());
}

TEST(TranslateTest, TheContextsTranslator) {
  EngineContext ctx;
  EXPECT_EQ(ctx.Translate("Hello", "{ID}", 1), "Hello");
  ctx.SetTranslator(&Reverse);
  EXPECT_EQ(ctx.Translate("abc", "{ID}", 2), "{ID}:2:cba");
}

TEST(StatementKindsTest, NamesCompareExactly) {
  EXPECT_EQ(FindStatementKind("If"), StatementKind::If);
  EXPECT_EQ(FindStatementKind("Else If"), StatementKind::ElseIf);
  EXPECT_EQ(FindStatementKind("Copy/Move Local Files"), StatementKind::CopyMoveLocalFiles);
  EXPECT_EQ(FindStatementKind("Run .NET Installer Class"), StatementKind::RunDotNetInstallerClass);
  for (const char* other : {"if", "IF", "Set variable", " If", "Code Folding Region", "Compiler Variable End", ""})
    EXPECT_FALSE(FindStatementKind(other).has_value()) << other;

  std::set<std::string_view> names;
  for (const auto& k : StatementKinds()) {
    EXPECT_TRUE(names.insert(k.name).second) << "duplicate " << k.name;
    EXPECT_EQ(StatementKindName(k.kind), k.name);
    EXPECT_EQ(FindStatementKind(k.name), k.kind);
  }
  EXPECT_EQ(names.size(), 103u);
  EXPECT_EQ(StatementKindGroup(StatementKind::Mathematics), StatementGroup::VariablesAndStrings);
  EXPECT_EQ(StatementKindGroup(StatementKind::IisAnonymousUser), StatementGroup::PeripheralServices);
}

}  // namespace
}  // namespace kem
