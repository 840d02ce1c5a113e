// The setup builder: project files to setup data and back, the three outputs, the
// errors an author meets, and the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kembuild/build_setup.h"
#include "kembuild/compile_setup.h"
#include "kembuild/installer_database.h"
#include "kembuild/quoted_text.h"
#include "kembuild/script_parser.h"
#include "kembuild/support_archive.h"
#include "engine/setup_data.h"

#ifdef KEM_HAVE_SEVENZIP
#include "media/sevenzip/sevenzip.h"
#endif

namespace fs = std::filesystem;
using namespace kem;
using namespace kem::builder;
using ::testing::HasSubstr;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A minimal PE image: DOS header, "PE\0\0", file header, 224-byte optional header and one
// section whose raw data ends at 0x400, the end of the file.
std::string StandInEngine() {
  std::string b(0x400, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = static_cast<char>(0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  b[0x86] = 1;  // NumberOfSections
  const std::size_t section = 0x84 + 244;
  b[section + 16 + 1] = 0x02;  // SizeOfRawData 0x200
  b[section + 20 + 1] = 0x02;  // PointerToRawData 0x200
  return b;
}

const char kManifest[] =
    "# test project\n"
    "[product]\n"
    "code = {6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}\n"
    "revision = {0b9a8c7d-6e5f-4a3b-8c2d-1e0f9a8b7c6d}\n"
    "title = Test Product\n"
    "company = \"  Kem Tests | Inc  \"\n"
    "contact = Support\n"
    "help-link = https://example.invalid/help\n"
    "update-link = https://example.invalid/update\n"
    "comments = Comments\n"
    "version = 2.1.7\n"
    "media-mode = 0\n"
    "default-language = English\n"
    "select-language = true\n"
    "code-page = 1250\n"
    "setup-name = test\n"
    "script = main.kems\n";

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kembuild-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    WriteAll(root_ / "engine" / kEngineFileName, StandInEngine());
    WriteAll(root_ / "engine" / kArchiveLibraryName, "archive library stand-in");
    Manifest("");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Project() const { return root_ / "project"; }
  fs::path EngineDir() const { return root_ / "engine"; }
  void Manifest(const std::string& extra) { WriteAll(Project() / kManifestName, kManifest + extra); }
  void Script(const std::string& text) { WriteAll(Project() / "main.kems", text); }

  BuildResult Build(const std::string& out = "out") {
    return BuildSetup({Project(), root_ / out, EngineDir()});
  }
  SetupData Compile() { return CompileProject(LoadProject(Project())).data; }

  // The diagnostics of a build that must fail.
  std::vector<Diagnostic> BuildErrors() {
    try {
      Build();
    } catch (const BuildError& e) {
      return e.Diagnostics();
    }
    ADD_FAILURE() << "the build did not fail";
    return {};
  }

  fs::path root_;
};

// --- Quoted texts and the script syntax -------------------------------------------------

TEST(QuotedText, EveryByteSequenceRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (std::string text : {std::string(), std::string("$"), std::string("a \"b\" \\c\\"), std::string("\r\n\t"), all}) {
    std::string quoted = Quote(text);
    EXPECT_EQ(quoted.find_first_of("\r\n"), std::string::npos);
    std::string error;
    std::size_t column = 0;
    auto parsed = ParseQuoted(quoted, 0, error, column);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->text, text);
    EXPECT_EQ(parsed->end, quoted.size());
  }
}

TEST(QuotedText, LineBreaksBecomeTheNewlineMarker) {
  EXPECT_EQ(JoinLines("a\r\nb\nc\rd"), "a$NEWLINE$b$NEWLINE$c$NEWLINE$d");
  EXPECT_EQ(JoinLines("\r\n\r\n"), "$NEWLINE$$NEWLINE$");
  EXPECT_EQ(JoinLines("plain"), "plain");
}

TEST(ScriptSyntax, ReadsMarksIdsNamesAndParameters) {
  std::vector<ScriptStatement> out;
  std::vector<Diagnostic> ds;
  ParseScript("# remark\r\n"
              "\r\n"
              "  Set Variable \"A\" \"\"   # trailing remark\r\n"
              "// {432f7a50-944d-4f75-848e-cd6d0d8fa35e} Run .NET Installer Class \"x\"\n"
              "End\n"
              "(Un)Install MSI Setup \"a # b\"",
              "dir/main.kems", out, ds);
  ASSERT_TRUE(ds.empty()) << ds[0].message;
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].name, "Set Variable");
  EXPECT_EQ(out[0].params, (std::vector<std::string>{"A", ""}));
  EXPECT_EQ(out[0].line, 2u);
  EXPECT_FALSE(out[0].commentedOut);
  EXPECT_TRUE(out[0].id.empty());
  EXPECT_TRUE(out[1].commentedOut);
  EXPECT_EQ(out[1].id, "{432F7A50-944D-4F75-848E-CD6D0D8FA35E}");
  EXPECT_EQ(out[1].name, "Run .NET Installer Class");
  EXPECT_EQ(out[2].name, "End");
  EXPECT_TRUE(out[2].params.empty());
  EXPECT_EQ(out[3].name, "(Un)Install MSI Setup");
  EXPECT_EQ(out[3].params, (std::vector<std::string>{"a # b"}));
  // FormatStatement is the inverse of the parser.
  std::vector<ScriptStatement> again;
  for (const auto& s : out) ParseScript(FormatStatement(s), "x", again, ds);
  ASSERT_EQ(again.size(), out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(again[i].name, out[i].name);
    EXPECT_EQ(again[i].id, out[i].id);
    EXPECT_EQ(again[i].params, out[i].params);
    EXPECT_EQ(again[i].commentedOut, out[i].commentedOut);
  }
}

TEST(ScriptSyntax, SyntaxErrorsNameTheLine) {
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {"Set Variable \"X", "unterminated quoted text"},
      {"Set Variable \"X\"\"Y\"", "separated by blanks"},
      {"Set Variable \"X\" Y", "parameters are quoted texts"},
      {"Set Variable \"\\q\"", "unknown escape"},
      {"Set Variable \"\\x4\"", "two hexadecimal digits"},
      {"{1234} End", "not a GUID"},
      {"\"A\" \"B\"", "statement name missing"},
      {"// ", "statement name missing"},
  };
  for (const auto& c : cases) {
    std::vector<ScriptStatement> out;
    std::vector<Diagnostic> ds;
    ParseScript(std::string("End\n") + c.line + "\nEnd\n", "s.kems", out, ds);
    ASSERT_EQ(ds.size(), 1u) << c.line;
    EXPECT_EQ(ds[0].file, "s.kems");
    EXPECT_EQ(ds[0].line, 2u) << c.line;
    EXPECT_THAT(ds[0].message, HasSubstr(c.message)) << c.line;
    EXPECT_EQ(out.size(), 2u);
  }
}

// --- Project to setup data and back -----------------------------------------------------

TEST_F(BuilderTest, AwkwardParameterTextsSurviveTheSetupData) {
  struct Case {
    std::string written;   // the parameter as the author means it
    std::string expected;  // what the engine reads back
  } cases[] = {
      {"", ""},
      {"$", "$"},
      {"|", "|"},
      {"\"quoted\"", "\"quoted\""},
      {"  leading and trailing  ", "  leading and trailing  "},
      {"line 1\nline 2\r\nline 3", "line 1$NEWLINE$line 2$NEWLINE$line 3"},
      {"x $DOLLAR$ y", "x $DOLLAR$ y"},
      {"back\\slash\\\\", "back\\slash\\\\"},
      {"tab\there", "tab\there"},
      {"# not a remark // nor a mark", "# not a remark // nor a mark"},
      {"caf\xE9", "caf\xE9"},
      {"$", "$"},
  };
  std::string script;
  for (const auto& c : cases) script += "Set Variable \"V\" " + Quote(c.written) + "\n";
  script += "Comment\n";
  Script(script);

  SetupData d = ReadSetupData(CompileProject(LoadProject(Project())).setupDataText);
  ASSERT_EQ(d.StatementCount(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(LookUpParameter(d.ParameterLines, d.StatementIds[i], 1), "V");
    EXPECT_EQ(LookUpParameter(d.ParameterLines, d.StatementIds[i], 2), cases[i].expected) << i;
  }
  // Blocks are padded with empty parameters, so a statement never reads into the next
  // statement's block; a statement without parameters has no block.
  EXPECT_EQ(d.ParameterLines.Count(), std::size(cases) * (1 + kParameterBlockMinimum));
  EXPECT_EQ(LookUpParameter(d.ParameterLines, d.StatementIds[0], 3), "");
  EXPECT_EQ(LookUpParameter(d.ParameterLines, d.StatementIds[0], kParameterBlockMinimum), "");
  EXPECT_EQ(d.ParameterLines.IndexOf(d.StatementIds[std::size(cases)]), HashedStringList::npos);
}

TEST_F(BuilderTest, EveryItemComesFromTheProject) {
  Manifest(
      "[compiler-variables]\n"
      "LOCMODE = VARSONLY\n"
      "EMPTY = \"\"\n"
      "[plugin-statements]\n"
      "Call DLL Function\n"
      "[component-sizes]\n"
      "VRAX-PREDEF-COMPONENT = 778240\n"
      "[support-files]\n"
      "plug/a.dll\n");
  WriteAll(Project() / "plug" / "a.dll", "plug-in stand-in");
  Script("Set Variable \"A\" \"1\"\n"
         "// Write Registry \"2\" \"Software\\\\Kem\" \"$A$\" \"x\" \"\"\n"
         "Write Registry \"2\" \"Software\\\\Kem\" \"$A$\" \"x\" \"\"\n"
         "Install Files \"plug/a.dll\" \"\" \"$TARGETDIR$\"\n"
         "Call DLL Function \"a.dll\" \"plugins\\\\a.dll\"\n");
  SetupData d = ReadSetupData(CompileProject(LoadProject(Project())).setupDataText);

  EXPECT_EQ(d.StatementNames.Items(), (std::vector<std::string>{"Set Variable", "Write Registry", "Write Registry",
                                                                "Install Files", "Call DLL Function"}));
  EXPECT_EQ(d.CommentFlags.Items(), (std::vector<std::string>{"", "C", "", "", ""}));
  EXPECT_EQ(d.StatementMedia.Items(), (std::vector<std::string>{"", "", "", "OFFLINE\\", ""}));
  EXPECT_EQ(d.SourceMap.Items(),
            (std::vector<std::string>{"main.kems*0", "main.kems*1", "main.kems*2", "main.kems*3", "main.kems*4"}));
  for (const auto& id : d.StatementIds.Items()) {
    EXPECT_THAT(id, ::testing::MatchesRegex("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}"));
  }
  // Headers for the two deferred statements that run, not for the commented-out one.
  ASSERT_EQ(d.CommandHeaders.Count(), 4u);
  EXPECT_EQ(d.CommandHeaders[1], "2");
  EXPECT_EQ(d.CommandHeaders[3], "3");
  for (std::size_t i : {0u, 2u}) {
    const std::string& h = d.CommandHeaders[i];
    EXPECT_THAT(h, ::testing::MatchesRegex("[1-9A-F][0-9A-F]*"));
    EXPECT_THAT(h, ::testing::ContainsRegex("[A-F]"));  // never mistaken for an index
  }
  EXPECT_NE(d.CommandHeaders[0], d.CommandHeaders[2]);
  EXPECT_EQ(LookUpCommandHeader(d.CommandHeaders, 2), d.CommandHeaders[0]);
  EXPECT_EQ(LookUpCommandHeader(d.CommandHeaders, 1), "");

  EXPECT_EQ(d.ProductCode, "{6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}");
  EXPECT_EQ(d.RevisionCode, "{0B9A8C7D-6E5F-4A3B-8C2D-1E0F9A8B7C6D}");  // upper-cased
  EXPECT_EQ(d.ProductTitle, "Test Product");
  EXPECT_EQ(d.CompanyName, "  Kem Tests | Inc  ");
  EXPECT_EQ(d.ContactName, "Support");
  EXPECT_EQ(d.HelpLinkUrl, "https://example.invalid/help");
  EXPECT_EQ(d.UpdateInfoUrl, "https://example.invalid/update");
  EXPECT_EQ(d.ProductComments, "Comments");
  EXPECT_EQ(d.ProductVersion, "2.1.7");
  EXPECT_EQ(d.MediaMode, 0);
  EXPECT_TRUE(d.SelectLanguageAtStart);
  EXPECT_EQ(d.DefaultLanguage, "English");
  EXPECT_EQ(d.CodePage, 1250u);
  EXPECT_EQ(d.PluginStatements, (StringList{"Call DLL Function"}));
  EXPECT_EQ(d.ComponentSizes, (StringList{"VRAX-PREDEF-COMPONENT", "778240"}));
  EXPECT_EQ(d.CompilerVariables.Items(), (std::vector<std::string>{"LOCMODE", "VARSONLY", "EMPTY", ""}));
  EXPECT_TRUE(d.WebBlockSources.empty());
  EXPECT_EQ(d.MediaFileMap.Count(), 0u);
}

// --- The setup folder -------------------------------------------------------------------

TEST_F(BuilderTest, BuildWritesTheSetupFolder) {
  Manifest("[support-files]\nsupport/readme.txt\nlicense.txt\n");
  WriteAll(Project() / "support/readme.txt", "Read me\r\n");
  WriteAll(Project() / "license.txt", "");
  WriteAll(Project() / "dialogs/Welcome.dfm", std::string("\xFF\x0A\x00WELCOME\x00\x30\x10TPF0\x06TForm", 20));
  WriteAll(Project() / "dialogs/Finish.dfm", std::string("TPF0\x06TForm", 10));
  WriteAll(Project() / "dialogs/Finish.dfm.kemf", "IF (A.B = C)  THEN  D.E := F;\r\n");
  WriteAll(Project() / "setup.bmp", "BM picture");
  Script("Display Dialog \"welcome\"\n"
         "Create Folder \"$TARGETDIR$\"\n"
         "Edit INI File \"$TARGETDIR$\" \"a.ini\" \"write\" \"s\" \"k\" \"v\"\n");
  BuildResult r = Build();

  const fs::path out = root_ / "out";
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"data", "kem.lib", "setup.bmp", "test.exe", "test.msi", "test.res"}));
  EXPECT_EQ(ReadAll(out / "kem.lib"), "archive library stand-in");
  EXPECT_EQ(ReadAll(out / "setup.bmp"), "BM picture");

  // The setup program is the engine followed directly by the setup data.
  const std::string exe = ReadAll(out / "test.exe");
  const std::string engine = StandInEngine();
  ASSERT_GT(exe.size(), engine.size());
  EXPECT_EQ(exe.substr(0, engine.size()), engine);
  SetupData d = ReadSetupData(std::string_view(exe).substr(engine.size()));
  EXPECT_EQ(exe.substr(engine.size()), r.compiled.setupDataText);
  EXPECT_EQ(d.StatementCount(), 3u);

  // The database: package code, template and the product's and switches' properties.
  auto props = ReadPropertyTable((out / "test.msi").string());
  std::map<std::string, std::string> p(props.begin(), props.end());
  EXPECT_EQ(p["ProductCode"], d.ProductCode);
  EXPECT_EQ(p["ProductName"], "Test Product");
  EXPECT_EQ(p["ProductVersion"], "2.1.7");
  EXPECT_EQ(p["Manufacturer"], "  Kem Tests | Inc  ");
  EXPECT_THAT(p["UpgradeCode"], ::testing::MatchesRegex("\\{[0-9A-F-]{36}\\}"));
  ASSERT_EQ(d.CommandHeaders.Count(), 4u);
  EXPECT_EQ(p["A" + d.CommandHeaders[0]], "FALSE");
  EXPECT_EQ(p["A" + d.CommandHeaders[2]], "FALSE");
  EXPECT_EQ(props.size(), 6u + 2u);

  // The archive holds the forms under their dialog names, a rules file for each (empty
  // when the project has none) and the support files under their file names.
  std::map<std::string, std::string> expected = {
      {"Finish.dfm", std::string("TPF0\x06TForm", 10)},
      {"Finish.dfm.kemf", "IF (A.B = C)  THEN  D.E := F;\r\n"},
      {"Welcome.dfm", std::string("\xFF\x0A\x00WELCOME\x00\x30\x10TPF0\x06TForm", 20)},
      {"Welcome.dfm.kemf", ""},
      {"license.txt", ""},
      {"readme.txt", "Read me\r\n"},
  };
  std::map<std::string, std::string> packed;
  for (const auto& f : r.compiled.supportFiles) packed[f.name] = EntryBytes(f);
  EXPECT_EQ(packed, expected);
#ifdef KEM_HAVE_SEVENZIP
  // The engine's own 7z reader unpacks exactly these files.
  sevenzip::Archive archive(sevenzip::OpenInputFile((out / "test.res").string()));
  struct Sink : sevenzip::ExtractSink {
    const std::vector<sevenzip::Entry>* entries;
    std::map<std::string, std::string> files;
    std::string current;
    bool BeginEntry(size_t i) override {
      current = (*entries)[i].name;
      files[current];
      return true;
    }
    void Data(const uint8_t* data, size_t size) override {
      files[current].append(reinterpret_cast<const char*>(data), size);
    }
    void EndEntry(size_t) override {}
  } sink;
  sink.entries = &archive.Entries();
  for (const auto& e : archive.Entries())
    if (!e.hasStream) sink.files[e.name];
  archive.Extract(std::vector<bool>(archive.Entries().size(), true), sink);
  EXPECT_EQ(sink.files, expected);
#endif
}

TEST_F(BuilderTest, TheSameProjectGivesTheSameBytes) {
  Manifest("[support-files]\nb.txt\na.txt\n");
  WriteAll(Project() / "a.txt", std::string(5000, 'a'));
  WriteAll(Project() / "b.txt", "bee");
  Script("Set Variable \"A\" \"1\"\nWrite Registry \"2\" \"k\" \"$A$\" \"\" \"\"\nTerminate with Exit Code \"3\"\n");
  Build("first");
  // Different file times and a later moment must not change a byte.
  fs::last_write_time(Project() / "a.txt", fs::file_time_type::clock::now() - std::chrono::hours(1000));
  sleep(1);
  Build("second");
  for (const char* f : {"test.exe", "test.res", "test.msi", "kem.lib"}) {
    std::string a = ReadAll(root_ / "first" / f), b = ReadAll(root_ / "second" / f);
    EXPECT_FALSE(a.empty()) << f;
    EXPECT_TRUE(a == b) << f << " differs between two builds";
  }
}

TEST_F(BuilderTest, EmptyProjectGetsAnEmptyArchive) {
  Script("Terminate Install\n");
  Build();
  EXPECT_EQ(ReadAll(root_ / "out" / "test.res"), EmptySevenZipArchive());
#ifdef KEM_HAVE_SEVENZIP
  sevenzip::Archive archive(sevenzip::OpenInputFile((root_ / "out" / "test.res").string()));
  EXPECT_TRUE(archive.Entries().empty());
#endif
}

#ifdef KEM_HAVE_FORMS
TEST_F(BuilderTest, TextFormsAreCompiledAndTheirErrorsNameTheLine) {
  WriteAll(Project() / "dialogs/Welcome.dfm.txt",
           "object Welcome: TPoolTemplate\r\n"
           "  Caption = 'Welcome'\r\n"
           "  object Label1: TLabel\r\n"
           "    Caption = 'Install to $TARGETDIR$'\r\n"
           "  end\r\n"
           "end\r\n");
  Script("Display Dialog \"Welcome\"\n");
  CompiledSetup c = CompileProject(LoadProject(Project()));
  ASSERT_EQ(c.supportFiles.size(), 2u);
  EXPECT_EQ(c.supportFiles[0].name, "Welcome.dfm");
  EXPECT_NE(c.supportFiles[0].bytes.find("TPF0"), std::string::npos);
  EXPECT_NE(c.supportFiles[0].bytes.find("Install to $TARGETDIR$"), std::string::npos);
  EXPECT_EQ(c.supportFiles[1].name, "Welcome.dfm.kemf");

  WriteAll(Project() / "dialogs/Welcome.dfm.txt", "object Welcome: TPoolTemplate\r\n  Caption = \r\nend\r\n");
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].file, "dialogs/Welcome.dfm.txt");
  EXPECT_GE(ds[0].line, 2u);
  EXPECT_FALSE(ds[0].message.empty());
}
#endif

// --- Errors -----------------------------------------------------------------------------

TEST_F(BuilderTest, ProjectErrorsFailWithFileAndLineAndWriteNothing) {
  struct Case {
    const char* name;
    std::string script;
    std::string manifestExtra;
    std::string file;
    std::size_t line;
    std::string message;
  } cases[] = {
      {"syntax", "Comment\nSet Variable \"A\" \"1\n", "", "main.kems", 2, "unterminated"},
      {"unknown name", "Comment\n\nSet Varable \"A\" \"1\"\n", "", "main.kems", 3, "unknown statement name"},
      {"duplicate ID",
       "{11111111-2222-3333-4444-555555555555} Comment\n{11111111-2222-3333-4444-555555555555} Comment\n", "",
       "main.kems", 2, "duplicate statement ID"},
      {"duplicate label", "Label \"A\"\nComment\n// Label \"a\"\n", "", "main.kems", 3, "already defined"},
      {"undefined label", "GoTo Label \"nowhere\"\n", "", "main.kems", 1, "not defined"},
      {"missing dialog", "Comment\nDisplay Dialog \"Welcome\"\n", "", "main.kems", 2, "dialog Welcome not found"},
      {"missing support file", "Comment\n", "[support-files]\nthere.txt\n", kManifestName, 19,
       "support file there.txt not found"},
      {"unrepresentable parameter", "Set Variable \"A\" \"$dollar$\"\n", "", "main.kems", 1,
       "reads as \"$\""},
      {"parameter equal to an ID",
       "{11111111-2222-3333-4444-555555555555} Comment\nSet Variable \"A\" "
       "\"{11111111-2222-3333-4444-555555555555}\"\n",
       "", "main.kems", 2, "equals a statement ID"},
      {"unknown manifest key", "Comment\n", "[product]\ncolour = red\n", kManifestName, 19, "unknown key"},
      {"bad compiler variable", "Comment\n", "[compiler-variables]\nX#Y = 1\n", kManifestName, 19, "#"},
#ifdef KEM_HAVE_VALIDATION
      {"engine validation", "Comment\nIf \"$UNDEFINED$\" \"0\" \"1\" \"\"\nEnd\n", "", "main.kems", 2,
       "Variable not defined: $UNDEFINED$"},
      // The engine's pass reports a missing End for the script as a whole; the builder names the If.
      {"If without End", "If \"TITLE\" \"0\" \"1\" \"\"\n", "", "main.kems", 1, "this If has no End"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Manifest(c.manifestExtra);
    Script(c.script);
    auto ds = BuildErrors();
    ASSERT_FALSE(ds.empty());
    EXPECT_EQ(ds[0].file, c.file);
    EXPECT_EQ(ds[0].line, c.line);
    EXPECT_THAT(ds[0].message, HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(root_ / "out"));
  }
  // Nothing is left beside the output folder either.
  std::size_t entries = std::distance(fs::directory_iterator(root_), fs::directory_iterator());
  EXPECT_EQ(entries, 2u);  // engine, project
}

TEST_F(BuilderTest, ABrokenBuildLeavesAnEarlierSetupAlone) {
  Script("Terminate Install\n");
  Build();
  const std::string before = ReadAll(root_ / "out" / "test.exe");
  Script("Terminate Install \"unterminated\n");
  EXPECT_FALSE(BuildErrors().empty());
  EXPECT_EQ(ReadAll(root_ / "out" / "test.exe"), before);
}

TEST_F(BuilderTest, EngineProblemsAreReported) {
  Script("Terminate Install\n");
  WriteAll(EngineDir() / kEngineFileName, StandInEngine() + "setup data of another setup");
  EXPECT_THAT(BuildErrors().at(0).message, HasSubstr("already carries data"));
  WriteAll(EngineDir() / kEngineFileName, "not a program");
  EXPECT_THAT(BuildErrors().at(0).message, HasSubstr("not a usable engine"));
  fs::remove(EngineDir() / kEngineFileName);
  EXPECT_THAT(BuildErrors().at(0).message, HasSubstr("engine not found"));
  EXPECT_FALSE(fs::exists(root_ / "out"));
}

// --- What check finds ------------------------------------------------------------------

// A good project, then one change at a time and the message it must give, located.
TEST_F(BuilderTest, CheckFindsScriptMistakesWithTheirLines) {
  const std::string good =
      "Set Variable \"CODE\" \"0\"\n"              // 1
      "Mathematics \"$CODE$\" \"2\" \"+\" \"CODE\"\n"  // 2
      "If \"CODE\" \">\" \"1\"\n"                   // 3
      "  Set Variable \"DIR\" \"#APPDIR#\"\n"        // 4
      "Else\n"                                       // 5
      "  Comment \"none\"\n"                         // 6
      "End\n"                                        // 7
      "Terminate with Exit Code \"$CODE$\"\n";       // 8
  const std::string goodManifest =
      "[compiler-variables]\nAPPDIR = C:\\App\n[plugin-statements]\nCall Plugin\n[support-files]\nplug/shipped.dll\n";
  WriteAll(Project() / "plug" / "shipped.dll", "plug-in stand-in");
  Manifest(goodManifest);
  Script(good);
  ASSERT_TRUE(CompileProject(LoadProject(Project())).warnings.empty());

  struct Case {
    std::string from, to;  // a text of the good script and its replacement
    std::size_t line;
    bool warning;
    std::string message;
  } cases[] = {
      {"Mathematics \"$CODE$\" \"2\" \"+\" \"CODE\"", "Mathematics \"$CODE$\" \"2\"", 2, false,
       "Mathematics needs parameter 3 (operation"},
      {"Mathematics \"$CODE$\" \"2\" \"+\"", "Mathematics \"$CODE$\" \"2\" \"plus\"", 2, false,
       "is \"plus\", which is none of + (0), - (1)"},
      {"\"2\" \"+\"", "\"2\" \"dvi\"", 2, false, "did you mean \"div\"?"},
      {"\"2\" \"+\"", "\"two\" \"+\"", 2, false, "parameter 2 (b) of Mathematics must be a whole number"},
      {"Mathematics \"$CODE$\" \"2\" \"+\"", "Mathematics \"x\" \"2\" \"+\"", 2, false,
       "parameter 1 (a) of Mathematics must be a whole number, not \"x\""},
      {"Set Variable \"CODE\" \"0\"", "Parse String \"a,b\" \",\" \"A\" \"CODE\"", 1, false,
       "Parse String needs parameter 5 (mode"},
      {"Set Variable \"CODE\" \"0\"",
       "Set Variable \"CODE\" \"0\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" \"\"", 1, false,
       "Set Variable takes 2 parameters, not 17"},
      {"Exit Code \"$CODE$\"", "Exit Code \"$CDOE$\"", 8, true,
       "nothing in the project defines the variable CDOE; did you mean $CODE$?"},
      {"#APPDIR#", "#APPDIRR#", 4, false, "unknown compiler variable #APPDIRR#; did you mean #APPDIR#?"},
      {"If \"CODE\" \">\" \"1\"\n", "", 4, false, "\"Else\" outside any If block"},
      {"End\n", "End\nEnd\n", 8, false, "End without an If or Wizard Loop"},
      {"End\n", "", 3, false, "this If has no End"},
      {"Terminate with", "terminate with", 8, false,
       "statement names are case-sensitive; did you mean \"Terminate with Exit Code\"?"},
      {"Set Variable \"DIR\"", "Set Varable \"DIR\"", 4, false, "did you mean \"Set Variable\"?"},
      {"\"CODE\" \">\" \"1\"", "\"CODE\" \"bigger\" \"1\"", 3, false, "is \"bigger\", which is none of = (0)"},
      {"\"CODE\" \">\" \"1\"", "\"CODE\" \"<>\" \"1\" \"TRUE\"", 3, false, "\"<>\" already negates"},
      {"\"CODE\" \">\" \"1\"", "\"CODE\" \">\" \"1\" \"maybe\"", 3, false, "must be TRUE or FALSE, not \"maybe\""},
      {"Exit Code \"$CODE$\"", "Exit Code \"forty\"", 8, false, "must be a whole number, not \"forty\""},
      {"Set Variable \"CODE\" \"0\"", "Get Folder Location \"CODE\" \"29\"", 1, false, "must lie between 0 and 28"},
      {"  Comment \"none\"", "  Call Plugin \"x\" \"sub\\\\missing.dll\"", 6, false,
       "plug-in library \"missing.dll\" of \"Call Plugin\" is not shipped: list it under [support-files]"},
      {"  Comment \"none\"", "  Call Plugin \"x\"", 6, false, "plug-in statement \"Call Plugin\" names no library"},
      // After an If's Else the engine skips to its End: a second Else or an Else If never runs.
      {"  Comment \"none\"\n", "  Comment \"none\"\nElse\n", 7, false, "\"Else\" after the Else of this If (line 5) never runs"},
      {"  Comment \"none\"\n", "  Comment \"none\"\nElse If \"CODE\" \"=\" \"2\"\n", 7, false,
       "\"Else If\" after the Else of this If (line 5) never runs"},
      {"  Comment \"none\"", "  Install Files \"nothere.txt\" \"\" \"C:\\\\App\"", 6, false,
       "Install Files: source file nothere.txt not found"},
      {"  Comment \"none\"", "  Set Access Control \"C:\\\\x\" \"all\" \"4\"", 6, false,
       "parameter 2 (accounts) of Set Access Control must be a whole number, not \"all\""},
      {"  Comment \"none\"", "  Schedule Task \"Nightly\" \"\" \"\"", 6, false,
       "Schedule Task needs a value in parameter 3 (program"},
      {"  Comment \"none\"", "  Create IIS Site \"Web\"", 6, true,
       "Create IIS Site is not carried out by this engine: the statement does nothing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    std::string script = good;
    ASSERT_NE(script.find(c.from), std::string::npos);
    script.replace(script.find(c.from), c.from.size(), c.to);
    Script(script);
    std::vector<Diagnostic> found;
    try {
      found = CompileProject(LoadProject(Project())).warnings;
    } catch (const BuildError& e) {
      found = e.Diagnostics();
    }
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].file, "main.kems");
    EXPECT_EQ(found[0].line, c.line);
    EXPECT_EQ(found[0].warning, c.warning);
    EXPECT_THAT(found[0].message, HasSubstr(c.message));
  }
}

#ifdef KEM_HAVE_FORMS
// A good dialog with rules, then one change at a time and the message it must give.
TEST_F(BuilderTest, CheckFindsDialogMistakesWithTheirLines) {
  const std::string goodForm =
      "object Welcome: TPoolTemplate\n"  // 1
      "  Caption = 'Welcome'\n"          // 2
      "  ActiveControl = Button1\n"      // 3
      "  object Label1: TLabel\n"        // 4
      "    Caption = 'Hello'\n"          // 5
      "  end\n"                          // 6
      "  object Button1: TButton\n"      // 7
      "    Caption = '&Next >'\n"        // 8
      "    Tag = 1\n"                    // 9
      "  end\n"                          // 10
      "end\n";
  const std::string goodRules = "IF (Button1.Caption = x)  THEN  Label1.Caption := y;\n";
  Script("Display Dialog \"Welcome\"\n");
  struct Case {
    std::string from, to;  // in the form, or in the rules when rules is set
    bool rules;
    std::string file;
    std::size_t line;
    std::string message;
  } cases[] = {
      {"TLabel", "TLable", false, "dialogs/Welcome.dfm.txt", 4, "TLable, which is no dialog control; did you mean TLabel?"},
      {"    Caption = 'Hello'", "    Captoin = 'Hello'", false, "dialogs/Welcome.dfm.txt", 5,
       "TLabel has no property Captoin; did you mean Caption?"},
      {"object Label1: TLabel", "object Button1: TLabel", false, "dialogs/Welcome.dfm.txt", 7,
       "the control name Button1 is used twice"},
      {"ActiveControl = Button1", "ActiveControl = Button2", false, "dialogs/Welcome.dfm.txt", 3,
       "ActiveControl names Button2, which the form does not have"},
      {"Label1.Caption :=", "Label2.Caption :=", true, "dialogs/Welcome.dfm.kemf", 1,
       "names the control Label2, which the form does not have"},
      {"THEN", "THEM", true, "dialogs/Welcome.dfm.kemf", 1, "not a rule"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    std::string form = goodForm, rules = goodRules;
    std::string& changed = c.rules ? rules : form;
    ASSERT_NE(changed.find(c.from), std::string::npos);
    changed.replace(changed.find(c.from), c.from.size(), c.to);
    WriteAll(Project() / "dialogs/Welcome.dfm.txt", form);
    WriteAll(Project() / "dialogs/Welcome.dfm.kemf", rules);
    std::vector<Diagnostic> found;
    try {
      found = CompileProject(LoadProject(Project())).warnings;
    } catch (const BuildError& e) {
      found = e.Diagnostics();
    }
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].file, c.file);
    EXPECT_EQ(found[0].line, c.line);
    EXPECT_FALSE(found[0].warning);
    EXPECT_THAT(found[0].message, HasSubstr(c.message));
  }
  WriteAll(Project() / "dialogs/Welcome.dfm.txt", goodForm);
  WriteAll(Project() / "dialogs/Welcome.dfm.kemf", goodRules);
  EXPECT_TRUE(CompileProject(LoadProject(Project())).warnings.empty());
}
#endif

// Readable names compile to the codes: the setup data is the very same as with codes.
TEST_F(BuilderTest, ReadableNamesCompileToTheCodes) {
  const std::string withCodes =
      "Set Variable \"A\" \"7\"\n"
      "If \"A\" \"0\" \"7\" \"TRUE\"\nEnd\n"
      "If \"A\" \"5\" \"\"\nEnd\n"
      "Mathematics \"$A$\" \"2\" \"4\" \"B\"\n"
      "Extract Path \"A\" \"3\"\n"
      "Parse String \"a,b\" \",\" \"C\" \"D\" \"1\"\n"
      "MessageBox \"t\" \"m\" \"2\" \"4\" \"R\"\n"
      "Read Registry \"R\" \"2\" \"Software\" \"x\"\n"
      "Mathematics \"A\" \"\" \"11\" \"E\"\n";
  const std::string withNames =
      "Set Variable \"A\" \"7\"\n"
      "If \"A\" \"<>\" \"7\"\nEnd\n"
      "If \"A\" \"DEFINED\" \"\"\nEnd\n"
      "Mathematics \"$A$\" \"2\" \"mod\" \"B\"\n"
      "Extract Path \"A\" \"folder\"\n"
      "Parse String \"a,b\" \",\" \"C\" \"D\" \"at-last\"\n"
      "MessageBox \"t\" \"m\" \"warning\" \"yes-no\" \"R\"\n"
      "Read Registry \"R\" \"HKLM\" \"Software\" \"x\"\n"
      "Mathematics \"A\" \"\" \"ord\" \"E\"\n";
  Script(withCodes);
  const std::string a = CompileProject(LoadProject(Project())).setupDataText;
  Script(withNames);
  const std::string b = CompileProject(LoadProject(Project())).setupDataText;
  EXPECT_TRUE(a == b);
}

// --- Project text and the code page ----------------------------------------------------

// Titles and company names in UTF-8: what the code page holds reaches the setup data in the
// code page and the installer database as the same text; anything else is refused with the
// manifest line, and no text ever breaks the database.
TEST_F(BuilderTest, TitlesAreConvertedToTheCodePageOrRefused) {
  const std::string longTitle = [] {
    std::string t;
    for (int i = 0; i < 10000; ++i) t += "\xC3\xA9";  // é
    return t;
  }();
  struct Case {
    const char* name;
    std::string codePage;
    std::string title;           // as written, UTF-8
    std::string setupDataTitle;  // empty: refused
  } cases[] = {
      {"ASCII", "1252", "Hello", "Hello"},
      {"letters of 1252", "1252", "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xE9 \x80"},
      {"letters of 1250", "1250", "\xC5\x81\xC3\xB3\x64\xC5\xBA", "\xA3\xF3\x64\x9F"},  // Łódź
      {"outside the code page", "1252", "ok \xE2\x9C\x93", ""},                         // ✓
      {"not UTF-8", "1252", "Caf\xE9", ""},
      {"10,000 characters", "1252", longTitle, std::string(10000, '\xE9')},
      {"double-byte", "932", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},  // 日本
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string manifest = kManifest;
    manifest.replace(manifest.find("title = Test Product"), 20, "title = " + c.title);
    manifest.replace(manifest.find("code-page = 1250"), 16, "code-page = " + c.codePage);
    manifest += "company = \"" + c.title + "\"\n";
    manifest.erase(manifest.find("company = \"  Kem"), manifest.find('\n', manifest.find("company = \"  Kem")) + 1 -
                                                          manifest.find("company = \"  Kem"));
    WriteAll(Project() / kManifestName, manifest);
    Script("Set Variable \"T\" \"" + c.title + "\"\n");
    fs::remove_all(root_ / "out");
    if (c.setupDataTitle.empty()) {
      auto ds = BuildErrors();
      ASSERT_FALSE(ds.empty());
      EXPECT_EQ(ds[0].file, kManifestName);
      EXPECT_EQ(ds[0].line, 5u);
      EXPECT_FALSE(fs::exists(root_ / "out"));
      continue;
    }
    BuildResult r = Build();
    SetupData d = ReadSetupData(r.compiled.setupDataText);
    EXPECT_TRUE(d.ProductTitle == c.setupDataTitle);
    EXPECT_TRUE(d.CompanyName == c.setupDataTitle);
    EXPECT_TRUE(LookUpParameter(d.ParameterLines, d.StatementIds[0], 2) == c.setupDataTitle);
    auto props = ReadPropertyTable((root_ / "out" / "test.msi").string());
    std::map<std::string, std::string> p(props.begin(), props.end());
    EXPECT_TRUE(p["ProductName"] == c.title);
    EXPECT_TRUE(p["Manufacturer"] == c.title);
  }
}

// Any byte in a manifest value, a script parameter or a statement name, and broken UTF-8
// sequences: the project compiles or fails with a located message, never anything else.
TEST_F(BuilderTest, NoByteBreaksTheBuilder) {
  std::vector<std::string> texts;
  for (int b = 0; b < 256; ++b) texts.push_back(std::string("A") + static_cast<char>(b) + "B");
  for (const char* odd : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xEF\xBB\xBF", "\xFF\xFE", "\r", "\r\n\r"})
    texts.push_back(std::string("x") + odd + "y");
  for (const auto& t : texts) {
    SCOPED_TRACE(::testing::PrintToString(t));
    std::string manifest = kManifest;
    manifest.replace(manifest.find("title = Test Product"), 20, "title = " + t);
    WriteAll(Project() / kManifestName, manifest);
    Script("Set Variable \"T\" \"" + t + "\"\n" + t + " \"p\"\nComment\n");
    try {
      CompileProject(LoadProject(Project()));
      ADD_FAILURE() << "a statement named " << t << " was accepted";
    } catch (const BuildError& e) {
      ASSERT_FALSE(e.Diagnostics().empty());
      for (const auto& d : e.Diagnostics()) {
        EXPECT_FALSE(d.file.empty()) << d.message;
        EXPECT_GE(d.line, 1u) << d.message;
        EXPECT_LE(d.line, 19u) << d.message;
      }
    }
  }
}

TEST_F(BuilderTest, ByteOrderMarksAndEscapes) {
  WriteAll(Project() / kManifestName, std::string("\xEF\xBB\xBF") + kManifest);
  Script("\xEF\xBB\xBFSet Variable \"A\" \"C:\\\\Program Files\\\\\"\n");
  SetupData d = Compile();
  ASSERT_EQ(d.StatementCount(), 1u);
  EXPECT_EQ(d.StatementNames[0], "Set Variable");
  EXPECT_EQ(d.ProductCode, "{6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}");
  EXPECT_EQ(LookUpParameter(d.ParameterLines, d.StatementIds[0], 2), "C:\\Program Files\\");
  // A single backslash before a letter that is no escape is refused, and says how to write it.
  Script("Set Variable \"A\" \"C:\\Program\"\n");
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].line, 1u);
  EXPECT_THAT(ds[0].message, HasSubstr("\\\\"));
}

// --- Names and paths --------------------------------------------------------------------

TEST_F(BuilderTest, SupportFilesTheEngineWouldRefuseOrFromOutsideAreRefused) {
  WriteAll(root_ / "outside" / "secret.txt", "secret");
  WriteAll(Project() / "support" / "fine.txt", "fine");
  fs::create_directories(Project() / "links");
  fs::create_symlink(root_ / "outside" / "secret.txt", Project() / "links" / "link.txt");
  fs::create_symlink(Project() / "support" / "fine.txt", Project() / "links" / "inner.txt");
  struct Case {
    std::string path;     // as listed in [support-files]
    std::string message;  // empty: accepted
  } cases[] = {
      {"support/fine.txt", ""},
      {"links/inner.txt", ""},  // a link that stays inside the project
      {"support/con.txt", "refuses this name"},
      {"support/aux", "refuses this name"},
      {"support/a:b.txt", "refuses this name"},
      {"support/trail.", "dot or a blank"},
      {"support/trail ", "dot or a blank"},
      {"../outside/secret.txt", "outside the project folder"},
      {"links/link.txt", "outside the project folder"},
      {"support/\xE2\x9C\x93.txt", "code page"},
  };
  Script("Comment\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.path.rfind("support/", 0) == 0 && c.path != "support/fine.txt") WriteAll(Project() / c.path, "x");
    Manifest("[support-files]\n\"" + c.path + "\"\n");
    if (c.message.empty()) {
      EXPECT_NO_THROW(Compile());
      continue;
    }
    auto ds = BuildErrors();
    ASSERT_EQ(ds.size(), 1u);
    EXPECT_EQ(ds[0].file, kManifestName);
    EXPECT_EQ(ds[0].line, 19u);
    EXPECT_THAT(ds[0].message, HasSubstr(c.message));
  }
  // A named source folder lets the project use files from there.
  Manifest("source-folder = ../outside\n[support-files]\n../outside/secret.txt\n");
  CompiledSetup compiled = CompileProject(LoadProject(Project()));
  ASSERT_EQ(compiled.supportFiles.size(), 1u);
  EXPECT_EQ(EntryBytes(compiled.supportFiles[0]), "secret");
  // A script from outside is refused before it is read: no line of it reaches a message.
  WriteAll(root_ / "outside" / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
  std::string manifest = kManifest;
  manifest.replace(manifest.find("script = main.kems"), 18, "script = ../outside/passwd");
  WriteAll(Project() / kManifestName, manifest);
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_THAT(ds[0].message, HasSubstr("outside the project folder"));
  EXPECT_THAT(ds[0].message, ::testing::Not(HasSubstr("root:")));
  // A manifest that cannot be read says why, not that there is none.
  fs::remove(Project() / kManifestName);
  fs::create_symlink(kManifestName, Project() / kManifestName);  // a link to itself
  ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_THAT(ds[0].message, HasSubstr(std::string("cannot read ") + kManifestName + ": "));
  fs::remove(Project() / kManifestName);
  WriteAll(Project() / kManifestName, manifest);
  // Nor is a manifest that is a link to a file elsewhere.
  fs::rename(Project() / kManifestName, root_ / "outside" / kManifestName);
  fs::create_symlink(root_ / "outside" / kManifestName, Project() / kManifestName);
  ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_THAT(ds[0].message, HasSubstr("the manifest lies outside the project folder"));
}

// A source folder lends files only from below the project's parent folder or from a folder
// below the home folder, never from the system's own folders; scripts, translations and
// forms come from the project folder alone, so no line of another file reaches a message.
TEST_F(BuilderTest, SourceFoldersStayBelowTheProjectsParentOrTheHomeFolder) {
  char tmpl[] = "/tmp/kembuild-home-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path home = tmpl;
  WriteAll(home / "Joe's lib" / "tool.dat", "tool");
  WriteAll(root_ / "outside" / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
  fs::create_directories(Project() / "links");
  fs::create_symlink("/etc", Project() / "links" / "etc");
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  Script("Comment\n");
  struct Case {
    std::string folder;
    std::string message;  // empty: accepted
  } cases[] = {
      {"/proc/self", "is a system folder"},
      {"/proc/self/cwd", "lies outside the project's parent folder"},  // the link followed: the current folder
      {"/sys", "is a system folder"},
      {"/dev", "is a system folder"},
      {"/etc", "lies outside the project's parent folder"},
      {"/", "lies outside the project's parent folder"},
      {"links/etc", "lies outside the project's parent folder"},
      {home.string(), "lies outside the project's parent folder"},  // all of home: no
      {(home / "Joe's lib").string(), ""},
      {"../outside", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    Manifest("source-folder = \"" + c.folder + "\"\n");
    try {
      LoadManifest(Project());
      EXPECT_EQ(c.message, "") << "accepted";
    } catch (const BuildError& e) {
      ASSERT_EQ(e.Diagnostics().size(), 1u);
      EXPECT_EQ(e.Diagnostics()[0].line, 18u);
      EXPECT_THAT(e.Diagnostics()[0].message, HasSubstr(c.message.empty() ? "(accepted)" : c.message));
    }
  }
  // A folder lent by a source folder gives data files, never a script to read.
  std::string manifest = kManifest;
  manifest.replace(manifest.find("script = main.kems"), 18, "script = ../outside/passwd");
  WriteAll(Project() / kManifestName, manifest + "source-folder = ../outside\n");
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_THAT(ds[0].message, HasSubstr("scripts, translations, forms and rules must lie inside it"));
  EXPECT_THAT(ds[0].message, ::testing::Not(HasSubstr("root:")));
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
  else unsetenv("HOME");
  fs::remove_all(home);
}

// A text file over the builder's limit is refused while it is read, with its size: a
// script of one 65 MB remark line never reaches the parser.
TEST_F(BuilderTest, OversizedScriptsAreRefusedWhileRead) {
  {
    std::ofstream out(Project() / "main.kems", std::ios::binary | std::ios::trunc);
    out << "Comment\n#";
    const std::string piece(1u << 20, 'x');
    for (int i = 0; i < 65; ++i) out << piece;
  }
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].file, kManifestName);
  EXPECT_THAT(ds[0].message, HasSubstr("more than 64 MB"));
  EXPECT_THAT(ds[0].message, HasSubstr("main.kems"));
}

TEST_F(BuilderTest, OutputFolderMustLieOutsideTheProject) {
  Script("Comment\n");
  WriteAll(root_ / "a-file", "keep");
  struct Case {
    fs::path out;
    std::string message;
  } cases[] = {
      {Project(), "inside the project folder"},
      {Project() / "out", "inside the project folder"},
      {Project() / ".." / "project" / "dialogs", "inside the project folder"},
      {root_, "holds the project folder"},
      {root_ / "a-file", "is a file"},
      {root_ / "a-file" / "sub", "cannot be made: " + (root_ / "a-file").string() + " is a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out.string());
    try {
      BuildSetup({Project(), c.out, EngineDir()});
      ADD_FAILURE() << "the build did not fail";
    } catch (const BuildError& e) {
      EXPECT_THAT(e.Diagnostics().at(0).message, HasSubstr(c.message));
    }
  }
  EXPECT_FALSE(fs::exists(Project() / "setup.exe"));
  EXPECT_FALSE(fs::exists(Project() / "test.exe"));
  EXPECT_EQ(ReadAll(root_ / "a-file"), "keep");
}

// A build stopped by SIGINT or SIGTERM while it packs leaves nothing: no staging folder, no
// output, no packing tool still running.
TEST_F(BuilderTest, AStoppedBuildLeavesNothingBehind) {
  std::string big(40u << 20, '\0');
  std::uint64_t x = 88172645463325252ull;
  for (std::size_t i = 0; i < big.size(); i += 8) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    std::memcpy(&big[i], &x, 8);
  }
  WriteAll(Project() / "big.bin", big);
  big.clear();
  Manifest("[support-files]\nbig.bin\n");
  Script("Comment\n");
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(KEMBUILD_EXE, KEMBUILD_EXE, "build", Project().c_str(), "-o", (root_ / "out").c_str(), "--engine-dir",
            EngineDir().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Wait until the packing tool works inside the staging folder.
    const fs::path staging = root_ / (".out.kembuild-" + std::to_string(pid));
    bool packing = false;
    for (int i = 0; i < 600 && !packing; ++i) {
      usleep(50000);
      packing = fs::exists(staging / "support" / "big.bin");
    }
    ASSERT_TRUE(packing);
    usleep(200000);
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_FALSE(fs::exists(root_ / "out"));
  }
}

// Writes that fail part way (here through a limit on the size of files the builder may
// write, as a full disk would stop them): exit status 1 with one message, never a crash,
// and no staging folder or part of a setup left behind.
TEST_F(BuilderTest, AFailedWriteIsOneMessageAndLeavesNothing) {
  WriteAll(Project() / "support" / "readme.txt", std::string(3000, 'r'));
  Manifest("[support-files]\nsupport/readme.txt\n");
  Script("Comment\n");
  bool databaseFailed = false;
  for (rlim_t limit : {rlim_t{512}, rlim_t{2048}, rlim_t{4096}, rlim_t{5120}, rlim_t{6144}, rlim_t{7168}}) {
    SCOPED_TRACE(limit);
    const fs::path err = root_ / "err.txt";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit r = {limit, limit};
      setrlimit(RLIMIT_FSIZE, &r);
      int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      execl(KEMBUILD_EXE, KEMBUILD_EXE, "build", Project().c_str(), "-o", (root_ / "out").c_str(), "--engine-dir",
            EngineDir().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    const std::string message = ReadAll(err);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(WEXITSTATUS(status), 1) << message;
    EXPECT_THAT(message, ::testing::StartsWith("kembuild: error: cannot "));
    if (message.find(".msi") != std::string::npos) databaseFailed = true;
    EXPECT_FALSE(fs::exists(root_ / "out"));
    for (const auto& e : fs::directory_iterator(root_))
      EXPECT_EQ(e.path().filename().string().find(".out.kembuild"), std::string::npos) << e.path();
  }
  EXPECT_TRUE(databaseFailed);  // one of the limits stops the installer database
}

// --- Statement IDs ----------------------------------------------------------------------

TEST_F(BuilderTest, AssignedIdsAreTheBuildsIdsAndStayPut) {
  Script("# script\r\n"
         "Set Variable \"A\" \"1\"\r\n"
         "  // Comment \"x\"\r\n"
         "{AAAAAAAA-2222-3333-4444-555555555555} Comment\r\n"
         "Comment");
  const SetupData before = Compile();
  EXPECT_EQ(AssignStatementIds(Project()), 3u);

  const std::string text = ReadAll(Project() / "main.kems");
  const std::vector<std::string>& ids = before.StatementIds.Items();
  EXPECT_EQ(text, "# script\r\n" + ids[0] + " Set Variable \"A\" \"1\"\r\n  // " + ids[1] +
                      " Comment \"x\"\r\n{AAAAAAAA-2222-3333-4444-555555555555} Comment\r\n" + ids[3] + " Comment");
  EXPECT_EQ(Compile().StatementIds.Items(), ids);
  EXPECT_EQ(AssignStatementIds(Project()), 0u);

  // A statement inserted before the others gets a new ID; the others keep theirs.
  WriteAll(Project() / "main.kems", "Comment \"new\"\n" + text);
  EXPECT_EQ(AssignStatementIds(Project()), 1u);
  const SetupData after = Compile();
  ASSERT_EQ(after.StatementCount(), 5u);
  EXPECT_EQ(std::vector<std::string>(after.StatementIds.Items().begin() + 1, after.StatementIds.Items().end()), ids);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), after.StatementIds[0]), 0);
}

TEST_F(BuilderTest, AssignIdsChangesNothingInABrokenProject) {
  const std::string script = "Set Variable \"A\"\nComment \"oops\n";
  Script(script);
  EXPECT_THROW(AssignStatementIds(Project()), BuildError);
  EXPECT_EQ(ReadAll(Project() / "main.kems"), script);
}

// --- The command line -------------------------------------------------------------------

struct Outcome {
  int status;
  std::string out, err;
};

Outcome RunKembuild(const std::string& args, const fs::path& dir) {
  const std::string out = (dir / "stdout.txt").string(), err = (dir / "stderr.txt").string();
  int status = std::system((std::string(KEMBUILD_EXE) + " " + args + " >" + out + " 2>" + err).c_str());
  Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
  fs::remove(out);
  fs::remove(err);
  return o;
}

TEST_F(BuilderTest, CommandLine) {
  Outcome help = RunKembuild("--help", root_);
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"build PROJECT_DIR -o OUT_DIR", "--engine-dir", "check", "assign-ids", "form-compile",
                              "form-text", "KEM_ENGINE_DIR"})
    EXPECT_THAT(help.out, HasSubstr(command));

  EXPECT_EQ(RunKembuild("", root_).status, 2);
  EXPECT_EQ(RunKembuild("frobnicate", root_).status, 2);
  EXPECT_EQ(RunKembuild("build " + Project().string(), root_).status, 2);

  Script("Comment\nComment \"a\" junk\n");
  Outcome bad = RunKembuild("build " + Project().string() + " -o " + (root_ / "o").string() + " --engine-dir " +
                                EngineDir().string(),
                            root_);
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.err, HasSubstr("main.kems:2: error: "));
  EXPECT_FALSE(fs::exists(root_ / "o"));

  Script("Comment\n");
  setenv("KEM_ENGINE_DIR", EngineDir().c_str(), 1);
  Outcome good = RunKembuild("build " + Project().string() + " -o " + (root_ / "o").string(), root_);
  unsetenv("KEM_ENGINE_DIR");
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_TRUE(fs::is_regular_file(root_ / "o" / "test.exe"));
  EXPECT_THAT(good.err, HasSubstr("assign-ids"));  // the note about statements without IDs
}

}  // namespace

namespace {

TEST_F(BuilderTest, CommandLineMessages) {
  // The statement reference, whole and for one statement in any letter case.
  Outcome all = RunKembuild("statements", root_);
  EXPECT_EQ(all.status, 0);
  EXPECT_THAT(all.out, HasSubstr("## Parse String"));
  EXPECT_THAT(all.out, HasSubstr("`div` (3)"));
  Outcome one = RunKembuild("statements \"parse string\"", root_);
  EXPECT_EQ(one.status, 0);
  EXPECT_THAT(one.out, HasSubstr("`at-last` (1)"));
  EXPECT_THAT(one.out, ::testing::Not(HasSubstr("## Mathematics")));
  Outcome typo = RunKembuild("statements Mathematcs", root_);
  EXPECT_EQ(typo.status, 1);
  EXPECT_THAT(typo.err, HasSubstr("did you mean \"Mathematics\"?"));

  // form commands answer --help instead of opening a file of that name.
  for (const char* command : {"form-text --help", "form-compile --help"}) {
    Outcome help = RunKembuild(command, root_);
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("usage:")) << command;
  }

  // A missing script is one error, not two; a missing engine says where it was looked for.
  std::string manifest = kManifest;
  manifest.replace(manifest.find("script = main.kems"), 18, "script = gone.kems");
  WriteAll(Project() / kManifestName, manifest);
  Outcome missing = RunKembuild("check " + Project().string(), root_);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, std::string(kManifestName) + ":17: error: script file gone.kems not found\n");
  Manifest("");
  Script("Comment\n");
  unsetenv("KEM_ENGINE_DIR");
  // A copy outside any build tree: the builder of a build tree finds the engines built beside it.
  fs::create_directories(root_ / "alone");
  fs::copy_file(KEMBUILD_EXE, root_ / "alone" / "kembuild");
  fs::permissions(root_ / "alone" / "kembuild", fs::perms::owner_all);
  const std::string err = (root_ / "alone" / "err.txt").string();
  int noEngineStatus = std::system(((root_ / "alone" / "kembuild").string() + " build " + Project().string() + " -o " +
                                    (root_ / "o").string() + " >/dev/null 2>" + err).c_str());
  Outcome noEngine{WIFEXITED(noEngineStatus) ? WEXITSTATUS(noEngineStatus) : -1, "", ReadAll(err)};
  fs::remove_all(root_ / "alone");
  EXPECT_EQ(noEngine.status, 1);
  EXPECT_THAT(noEngine.err, HasSubstr("kembuild: error: cannot find the engine"));
  EXPECT_THAT(noEngine.err, HasSubstr("--engine-dir"));
  EXPECT_FALSE(fs::exists(root_ / "o"));

  // -o naming a file: one clear message, the file untouched.
  WriteAll(root_ / "file", "keep");
  Outcome toFile = RunKembuild(
      "build " + Project().string() + " -o " + (root_ / "file").string() + " --engine-dir " + EngineDir().string(),
      root_);
  EXPECT_EQ(toFile.status, 1);
  EXPECT_THAT(toFile.err, HasSubstr("is a file"));
  EXPECT_EQ(ReadAll(root_ / "file"), "keep");

  // A failing packing tool: one message of the builder's own that carries the tool's words.
  WriteAll(root_ / "fake7z", "#!/bin/sh\necho 'cannot open the archive' >&2\necho '  details' >&2\nexit 2\n");
  fs::permissions(root_ / "fake7z", fs::perms::owner_all);
  WriteAll(Project() / "support" / "readme.txt", "read me");
  Manifest("[support-files]\nsupport/readme.txt\n");
  setenv("KEM_7ZZ", (root_ / "fake7z").c_str(), 1);
  Outcome packing = RunKembuild(
      "build " + Project().string() + " -o " + (root_ / "o").string() + " --engine-dir " + EngineDir().string(), root_);
  unsetenv("KEM_7ZZ");
  EXPECT_EQ(packing.status, 1);
  EXPECT_EQ(packing.err, "kembuild: error: " + (root_ / "fake7z").string() +
                             " failed to pack the support archive (exit status 2): cannot open the archive; details\n");
  EXPECT_FALSE(fs::exists(root_ / "o"));
  Manifest("");

  // A file that is no script at all gives its first messages, not thousands of lines.
  std::string garbage;
  for (int i = 0; i < 60; ++i) garbage += "\x01\x02 junk \"\n";
  Script(garbage);
  Outcome flood = RunKembuild("check " + Project().string(), root_);
  EXPECT_EQ(flood.status, 1);
  EXPECT_EQ(std::count(flood.err.begin(), flood.err.end(), '\n'), 51);
  EXPECT_THAT(flood.err, HasSubstr("main.kems:50: error: "));
  EXPECT_THAT(flood.err, HasSubstr("kembuild: 10 more error(s) not shown\n"));

  // Warnings are printed and do not fail the build.
  Script("Terminate with Exit Code \"$CDOE$\"\n");
  Outcome warned = RunKembuild("check " + Project().string(), root_);
  EXPECT_EQ(warned.status, 0);
  EXPECT_THAT(warned.err, HasSubstr("main.kems:1: warning: "));
}

}  // namespace

namespace {

// A project the 32-bit engine could not load is refused with the limit named.
TEST_F(BuilderTest, ProjectsBeyondTheEnginesLimitsAreRefused) {
  std::string script;
  script.reserve((kMaxStatements + 1) * 8);
  for (std::size_t i = 0; i <= kMaxStatements; ++i) script += "Ignore\n";
  Script(script);
  auto ds = BuildErrors();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_THAT(ds[0].message, HasSubstr("at most " + std::to_string(kMaxStatements)));
  EXPECT_FALSE(fs::exists(root_ / "out"));
}

// Without --engine-dir and KEM_ENGINE_DIR, the builder takes the engine that
// "cmake --install" put beside it (BIN/../share/kem/engine).
TEST_F(BuilderTest, TheInstalledEngineIsFoundByDefault) {
  const fs::path bin = root_ / "installed" / "bin";
  fs::create_directories(bin);
  fs::copy_file(KEMBUILD_EXE, bin / "kembuild");
  fs::permissions(bin / "kembuild", fs::perms::owner_all);
  const fs::path share = root_ / "installed" / "share" / "kem" / "engine";
  fs::create_directories(share);
  fs::copy_file(EngineDir() / kEngineFileName, share / kEngineFileName);
  fs::copy_file(EngineDir() / kArchiveLibraryName, share / kArchiveLibraryName);
  Script("Comment\n");
  unsetenv("KEM_ENGINE_DIR");
  const std::string out = (root_ / "o").string(), err = (root_ / "err.txt").string();
  int status = std::system(((bin / "kembuild").string() + " build " + Project().string() + " -o " + out +
                            " >/dev/null 2>" + err).c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << ReadAll(err);
  EXPECT_TRUE(fs::is_regular_file(root_ / "o" / "test.exe"));
  EXPECT_EQ(ReadAll(root_ / "o" / kArchiveLibraryName), "archive library stand-in");
}

}  // namespace
