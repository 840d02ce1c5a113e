// "MessageBox", "MessageBalloon" and "System Tray" over the recording host.
#include "support/script_fixture.h"

namespace kem::test {
namespace {

class MessageStatementsTest : public ScriptTest {};

// Style bits and answer texts: every code of the tables and the values outside them.
TEST_F(MessageStatementsTest, StylesAnswersAndTimeOuts) {
  const struct {
    int icon, buttons;
    unsigned style;
  } styles[] = {{0, 1, 0x40}, {1, 4, 0x24}, {2, 2, 0x31}, {3, 1, 0x10}, {3, 0, 0x12},
                {0, 3, 0x45}, {0, 5, 0x43}, {4, 1, 0x00}, {-1, 9, 0x00}};
  for (const auto& s : styles) EXPECT_EQ(MessageBoxStyle(s.icon, s.buttons), s.style) << s.icon << "," << s.buttons;
  const char* answers[] = {"", "OK", "CANCEL", "ABORT", "RETRY", "IGNORE", "YES", "NO", ""};
  for (int b = 0; b <= 8; ++b) EXPECT_EQ(MessageBoxAnswer(b), answers[b]) << b;
  EXPECT_EQ(BalloonTimeoutMs("5"), 10000u);
  EXPECT_EQ(BalloonTimeoutMs("15"), 15000u);
  EXPECT_EQ(BalloonTimeoutMs("60"), 30000u);
  EXPECT_EQ(BalloonTimeoutMs("soon"), 10000u);
}

// The box is owned by the non-modal page; when that owner is gone it comes again without
// one. The answer is stored (creating the variable), the taskbar shows the prompt (error
// state for the error icon with OK), a box that never showed writes nothing.
TEST_F(MessageStatementsTest, MessageBoxAsksStoresTheAnswerAndFallsBackToNoOwner) {
  std::vector<std::pair<bool, bool>> prompts;
  hooks.Progress.PromptState = [&](bool p, bool e) { prompts.emplace_back(p, e); };
  script.Add("Set Variable", {"NAME", "World"});
  script.Add("MessageBox", {"$TITLE$ Setup", "Hello$NEWLINE$$NAME$", "2", "2", "rebootnow"});
  script.Add("MessageBox", {"Stop", "Failed", "3", "1", "AFTERERROR"});
  script.Add("MessageBox", {"Gone", "Never shown", "0", "1", "NOTSHOWN"});
  host.answers = {2, 1, 0};
  Run();
  ASSERT_FALSE(terminated);
  EXPECT_EQ(GetVar("REBOOTNOW"), "CANCEL");
  EXPECT_EQ(GetVar("AFTERERROR"), "OK");
  EXPECT_FALSE(VarExists("NOTSHOWN"));
  ASSERT_EQ(host.shown.size(), 4u);
  EXPECT_EQ(host.shown[0], "box 0 Test Product Setup|Hello\r\nWorld|49");
  EXPECT_EQ(host.shown[1], "box 0 Stop|Failed|16");
  EXPECT_EQ(host.shown[2], "box 0 Gone|Never shown|64");
  EXPECT_EQ(prompts, (std::vector<std::pair<bool, bool>>{
                         {true, false}, {false, false}, {true, true}, {false, false}, {true, false}, {false, false}}));
}

TEST_F(MessageStatementsTest, MessageBoxTriesWithoutOwnerWhenTheOwnerIsGone) {
  script.Add("MessageBox", {"C", "T", "1", "4", "ANSWER"});
  host.answers = {0, 6};
  phases->OnPrepareRun = [](Interpreter& in) { in.Context().State.WindowHandleOfNonModal = 77; };
  Run();
  EXPECT_EQ(GetVar("ANSWER"), "YES");
  EXPECT_EQ(host.shown, (std::vector<std::string>{"box 77 C|T|36", "box 0 C|T|36", "tray off"}));
}

// Silent runs show nothing and keep the result variable; non-numeric codes fail the
// statement even then.
TEST_F(MessageStatementsTest, SilentRunsShowNothingButStillCheckTheCodes) {
  Startup().SilentMode = true;
  script.Add("Set Variable", {"REBOOTNOW", "OK"});
  script.Add("MessageBox", {"C", "T", "2", "2", "REBOOTNOW"});
  script.Add("MessageBalloon", {"Title", "Text", "1", "5"});
  script.Add("System Tray", {"FALSE", "TRUE", "FALSE", "FALSE"});
  script.Add("MessageBox", {"C", "T", "warning", "2", "REBOOTNOW"});
  Mark("after");
  Run();
  EXPECT_EQ(GetVar("REBOOTNOW"), "OK");
  EXPECT_TRUE(marks.empty()) << "a non-numeric icon code must fail the statement";
  for (const std::string& s : host.shown) EXPECT_TRUE(s == "tray off") << s;
}

// The balloon shows the tray icon first, maps its icon codes, clamps the time-out, and
// gives the taskbar state back when the time-out ends.
TEST_F(MessageStatementsTest, BalloonShowsAtTheTrayIcon) {
  std::vector<std::pair<bool, bool>> prompts;
  hooks.Progress.PromptState = [&](bool p, bool e) { prompts.emplace_back(p, e); };
  script.Add("MessageBalloon", {"Done", "$TITLE$ is installed", "1", "60"});
  script.Add("MessageBalloon", {"Odd", "icon", "7", "x"});
  Run();
  ASSERT_FALSE(terminated);
  ASSERT_GE(host.shown.size(), 4u);
  EXPECT_EQ(host.shown[0], "tray Test Product");
  EXPECT_EQ(host.shown[1], "balloon Done|Test Product is installed|2|30000");
  EXPECT_EQ(host.shown[3], "balloon Odd|icon|0|10000");
  EXPECT_EQ(host.shown.back(), "tray off") << "the tray icon goes with the run: " << ::testing::PrintToString(host.shown);
  ASSERT_TRUE(host.balloonEnded);
  host.balloonEnded();
  EXPECT_EQ(prompts.back(), std::make_pair(false, false));
}

// "System Tray": minimise hides the page and sets the flag; a click on the icon brings
// the page back restored; parameters compare exactly with "TRUE"; removing the icon
// takes the overlay away and restores the window.
TEST_F(MessageStatementsTest, SystemTrayMinimisesAndRestores) {
  phases->OnPrepareRun = [](Interpreter& in) { in.Context().State.WindowHandleOfNonModal = 5; };
  bool minimisedAfterFirst = false, iconAfterFirst = false;
  script.Add("System Tray", {"TRUE", "FALSE", "FALSE", "FALSE"});
  script.Add("Plugin Probe");
  script.Add("System Tray", {"true", "True", "FALSE", "FALSE"});
  script.Add("System Tray", {"FALSE", "FALSE", "FALSE", "TRUE"});
  hooks.PluginStatement = [&](Interpreter& in, std::size_t) {
    minimisedAfterFirst = in.Context().State.MinimizedToTray;
    iconAfterFirst = in.Context().State.TrayIconVisible;
    ASSERT_TRUE(host.trayClick);
    host.trayClick();
  };
  prepare = [](SetupData& data) { data.PluginStatements.push_back("Plugin Probe"); };
  Run();
  ASSERT_FALSE(terminated);
  EXPECT_TRUE(minimisedAfterFirst);
  EXPECT_TRUE(iconAfterFirst) << "pages minimised meanwhile go to the tray";
  EXPECT_FALSE(Engine().MinimizedToTray);
  EXPECT_FALSE(Engine().TrayIconVisible);
  EXPECT_EQ(host.shown, (std::vector<std::string>{"tray Test Product", "overlay 5 on Test Product", "hide 5",
                                                  "back 5 restored", "tray off", "overlay 5 off Test Product",
                                                  "back 5 restored", "tray off"}));
}

// Without a notification area there is no icon to click: minimising leaves the page on
// screen and the flag clear.
TEST_F(MessageStatementsTest, NoTrayNoHiding) {
  host.trayAvailable = false;
  phases->OnPrepareRun = [](Interpreter& in) { in.Context().State.WindowHandleOfNonModal = 5; };
  bool minimised = true, icon = true;
  script.Add("System Tray", {"TRUE", "FALSE", "FALSE", "FALSE"});
  script.Add("Plugin Probe");
  hooks.PluginStatement = [&](Interpreter& in, std::size_t) {
    minimised = in.Context().State.MinimizedToTray;
    icon = in.Context().State.TrayIconVisible;
  };
  prepare = [](SetupData& data) { data.PluginStatements.push_back("Plugin Probe"); };
  Run();
  EXPECT_FALSE(minimised);
  EXPECT_FALSE(icon);
  EXPECT_EQ(host.shown, (std::vector<std::string>{"tray Test Product", "overlay 5 on Test Product", "tray off"}));
}

// With the dialog display on board, a click on the icon is its business: it knows the page
// on screen (modal pages too) and the page displayed while the setup was in the tray.
TEST_F(MessageStatementsTest, ATrayClickGoesToTheDialogDisplay) {
  phases->OnPrepareRun = [](Interpreter& in) { in.Context().State.WindowHandleOfNonModal = 5; };
  int restored = 0;
  hooks.RestoreFromTray = [&](Interpreter& in) {
    ++restored;
    in.Context().State.MinimizedToTray = false;
  };
  script.Add("System Tray", {"TRUE", "FALSE", "FALSE", "FALSE"});
  script.Add("Plugin Probe");
  hooks.PluginStatement = [&](Interpreter&, std::size_t) {
    ASSERT_TRUE(host.trayClick);
    host.trayClick();
  };
  prepare = [](SetupData& data) { data.PluginStatements.push_back("Plugin Probe"); };
  Run();
  ASSERT_FALSE(terminated);
  EXPECT_EQ(restored, 1);
  EXPECT_EQ(host.shown, (std::vector<std::string>{"tray Test Product", "overlay 5 on Test Product", "hide 5", "tray off"}));
}

}  // namespace
}  // namespace kem::test
