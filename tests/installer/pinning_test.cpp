// Pinning shortcuts through the shell's localised verbs: the entries that ask for it, the
// Windows versions that have each part, verb names that differ by case or accelerator,
// the way through the target and the pinned entries renamed (never the user's own).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/services/shell.h"
#include "installer/pinning.h"

namespace kem::test {
namespace {

class FakePins : public ShortcutPinService {
 public:
  std::set<std::string> files;
  std::map<std::string, std::vector<std::string>> verbs;  // per file
  std::map<unsigned, std::vector<std::string>> texts;
  std::vector<std::string> log;  // "id ...", "run FILE|VERB", "move A>B", "texts N"
  // A pin verb run on a target creates its entry in the taskbar folder.
  std::string pinnedFolder = "Q\\User Pinned\\TaskBar\\";

  bool SetAppUserModelId(const std::string& s, const std::string& id) override {
    log.push_back("id " + s + "=" + id);
    return true;
  }
  std::vector<std::string> Verbs(const std::string& file) override { return verbs[file]; }
  bool RunVerb(const std::string& file, const std::string& verb) override {
    log.push_back("run " + file + "|" + verb);
    if (verb.find("Taskbar") != std::string::npos && verb.find("Unpin") == std::string::npos) {
      const std::string base = file.substr(file.find_last_of('\\') + 1, file.find_last_of('.') - file.find_last_of('\\') - 1);
      files.insert(pinnedFolder + base + ".lnk");
    }
    return true;
  }
  std::vector<std::string> ShellTexts(unsigned id) override {
    log.push_back("texts " + std::to_string(id));
    return texts[id];
  }
  std::string QuickLaunchFolder() override { return "Q\\"; }
  bool FileExists(const std::string& p) override { return files.contains(p); }
  bool MoveEntry(const std::string& from, const std::string& to) override {
    log.push_back("move " + from + ">" + to);
    files.erase(from);
    files.insert(to);
    return true;
  }
  std::string UpperCase(const std::string& text) override {
    std::string u = text;
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
  }
};

class PinningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell.texts = {{kPinToTaskbarText, {"Pin to Tas&kbar", "An die Taskleiste anheften", ""}},
                   {kUnpinFromTaskbarText, {"Unpin from Tas&kbar"}},
                   {kPinToStartMenuText, {"Pin to Start", "Pin to Start"}},
                   {kUnpinFromStartMenuText, {"Unpin from Start"}}};
    shell.files = {"C:\\Menu\\App.lnk", "C:\\App\\app.exe"};
  }
  PinContext Context(unsigned major = 10, unsigned minor = 0) { return PinContext{shell, names, major, minor, {}}; }
  std::vector<std::string> Runs() const {
    std::vector<std::string> r;
    for (const auto& l : shell.log)
      if (l.rfind("run ", 0) == 0 || l.rfind("move ", 0) == 0) r.push_back(l);
    return r;
  }
  FakePins shell;
  PinVerbNames names;
};

TEST_F(PinningTest, EntriesVersionsAndVerbNames) {
  EXPECT_FALSE(ParsePinEntry("C:\\a.lnk||C:\\a.exe"));
  auto e = ParsePinEntry("C:\\a.lnk|7X|C:\\a.exe");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->Taskbar && e->StartMenu);
  EXPECT_EQ(e->Target, "C:\\a.exe");

  // The shell writes the accelerator elsewhere and in another case: still a match.
  shell.verbs["C:\\Menu\\App.lnk"] = {"&Open", "PIN TO &TASKBAR", "pin to start"};
  struct Case {
    unsigned major, minor;
    std::vector<std::string> runs;
  };
  const std::vector<Case> cases = {
      {10, 0, {"run C:\\Menu\\App.lnk|PIN TO &TASKBAR", "run C:\\Menu\\App.lnk|pin to start"}},
      {6, 0, {"run C:\\Menu\\App.lnk|pin to start"}},  // no taskbar pinning before 6.1
      {5, 0, {}},                                        // nothing before 5.1
  };
  int reads = 0;
  for (int round = 0; round < 2; ++round)
    for (const auto& c : cases) {
      shell.log.clear();
      PinOrUnpin(Context(c.major, c.minor), "C:\\Menu\\App.lnk", "C:\\App\\app.exe", PinOperation::Pin, true, true);
      EXPECT_EQ(Runs(), c.runs) << c.major << "." << c.minor;
      for (const auto& l : shell.log) reads += l.rfind("texts ", 0) == 0;
    }
  // The names of each verb were read once for the whole run.
  EXPECT_EQ(reads, 2);
  EXPECT_TRUE(VerbMatches(shell, "An die Taskleiste anheften", names.Names(shell, kPinToTaskbarText)));
}

TEST_F(PinningTest, ThroughTheTargetRenamesOnlyTheEntryItMade) {
  // The shortcut offers no pin verb; its target does.
  shell.verbs["C:\\App\\app.exe"] = {"Pin to Taskbar"};
  PinOrUnpin(Context(), "C:\\Menu\\App.lnk", "C:\\App\\app.exe", PinOperation::Pin, true, false);
  EXPECT_EQ(Runs(), (std::vector<std::string>{"run C:\\App\\app.exe|Pin to Taskbar",
                                              "move Q\\User Pinned\\TaskBar\\app.lnk>Q\\User Pinned\\TaskBar\\App.lnk"}));

  // Unpinning moves it back first, then unpins the target.
  shell.log.clear();
  shell.verbs["C:\\App\\app.exe"] = {"Unpin from Taskbar"};
  PinOrUnpin(Context(), "C:\\Menu\\App.lnk", "C:\\App\\app.exe", PinOperation::Unpin, true, false);
  EXPECT_EQ(Runs(), (std::vector<std::string>{"move Q\\User Pinned\\TaskBar\\App.lnk>Q\\User Pinned\\TaskBar\\app.lnk",
                                              "run C:\\App\\app.exe|Unpin from Taskbar"}));

  // The user pinned the program before: its entry keeps its name and stays pinned.
  shell.log.clear();
  shell.files = {"C:\\Menu\\App.lnk", "C:\\App\\app.exe", "Q\\User Pinned\\TaskBar\\app.lnk"};
  shell.verbs["C:\\App\\app.exe"] = {"Pin to Taskbar"};
  PinOrUnpin(Context(), "C:\\Menu\\App.lnk", "C:\\App\\app.exe", PinOperation::Pin, true, false);
  EXPECT_EQ(Runs(), (std::vector<std::string>{"run C:\\App\\app.exe|Pin to Taskbar"}));
  shell.log.clear();
  shell.verbs["C:\\App\\app.exe"] = {"Unpin from Taskbar"};
  PinOrUnpin(Context(), "C:\\Menu\\App.lnk", "C:\\App\\app.exe", PinOperation::Unpin, true, false);
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(shell.files.contains("Q\\User Pinned\\TaskBar\\app.lnk"));
}

TEST_F(PinningTest, PinStepGivesIdsAndSkipsEntriesWithoutFlags) {
  shell.verbs["C:\\Menu\\App.lnk"] = {"Pin to Start", "Unpin from Start"};
  const StringList list = {"C:\\Menu\\App.lnk||C:\\App\\app.exe", "C:\\Menu\\App.lnk|X|C:\\App\\app.exe"};
  const StringList ids = {"C:\\Menu\\App.lnk", "Kem.App", "C:\\Menu\\Gone.lnk", "Kem.Gone"};
  RunPinStep(Context(), false, list, ids);
  EXPECT_EQ(shell.log.front(), "id C:\\Menu\\App.lnk=Kem.App");
  EXPECT_EQ(Runs(), (std::vector<std::string>{"run C:\\Menu\\App.lnk|Pin to Start"}));
  shell.log.clear();
  RunPinStep(Context(), true, list, {});
  EXPECT_EQ(Runs(), (std::vector<std::string>{"run C:\\Menu\\App.lnk|Unpin from Start"}));
}

}  // namespace
}  // namespace kem::test
