#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "script/store/predefined_vars.h"
#include "store_fixture.h"

namespace kem {
namespace {

using StoreTest = test::StoreFixture;

TEST_F(StoreTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
  SetVar("targetdir", "C:\\A\\", "Set Variable Action");
  SetVar("TARGETDIR", "D:\\B\\", "Set Variable Action");
  EXPECT_TRUE(VarExists("TargetDir"));
  EXPECT_EQ(GetVar("TaRgEtDiR"), "D:\\B\\");
  EXPECT_EQ(Variables().Count(), 1u);
  EXPECT_EQ(ExportVars(), "targetdir,D:\\B\\");

  SetVar("", "x", "Set Variable Action");
  RawSet("", "x");
  EXPECT_FALSE(VarExists(""));
  EXPECT_EQ(Variables().Count(), 1u);

  SetVar("EMPTY", "", "Set Variable Action");
  EXPECT_TRUE(VarExists("empty"));
  EXPECT_EQ(GetVar("undefined"), "");
}

TEST(TruthTest, IsTrueAndBoolText) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {{"TRUE", true},  {"true", true},   {"TrUe", true},  {"-1", true},
               {"1", false},    {" TRUE", false}, {"TRUE ", false}, {"", false},
               {"YES", false},  {"-1 ", false},   {"FALSE", false}};
  for (const auto& c : cases) EXPECT_EQ(IsTrue(c.text), c.expected) << "'" << c.text << "'";
  EXPECT_EQ(BoolText(true), "TRUE");
  EXPECT_EQ(BoolText(false), "FALSE");
}

TEST_F(StoreTest, CommandLineValuesWinOnlyInSilentRuns) {
  struct Case {
    bool silent;
    std::vector<std::string> assignments;
    const char* origin;
    const char* expected;
  } cases[] = {
      {true, {"TARGETDIR", "D:\\App"}, "Set Variable Action", "D:\\App"},
      {true, {"targetdir", "D:\\App"}, "Set Variable Action", "D:\\App"},
      {false, {"TARGETDIR", "D:\\App"}, "Set Variable Action", "C:\\Script"},
      {true, {"TARGETDIR", "D:\\App"}, "Inject Override Command Line", "C:\\Script"},
      // The name only occurs as a value: not protected.
      {true, {"OTHER", "TARGETDIR"}, "Set Variable Action", "C:\\Script"},
      // First as a value, then as a name: protected.
      {true, {"OTHER", "TARGETDIR", "TARGETDIR", "D:\\App"}, "Set Variable Action", "D:\\App"},
  };
  for (const auto& c : cases) {
    ClearVars();
    SetCommandLineOverrides(c.silent, c.assignments);
    SetVar("TARGETDIR", "", kOriginPreInitialization);
    InjectCommandLineAssignments();
    SetVar("TARGETDIR", "C:\\Script", c.origin);
    EXPECT_EQ(GetVar("TARGETDIR"), c.expected) << c.silent << " " << c.origin;
  }
}

TEST_F(StoreTest, InjectionCreatesUpperCaseNamesAndRawSetIgnoresProtection) {
  SetCommandLineOverrides(true, {"myVar", "1", "OTHER", "a=b"});
  InjectCommandLineAssignments();
  EXPECT_EQ(ExportVars(), "MYVAR,1,OTHER,a=b");
  SetVarChecked("MYVAR", "2", "Set Variable Action");
  EXPECT_EQ(GetVar("MYVAR"), "1");
  RawSet("MYVAR", "3");
  EXPECT_EQ(GetVar("MYVAR"), "3");
}

TEST_F(StoreTest, ExportImportRoundTrip) {
  const std::vector<std::pair<std::string, std::string>> vars = {
      {"PLAIN", "value"},
      {"COMMAS", "a,b,,c"},
      {"QUOTES", "say \"hi\" \"\""},
      {"LEADINGQUOTE", "\"x"},
      {"SPACES", "  two  spaces  "},
      {"CONTROL", "line1\r\nline2\ttab\x01"},
      {"EMPTY", ""},
      {"Mixed Case Name", "v"},
      {"LASTEMPTY", ""},
  };
  for (const auto& [n, v] : vars) RawSet(n, v);
  const std::string text = ExportVars();
  EXPECT_EQ(text.substr(0, 40), "PLAIN,value,COMMAS,\"a,b,,c\",QUOTES,\"say ");

  ClearVars();
  RawSet("STALE", "gone");
  ImportVars(text);
  EXPECT_FALSE(VarExists("STALE"));
  ASSERT_EQ(Variables().Count(), vars.size());
  std::vector<std::string> dump;
  Variables().Dump(dump);
  for (std::size_t i = 0; i < vars.size(); ++i) {
    EXPECT_EQ(dump[2 * i], vars[i].first);
    EXPECT_EQ(dump[2 * i + 1], vars[i].second) << vars[i].first;
  }
}

TEST(CommaTextTest, Splitting) {
  struct Case {
    const char* text;
    std::vector<std::string> expected;
  } cases[] = {
      {"", {}},
      {"a,b", {"a", "b"}},
      {"  a ,  b  ", {"a", "b"}},
      {"a b", {"a", "b"}},  // a blank ends an unquoted entry
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"\"x,y\",\"say \"\"hi\"\"\"", {"x,y", "say \"hi\""}},
      {"\"unterminated", {"unterminated"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommaText(c.text), c.expected) << c.text;
}

TEST_F(StoreTest, ImportIgnoresAnOddLastEntry) {
  ImportVars("A,1,B");
  EXPECT_EQ(ExportVars(), "A,1");
}

// Import over a filled store: whatever the text's order, the store ends up holding exactly
// the text's pairs (the later of two equal names wins), in the text's order.
TEST_F(StoreTest, ImportReplacesAFilledStore) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"A,1,B,2,C,3", "A,1,B,2,C,3"},
      {"A,x,B,\"y,z\",C,", "A,x,B,\"y,z\",C,"},  // values changed in place
      {"A,1,B,2,C,3,D,4", "A,1,B,2,C,3,D,4"},    // one added at the end
      {"A,1,B,2", "A,1,B,2"},                    // one removed
      {"A,1,C,3,B,2", "A,1,C,3,B,2"},            // reordered
      {"A,1,B,2,C", "A,1,B,2"},                  // a name without its value
      {"A,1,B,2,C,3,A,9", "A,9,B,2,C,3"},        // the later value wins
      {"A,1,,5,B,2,C,3", "A,1,B,2,C,3"},         // an empty name is skipped
      {"", ""},
  };
  for (const auto& c : cases) {
    ClearVars();
    ImportVars("A,old,B,old,C,old");
    ImportVars(c.text);
    EXPECT_EQ(ExportVars(), c.expected) << c.text;
  }
}

TEST_F(StoreTest, ReferenceHelpers) {
  SetVar("EMPTY", "", "t");
  SetVar("B", "x", "t");
  SetVar("A", "[$B$]", "t");
  EXPECT_EQ(VarValueExpanded("$A$"), "[x]");
  EXPECT_EQ(VarValueExpanded("a"), "[x]");
  EXPECT_EQ(VarValueExpanded("$NOPE$"), "");
  EXPECT_EQ(VarValueOrMarker("EMPTY"), "");
  EXPECT_EQ(VarValueOrMarker("$NOPE$"), "$VRAXNX$");

  EXPECT_TRUE(VarRefDefined("$A$", false));
  EXPECT_FALSE(VarRefDefined("$NOPE$", true));
  EXPECT_TRUE(VarRefDefined("NOPE", true));
  EXPECT_FALSE(VarRefDefined("NOPE", false));
  EXPECT_TRUE(VarRefDefined("a", false));

  EnsureResultVariable("result", "Does File/Folder Exist");
  EXPECT_EQ(ExportVars().substr(ExportVars().size() - 7), "RESULT,");
  SetVar("RESULT", "kept", "t");
  EnsureResultVariable("Result", "Does File/Folder Exist");
  EXPECT_EQ(GetVar("RESULT"), "kept");
  EXPECT_EQ(ActionLabel("Does File/Folder Exist"), "Does File/Folder Exist Action");
}

TEST_F(StoreTest, PredefinedVariablesInOrder) {
  RawSet("OVERRIDECACHE", "C:\\Cache\\");
  FillProgressChannel(vars, "12345");
  FillPreInitialization(vars, "My Product", true);
  InitializationValues v;
  v.ExeDir = "C:\\Setup\\";
  v.Silent = true;
  v.Title = "My Product";
  FillInitialization(vars, v);

  std::vector<std::string> dump;
  Variables().Dump(dump);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < dump.size(); i += 2) names.push_back(dump[i]);
  ASSERT_GE(names.size(), 14u);
  EXPECT_EQ(names[0], "OVERRIDECACHE");
  EXPECT_EQ(names[1], "VRAX_thProgress");
  EXPECT_EQ(names[9], "VRAX_LastActiveTick");
  EXPECT_EQ(names[10], "TARGETDIR");
  EXPECT_EQ(names[13], "VRAX_COMPRESS_INSTALLER_CACHE");
  EXPECT_EQ(names.back(), "MSIFILE");
  EXPECT_EQ(names.size(), 1 + 9 + 3 + 47u);

  EXPECT_EQ(GetVar("OVERRIDECACHE"), "C:\\Cache\\");
  EXPECT_EQ(GetVar("VRAX_LastDelegateTick"), "12345");
  EXPECT_EQ(GetVar("ALLUSERS"), "TRUE");
  EXPECT_EQ(GetVar("STARTMENU"), "My Product");
  EXPECT_EQ(GetVar("SILENT"), "TRUE");
  EXPECT_EQ(GetVar("ROOTDIR"), "C:\\Setup\\");
  EXPECT_EQ(GetVar("NEWLINE"), "\r\n");
  EXPECT_EQ(GetVar("WIZARD"), "NEXT");
}

// Writers and readers race on the store; run under the sanitizers this catches unguarded
// access, and the checks catch torn or lost values.
TEST_F(StoreTest, ConcurrentWritersAndReaders) {
  constexpr int kWriters = 3, kReaders = 3, kRounds = 3000;
  std::atomic<bool> bad{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([this, w, &bad] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string own = "W" + std::to_string(w) + "_" + std::to_string(i % 50);
        SetVar(own, std::to_string(i), "t");
        RawSet("VRAX_thProgress", std::to_string(i));
        if (GetVar(own) != std::to_string(i)) bad = true;
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([this, &bad] {
      for (int i = 0; i < kRounds; ++i) {
        std::string v = GetVar("vrax_thprogress");
        if (!v.empty() && v.find_first_not_of("0123456789") != std::string::npos) bad = true;
        (void)ExpandVars("$VRAX_thProgress$ of $W0_1$");
        if (i % 100 == 0) {
          std::vector<std::string> dump;
          if (Variables().Dump(dump) % 2 != 0) bad = true;
          (void)ExportVars();
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(bad);
  EXPECT_EQ(Variables().Count(), 1u + kWriters * 50u);
}

}  // namespace
}  // namespace kem
