// Scripts run end to end by the engine under Wine: exit codes set by the script, the
// validation exit, the statement-failure box and command-line overrides.
#include <gtest/gtest.h>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\interpreter";

class EngineScript : public ::testing::Test {
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

  RunResult Run(const std::string& args, const std::function<void(DWORD)>& whileRunning = {}) {
    std::string exe = ComposeSetup(dir_, "setup", script_.Data());
    return RunEngine(exe, args, 60000, temp_, whileRunning);
  }

  // Runs without switches; the first message box is read (its text and caption) and
  // answered with the button.
  RunResult RunAnsweringFirstBox(int button, std::string& text, std::string& caption) {
    return Run("", [&](DWORD pid) {
      HWND box = FindMessageBox(pid);
      if (!box || !text.empty()) return;
      text = ChildTexts(box);
      caption = WindowText(box);
      PostMessageA(box, WM_COMMAND, button, 0);
    });
  }

  std::string TracePath() const { return dir_ + "-trace.log"; }

  ScriptBuilder script_;
  std::string name_, dir_, temp_;
};

TEST_F(EngineScript, SilentSetupComputesItsExitCode) {
  script_.Add("Set Variable", {"BASE", "3000"});
  script_.Add("Mathematics", {"$BASE$", "10", "0", "CODE"});
  script_.Add("Wizard Loop");
  script_.Add("Display Dialog", {"Welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("Display Dialog", {"Finish", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("End");
  script_.Add("If", {"WIZARD", "0", "NEXT", "FALSE"});
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"1"});
  RunResult r = Run("/s /l=" + TracePath());
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 3010u);
  std::string trace = ReadTraceLog(TracePath());
  for (const char* line : {"    <CompileScript>\r\n    </CompileScript>\r\n    <BootStrap>\r\n    </BootStrap>\r\n    <vrax>\r\n",
                           "    </vrax>\r\n    <ExitScript>\r\n    </ExitScript>\r\n  </RunScript>\r\n"})
    EXPECT_NE(trace.find(line), std::string::npos) << trace;
}

TEST_F(EngineScript, ValidationFailureExits314WithNothingRun) {
  script_.Add("Get Temporary File", {"T"});
  script_.Add("GoTo Label", {"missing"});
  RunResult r = Run("/s /l=" + TracePath());
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 314u);
  std::string trace = ReadTraceLog(TracePath());
  EXPECT_EQ(trace.find("<vrax>"), std::string::npos) << trace;
  EXPECT_NE(trace.find("LABEL undefined: missing"), std::string::npos) << trace;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((temp_ + "\\kem*.tmp").c_str(), &fd);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "a statement ran: " << fd.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

TEST_F(EngineScript, StatementFailureBoxShowsThePositionAndTheRunEndsWhenDismissed) {
  script_.Add("Set Variable", {"X", "1"});
  script_.Add("Terminate with Exit Code", {"abc"});
  script_.Add("Terminate with Exit Code", {"9"});
  std::string text, caption;
  RunResult r = RunAnsweringFirstBox(IDOK, text, caption);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 1603u);  // a failure while the exit code is 0; the next statement never ran
  EXPECT_NE(text.find("Runtime error in setup script:"), std::string::npos) << text;
  EXPECT_NE(text.find("Source File: setup"), std::string::npos) << text;
  EXPECT_NE(text.find("Line Number: 2"), std::string::npos) << text;
  EXPECT_NE(text.find("'abc' is not a valid integer value"), std::string::npos) << text;
  EXPECT_EQ(caption, "Test Product - Vantrel Wizard");
}

// "MessageBox" on screen: the question with its caption and buttons; the button the user
// clicks is the answer the script reads. The tray statements around it run on a real
// notification area and leave nothing behind.
TEST_F(EngineScript, MessageBoxAnswerReachesTheScript) {
  script_.Add("System Tray", {"FALSE", "TRUE", "FALSE", "FALSE"});
  script_.Add("MessageBalloon", {"Note", "Balloon text", "0", "10"});
  script_.Add("MessageBox", {"$TITLE$ question", "Go on with$NEWLINE$the setup?", "1", "4", "answer"});
  script_.Add("System Tray", {"FALSE", "FALSE", "FALSE", "TRUE"});
  script_.Add("If", {"ANSWER", "0", "NO", "FALSE"});
  script_.Add("Terminate with Exit Code", {"7"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"1"});
  std::string text, caption;
  RunResult r = RunAnsweringFirstBox(IDNO, text, caption);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(caption, "Test Product question");
  EXPECT_NE(text.find("Go on with\r\nthe setup?"), std::string::npos) << text;
}

TEST_F(EngineScript, CommandLineValuesOverrideTheScriptOnlyWhenSilent) {
  script_.Add("Set Variable", {"TARGETDIR", "C:\\FromScript\\"});
  script_.Add("If", {"TARGETDIR", "4", "d:\\App", "FALSE"});
  script_.Add("Terminate with Exit Code", {"21"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"22"});
  RunResult silent = Run("/s TARGETDIR=D:\\App");
  ASSERT_FALSE(silent.TimedOut);
  EXPECT_EQ(silent.ExitCode, 21u);
  RunResult shown = Run("TARGETDIR=D:\\App");
  ASSERT_FALSE(shown.TimedOut);
  EXPECT_EQ(shown.ExitCode, 22u);
}

// A resume entry left by an earlier run of the same product (named after the first eight
// hexadecimal digits of the product code) would start the setup again at the next logon:
// a run removes it. Another product's entry stays.
TEST_F(EngineScript, StaleResumeEntryOfTheProductIsRemoved) {
  const char* key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  const std::string own = script_.Data().ProductCode.substr(1, 8);
  const std::string other = own == "00000000" ? "11111111" : "00000000";
  HKEY runOnce = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &runOnce, nullptr),
            ERROR_SUCCESS);
  const std::string command = "\"C:\\Stale\\setup.exe\" /s";
  for (const std::string& name : {own, other})
    RegSetValueExA(runOnce, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
  script_.Add("Terminate with Exit Code", {"3"});
  RunResult r = Run("/s");
  auto exists = [&](const std::string& name) {
    return RegQueryValueExA(runOnce, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  };
  const bool ownLeft = exists(own), otherLeft = exists(other);
  for (const std::string& name : {own, other}) RegDeleteValueA(runOnce, name.c_str());  // never run at a later start
  RegCloseKey(runOnce);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 3u);
  EXPECT_FALSE(ownLeft) << own;
  EXPECT_TRUE(otherLeft) << other;
}

}  // namespace
}  // namespace kem::test
