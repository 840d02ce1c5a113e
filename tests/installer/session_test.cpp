// The installer session's portable rules: the command line per mode, the outcome of the
// installer's return codes, the retry dots, the progress messages and the answers of the
// engine's external user interface, the session folders and the search for the sources.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "installer/session.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

SessionFolders PlainFolders() {
  SessionFolders f;
  f.MsiFolder = "C:\\SETUP\\";
  f.DataFolder = "C:\\SETUP\\DATA\\";
  f.MediaFolder = "\\SETUP\\";
  f.SourceFolder = "D:\\OLD\\";
  f.SourceList = "C:\\SETUP\\DATA\\;C:\\SETUP\\";
  return f;
}

struct CommandCase {
  const char* name;
  CommandLineInputs in;
  std::string expected;
};

TEST(SessionCommandLine, EachModeGetsItsPieces) {
  const std::string tail = "SRCDIR=C:\\SETUP\\DATA\\ SOURCELIST=C:\\SETUP\\DATA\\;C:\\SETUP\\ MEDIAPACKAGEPATH=\\SETUP\\ REBOOT=R ";
  const std::string arp = "ARPSYSTEMCOMPONENT=1 ARPNOREMOVE=1 ARPNOMODIFY=1 ARPNOREPAIR=1 ARPINSTALLLOCATION=\"C:\\Program Files\\App\\\" ";
  auto make = [](SessionMode mode, bool advertise, bool installed, bool before) {
    CommandLineInputs in;
    in.Mode = mode;
    in.Advertise = advertise;
    in.Installed = installed;
    in.AdvertisedBefore = before;
    in.TargetFolder = "C:\\Program Files\\App\\";
    in.Folders = PlainFolders();
    return in;
  };
  CommandLineInputs allUsers = make(SessionMode::Install, false, false, false);
  allUsers.AllUsers = true;
  allUsers.DisableRollback = true;
  allUsers.DisableRestartManager = true;
  CommandLineInputs quoted = make(SessionMode::Install, false, false, false);
  quoted.Folders.QuoteData = true;
  quoted.Folders.DataFolder = "C:\\My Setup\\data\\";
  quoted.Folders.SourceList = "\"C:\\My Setup\\data\\;C:\\SETUP\\\"";
  quoted.Folders.MediaFolder = "\\My Setup\\";
  const std::vector<CommandCase> cases = {
      {"first installation", make(SessionMode::Install, false, false, false), "ADDLOCAL=ALL ALLUSERS=\"\" " + arp + tail},
      {"repair", make(SessionMode::Install, false, true, false), "REINSTALL=ALL REINSTALLMODE=vomus ALLUSERS=\"\" " + arp + tail},
      {"installed after an advertisement", make(SessionMode::Install, false, true, true),
       "ADDLOCAL=ALL ADVERTISE=\"\" ALLUSERS=\"\" " + arp + tail},
      {"advertised again", make(SessionMode::Install, true, true, true),
       "REINSTALL=ALL REINSTALLMODE=vomus ALLUSERS=\"\" " + arp + tail},
      {"advertisement", make(SessionMode::Install, true, false, false), "ADVERTISE=ALL ALLUSERS=\"\" " + arp + tail},
      {"removal names ALLUSERS and REMOVE twice", make(SessionMode::Removal, false, true, false),
       "REMOVE=ALL ALLUSERS=\"\" ALLUSERS=\"\" REMOVE=ALL " + tail},
      {"patch", make(SessionMode::Patch, false, true, false),
       "ADDLOCAL=ALL ALLUSERS=\"\" SRCDIR=D:\\OLD\\ SRCDIREX=D:\\OLD\\ "},
      {"all users, no rollback, no restart manager", allUsers,
       "ADDLOCAL=ALL ALLUSERS=1 DISABLEROLLBACK=1 MSIRESTARTMANAGERCONTROL=Disable " + arp + tail},
      {"folders with blanks are quoted", quoted,
       "ADDLOCAL=ALL ALLUSERS=\"\" " + arp +
           "SRCDIR=\"C:\\My Setup\\data\\\" SOURCELIST=\"C:\\My Setup\\data\\;C:\\SETUP\\\" "
           "MEDIAPACKAGEPATH=\"\\My Setup\\\" REBOOT=R "},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildSessionCommandLine(c.in), c.expected) << c.name;
}

TEST(SessionOutcomeRules, ReturnCodesCancelsAndExitCodes) {
  struct Case {
    unsigned code;
    bool cancelled;
    std::string result;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {0, false, "COMPLETE", 0},       {3010, false, "REBOOT", 3010},  {1641, false, "REBOOT", 3010},
      {1603, false, "ERROR", 1603},    {1618, false, "ERROR", 1618},   {1602, true, "CANCEL", 1602},
      // A cancel that came too late to stop a successful session is a success.
      {0, true, "COMPLETE", 0},        {3010, true, "REBOOT", 3010},
  };
  for (const auto& c : cases) {
    const CodeOutcome o = OutcomeOfReturnCode(c.code);
    const int outcome = SessionOutcome(c.cancelled, o.Failed, o.Reboot);
    EXPECT_EQ(SessionResultText(outcome), c.result) << c.code;
    EXPECT_EQ(SessionExitCode(outcome, c.code), c.exitCode) << c.code;
  }
}

TEST(SessionOutcomeRules, FailureTextsAndRetryDots) {
  EXPECT_EQ(SessionFailureText("", "General setup failure"), "General setup failure");
  EXPECT_EQ(SessionFailureText("Disk full.", "x"), "Disk full");
  // A full stop before the end (a numbered message) keeps the final one.
  EXPECT_EQ(SessionFailureText("Error 1722. The action failed.", "x"), "Error 1722. The action failed.");
  EXPECT_EQ(TrimReturnCodeText("Fatal error during installation. \r\n"), "Fatal error during installation");
  std::vector<std::string> dots;
  std::string d;
  for (int i = 0; i < 5; ++i) dots.push_back(d = NextRetryDots(d));
  EXPECT_EQ(dots, (std::vector<std::string>{".", "..", "...", ".", ".."}));
}

TEST(SessionOutcomeRules, PackedProductCode) {
  EXPECT_EQ(PackedProductCode("{12345678-ABCD-EF01-2345-6789ABCDEF01}"), "87654321DCBA10FE32547698BADCFE10");
  EXPECT_EQ(PackedProductCode("{12345678-ABCD-EF01-2345-6789ABCDEF0}"), "");
  EXPECT_EQ(PackedProductCode("not a code"), "");
}

TEST(InstallerProgressFields, ResetActionsReportsAndTotals) {
  InstallerProgress p;
  p.ApplyProgressFields("1: 0 2: 1000 3: 0 4: 1 ");
  EXPECT_EQ(p.Total, 1000);
  EXPECT_EQ(p.Direction, 1);
  p.ApplyProgressFields("1: 2 2: 250 ");
  EXPECT_EQ(p.Completed, 250);
  p.ApplyProgressFields("1: 3 2: -500 ");
  EXPECT_EQ(p.Total, 1500);
  p.ApplyProgressFields("1: 1 2: 10 3: 1 ");
  EXPECT_EQ(p.Step, 10);
  p.ApplyActionData("Copying new files: a.txt");
  EXPECT_EQ(p.Completed, 260);
  EXPECT_EQ(p.ActionText, "Copying new files: a.txt");
  // A reset without a total keeps the total; a backward reset counts down.
  p.ApplyProgressFields("1: 0 2: 0 3: 1 ");
  EXPECT_EQ(p.Total, 1500);
  EXPECT_EQ(p.Completed, 0);
  p.ApplyProgressFields("1: 2 2: 40 ");
  EXPECT_EQ(p.Completed, -40);
  // Parsing stops at the first item of another form: field 2 is never read here.
  p.ApplyProgressFields("1: 3 x 2: 99 ");
  EXPECT_EQ(p.Total, 1500);
  p.ApplyProgressFields("garbage");
  EXPECT_EQ(p.Completed, 0);  // an empty message reads as a reset
  p.ApplyActionStart("Action 12:00:00: InstallFiles. Copying new files");
  EXPECT_EQ(p.ActionText, "Copying new files");
  p.ApplyActionStart("NoStop");
  EXPECT_EQ(p.ActionText, "NoStop");
}

TEST(InstallerMessages, BoxesAnswersAndCancel) {
  InstallerUiState state;
  std::vector<InstallerBox> boxes;
  bool goOn = true;
  InstallerUiCalls calls;
  calls.Ask = [&](const InstallerBox& b) {
    boxes.push_back(b);
    return 4;  // Retry
  };
  calls.Report = [&](const InstallerProgress&) { return goOn; };
  calls.Message = [](int n) { return "M" + std::to_string(n); };

  struct Case {
    unsigned type;
    int silentAnswer, shownAnswer;
  };
  const std::vector<Case> cases = {{kMsgFatalExit, 0, 4}, {kMsgError, 1, 4}, {kMsgWarning, 1, 4}, {kMsgUser, 1, 4},
                                   {kMsgOutOfDiskSpace, 1, 4}, {kMsgInfo, 1, 1}, {kMsgResolveSource, 0, 0},
                                   {kMsgFilesInUse, 0, 0}, {kMsgInitialize, 1, 1}, {kMsgShowDialog, 1, 1}, {99, 0, 0}};
  for (bool silent : {true, false}) {
    calls.Silent = silent;
    for (const auto& c : cases)
      EXPECT_EQ(AnswerInstallerMessage(state, calls, c.type, 0x5, "text."), silent ? c.silentAnswer : c.shownAnswer)
          << c.type << (silent ? " silent" : "");
  }
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].Text, "M43\r\rtext.");
  EXPECT_EQ(boxes[0].Style, 0x15u);
  EXPECT_TRUE(boxes[0].ErrorState);
  EXPECT_EQ(boxes[2].Style, 0x35u);
  EXPECT_FALSE(boxes[2].ErrorState);
  EXPECT_EQ(boxes[3].Text, "text.");
  EXPECT_EQ(state.LastError, "text.");
  // The user's cancel reaches the installer as IDCANCEL, whatever the message.
  goOn = false;
  EXPECT_EQ(AnswerInstallerMessage(state, calls, kMsgProgress, 0, "1: 2 2: 1 "), 2);
}

TEST(SessionFolderRules, ShortFormsQuotesAndMediaFolder) {
  FakeHost files;
  std::vector<std::string> created;
  auto create = [&](const std::string& f) { created.push_back(f); };
  files.folders = {"C:\\Program Files\\Setup\\data\\"};
  files.shortNames = {{"C:\\Program Files\\Setup\\", "C:\\PROGRA~1\\Setup"},
                      {"C:\\Program Files\\Setup\\data\\", "C:\\PROGRA~1\\Setup\\data"}};
  SessionFolders f = ComputeSessionFolders(files, create, "C:\\Program Files\\Setup\\app.msi",
                                           "C:\\Program Files\\Setup\\data", "", false);
  EXPECT_EQ(f.MsiFolder, "C:\\PROGRA~1\\Setup\\");
  EXPECT_EQ(f.DataFolder, "C:\\PROGRA~1\\Setup\\data\\");
  EXPECT_EQ(f.MediaFolder, "\\PROGRA~1\\Setup\\");
  EXPECT_FALSE(f.QuoteData);
  EXPECT_FALSE(f.QuoteMsi);
  EXPECT_EQ(f.SourceList, "C:\\PROGRA~1\\Setup\\data\\;C:\\PROGRA~1\\Setup\\");

  // No short form: quoted, and a missing data folder is made.
  f = ComputeSessionFolders(files, create, "C:\\My Setup\\app.msi", "C:\\My Setup\\data\\", "", false);
  EXPECT_TRUE(f.QuoteData);
  EXPECT_TRUE(f.QuoteMsi);
  EXPECT_EQ(f.SourceList, "\"C:\\My Setup\\data\\;C:\\My Setup\\\"");
  EXPECT_EQ(created, (std::vector<std::string>{"C:\\My Setup\\data\\"}));
}

TEST(SetupSourceSearch, MarkerPatchBuildsAndTheUsersChoice) {
  FakeHost files;
  files.files = {"C:\\Setup\\data\\{P}", "E:\\disk\\data\\{P}", "F:\\old\\{P}"};
  SourceSearch s;
  s.Marker = "{P}";
  s.DataFolder = "C:\\Setup\\data";
  auto never = []() -> std::optional<std::string> { ADD_FAILURE() << "asked"; return std::nullopt; };
  EXPECT_TRUE(FindSetupSources(s, files, never).Found);

  // A patch build looks beside the previous installation first, then takes the data folder.
  s.PatchBuild = true;
  s.PreviousSource = "D:\\gone\\";
  auto r = FindSetupSources(s, files, never);
  EXPECT_TRUE(r.Found);
  EXPECT_EQ(r.PreviousSource, "C:\\Setup\\data\\");

  // Missing: the user is asked until a folder holds the marker, or its data folder does.
  s = {};
  s.Marker = "{P}";
  s.DataFolder = "C:\\Nowhere\\";
  s.MayAsk = true;
  std::vector<std::string> offers = {"G:\\wrong", "E:\\disk"};
  std::size_t asked = 0;
  r = FindSetupSources(s, files, [&]() -> std::optional<std::string> { return offers[asked++]; });
  EXPECT_TRUE(r.Found);
  EXPECT_EQ(r.DataFolder, "E:\\disk\\data\\");
  EXPECT_EQ(asked, 2u);
  // Giving up, a silent run, or a run that may not ask: not found.
  EXPECT_FALSE(FindSetupSources(s, files, [] { return std::optional<std::string>(); }).Found);
  s.Silent = true;
  EXPECT_FALSE(FindSetupSources(s, files, never).Found);

  EXPECT_EQ(SourceFolderOfUninstallString("\"C:\\Setup\\setup.exe\" /x"), "C:\\Setup\\");
  EXPECT_EQ(SourceFolderOfUninstallString(""), "");
}

}  // namespace
}  // namespace kem::test
