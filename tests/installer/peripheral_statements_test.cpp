// Shares and the managed-code assembly tools.
#include <gtest/gtest.h>

#include "installer/peripheral_statements.h"
#include "interpreter/script_fixture.h"

namespace kem::test {
namespace {

class PeripheralTest : public ScriptTest {};

TEST(SystemChangeGroups, EveryComponentAndSystemChangeKindHasAHandlerButTheScheduledTasks) {
  FakeInstaller installer;
  FakeSystem system;
  StatementTable table;
  RegisterComponentStatements(table);
  RegisterSystemChangeStatements(table, SystemChangeServices{installer, system, {}});
  for (const auto& k : StatementKinds()) {
    if (k.group != StatementGroup::Components && k.group != StatementGroup::DeferredChanges) continue;
    bool expected = k.kind != StatementKind::ScheduleTask && k.kind != StatementKind::DeleteScheduledTask;
    EXPECT_EQ(table.Find(k.kind) != nullptr, expected) << k.name;
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

}  // namespace
}  // namespace kem::test
