// System statements run by the real engine under Wine, checked through Win32: registry
// values and keys deleted, a running process and a missing service recognised, an
// unknown product reported as not installed, component choices saved to a file.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\system-change";
constexpr const char* kKey = "Software\\KemSystemChangeE2E";

std::string FileText(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string text(65536, '\0');
  DWORD got = 0;
  ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(h);
  text.resize(got);
  return text;
}

bool ValueExists(const char* key, const char* value) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  bool found = RegQueryValueExA(k, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(k);
  return found;
}

bool KeyExists(const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

class SystemChangeE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(temp_);
    MakeFolder(temp_);
  }
  ScriptBuilder script_;
  std::string name_, dir_, temp_;
};

TEST_F(SystemChangeE2E, ImmediateStatementsActOnTheMachine) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kKey) + "\\Tree\\Deep").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(k);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegSetValueExA(k, "gone", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegSetValueExA(k, "keep", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegCloseKey(k);
  const std::string selections = temp_ + "\\choices.dat";

  script_.Add("Set Variable", {"KEY", kKey});
  script_.Add("Delete Registry", {"1", "$KEY$", "gone", "FALSE"});
  script_.Add("Delete Registry", {"1", "$KEY$\\Tree", "", "TRUE"});
  script_.Add("Check Process", {"SETUP.EXE", "RUNNING"});
  script_.Add("Check Service", {"KemNoSuchService", "", "SERVICE"});
  script_.Add("Set Variable", {"INSTALLED", "unknown"});
  script_.Add("Is MSI Setup Installed", {"{9E9E9E9E-9999-9999-9999-999999999999}", "INSTALLED"});
  script_.Add("Define Component", {"Main", "TRUE", "The program"});
  script_.Add("Define Component", {"Extras", "TRUE", ""});
  script_.Add("Set Component State", {"Extras", "FALSE"});
  script_.Add("Get Component State", {"Main", "MAIN"});
  script_.Add("Save Feature Selections", {selections});
  // Exit code 70 + one for each expected answer.
  script_.Add("Set Variable", {"CODE", "70"});
  for (auto [var, value] : {std::pair{"RUNNING", "TRUE"}, std::pair{"SERVICE", "NOTINSTALLED"},
                            std::pair{"INSTALLED", "FALSE"}, std::pair{"MAIN", "TRUE"}}) {
    script_.Add("If", {var, "0", value, "FALSE"});
    script_.Add("Mathematics", {"$CODE$", "1", "0", "CODE"});
    script_.Add("End");
  }
  script_.Add("Terminate with Exit Code", {"$CODE$"});

  std::string exe = ComposeSetup(dir_, "setup", script_.Data());
  RunResult r = RunEngine(exe, "/s", 60000, temp_);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 74u);
  EXPECT_FALSE(ValueExists(kKey, "gone"));
  EXPECT_TRUE(ValueExists(kKey, "keep"));
  EXPECT_FALSE(KeyExists(std::string(kKey) + "\\Tree"));
  EXPECT_NE(GetFileAttributesA(selections.c_str()), INVALID_FILE_ATTRIBUTES);
  std::string text = FileText(selections);
  EXPECT_EQ(text.rfind("VRAX-PREDEF-COMPONENT\r\nMain\r\nExtras\r\n$\r\nTRUE\r\nTRUE\r\nFALSE\r\n$\r\n", 0), 0u) << text;
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

}  // namespace
}  // namespace kem::test
