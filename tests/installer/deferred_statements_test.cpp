// Deferred system-change statements: the switch and parameter properties they queue and
// record, the side lists, and the failures before anything is recorded.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "installer/properties.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

class DeferredTest : public ScriptTest {
 public:
  // Adds a statement with a command header.
  std::size_t AddWithHeader(const std::string& name, const std::vector<std::string>& params, const std::string& header) {
    std::size_t i = script.Add(name, params);
    script.Data().CommandHeaders.Add(header);
    script.Data().CommandHeaders.Add(std::to_string(i));
    return i;
  }
  Rows Pending() const {
    Rows rows;
    const auto& p = ctx.State.Installer.Pending;
    for (std::size_t i = 0; i < p.Names.size(); ++i) rows.emplace_back(p.Names[i], p.Values[i]);
    return rows;
  }
  // The rows after the "FALSE" rows queued before the first statement.
  Rows RowsAfter(std::size_t skip) const {
    Rows all = Pending();
    return Rows(all.begin() + static_cast<std::ptrdiff_t>(std::min(skip, all.size())), all.end());
  }
  const InstallerState& Installer() const { return ctx.State.Installer; }
};

TEST_F(DeferredTest, SkippedStatementsLeaveOnlyTheirSwitchesOff) {
  If("F");
  AddWithHeader("Install Files", {"a", "b", "C:\\x\\"}, "1A");
  AddWithHeader("Write Registry", {"1", "Key"}, "2B");
  End();
  script.Add("Set Variable", {"X", "1"});  // no header: not queued
  Run();
  EXPECT_EQ(Pending(), (Rows{{"A1A", "FALSE"}, {"A2B", "FALSE"}}));
  EXPECT_EQ(Installer().SessionProperties, (StringList{"A1A", "FALSE", "A2B", "FALSE"}));
}

struct DeferredCase {
  const char* statement;
  std::vector<std::string> params;
  Rows expected;  // after the switch-off row
};

TEST_F(DeferredTest, EachStatementRecordsItsSwitchAndParameterProperties) {
  const std::vector<DeferredCase> cases = {
      {"Install Files", {"*.*", "src", "$TARGETDIR$bin\\\\"}, {{"AH", "TRUE"}, {"PH_1", "C:\\Program Files\\Test Product\\bin\\"}}},
      {"Install Assembly", {"a", "b", "$TARGETDIR$"}, {{"AH", "TRUE"}, {"PH_1", "C:\\Program Files\\Test Product\\"}}},
      {"Install ODBC Driver", {"a", "b", "c", "D:\\odbc"}, {{"AH", "TRUE"}, {"PH_1", "D:\\odbc"}}},
      {"Create ODBC DSN", {"a", "b"}, {{"AH", "TRUE"}}},
      {"Control Service", {"Spooler", "$V$", "x"}, {{"AH", "TRUE"}, {"PH_1", "Spooler"}, {"PH_2", "v"}}},
      {"Create Folder", {"$TARGETDIR$Logs"}, {{"AH", "TRUE"}, {"PH_1", "C:\\Program Files\\Test Product\\Logs"}}},
      {"Delete Files", {"C:\\Old\\*.tmp", "", "TRUE"}, {{"AH", "TRUE"}, {"PH_1", "C:\\Old\\*.tmp"}}},
      {"Copy/Move Local Files", {"C:\\a", "x", "C:\\b"}, {{"AH", "TRUE"}, {"PH_1", "C:\\a"}, {"PH_2", "C:\\b"}}},
      {"Edit INI File", {"C:\\a.ini", "x", "y", "Sec", "Key", "$V$"},
       {{"AH", "TRUE"}, {"PH_1", "C:\\a.ini"}, {"PH_2", "Sec"}, {"PH_3", "Key"}, {"PH_4", "v"}}},
      {"Set Environment", {"PATH", "$TARGETDIR$"}, {{"AH", "TRUE"}, {"PH_1", "C:\\Program Files\\Test Product\\"}}},
      // Only parameters written with a "$" are recorded.
      {"Write Registry", {"2", "Software\\Test", "Name", "$TARGETDIR$", "plain"}, {{"AH", "TRUE"}, {"PH_2", "C:\\Program Files\\Test Product\\"}}},
      {"Write Registry", {"2", "Software\\Test", "Name", "Value", ""}, {{"AH", "TRUE"}}},
      {"Create File Type", {"Test.Doc", ".tst", "Test document", "C:\\t.exe", "open"},
       {{"AH", "TRUE"}, {"PH_1", "Test.Doc"}, {"PH_2", ".tst"}, {"PH_3", "Test document"}, {"PH_4", "C:\\t.exe"}, {"PH_5", "open"}}},
      {"Advertised File Type", {"Test.Doc", "x", "Desc"}, {{"AH", "TRUE"}}},
      {"Install Service",
       {"x", "C:\\svc.exe", "x", "Name", "Display", "Desc", "x", "x", "C:\\Svc", "a~b~", "x", "x", "13", "14", "15"},
       {{"AH", "TRUE"}, {"PH_1", "C:\\svc.exe"}, {"PH_2", "Name"}, {"PH_3", "Display"}, {"PH_4", "C:\\Svc"},
        {"PH_5", "a$NULL$b$NULL$"}, {"PH_6", "13"}, {"PH_7", "14"}, {"PH_8", "15"}, {"PH_9", "Desc"}}},
      {"Create Shortcut", {"$TARGETDIR$app.exe", "App", "C:\\Menu", "Desc", "arg", "C:\\w", "", "", ""},
       {{"AH", "TRUE"}, {"PH_1", "C:\\Menu"}, {"PH_2", "C:\\Program Files\\Test Product\\app.exe"}, {"PH_3", "arg"}, {"PH_4", "C:\\w"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    NewScript();
    script.Add("Set Variable", {"V", "v"});
    AddWithHeader(c.statement, c.params, "H");
    Run();
    ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
    EXPECT_EQ(RowsAfter(1), c.expected);
    EXPECT_EQ(Pending().front(), (std::pair<std::string, std::string>{"AH", "FALSE"}));
    // Every recorded property also goes to the session properties, in the same order.
    StringList session;
    for (const auto& [n, v] : Pending()) {
      session.push_back(n);
      session.push_back(v);
    }
    EXPECT_EQ(Installer().SessionProperties, session);
  }
}

TEST_F(DeferredTest, ShortcutsFillTheSideLists) {
  machine.major = 6;
  machine.minor = 1;
  AddWithHeader("Create Shortcut", {"C:\\App\\app.exe", "Uninstall SetupTest", "C:\\Menu\\", "Removes it", "", "",
                                    "", "x|App.Id", "x|5"},
                "C5D5C8B2");
  AddWithHeader("Advertised Shortcut", {"C:\\App\\b.exe", " App", "C:\\Menu", "", "", "", "", "", ""}, "C5D5C8B3");
  AddWithHeader("Advertised File Type", {"Test.Doc", "x", "A document"}, "C5D5C8B4");
  Run();
  EXPECT_EQ(Installer().ShortcutTexts,
            (StringList{"PC5D5C8B2_1", "Uninst~1|Uninstall SetupTest", "Removes it", "PC5D5C8B3_1", "App~1| App", ""}));
  EXPECT_EQ(Installer().ShortcutAppIds, (StringList{"C:\\Menu\\Uninstall SetupTest.lnk", "App.Id"}));
  EXPECT_EQ(Installer().PinList, (StringList{"C:\\Menu\\Uninstall SetupTest.lnk|5|C:\\App\\app.exe"}));
  EXPECT_EQ(Installer().ProgIdTexts, (StringList{"Test.Doc", "Test.Doc", "A document"}));

  // Before Windows 7 no application ID is kept.
  NewScript();
  machine.minor = 0;
  AddWithHeader("Create Shortcut", {"C:\\a.exe", "A", "C:\\M", "", "", "", "", "|Id", ""}, "H");
  Run();
  EXPECT_TRUE(Installer().ShortcutAppIds.empty());
}

TEST_F(DeferredTest, LineBreaksInValuesAreQueuedAsMarkers) {
  script.Add("Set Variable", {"TEXT", "one$NEWLINE$two"});
  AddWithHeader("Edit INI File", {"C:\\a.ini", "", "", "S", "K", "$TEXT$"}, "I");
  Run();
  ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
  EXPECT_EQ(Pending().back(), (std::pair<std::string, std::string>{"PI_4", "one$NEWLINE$two"}));
  EXPECT_EQ(Installer().SessionProperties.back(), "one$NEWLINE$two");
}

TEST_F(DeferredTest, LoopedStatementQueuesItsRowsAgainAndTheLastValuesComeLast) {
  script.Add("Set Variable", {"DIR", "C:\\First\\"});
  script.Add("Set Variable", {"DONE", "0"});
  script.Add("Label", {"again"});
  AddWithHeader("Install Files", {"a", "b", "$DIR$"}, "H");
  If("DONE");
  script.Add("GoTo Label", {"end"});
  End();
  script.Add("Set Variable", {"DONE", "1"});
  script.Add("Set Variable", {"DIR", "C:\\Second\\"});
  script.Add("GoTo Label", {"again"});
  script.Add("Label", {"end"});
  Run();
  ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
  EXPECT_EQ(Pending(), (Rows{{"AH", "FALSE"}, {"AH", "TRUE"}, {"PH_1", "C:\\First\\"}, {"AH", "TRUE"}, {"PH_1", "C:\\Second\\"}}));
}

TEST_F(DeferredTest, FailuresComeBeforeAnythingIsRecorded) {
  struct Failure {
    const char* title;
    std::function<void(DeferredTest&)> build;
    std::string message;
  };
  const std::vector<Failure> cases = {
      {"no command header",
       [](DeferredTest& t) { t.script.Add("Install Files", {"a", "b", "C:\\x\\"}); },
       "Unable to obtain command headers. Please rebuild your project."},
      {"empty target folder",
       [](DeferredTest& t) {
         t.script.Add("Set Variable", {"TARGETDIR", ""});
         t.AddWithHeader("Install Files", {"a", "b", "$TARGETDIR$"}, "H");
       },
       "Parameter 3 ($TARGETDIR$) gives no folder"},
      {"undefined folder variable",
       [](DeferredTest& t) { t.AddWithHeader("Create Shortcut", {"C:\\a.exe", "A", "$NOSUCH$", ""}, "H"); },
       "gives '$NOSUCH$', which is not a full folder path"},
      // Every folder the installer takes from a property must be a full path, else its
      // work would land below TARGETDIR.
      {"relative INI folder",
       [](DeferredTest& t) { t.AddWithHeader("Edit INI File", {"config", "a.ini", "0", "S", "K", "V"}, "H"); },
       "Parameter 1 (config) gives 'config', which is not a full folder path"},
      {"empty folder of files to delete",
       [](DeferredTest& t) {
         t.script.Add("Set Variable", {"EMPTY", ""});
         t.AddWithHeader("Delete Files", {"$EMPTY$", "*.log", "FALSE", "TRUE"}, "H");
       },
       "Parameter 1 ($EMPTY$) gives no folder"},
      {"relative destination of a copy",
       [](DeferredTest& t) { t.AddWithHeader("Copy/Move Local Files", {"C:\\a", "x.txt", "b", "", "FALSE"}, "H"); },
       "Parameter 3 (b) gives 'b', which is not a full folder path"},
      {"relative service folder",
       [](DeferredTest& t) {
         t.AddWithHeader("Install Service", {"svc.exe", "Svc", "", "", "", "", "", "", "bin"}, "H");
       },
       "Parameter 9 (bin) gives 'bin', which is not a full folder path"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    c.build(*this);
    Run();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_NE(host.boxes[0].text.find(c.message), std::string::npos) << host.boxes[0].text;
    for (const auto& [n, v] : Pending()) EXPECT_NE(v, "TRUE") << n;
    EXPECT_TRUE(Installer().ShortcutTexts.empty());
  }
}

TEST_F(DeferredTest, WebBuildFetchesMediaAfterTheSwitchAndCarriesOnWhenToldTo) {
  std::vector<std::string> fetched;
  fetchMedia = [&](Interpreter& in, std::size_t, const std::string& media) {
    fetched.push_back(media);
    // The switch is on before the media come.
    EXPECT_EQ(in.Context().State.Installer.Pending.Values.back(), "TRUE");
    throw StatementError("Unable to download installation data from the web");
  };
  script.Data().MediaMode = 2;
  script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  std::size_t i = AddWithHeader("Install Files", {"a", "b", "C:\\x\\"}, "H");
  script.Data().StatementMedia.Set(i, "block1");
  std::size_t j = AddWithHeader("Install Files", {"a", "b", "C:\\y\\"}, "J");
  script.Data().StatementMedia.Set(j, "block2");
  Run();
  EXPECT_EQ(fetched, (std::vector<std::string>{"block1"}));  // the second skips: ABORTEDONERROR
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Unable to download installation data from the web");
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(RowsAfter(2), (Rows{{"AH", "TRUE"}, {"PH_1", "C:\\x\\"}, {"AJ", "TRUE"}, {"PJ_1", "C:\\y\\"}}));
}

}  // namespace
}  // namespace kem::test
