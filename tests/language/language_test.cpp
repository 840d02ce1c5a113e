// Languages: the identifier/name table, the two translation look-ups over line-aligned
// files, and a run's language (choice at start, remembered language, reload on change)
// over a scripted locale and support folder.
#include <gtest/gtest.h>

#include <map>

#include "script/language/language_hooks.h"
#include "script/language/language_names.h"
#include "script/language/translations.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

TEST(LanguageNames, IdentifiersNamesAndTheSystemFallback) {
  const std::map<int, std::string> english = {{0x0C07, "German"}, {0x0809, "English"}, {0x1234, "Portuguese"},
                                              {0x0439, "Hindi"}};
  auto lookup = [&](int id) {
    auto it = english.find(id);
    return it == english.end() ? std::string() : it->second;
  };
  const struct {
    int id;
    const char* name;
  } cases[] = {
      {1031, "German"},                // in the table
      {2070, "Portugese (Portugal)"},  // spelled as the files spell it
      {0x0C07, "German"},              // Austrian German: its English name is in the table
      {0x0809, "English"},
      {0x0439, "English"},  // a name the table lacks maps to 1033
      {0x1234, "English"},  // "Portuguese" is not the table's spelling
      {0, "English"},       // the system said nothing
  };
  for (const auto& c : cases) EXPECT_EQ(LanguageNameOf(c.id, lookup), c.name) << c.id;
  EXPECT_EQ(LanguageNameOf(0x0C07, nullptr), "English");
  EXPECT_EQ(TableLanguageId("gERMAN"), 1031);
  EXPECT_EQ(TableLanguageId("Klingon"), 1033);
  const std::pair<const char*, int> numbers[] = {{"0407", 1031}, {"0c0a", 3082}, {"", 0}, {"04x7", 0}, {"123456789", 0}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(LocaleNumber(text), value) << text;
}

TEST(LanguageFiles, LinesNamesAndAvailableLanguages) {
  EXPECT_EQ(TranslationLines(""), std::vector<std::string>{});
  EXPECT_EQ(TranslationLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(TranslationLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
  for (const char* bad : {"", "..", "a\\b", "a/b", "C:German", "Ger..man"}) EXPECT_FALSE(UsableLanguageName(bad)) << bad;
  for (const char* good : {"German", "Chinese (PRC)", "Portugese (Brazil)", "x.y"})
    EXPECT_TRUE(UsableLanguageName(good)) << good;
  // Sorted without regard to case; the Map, Original and shared files are no languages.
  EXPECT_EQ(AvailableLanguages({"translations.german", "translations.Map", "TRANSLATIONS.ORIGINAL", "translations.English",
                                "shared.translations.German", "translations.sharedX", "Product.mtx", "translations.",
                                "translations.French"}),
            (std::vector<std::string>{"English", "French", "german"}));
}

// Two statements with two texts each, a "Localization Variable" key and two dialog texts.
class TranslationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.Load("\r\n\r\n\r\n\r\n\r\nwelcome\r\nwelcome.dfm\r\nwelcome\r\n",
           "Titel\r\nHallo\r\nNein #PRODUCT#\r\nJa\r\nGruss\r\nWillkommen\r\nWeiter\r\n\r\n",
           "Title\r\nHello\r\nNo\r\nYes\r\nGreeting\r\nWelcome\r\nNext\r\nBack\r\n",
           "{A}\r\n{A}\r\n{B}\r\n{B}\r\nZOZADORU$GREET$ZOZADORU\r\nwelcome\r\nButton1\r\nButton2\r\n");
  }
  std::string Statement(std::string_view text, std::string_view key, int k, std::string_view mode = "NEWONLY") {
    return t.TranslateStatement(text, key, k, mode, [](std::string_view s) {
      std::string r(s);
      if (auto p = r.find("#PRODUCT#"); p != std::string::npos) r.replace(p, 9, "Demo");
      return r;
    });
  }
  Translations t;
};

TEST_F(TranslationsTest, StatementTexts) {
  const struct {
    const char *text, *key;
    int k;
    const char *mode, *expected;
  } cases[] = {
      {"Title", "{A}", 1, "NEWONLY", "Titel"},
      {"Hello", "{a}", 2, "NEWONLY", "Hallo"},        // keys compare without regard to case
      {"No", "{B}", 1, "NEWONLY", "Nein Demo"},        // compiler variables expanded
      {"Changed", "{A}", 1, "NEWONLY", "Changed"},     // the script's own text stays
      {"Changed", "{A}", 1, "ALL", "Titel"},           // any other mode translates it
      {"Changed", "{A}", 1, "newonly", "Changed"},
      {"Title", "{A}", 1, "VARSONLY", "Title"},        // only variable keys
      {"Greeting", "ZOZADORU$GREET$ZOZADORU", 1, "VARSONLY", "Gruss"},
      {"Title", "{C}", 1, "NEWONLY", "Title"},         // unknown key
      {"Title", "{A}", 3, "NEWONLY", "Title"},         // entry 3 belongs to {B}
      {"Yes", "{B}", 9, "ALL", "Yes"},                 // past the end
      {"Yes", "{B}", 0, "ALL", "Yes"},
  };
  for (const auto& c : cases) EXPECT_EQ(Statement(c.text, c.key, c.k, c.mode), c.expected) << c.key << " " << c.k;
}

TEST_F(TranslationsTest, ShortLanguageFileAndDialogTexts) {
  t.Load("\r\n\r\n", "Titel\r\n", "Title\r\nHello\r\n", "{A}\r\n{A}\r\n");
  EXPECT_EQ(Statement("Hello", "{A}", 2), "Hello");
  SetUp();
  EXPECT_EQ(t.TranslateDialog("welcome.dfm", "welcome.dfm"), "Willkommen");  // the caption, keyed by the dialog
  EXPECT_EQ(t.TranslateDialog("WELCOME", "button1"), "Weiter");               // Map may name it with ".dfm"
  EXPECT_EQ(t.TranslateDialog("welcome.dfm", "Button2"), std::nullopt);      // empty: no translation
  EXPECT_EQ(t.TranslateDialog("other.dfm", "Button1"), std::nullopt);
  EXPECT_EQ(t.TranslateDialog("welcome.dfm", "{A}"), std::nullopt);
}

// A scripted locale and support folder.
class FakeLanguages : public LanguageService {
 public:
  std::map<std::string, std::string> files;  // full path -> text
  int userLanguage = 1031, userDefault = 1031;
  std::optional<std::size_t> answer;  // nullopt: Cancel
  std::vector<Choice> shown;
  std::vector<std::string> reads;

  std::vector<std::string> ListFiles(const std::string& folder, const std::string& prefix) override {
    std::vector<std::string> names;
    // Listed in reverse, as a file system might: the choice sorts them.
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
      if (it->first.rfind(folder, 0) != 0) continue;
      std::string name = it->first.substr(folder.size());
      if (SameText(name.substr(0, prefix.size()), prefix)) names.push_back(name);
    }
    return names;
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    reads.push_back(path);
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  int UserLanguageId() override { return userLanguage; }
  int UserDefaultLanguageId() override { return userDefault; }
  std::string EnglishLanguageName(int) override { return {}; }
  std::optional<std::size_t> ChooseLanguage(const Choice& choice) override {
    shown.push_back(choice);
    return answer;
  }
};

std::string Block(const std::string& word) {
  std::string b;
  for (int i = 1; i <= kMessageCount; ++i) b += word + " " + std::to_string(i) + "\r\n";
  return b;
}

class LanguageRunTest : public ScriptTest {
 protected:
  static constexpr const char* kSupport = "C:\\Temp\\kem1\\";
  void SetUp() override {
    ScriptTest::SetUp();
    languages = std::make_shared<FakeLanguages>();
    box = script.Add("MessageBox", {"Title", "Hello", "0", "1", ""});
    const std::string id = ScriptBuilder::IdOf(box);
    Support("Test Product.mtx", id + "\r\n" + id + "\r\n");
    Support("translations.Map", "\r\n\r\n");
    Support("translations.Original", "Title\r\nHello\r\n");
    Support("translations.German", "Titel\r\nHallo\r\n");
    Support("translations.French", "Titre\r\nBonjour\r\n");
    Support("translations.English", "Title\r\nHello\r\n");
    Support("shared.translations.German", Block("Deutsch"));
    prepare = [this](SetupData& d) {
      d.CompiledTitle = "Test Product";
      d.DefaultLanguage = "English";
      d.SelectLanguageAtStart = selectAtStart;
    };
    AddLanguageHooks(hooks, languages, [this](Interpreter&) { return remembered; });
  }
  void Support(const std::string& name, const std::string& text) {
    languages->files[kSupport + name] = text;
    host.files.insert(kSupport + name);
  }
  std::string Shown() const {
    for (const auto& s : host.shown)
      if (s.rfind("box", 0) == 0) return s.substr(s.find(' ', 4) + 1);
    return "none";
  }

  std::shared_ptr<FakeLanguages> languages;
  std::size_t box = 0;
  bool selectAtStart = true;
  std::string remembered;
};

TEST_F(LanguageRunTest, TheDialogListsTheLanguagesAndPreselectsTheUsersOne) {
  languages->answer = 2;  // the list is sorted: English, French, German
  host.answers = {1};
  Run();
  ASSERT_EQ(languages->shown.size(), 1u);
  const auto& c = languages->shown[0];
  EXPECT_EQ(c.Languages, (std::vector<std::string>{"English", "French", "German"}));
  EXPECT_EQ(c.Preselected, 2u);
  EXPECT_EQ(c.Caption, "Select Setup Language");
  EXPECT_EQ(c.Label, "Please select the language to use during the installation:");
  EXPECT_EQ(c.Ok, "&OK");
  EXPECT_EQ(c.Cancel, "&Cancel");
  EXPECT_EQ(GetVar("LANGUAGE"), "German");
  EXPECT_EQ(Shown(), "Titel|Hallo|64");
  // The shared file replaced the message table (its only block is in force).
  EXPECT_EQ(ctx.Message(20), "Deutsch 20");
}

TEST_F(LanguageRunTest, PreselectionWithoutTheUsersLanguageAndInSilentRuns) {
  const struct {
    int userDefault;
    bool silent, select;
    const char* language;
    std::size_t dialogs;
  } cases[] = {
      {1036, true, true, "French", 0},     // silent: the preselection stands
      {1041, true, true, "English", 0},    // no Japanese: the project's default
      {1031, false, false, "English", 0},  // no choice asked for: the default
  };
  for (const auto& c : cases) {
    languages->shown.clear();
    languages->userDefault = c.userDefault;
    Startup().SilentMode = c.silent;
    selectAtStart = c.select;
    Run();
    EXPECT_EQ(GetVar("LANGUAGE"), c.language) << c.userDefault;
    EXPECT_EQ(languages->shown.size(), c.dialogs);
  }
}

TEST_F(LanguageRunTest, CancelEndsTheScriptBeforeTheFirstStatement) {
  languages->answer.reset();
  Mark("first");
  Run();
  EXPECT_TRUE(marks.empty());
  EXPECT_EQ(Shown(), "none");
  EXPECT_FALSE(VarExists("T"));  // not even the prelude ran
}

TEST_F(LanguageRunTest, MaintenanceTakesTheRememberedLanguage) {
  Support("x", "");
  languages->files["C:\\Cache\\setup.lan"] = "French\r\n";
  remembered = "C:\\Cache\\setup.lan";
  phases->OnBootstrap = [](Interpreter& in) {
    DefaultBootstrap(in);
    in.Vars().SetVar("MAINTENANCE", "TRUE", kOriginBootstrap);
    return true;
  };
  host.answers = {1};
  Run();
  EXPECT_TRUE(languages->shown.empty());
  EXPECT_EQ(GetVar("LANGUAGE"), "French");
  EXPECT_EQ(Shown(), "Titre|Bonjour|64");
}

TEST_F(LanguageRunTest, CommandLineAndMidScriptChangesAndUnsafeNames) {
  Startup().SilentMode = false;
  languages->answer = 0;
  host.answers = {1, 1, 1};
  script.Add("Set Variable", {"LANGUAGE", "German"});
  script.Add("MessageBox", {"Title", "Hello", "0", "1", ""});
  script.Add("Set Variable", {"LANGUAGE", "..\\..\\French"});
  script.Add("MessageBox", {"Title", "Hello", "0", "1", ""});
  Startup().CommandLineAssignments = {"LANGUAGE", "French"};
  Run();
  std::vector<std::string> boxes;
  for (const auto& s : host.shown)
    if (s.rfind("box", 0) == 0) boxes.push_back(s.substr(s.find(' ', 4) + 1));
  // The second box's statement has no translations of its own: its texts stay.
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "Titre|Bonjour|64");
  EXPECT_EQ(boxes[1], "Title|Hello|64");
  EXPECT_EQ(boxes[2], "Title|Hello|64");
  EXPECT_EQ(ctx.Message(20), "Deutsch 20");
  for (const auto& r : languages->reads) EXPECT_EQ(r.find(".."), std::string::npos) << r;
}

}  // namespace
}  // namespace kem::test
