// The user cancels a long statement from the progress page, seen from outside the engine
// through Win32 only: the page's Cancel button, the cancel question answered Yes, the
// "Setup cancelled" box, and what the script finds afterwards. A cancelled "Run Program"
// gives up waiting at once (the program it started runs on) and reports -314.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\command-cancel";
const char* kQuestion = "Are you sure you want to cancel?";

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
  for (int waited = 0; waited < timeoutMs; waited += 25) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return condition();
}

// The progress page of the process (the example's "Progress" form), or null.
HWND ProgressPage(DWORD pid) {
  HWND page = FindProcessWindow(pid, "TPoolTemplate");
  return page && ChildTexts(page).find("Installing") != std::string::npos ? page : nullptr;
}

// The page shows a text that starts with prefix (the worker's reports reach its progress
// text).
bool Shows(HWND page, const std::string& prefix) { return ("\n" + ChildTexts(page)).find("\n" + prefix) != std::string::npos; }

void Press(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

// The process whose program file has this name, or 0.
DWORD ProcessNamed(const char* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
    if (_stricmp(entry.szExeFile, exeName) == 0) found = entry.th32ProcessID;
  CloseHandle(snapshot);
  return found;
}

class CommandCancel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name;
    temp_ = dir_ + "-temp";
    RemoveTree(dir_);
    RemoveTree(temp_);
    MakeFolder(temp_);
    MakeFolder(dir_);
    report_ = dir_ + "\\report.txt";
    // The progress page on screen while the statement works; a cancel does not end the
    // script, which reports what the statement left.
    script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
    script_.Add("Set Variable", {"PROGRESSTEXT", "Waiting"});
    script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  }
  std::unique_ptr<EngineProcess> Start() {
    script_.Add("Terminate with Exit Code", {"7"});
    const std::string exe = ComposeSetup(dir_ + "\\setup", "setup", script_.Data());
    StartOptions o;
    o.TempFolder = Widen(temp_);
    return std::make_unique<EngineProcess>(exe, "", o);
  }
  // Cancel on the page, Yes to the question; the time from Yes to "Setup cancelled", which
  // is then dismissed.
  std::chrono::milliseconds CancelFromThePage(DWORD pid, HWND page) {
    HWND cancel = FindWindowExA(page, nullptr, "Button", "Cancel");
    EXPECT_NE(cancel, nullptr);
    PostMessageA(cancel, BM_CLICK, 0, 0);
    HWND question = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (question = FindMessageBox(pid)) != nullptr; })) << "no cancel question";
    if (!question) return {};
    EXPECT_NE(ChildTexts(question).find(kQuestion), std::string::npos) << ChildTexts(question);
    const auto asked = std::chrono::steady_clock::now();
    Press(question, IDYES);
    HWND box = nullptr;
    EXPECT_TRUE(WaitUntil([&] {
      box = FindMessageBox(pid);
      return box && box != question && ChildTexts(box).find("Setup cancelled") != std::string::npos;
    })) << "no cancellation message";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    if (box) Press(box, IDOK);
    return took;
  }
  ScriptBuilder script_;
  std::string dir_, temp_, report_;
};

// A search that would run for minutes (the whole of Wine's Z: drive, which also reaches
// itself again through /proc; on Windows the system drive) stops at the cancel.
TEST_F(CommandCancel, FindAllFilesStopsAtTheCancel) {
  const std::string root = GetDriveTypeA("Z:\\") == DRIVE_NO_ROOT_DIR ? "C:\\" : "Z:\\";
  script_.Add("Find All Files", {root + "*.*", "TRUE", "FALSE", "FOUND"});
  script_.Add("Write to Text File", {report_, "aborted=$ABORTEDONERROR$", "FALSE"});
  auto p = Start();
  HWND page = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (page = ProgressPage(p->Id())) != nullptr; })) << "no progress page";
  // The search is under way once the page shows a file it found.
  ASSERT_TRUE(WaitUntil([&] { return Shows(page, root); })) << ChildTexts(page);
  const auto took = CancelFromThePage(p->Id(), page);
  EXPECT_LT(took, std::chrono::seconds(5));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "aborted=TRUE\r\n");
}

// "Run Program" waiting for a program that never ends: the cancel ends the wait within a
// few seconds with -314, and the program is still running afterwards.
TEST_F(CommandCancel, RunProgramStopsWaitingAndLeavesTheProgramRunning) {
  const std::string program = dir_ + "\\kem_hanging_program.exe";
  ASSERT_TRUE(CopyFileA(Beside("kem_recorder.exe").c_str(), program.c_str(), FALSE));
  const std::string record = dir_ + "\\record.txt";
  SetEnvironmentVariableA("KEM_RECORD", record.c_str());
  script_.Add("Run Program", {program, "TRUE", "/hang", "TRUE", "RESULT"});
  script_.Add("Write to Text File", {report_, "result=$RESULT$ aborted=$ABORTEDONERROR$", "FALSE"});
  auto p = Start();
  SetEnvironmentVariableA("KEM_RECORD", nullptr);
  HWND page = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (page = ProgressPage(p->Id())) != nullptr; })) << "no progress page";
  // The program has started once it has written its record.
  ASSERT_TRUE(WaitUntil([&] { return PathExists(record); })) << "the program did not start";
  const DWORD programId = ProcessNamed("kem_hanging_program.exe");
  ASSERT_NE(programId, 0u);
  // Ended by the test in any case, also when a check fails before the end.
  struct Program {
    HANDLE h;
    ~Program() {
      if (!h) return;
      TerminateProcess(h, 1);
      WaitForSingleObject(h, 10000);
      CloseHandle(h);
    }
  } running{OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, programId)};
  ASSERT_NE(running.h, nullptr);
  const auto took = CancelFromThePage(p->Id(), page);
  EXPECT_LT(took, std::chrono::seconds(6));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "result=-314 aborted=TRUE\r\n");
  // The cancel stopped the wait, not the program.
  EXPECT_EQ(WaitForSingleObject(running.h, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program was ended";
}

}  // namespace
}  // namespace kem::test
