// Registry values as text, the registry view per mode, the system settings and the
// special folders.
#include "command_fixture.h"
#include "commands/registry_statements.h"

namespace kem::test {
namespace {

class RegistryStatementsTest : public CommandTest {};

constexpr auto HKLM = RegistryRoot::LocalMachine;

TEST_F(RegistryStatementsTest, EveryValueTypeAndMarker) {
  const std::string k = "Software\\Co";
  registry.Put(HKLM, k, "sz", 1, std::string("text\0", 5));
  registry.Put(HKLM, k, "unterminated", 1, "abc");
  registry.Put(HKLM, k, "expand", 2, std::string("%TEMP%\\x\0", 10));
  registry.Put(HKLM, k, "dword", 4, std::string("\xff\xff\xff\xff", 4));
  registry.Put(HKLM, k, "shortdword", 4, std::string("\x01\x02", 2));
  registry.Put(HKLM, k, "binary", 3, std::string("\x0a\xff", 2));
  registry.Put(HKLM, k, "multi", 7, std::string("a\0b\0c\0\0", 7));
  registry.Put(HKLM, k, "multistop", 7, std::string("a\0\0b\0\0", 6));
  registry.Put(HKLM, k, "multiopen", 7, std::string("a\0b", 3));
  registry.Put(HKLM, k, "qword", 11, std::string(8, '\0'));
  registry.failing.insert("broken");
  registry.Put(HKLM, k, "broken", 1, "x");
  struct Case {
    std::string root, key, name, check;
  };
  const std::vector<Case> cases = {
      {"2", k, "sz", "text"},
      {"2", k, "unterminated", "abc"},
      {"2", k, "expand", "%TEMP%\\x"},
      {"2", k, "dword", "4294967295"},
      {"2", k, "shortdword", "READ$ERROR"},
      {"2", k, "binary", "0AFF"},
      {"2", k, "multi", "a$NEWLINE$b$NEWLINE$c"},
      {"2", k, "multistop", "a"},
      {"2", k, "multiopen", "a$NEWLINE$b"},
      {"2", k, "qword", "UNKNOWN$TYPE"},
      {"2", k, "broken", "READ$ERROR"},
      {"2", k, "absent", "NO$VALUE"},
      {"2", "Software\\None", "sz", "NO$KEY"},
      {"1", k, "sz", "NO$KEY"},
      {"5", k, "sz", "NO$KEY"},
      {"-1", k, "sz", "NO$KEY"},
  };
  for (std::size_t n = 0; n < cases.size(); ++n) {
    const auto& c = cases[n];
    script.Add("Check Registry", {"C" + std::to_string(n), c.root, c.key, c.name});
    script.Add("Read Registry", {"R" + std::to_string(n), c.root, c.key, c.name});
  }
  Run();
  ASSERT_EQ(Failure(), "");
  for (std::size_t n = 0; n < cases.size(); ++n) {
    SCOPED_TRACE(cases[n].name + " in root " + cases[n].root);
    EXPECT_EQ(GetVar("C" + std::to_string(n)), cases[n].check);
    const bool marker = cases[n].check.find('$') != std::string::npos && cases[n].check != "a$NEWLINE$b$NEWLINE$c" &&
                        cases[n].check != "a$NEWLINE$b";
    EXPECT_EQ(GetVar("R" + std::to_string(n)), marker ? "" : cases[n].check);
  }

  // A code that is not a number fails the statement.
  NewScript();
  script.Add("Read Registry", {"R", "two", k, "sz"});
  Run();
  EXPECT_NE(Failure().find("not a valid integer"), std::string::npos);
}

TEST_F(RegistryStatementsTest, TheViewFollowsTheModeOnlyUnderWow64) {
  struct Case {
    bool wow64;
    const char* mode;
    std::uint32_t view;
  };
  const Case cases[] = {{false, "Win32", 0}, {false, "x64", 0}, {true, "Win32", 512}, {true, "x64", 256}, {true, "ia64", 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.wow64 ? " wow64" : ""));
    NewScript();
    registry = FakeRegistry();
    system.wow64 = c.wow64;
    registry.Put(HKLM, "Software\\V", "which", 1, "view " + std::to_string(c.view), c.view);
    script.Add("Set 64 Bit Mode", {c.mode});
    script.Add("Read Registry", {"R", "2", "Software\\V", "which"});
    Run();
    EXPECT_EQ(GetVar("R"), "view " + std::to_string(c.view));
    EXPECT_EQ(Engine().RegistryView, c.wow64 ? 512u : 0u);
  }
}

TEST_F(RegistryStatementsTest, OperatingSystemNamesAndServicePackLevels) {
  struct Case {
    OsVersionInfo v;
    const char* name;
    const char* level;
  };
  const Case cases[] = {
      {{true, 4, 0, 1381, "Service Pack 6", false}, "NT4", "6"},
      {{true, 5, 0, 2195, "", false}, "2000", "0"},
      {{true, 5, 1, 2600, "Service Pack 3", false}, "XP", "3"},
      {{true, 5, 2, 3790, "Service Pack 2, v.3", true}, "2003", "3"},
      {{true, 6, 0, 6002, "Service Pack 2", true}, "2008", "2"},
      {{true, 6, 0, 6000, "", true}, "VISTA", "0"},
      {{true, 6, 0, 6002, "Service Pack 2", false}, "VISTA", "2"},
      {{true, 6, 1, 7601, "Service Pack 1", false}, "SEVEN", "1"},
      {{true, 6, 1, 7601, "", true}, "2008R2", "0"},
      {{true, 10, 0, 19045, "", false}, "UNKNOWN", "0"},
      {{false, 4, 0, 950, "", false}, "95", "0"},
      {{false, 4, 10, 1998, "", false}, "98", "0"},
      {{false, 4, 10, 67766446 + 100, "", false}, "98SE", "0"},
      {{false, 4, 90, 3000, "", false}, "ME", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NewScript();
    system.version = c.v;
    script.Add("Get OS or SP Level", {"NAME", "TRUE"});
    script.Add("Get OS or SP Level", {"SP", "FALSE"});
    Run();
    EXPECT_EQ(GetVar("NAME"), c.name);
    EXPECT_EQ(GetVar("SP"), c.level);
  }
  EXPECT_EQ(ServicePackLevel("Service Pack 10"), 10);
}

TEST_F(RegistryStatementsTest, SystemSettingsByCode) {
  system.version = {true, 6, 1, 7601, "Service Pack 1", false};
  system.memory = 510ull << 20;  // 512 MB less what the firmware keeps
  system.width = 768;
  system.height = 1024;  // portrait
  system.bits = 16;
  system.groups = {547, 545};
  files.versions["C:\\windows\\system32\\shdocvw.dll"] = {6, 0, 2600, 0};
  registry.Put(HKLM, "SOFTWARE\\Microsoft\\Internet Explorer", "Version", 1, "8.0.7600.16385");
  registry.Put(HKLM, "SOFTWARE\\Microsoft\\InetStp", "MajorVersion", 4, std::string("\x07\0\0\0", 4));
  registry.Put(HKLM, "SOFTWARE\\Microsoft\\InetStp", "MinorVersion", 4, std::string("\x05\0\0\0", 4));
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "FALSE"},  {4, "TRUE"},   {5, "TRUE"},   {6, "FALSE"},  {9, "TRUE"},    {10, "FALSE"}, {14, "TRUE"},
      {15, "FALSE"}, {17, "FALSE"}, {18, "TRUE"},  {26, "TRUE"},  {27, "TRUE"},   {28, "FALSE"}, {33, "1033"},
      {35, "Owner"}, {37, "FALSE"}, {38, "TRUE"},  {53, "TRUE"},  {57, "TRUE"},   {61, "BOX"},   {62, "HOME"},
      {63, "POWER"}, {64, "96"},    {65, "FALSE"}, {69, "TRUE"},  {72, "TRUE"},   {73, "TRUE"},  {74, "TRUE"},
      {75, "X86"},   {78, "TRUE"}, {79, "TRUE"},  {80, "TRUE"},  {81, "FALSE"},  {82, ""},      {-1, ""}};
  script.Add("Set Variable", {"S82", "stale"});
  for (const auto& [code, answer] : cases) script.Add("Get System Settings", {"S" + std::to_string(code), std::to_string(code)});
  Run();
  ASSERT_EQ(Failure(), "");
  for (const auto& [code, answer] : cases) EXPECT_EQ(GetVar("S" + std::to_string(code)), answer) << "code " << code;
}

TEST_F(RegistryStatementsTest, FolderCodesFollowTheModeAndTheAllUsersFlag) {
  system.wow64 = true;
  system.shellFolders = {{0x05, "C:\\Users\\me\\Documents"}, {0x2e, "C:\\Users\\Public\\Documents"},
                         {0x28, "C:\\Users\\me"}};
  const std::string cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  registry.Put(HKLM, cv, "ProgramFilesDir", 1, "C:\\Program Files (x86)", 512);
  registry.Put(HKLM, cv, "ProgramFilesDir", 1, "C:\\Program Files", 256);
  registry.Put(HKLM, cv, "CommonFilesDir", 1, "C:\\Program Files\\Common Files", 256);
  registry.Put(RegistryRoot::CurrentUser, cv + "\\Explorer\\Shell Folders\\", "AppData", 1, "C:\\Users\\me\\AppData\\Roaming", 512);
  struct Step {
    const char* mode;
    int code;
    const char* allUsers;
    const char* expected;
  };
  const Step steps[] = {
      {"Win32", 2, "FALSE", "C:\\Users\\me\\Documents\\"},
      {"Win32", 2, "TRUE", "C:\\Users\\Public\\Documents\\"},
      {"Win32", 19, "TRUE", "C:\\Users\\"},
      {"Win32", 20, "FALSE", "C:\\Program Files (x86)\\"},
      {"Win32", 23, "FALSE", "C:\\windows\\syswow64\\"},
      {"Win32", 26, "FALSE", "C:\\Users\\me\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch\\"},
      {"Win32", 10, "FALSE", ""},
      {"x64", 20, "FALSE", "C:\\Program Files\\"},
      {"x64", 20, "TRUE", "C:\\Program Files\\Common Files\\"},
      {"x64", 23, "FALSE", "C:\\windows\\system32\\"},
      {"x64", 25, "FALSE", "C:\\windows\\"},
      {"x64", 29, "FALSE", ""},
  };
  for (std::size_t n = 0; n < std::size(steps); ++n) {
    script.Add("Set 64 Bit Mode", {steps[n].mode});
    script.Add("Get Folder Location", {"F" + std::to_string(n), std::to_string(steps[n].code), steps[n].allUsers});
  }
  Run();
  ASSERT_EQ(Failure(), "");
  for (std::size_t n = 0; n < std::size(steps); ++n)
    EXPECT_EQ(GetVar("F" + std::to_string(n)), steps[n].expected) << steps[n].mode << " code " << steps[n].code;
}

}  // namespace
}  // namespace kem::test
