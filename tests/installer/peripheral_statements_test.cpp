// Shares and the managed-code assembly tools.
#include <gtest/gtest.h>

#include "installer/peripheral_statements.h"
#include "interpreter/script_fixture.h"

namespace kem::test {
namespace {

class PeripheralTest : public ScriptTest {};

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

}  // namespace
}  // namespace kem::test
