#include "engine/setup_data.h"

#include <gtest/gtest.h>

namespace kem {
namespace {

SetupData SampleData() {
  SetupData d;
  auto add = [&](const std::string& name, const std::string& id, std::vector<std::string> params, bool commented) {
    d.StatementNames.Add(name);
    d.StatementIds.Add(id);
    d.CommentFlags.Add(commented ? "C" : "");
    d.StatementMedia.Add("");
    d.SourceMap.Add("C:\\proj\\setup.kem*" + std::to_string(d.SourceMap.Count()));
    if (!params.empty()) {
      d.ParameterLines.Add(id);
      for (auto& p : params) d.ParameterLines.Add(p);
    }
  };
  add("Set Variable", "{00000000-0000-0000-0000-000000000001}", {"A", "$", "", "  blanks  ", "$DOLLAR$ inside"}, false);
  add("Comment", "{00000000-0000-0000-0000-000000000002}", {}, true);
  add("If", "{00000000-0000-0000-0000-000000000003}", {"X", "0", "$"}, false);
  d.ProductCode = "{11111111-2222-3333-4444-555555555555}";
  d.ProductTitle = "Sample Product";
  d.PluginStatements = {"Call DLL Function", "Download File"};
  d.CompanyName = "Company";
  d.ContactName = "";
  d.HelpLinkUrl = "http://help";
  d.UpdateInfoUrl = "";
  d.ProductComments = "comments";
  d.ProductVersion = "1.0.1";
  d.MediaMode = 2;
  d.ComponentSizes = {"VRAX-PREDEF-COMPONENT", "778240", "SETUPTEST", "0"};
  d.RevisionCode = "{AAAAAAAA-2222-3333-4444-555555555555}";
  d.MediaFileMap.Add("OFFLINE");
  d.MediaFileMap.Add("1280E14B\\cewiz.r");
  d.MediaFileMap.Add("OFFLINE\\999EC397\\1280E14B\\");
  d.SelectLanguageAtStart = true;
  d.DefaultLanguage = "English";
  d.CommandHeaders.Add("C5D5C8B2");
  d.CommandHeaders.Add("2");
  d.CompilerVariables.Add("TITLE");
  d.CompilerVariables.Add("$DOLLAR$");
  d.CodePage = 1252;
  return d;
}

TEST(SetupData, RoundTripKeepsEveryItem) {
  SetupData in = SampleData();
  SetupData out = ReadSetupData(WriteSetupData(in));
  EXPECT_EQ(out.StatementNames.Items(), in.StatementNames.Items());
  EXPECT_EQ(out.StatementIds.Items(), in.StatementIds.Items());
  EXPECT_EQ(out.ParameterLines.Items(), in.ParameterLines.Items());
  EXPECT_EQ(out.CommentFlags.Items(), in.CommentFlags.Items());
  EXPECT_EQ(out.ProductCode, in.ProductCode);
  EXPECT_EQ(out.ProductTitle, in.ProductTitle);
  EXPECT_EQ(out.CompiledTitle, in.ProductTitle);
  EXPECT_EQ(out.PluginStatements, in.PluginStatements);
  EXPECT_EQ(out.CompanyName, in.CompanyName);
  EXPECT_EQ(out.ContactName, in.ContactName);
  EXPECT_EQ(out.HelpLinkUrl, in.HelpLinkUrl);
  EXPECT_EQ(out.UpdateInfoUrl, in.UpdateInfoUrl);
  EXPECT_EQ(out.ProductComments, in.ProductComments);
  EXPECT_EQ(out.ProductVersion, in.ProductVersion);
  EXPECT_EQ(out.WebBlockSources, in.WebBlockSources);
  EXPECT_EQ(out.StatementMedia.Items(), in.StatementMedia.Items());
  EXPECT_EQ(out.MediaMode, 2);
  EXPECT_EQ(out.ComponentSizes, in.ComponentSizes);
  EXPECT_EQ(out.RevisionCode, in.RevisionCode);
  EXPECT_EQ(out.MediaFileMap.Items(), in.MediaFileMap.Items());
  EXPECT_TRUE(out.SelectLanguageAtStart);
  EXPECT_EQ(out.DefaultLanguage, "English");
  EXPECT_EQ(out.CommandHeaders.Items(), in.CommandHeaders.Items());
  // Only the parameter list is unescaped.
  EXPECT_EQ(out.CompilerVariables.Items(), in.CompilerVariables.Items());
  EXPECT_EQ(out.CodePage, 1252u);
  EXPECT_EQ(out.SourceMap.Items(), in.SourceMap.Items());
}

TEST(SetupData, WriterUsesCrLfAndEscapesDollarParameters) {
  std::string text = WriteSetupData(SampleData());
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n$DOLLAR$\r\n"), std::string::npos);
  // An empty list is the terminator alone.
  SetupData empty;
  empty.CodePage = 1252;
  std::string e = WriteSetupData(empty);
  EXPECT_EQ(e.substr(0, 9), "$\r\n$\r\n$\r\n");
}

TEST(SetupData, DollarEscapesAreWholeEntriesOfTheParameterListOnly) {
  SetupData d = SampleData();
  std::string text = WriteSetupData(d);
  // Rewrite some escapes as other writers spell them.
  auto replaceFirst = [&](const std::string& from, const std::string& to) {
    auto p = text.find(from);
    ASSERT_NE(p, std::string::npos);
    text.replace(p, from.size(), to);
  };
  replaceFirst("\r\n$DOLLAR$\r\n", "\r\n$dollar$\r\n");
  replaceFirst("\r\n$DOLLAR$\r\n", "\r\n$Wild_Dollar$\r\n");
  SetupData out = ReadSetupData(text);
  EXPECT_EQ(LookUpParameter(out.ParameterLines, "{00000000-0000-0000-0000-000000000001}", 2), "$");
  EXPECT_EQ(LookUpParameter(out.ParameterLines, "{00000000-0000-0000-0000-000000000003}", 3), "$");
  EXPECT_EQ(LookUpParameter(out.ParameterLines, "{00000000-0000-0000-0000-000000000001}", 5), "$DOLLAR$ inside");
  EXPECT_EQ(out.CompilerVariables[1], "$DOLLAR$");
}

TEST(SetupData, LookUps) {
  SetupData d = ReadSetupData(WriteSetupData(SampleData()));
  const std::string id = "{00000000-0000-0000-0000-000000000001}";
  EXPECT_EQ(LookUpParameter(d.ParameterLines, id, 0), id);
  EXPECT_EQ(LookUpParameter(d.ParameterLines, "{00000000-0000-0000-0000-000000000001}", 1), "A");
  EXPECT_EQ(LookUpParameter(d.ParameterLines, "{00000000-0000-0000-0000-000000000001}", 4), "  blanks  ");
  // IDs compare without regard to case; unknown IDs and positions past the end are empty.
  EXPECT_EQ(LookUpParameter(d.ParameterLines, "{00000000-0000-0000-0000-00000000000a}", 1), "");
  EXPECT_EQ(LookUpParameter(d.ParameterLines, "{00000000-0000-0000-0000-000000000003}", 9), "");
  EXPECT_EQ(LookUpCommandHeader(d.CommandHeaders, 2), "C5D5C8B2");
  EXPECT_EQ(LookUpCommandHeader(d.CommandHeaders, 0), "");
  EXPECT_EQ(LookUpComponentSize(d.ComponentSizes, "vrax-predef-component"), 778240u);
  EXPECT_EQ(LookUpComponentSize(d.ComponentSizes, "missing"), 0u);
}

TEST(SetupData, SelectLanguageIsExactlyTrue) {
  for (const char* text : {"true", "TRUE ", "True", "1"}) {
    SetupData d = SampleData();
    std::string t = WriteSetupData(d);
    auto p = t.find("\r\nTRUE\r\n");
    ASSERT_NE(p, std::string::npos);
    t.replace(p + 2, 4, text);
    EXPECT_FALSE(ReadSetupData(t).SelectLanguageAtStart) << text;
  }
}

TEST(SetupData, BadInputEndsWithAnErrorNotAHang) {
  const std::string good = WriteSetupData(SampleData());
  // Every truncation point fails cleanly, except the one that only drops the final CR LF.
  for (std::size_t cut = 0; cut + 2 < good.size(); cut += 7) {
    EXPECT_THROW(ReadSetupData(std::string_view(good).substr(0, cut)), SetupDataError) << cut;
  }
  EXPECT_NO_THROW(ReadSetupData(std::string_view(good).substr(0, good.size() - 2)));
  // A list without its terminator.
  EXPECT_THROW(ReadSetupData("Set Variable\r\nIf\r\n"), SetupDataError);
  // Malformed numbers in items 16 and 24.
  for (const char* bad : {"x", "", "12a", "99999999999999999999999"}) {
    std::string t = good;
    auto p = t.find("\r\n2\r\n");  // MediaMode
    ASSERT_NE(p, std::string::npos);
    t.replace(p + 2, 1, bad);
    EXPECT_THROW(ReadSetupData(t), SetupDataError) << bad;
    std::string u = good;
    auto q = u.find("\r\n1252\r\n");
    ASSERT_NE(q, std::string::npos);
    u.replace(q + 2, 4, bad);
    EXPECT_THROW(ReadSetupData(u), SetupDataError) << bad;
  }
  try {
    ReadSetupData("$\r\n$\r\n");
    FAIL();
  } catch (const SetupDataError& e) {
    EXPECT_NE(std::string(e.what()).find("ParameterLines"), std::string::npos);
  }
}

TEST(SetupData, PerStatementListsOfAnotherLengthAreRefusedByName) {
  // Each list loses its last entry in turn; the reader names the list instead of handing
  // the interpreter a statement without an ID, flag or source position.
  const std::string good = WriteSetupData(SampleData());
  struct Case {
    const char* item;
    std::string lastEntry;  // the list's last line, followed by the terminator
  };
  const SetupData sample = SampleData();
  for (const Case& c : {Case{"StatementIds", sample.StatementIds[2]}, Case{"CommentFlags", "C\r\n\r\n$"},
                        Case{"StatementMedia", "1252"}, Case{"SourceMap", sample.SourceMap[2]}}) {
    SCOPED_TRACE(c.item);
    std::string text = good;
    if (std::string(c.item) == "CommentFlags") {
      // "", "C", "" -> "", "C"
      auto p = text.find(c.lastEntry);
      ASSERT_NE(p, std::string::npos);
      text.replace(p, c.lastEntry.size(), "C\r\n$");
    } else if (std::string(c.item) == "StatementMedia") {
      // The three empty media entries of the sample sit between the web block list's "$"
      // and the media mode; one of them goes.
      auto p = text.find("$\r\n\r\n\r\n\r\n$\r\n2\r\n");
      ASSERT_NE(p, std::string::npos);
      text.erase(p + 3, 2);
    } else {
      auto p = text.rfind(c.lastEntry + "\r\n$");
      ASSERT_NE(p, std::string::npos);
      text.erase(p, c.lastEntry.size() + 2);
    }
    try {
      ReadSetupData(text);
      FAIL() << "accepted";
    } catch (const SetupDataError& e) {
      EXPECT_NE(std::string(e.what()).find(c.item), std::string::npos) << e.what();
    }
  }
  // Complete data resolves every statement's kind.
  SetupData read = ReadSetupData(good);
  EXPECT_EQ(read.Kinds, (std::vector<StatementKind>{StatementKind::SetVariable, StatementKind::Comment,
                                                     StatementKind::If}));
}

TEST(SetupData, WriterRefusesBrokenInvariants) {
  {
    SetupData d = SampleData();
    d.SourceMap.Add("extra*0");
    EXPECT_THROW(WriteSetupData(d), SetupDataError);
  }
  {
    SetupData d = SampleData();
    d.ComponentSizes.push_back("odd");
    EXPECT_THROW(WriteSetupData(d), SetupDataError);
  }
  {
    SetupData d = SampleData();
    d.StatementNames.Set(0, "two\r\nlines");
    EXPECT_THROW(WriteSetupData(d), SetupDataError);
  }
  {
    SetupData d = SampleData();
    d.PluginStatements.push_back("$");
    EXPECT_THROW(WriteSetupData(d), SetupDataError);
  }
  {
    // A parameter equal to a later statement's ID would capture that statement's look-up.
    SetupData d = SampleData();
    d.ParameterLines.Set(1, "{00000000-0000-0000-0000-000000000003}");
    EXPECT_THROW(WriteSetupData(d), SetupDataError);
  }
}

}  // namespace
}  // namespace kem
