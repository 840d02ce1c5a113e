// The builder's translation files: generated from the script and one source per language,
// aligned line by line, with untranslated, stale and orphaned entries reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "kembuild/build_setup.h"
#include "kembuild/compile_setup.h"
#include "kembuild/project.h"
#include "kembuild/translations.h"

namespace kem::builder {
namespace {

namespace fs = std::filesystem;

constexpr char kIdA[] = "{11111111-1111-4111-8111-111111111111}";
constexpr char kIdB[] = "{22222222-2222-4222-8222-222222222222}";
constexpr char kIdC[] = "{44444444-4444-4444-8444-444444444444}";

class TranslationFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kembuild-lang-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    Write("main.kems", std::string(kIdC) + " Set Variable \"A\" \"\"\n" + kIdA + " MessageBox \"Title\" \"Hello\" \"0\" \"1\" \"\"\n" +
                           "// {33333333-3333-4333-8333-333333333333} MessageBox \"Off\" \"Off\" \"0\" \"1\" \"\"\n" +
                           kIdB + " If \"A\" \"0\" \"B\" \"FALSE\"\nEnd\n" +
                           "Localization Variable \"GREETING\" \"Good day\"\n");
    Manifest("[translations]\nGerman = lang/German.txt\n");
    Write("lang/German.txt", "");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& text) {
    fs::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  void Manifest(const std::string& extra) {
    Write("project.kemp",
          "[product]\ncode = {6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}\n"
          "revision = {0b9a8c7d-6e5f-4a3b-8c2d-1e0f9a8b7c6d}\ntitle = Demo\nversion = 1.0\nscript = main.kems\n" +
              extra);
  }
  // The generated support files by name.
  std::map<std::string, std::string> Files(std::vector<Diagnostic>* warnings = nullptr) {
    CompiledSetup c = CompileProject(LoadProject(dir_));
    if (warnings) *warnings = c.warnings;
    std::map<std::string, std::string> files;
    for (const auto& e : c.supportFiles) files[e.name] = EntryBytes(e);
    return files;
  }
  std::vector<Diagnostic> Errors() {
    try {
      CompileProject(LoadProject(dir_));
    } catch (const BuildError& e) {
      return e.Diagnostics();
    }
    ADD_FAILURE() << "no error";
    return {};
  }

  fs::path dir_;
};

TEST_F(TranslationFilesTest, AlignedFilesWithOriginalsForUntranslatedTexts) {
  const std::string a(kIdA), b(kIdB), c(kIdC);
  Write("lang/German.txt", "# German\n" + a + "/1\tTitle\tTitel\n" + a + "/2\tHi\tHallo\n" + b +
                               "/2\tB\t\nvar:GREETING\tGood day\tGuten Tag\n{99999999-9999-4999-8999-999999999999}/1\tx\ty\n");
  std::vector<Diagnostic> warnings;
  auto files = Files(&warnings);
  EXPECT_EQ(files["Demo.mtx"], c + "\r\n" + a + "\r\n" + a + "\r\n" + b + "\r\n" + b + "\r\nZOZADORU$GREETING$ZOZADORU\r\n");
  EXPECT_EQ(files["translations.Map"], "\r\n\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(files["translations.Original"], "\r\nTitle\r\nHello\r\nA\r\nB\r\nGood day\r\n");
  // The stale entry still carries its translation; untranslated ones carry the original.
  EXPECT_EQ(files["translations.German"], "\r\nTitel\r\nHallo\r\nA\r\nB\r\nGuten Tag\r\n");
  std::string all;
  for (const auto& w : warnings) all += w.message + "\n";
  EXPECT_NE(all.find("stale: " + a + "/2"), std::string::npos) << all;
  EXPECT_NE(all.find("3 text(s) untranslated in German"), std::string::npos) << all;
  EXPECT_NE(all.find("orphaned"), std::string::npos) << all;
  // The same project gives the same bytes.
  EXPECT_EQ(Files(), files);
}

// A dialog's caption is keyed by the dialog, its controls' texts by their names; the Map
// names the dialog.
TEST_F(TranslationFilesTest, DialogTextsFollowTheScriptsTexts) {
  Write("dialogs/Welcome.dfm.txt",
        "object Welcome: TPoolTemplate\n  Caption = 'Welcome to $TITLE$'\n"
        "  object Label1: TLabel\n    Caption = 'Hello'\n  end\n"
        "  object Edit1: TEdit\n    Text = 'C:\\App'\n  end\n"
        "  object Label2: TLabel\n    Caption = ''\n  end\nend\n");
  Write("lang/German.txt", "dialog:Welcome/Label1\tHello\tHallo\ndialog:Welcome\tWelcome to $TITLE$\tWillkommen\n");
  auto files = Files();
  const std::string keys = files["Demo.mtx"], map = files["translations.Map"], german = files["translations.German"];
  auto endsWith = [](const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
  };
  EXPECT_TRUE(endsWith(keys, "\r\nWelcome\r\nLabel1\r\nEdit1\r\n")) << keys;
  EXPECT_TRUE(endsWith(map, "\r\n\r\nWelcome\r\nWelcome\r\nWelcome\r\n")) << map;
  EXPECT_TRUE(endsWith(german, "\r\nWillkommen\r\nHallo\r\nC:\\App\r\n")) << german;
}

TEST_F(TranslationFilesTest, UnusableNamesDuplicateKeysAndBadLinesAreErrors) {
  const struct {
    const char *manifest, *source, *expected;
  } cases[] = {
      {"[translations]\n..\\x = lang/German.txt\n", "", "cannot name a translation file"},
      {"[translations]\nGerman = lang/German.txt\n", "k\tA\tB\nK\tA\tC\n", "duplicate key K"},
      {"[translations]\nGerman = lang/German.txt\n", "only one field\n", "separated by tabs"},
      {"[translations]\nGerman = lang/Missing.txt\n", "", "Missing.txt"},
      {"[translations]\nGerman = lang/German.txt\ngerman = lang/German.txt\n", "", "a second translation"},
  };
  for (const auto& c : cases) {
    Manifest(c.manifest);
    Write("lang/German.txt", c.source);
    std::string all;
    for (const auto& d : Errors()) all += d.message + "\n";
    EXPECT_NE(all.find(c.expected), std::string::npos) << c.manifest << all;
  }
}

TEST_F(TranslationFilesTest, TheTranslatorsFileKeepsTranslationsAndMarksStaleOnes) {
  const std::string a(kIdA);
  CompiledSetup c = CompileProject(LoadProject(dir_));
  Project p = LoadProject(dir_);
  std::string updated = UpdatedTranslationSource(p, c.data, c.dialogTexts, "German", a + "/1\tTitle\tTitel\n" + a + "/2\tHi\tHallo\n");
  EXPECT_NE(updated.find(a + "/1\tTitle\tTitel\n"), std::string::npos) << updated;
  EXPECT_NE(updated.find("# stale: translated from \"Hi\"\n" + a + "/2\tHello\tHallo\n"), std::string::npos) << updated;
  EXPECT_NE(updated.find("var:GREETING\tGood day\t\n"), std::string::npos) << updated;
  EXPECT_EQ(updated.find("33333333"), std::string::npos);  // commented out: nothing to translate
}

}  // namespace
}  // namespace kem::builder
