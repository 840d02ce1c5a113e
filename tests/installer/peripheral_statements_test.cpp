// Shares and the managed-code assembly tools.
#include <gtest/gtest.h>

#include "installer/peripheral_statements.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

class PeripheralTest : public ScriptTest {};

TEST(SystemChangeGroups, EveryComponentAndSystemChangeKindHasAHandler) {
  FakeInstaller installer;
  FakeSystem system;
  StatementTable table;
  RegisterComponentStatements(table);
  RegisterSystemChangeStatements(table, SystemChangeServices{installer, system, {}});
  for (const auto& k : StatementKinds()) {
    if (k.group != StatementGroup::Components && k.group != StatementGroup::DeferredChanges) continue;
    EXPECT_NE(table.Find(k.kind), nullptr) << k.name;
  }
}

TEST_F(PeripheralTest, AssemblyToolsTryEachFrameworkUntilOneSucceeds) {
  struct Case {
    const char* title;
    std::string statement;
    std::vector<std::string> params;
    std::vector<int> exitCodes;
    std::vector<std::string> commands;  // program + " " + arguments
  };
  const std::vector<Case> cases = {
      {"native images, install by default", "Generate Native Images", {"$TARGETDIR$lib\\a.dll"}, {0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\ngen.exe install \"C:\\Program Files\\Test Product\\lib\\a.dll\""}},
      {"native images removed, falling back to 1.1", "Generate Native Images", {"C:\\a.dll|FALSE"}, {1, -1, 0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\ngen.exe uninstall \"C:\\a.dll\"",
        "C:\\Windows\\Microsoft.NET\\Framework\\v2.0.50727\\ngen.exe uninstall \"C:\\a.dll\"",
        "C:\\Windows\\Microsoft.NET\\Framework\\v1.1.4322\\ngen.exe /delete \"C:\\a.dll\""}},
      {"installer class uninstall", "Run .NET Installer Class", {"C:\\a.dll", "FALSE"}, {0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\installutil.exe /u \"C:\\a.dll\""}},
      {"installer class install: no verb", "Run .NET Installer Class", {"C:\\a.dll", "TRUE"}, {0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\installutil.exe  \"C:\\a.dll\""}},
      {"register with code base", "Register Assembly", {"C:\\a.dll||TRUE"}, {0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\regasm.exe /tlb /codebase \"C:\\a.dll\""}},
      {"unregister", "Register Assembly", {"C:\\a.dll|false"}, {0},
       {"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\regasm.exe /tlb /unregister \"C:\\a.dll\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    machine.runs.clear();
    machine.exitCodes = c.exitCodes;
    script.Add(c.statement, c.params);
    Run();
    ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
    std::vector<std::string> commands;
    for (const auto& r : machine.runs) commands.push_back(r.program + " " + r.arguments);
    EXPECT_EQ(commands, c.commands);
    for (const auto& r : machine.runs) EXPECT_EQ(r.folder, c.params[0].rfind("$TARGETDIR$", 0) == 0 ? "C:\\Program Files\\Test Product\\lib\\" : "C:\\");
  }
}

TEST_F(PeripheralTest, SharesWithAndWithoutAUserLimitUnderTheRedirectionSwitch) {
  standIn64BitMode = false;
  script.Add("Set 64 Bit Mode", {"", "", "TRUE"});
  script.Add("Create Share", {"Data", "$TARGETDIR$data", "Shared data", "5"});
  script.Add("Create Share", {"Open", "C:\\Open", "", ""});
  script.Add("Delete Share", {"Old"});
  Run();
  EXPECT_EQ(machine.shares, (std::vector<std::string>{"+Data|C:\\Program Files\\Test Product\\data|Shared data|5",
                                                      "+Open|C:\\Open||-1", "-Old"}));
  EXPECT_EQ(host.redirection, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(PeripheralTest, AccessControlNamesTheObjectTheAccountsAndTheHighestRight) {
  script.Add("Set Access Control", {"$TARGETDIR$data", "5", "3"});
  script.Add("Set Access Control", {"HKLM\\Software\\Co", "8", "1"});
  script.Add("Set Access Control", {"hkey_current_user\\Software\\Co", "34", "4"});
  script.Add("Set Access Control", {"\\\\server\\docs\\", "1", "1"});
  script.Add("Set Access Control", {"\\\\server\\docs\\sub", "1", "1"});
  script.Add("Set Access Control", {"C:\\x", "0", "4"});  // no account: nothing
  Run();
  ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
  EXPECT_EQ(machine.grants, (std::vector<std::string>{
                                "0|C:\\Program Files\\Test Product\\data|1|S-1-1-0|S-1-5-32-544",
                                "2|MACHINE\\Software\\Co|0|S-1-5-11",
                                "2|CURRENT_USER\\Software\\Co|2|S-1-5-32-545|S-1-5-18",
                                "1|\\\\server\\docs|0|S-1-1-0",
                                "0|\\\\server\\docs\\sub|0|S-1-1-0",
                            }));

  NewScript();
  script.Add("Set Access Control", {"C:\\x", "all", "4"});
  Run();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("'all' is not a valid integer value"), std::string::npos);
}

TEST_F(PeripheralTest, ScheduledTasksTakeTheirSettingsAndTheMachineWithBackslashes) {
  script.Add("Schedule Task", {"Nightly $V$", "server", "$TARGETDIR$run.exe", "/q $V$", "C:\\Work", "4", "2030-01-31 23:05"});
  script.Add("Schedule Task", {"Plain", "\\\\other", "C:\\a.exe", "", "", "", ""});
  script.Add("Delete Scheduled Task", {"Old", ""});
  phases->OnPrepareRun = [](Interpreter& in) { in.Vars().SetVar("V", "x", "test"); };
  Run();
  ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
  ASSERT_EQ(machine.tasks.size(), 2u);
  const ScheduledTask& t = machine.tasks[0];
  EXPECT_EQ(t.Name, "Nightly x");
  EXPECT_EQ(t.Machine, "\\\\server");
  EXPECT_EQ(t.Program, "C:\\Program Files\\Test Product\\run.exe");
  EXPECT_EQ(t.Arguments, "/q x");
  EXPECT_EQ(t.WorkingFolder, "C:\\Work");
  EXPECT_EQ(t.Flags, 4u);
  EXPECT_TRUE(t.HasStart);
  EXPECT_EQ(std::vector<int>({t.Year, t.Month, t.Day, t.Hour, t.Minute}), std::vector<int>({2030, 1, 31, 23, 5}));
  EXPECT_EQ(machine.tasks[1].Machine, "\\\\other");
  EXPECT_FALSE(machine.tasks[1].HasStart);
  EXPECT_EQ(machine.deletedTasks, (std::vector<std::string>{"|Old"}));

  for (const char* bad : {"2030-13-01", "tomorrow", "2030-01-01 25:00", "2030-01-01T10:00"}) {
    ScheduledTask task;
    EXPECT_FALSE(ParseTaskStart(bad, task)) << bad;
  }
  ScheduledTask day;
  EXPECT_TRUE(ParseTaskStart("2031-02-03", day));
  EXPECT_EQ(day.Hour, 0);
}

}  // namespace
}  // namespace kem::test
