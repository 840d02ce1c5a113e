// Immediate system statements: queries, registry deletion, closing windows, the 64-bit
// mode and the instance transform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/script_fixture.h"

namespace kem::test {
namespace {

class ImmediateTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    standIn64BitMode = false;
  }
};

TEST_F(ImmediateTest, IsMsiSetupInstalledIsTrueOnlyForInstalledProducts) {
  installer.productStates = {{"{P-INSTALLED}", 5}, {"{P-ADVERTISED}", 1}};
  script.Add("Set Variable", {"CODE", "{P-INSTALLED}"});
  script.Add("Is MSI Setup Installed", {"$CODE$", "A"});
  script.Add("Is MSI Setup Installed", {"{P-ADVERTISED}", "B"});
  script.Add("Is MSI Setup Installed", {"{P-UNKNOWN}", "C"});
  Run();
  EXPECT_EQ(GetVar("A"), "TRUE");
  EXPECT_EQ(GetVar("B"), "FALSE");
  EXPECT_EQ(GetVar("C"), "FALSE");

  NewScript();
  installer.missing = true;
  script.Add("Is MSI Setup Installed", {"{P}", "A"});
  Run();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("Library not found: msi.dll"), std::string::npos);
}

TEST_F(ImmediateTest, CheckProcessComparesFileNamesWithoutRegardToCase) {
  machine.processes = {"C:\\Windows\\explorer.exe", "NOTEPAD.EXE", "C:\\tools\\notepad.exe.bak"};
  script.Add("Check Process", {"notepad.exe", "A"});
  script.Add("Check Process", {"Explorer.EXE", "B"});
  script.Add("Check Process", {"windows", "C"});
  Run();
  EXPECT_EQ(GetVar("A"), "TRUE");
  EXPECT_EQ(GetVar("B"), "TRUE");
  EXPECT_EQ(GetVar("C"), "FALSE");
}

TEST_F(ImmediateTest, CheckServiceNamesEveryStateAndNotInstalledOtherwise) {
  const char* names[] = {"NOTINSTALLED", "STOPPED", "STARTING", "STOPPING", "RUNNING",
                         "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED", "NOTINSTALLED"};
  for (int state = 0; state <= 8; ++state) {
    SCOPED_TRACE(state);
    NewScript();
    machine.services = {{"|Svc", state}, {"far|Svc", 4}};
    script.Add("Check Service", {"Svc", "", "R"});
    script.Add("Check Service", {"Svc", "unreachable", "U"});
    Run();
    EXPECT_EQ(GetVar("R"), names[state]);
    EXPECT_EQ(GetVar("U"), "NOTINSTALLED");
  }
}

TEST_F(ImmediateTest, DeleteRegistryByViewAndMode) {
  struct Case {
    const char* title;
    bool wow64;
    const char* mode;  // parameter 3 of "Set 64 Bit Mode" ("TRUE" for x64)
    std::vector<std::string> params;
    std::string what;
    std::string key;
    std::string name;
    std::uint32_t view;
  };
  const std::vector<Case> cases = {
      {"value, 32-bit Windows", false, "FALSE", {"2", "Software\\Co\\App", "Ver", "FALSE"}, "value", "Software\\Co\\App", "Ver", 0},
      {"key tree under WOW64 in 32-bit mode", true, "FALSE", {"1", "Software\\Co", "", "TRUE"}, "tree", "Software\\Co", "", 512},
      {"value under WOW64 in x64 mode", true, "TRUE", {"2", "Software\\Co", "V", "false"}, "value", "Software\\Co", "V", 256},
      {"key under WOW64 in x64 mode: parent and last part", true, "TRUE", {"2", "Software\\Co\\App", "", "TRUE"}, "subkey64", "Software\\Co", "App", 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    machine.deletions.clear();
    machine.wow64 = c.wow64;
    script.Add("Set 64 Bit Mode", {"FALSE", "FALSE", c.mode});
    script.Add("Delete Registry", c.params);
    Run();
    ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
    ASSERT_EQ(machine.deletions.size(), 1u);
    EXPECT_EQ(machine.deletions[0].what, c.what);
    EXPECT_EQ(machine.deletions[0].key, c.key);
    EXPECT_EQ(machine.deletions[0].name, c.name);
    EXPECT_EQ(machine.deletions[0].view, c.view);
    EXPECT_EQ(Engine().RegistryView, c.wow64 ? 512u : 0u);  // back to the 32-bit view
  }

  // A key without a parent in x64 mode, and a root index out of range: nothing.
  NewScript();
  machine.deletions.clear();
  machine.wow64 = true;
  script.Add("Set 64 Bit Mode", {"", "", "TRUE"});
  script.Add("Delete Registry", {"2", "Software", "", "TRUE"});
  script.Add("Delete Registry", {"7", "Software\\X", "", "TRUE"});
  Run();
  EXPECT_TRUE(machine.deletions.empty());
}

TEST_F(ImmediateTest, TerminateProgramClosesTheFirstMatchingWindowInTenPasses) {
  machine.windows = {{1, "Untitled - Notepad", "Notepad"}, {2, "Notes - Notepad", "Notepad"}, {3, "notepad", "Edit"}};
  script.Add("Terminate Program", {"Notepad", "Notepad"});
  Run();
  EXPECT_EQ(machine.closed, std::vector<std::uintptr_t>(10, 1));

  const std::vector<std::pair<std::vector<std::string>, std::uintptr_t>> cases = {
      {{"", "Edit"}, 3}, {{"Notes", ""}, 2}, {{"notepad", ""}, 3}};
  for (const auto& [params, handle] : cases) {
    NewScript();
    machine.closed.clear();
    script.Add("Terminate Program", params);
    Run();
    EXPECT_EQ(machine.closed, std::vector<std::uintptr_t>(10, handle)) << params[0] << "/" << params[1];
  }
  NewScript();
  machine.closed.clear();
  script.Add("Terminate Program", {"", ""});
  Run();
  EXPECT_TRUE(machine.closed.empty());
}

TEST_F(ImmediateTest, Set64BitModeLastExactTrueWins) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"TRUE", "TRUE", "FALSE"}, "ia64"}, {{"true", "FALSE", "FALSE"}, "x64"},
      {{"FALSE", "FALSE", "TRUE"}, "x64"}, {{"TRUE", "FALSE", "FALSE"}, "Win32"}};
  // Each statement's mode is observed by the plug-in statement after it.
  std::vector<std::string> seen;
  hooks.PluginStatement = [&](Interpreter& in, std::size_t) { seen.push_back(in.Context().State.PlatformMode); };
  for (const auto& [params, mode] : cases) {
    script.Add("Set 64 Bit Mode", params);
    script.Add("Observe");
  }
  prepare = [](SetupData& d) { d.PluginStatements.push_back("Observe"); };
  Run();
  EXPECT_EQ(seen, (std::vector<std::string>{"ia64", "ia64", "x64", "Win32"}));
}

TEST_F(ImmediateTest, TransformInstanceTakesNewCodesUnlessAPatchLiesBeside) {
  script.Add("Set Variable", {"NEWINSTANCE", "TRUE"});
  script.Add("Transform Instance");
  Run();
  EXPECT_EQ(ctx.Data.ProductCode, "{00000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(ctx.Data.RevisionCode, "{00000000-0000-0000-0000-000000000002}");
  EXPECT_EQ(GetVar("PRODUCTCODE"), ctx.Data.ProductCode);  // the identity is published again
  EXPECT_TRUE(ctx.State.Installer.NewInstancePending);

  for (bool patch : {false, true}) {
    NewScript();
    ctx.State.Installer = {};
    host.files.erase("C:\\Temp\\kem1\\setup.msp");
    if (patch) host.files.insert("C:\\Temp\\kem1\\setup.msp");
    script.Add("Set Variable", {"NEWINSTANCE", patch ? "TRUE" : "FALSE"});
    script.Add("Transform Instance");
    Run();
    EXPECT_EQ(ctx.Data.ProductCode, "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}");
    EXPECT_FALSE(ctx.State.Installer.NewInstancePending);
  }
}

}  // namespace
}  // namespace kem::test
