// Wizard pages on screen, seen from outside the engine: setups made of the example
// wizard's pages (and the tests' own Custom page) are started with CreateProcess and driven
// through Win32 only — find the page, read its texts, type into edits, click with
// BM_CLICK, answer the cancel question — so the tests would run on Windows as well.
// Screenshots of the pages are written as BMP files into the folder named by argv[4].
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/ui/tray_window.h"
#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\dialogs";

std::string ScreenshotFolder() {
  std::vector<std::string> args = ::testing::internal::GetArgvs();
  return args.size() > 4 ? WindowsPath(args[4]) : std::string();
}

// The test plug-in, whose worker feeds the progress page (argv[5]).
std::string TestPlugin() {
  std::vector<std::string> args = ::testing::internal::GetArgvs();
  return args.size() > 5 ? WindowsPath(args[5]) : std::string();
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A control's text through WM_GETTEXT (another process's edit keeps its text itself).
std::string Text(HWND h) {
  char buf[8192] = {};
  SendMessageTimeoutA(h, WM_GETTEXT, sizeof(buf), reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buf;
}

BOOL CALLBACK CollectTextsProc(HWND h, LPARAM lp) {
  *reinterpret_cast<std::string*>(lp) += Text(h) + "\n";
  return TRUE;
}

// Every child's text, joined by line breaks.
std::string Texts(HWND window) {
  std::string s;
  EnumChildWindows(window, CollectTextsProc, reinterpret_cast<LPARAM>(&s));
  return s;
}

struct PageSearch {
  DWORD pid;
  std::string marker;
  HWND found = nullptr;
};

BOOL CALLBACK FindPageProc(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<PageSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (pid != s->pid || !IsWindowVisible(hwnd) || std::string(cls) != "TPoolTemplate") return TRUE;
  if (ChildTexts(hwnd).find(s->marker) == std::string::npos) return TRUE;
  s->found = hwnd;
  return FALSE;
}

// The visible page of the process that shows the marker text, or null.
HWND FindPage(DWORD pid, const std::string& marker) {
  PageSearch s{pid, marker};
  EnumWindows(FindPageProc, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

struct PageCount {
  DWORD pid;
  int n = 0;
};

BOOL CALLBACK CountPagesProc(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<PageCount*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof(cls));
  if (pid == c->pid && IsWindowVisible(h) && std::string(cls) == "TPoolTemplate") ++c->n;
  return TRUE;
}

int VisiblePages(DWORD pid) {
  PageCount c{pid};
  EnumWindows(CountPagesProc, reinterpret_cast<LPARAM>(&c));
  return c.n;
}

HWND WaitForPage(DWORD pid, const std::string& marker, int timeoutMs = 20000) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (HWND h = FindPage(pid, marker)) return h;
    Sleep(50);
  }
  // What is on screen instead, for the failure message.
  if (HWND box = FindMessageBox(pid)) ADD_FAILURE() << "message box: " << ChildTexts(box);
  if (HWND page = FindProcessWindow(pid, "TPoolTemplate")) ADD_FAILURE() << "page shown: " << ChildTexts(page);
  return nullptr;
}

struct ChildSearch {
  std::string text;
  std::string cls;
  int skip = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindChildProc(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<ChildSearch*>(lp);
  char c[64] = {};
  GetClassNameA(h, c, sizeof(c));
  if (!s->cls.empty() && _stricmp(c, s->cls.c_str()) != 0) return TRUE;
  if (!s->text.empty() && WindowText(h) != s->text) return TRUE;
  if (s->skip-- > 0) return TRUE;
  s->found = h;
  return FALSE;
}

// The page's child with this text (or, with an empty text, the first of this class; skip
// passes over as many matches first).
HWND Child(HWND page, const std::string& text, const std::string& cls = {}, int skip = 0) {
  ChildSearch s{text, cls, skip};
  EnumChildWindows(page, FindChildProc, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  for (int waited = 0; waited < timeoutMs; waited += 25) {
    if (condition()) return true;
    Sleep(25);
  }
  return condition();
}

// Answers the engine's question box: IDYES or IDNO.
bool Answer(DWORD pid, int button) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindMessageBox(pid)) != nullptr; })) return false;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
  return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

// The window as it is on screen, written as a BMP file into the screenshot folder.
void SaveScreenshot(HWND window, const std::string& name) {
  const std::string folder = ScreenshotFolder();
  if (folder.empty()) return;
  CreateDirectoryA(folder.c_str(), nullptr);
  SaveWindowBitmap(window, folder + "\\" + name + ".bmp");
}


// A tree view of another process, read through memory lent by that process (its items'
// texts and images travel in structures the messages point to).
class RemoteTree {
 public:
  explicit RemoteTree(HWND tree) : tree_(tree) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) memory_ = VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteTree() {
    if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteTree(const RemoteTree&) = delete;
  RemoteTree& operator=(const RemoteTree&) = delete;
  bool Ready() const { return memory_ != nullptr; }

  struct Item {
    HTREEITEM handle = nullptr;
    std::string path;  // the texts from the root down, joined by "\"
    int image = -1;
    int depth = 0;
  };
  // Every item, depth first.
  std::vector<Item> Items() {
    std::vector<Item> items;
    Walk(reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0)), "", 0, items);
    return items;
  }
  Item Find(const std::string& path) {
    for (const Item& item : Items())
      if (item.path == path) return item;
    ADD_FAILURE() << "no tree item " << path;
    return {};
  }
  // The item's image (or text) rectangle in the tree's client area.
  RECT Rect(HTREEITEM item, bool textOnly) {
    RECT r{};
    std::memcpy(&r, &item, sizeof(item));  // the item goes in where the rectangle comes back
    WriteProcessMemory(process_, memory_, &r, sizeof(r), nullptr);
    SendMessageA(tree_, TVM_GETITEMRECT, textOnly, reinterpret_cast<LPARAM>(memory_));
    ReadProcessMemory(process_, memory_, &r, sizeof(r), nullptr);
    return r;
  }

 private:
  void Walk(HTREEITEM item, const std::string& parent, int depth, std::vector<Item>& out) {
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                  reinterpret_cast<LPARAM>(item)))) {
      auto* text = static_cast<char*>(memory_) + 512;
      TVITEMA it{};
      it.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_IMAGE;
      it.hItem = item;
      it.pszText = text;
      it.cchTextMax = 256;
      WriteProcessMemory(process_, memory_, &it, sizeof(it), nullptr);
      SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(memory_));
      ReadProcessMemory(process_, memory_, &it, sizeof(it), nullptr);
      char buf[257] = {};
      ReadProcessMemory(process_, text, buf, 256, nullptr);
      Item found{item, parent.empty() ? buf : parent + "\\" + buf, it.iImage, depth};
      out.push_back(found);
      Walk(reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))),
           found.path, depth + 1, out);
    }
  }
  HWND tree_;
  HANDLE process_ = nullptr;
  void* memory_ = nullptr;
};

// A mouse click of the given button at a point of the window's client area: the cursor
// goes there first, so that the window's hit tests see the click where it is posted.
void ClickAt(HWND window, POINT at, bool right = false) {
  POINT screen = at;
  ClientToScreen(window, &screen);
  SetCursorPos(screen.x, screen.y);
  const LPARAM lp = MAKELPARAM(at.x, at.y);
  PostMessageA(window, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, lp);
  PostMessageA(window, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, lp);
}

// The popup menu the process shows, or null.
HWND FindPopupMenu(DWORD pid) { return FindProcessWindow(pid, "#32768"); }

// Waits until FOLDER\NAME exists (created by the test in upper case; see AddWaitForFile),
// under a label of its own so that a script can wait more than once.
void WaitForFile(ScriptBuilder& script, const std::string& folder, const std::string& name) {
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string label = "Wait" + upper;
  script.Add("Label", {label});
  script.Add("Set Variable", {"RELEASE", folder + "\\" + name});
  script.Add("Convert Path", {"RELEASE", "FALSE"});
  script.Add("If", {"RELEASE", "1", upper, "TRUE"});
  script.Add("GoTo Label", {label});
  script.Add("End");
}

// Page markers: a text each page of the example shows.
const char* kWelcome = "Click Next to continue, or Cancel to exit Setup.";
const char* kLicense = "License Agreement";
const char* kDestination = "Choose Install Location";
const char* kComponents = "Choose Components";
const char* kReady = "Ready to Install";
const char* kProgress = "Installing";
const char* kFinish = "Click Finish to close this wizard.";
const char* kCustom = "Code (five characters):";

class Wizard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }

  void SetUp() override {
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name_;
    temp_ = dir_ + "-temp";
    RemoveTree(temp_);
    MakeFolder(temp_);
  }

  // Adds a wizard loop over the pages, then exit code 70 + the position of WIZARD's value
  // in {NEXT, BACK, CANCEL, ADVANCED} (70 for none of them).
  void WizardLoop(const std::vector<std::string>& pages) {
    script_.Add("Wizard Loop");
    for (const std::string& p : pages) script_.Add("Display Dialog", {p, "WIZARD", "TRUE", "", "TRUE", "FALSE"});
    script_.Add("End");
    ExitByResult();
  }
  void ExitByResult() {
    const char* results[] = {"NEXT", "BACK", "CANCEL", "ADVANCED"};
    for (int i = 0; i < 4; ++i) {
      script_.Add("If", {"WIZARD", "0", results[i], "FALSE"});
      script_.Add("Terminate with Exit Code", {std::to_string(71 + i)});
      script_.Add("End");
    }
    script_.Add("Terminate with Exit Code", {"70"});
  }

  std::unique_ptr<EngineProcess> Start(const std::string& args = {}, const std::string& baseName = "setup") {
    std::string exe = ComposeSetup(dir_, baseName, script_.Data());
    StartOptions o;
    o.TempFolder = Widen(temp_);
    return std::make_unique<EngineProcess>(exe, args, o);
  }

  ScriptBuilder script_;
  std::string name_, dir_, temp_;
};

TEST_F(Wizard, NextNextBackNextNextLeavesTheLoopWithNext) {
  WizardLoop({"Welcome", "Destination", "Ready"});
  auto p = Start();
  std::vector<std::string> shown;
  auto step = [&](const char* marker, const char* button) {
    HWND page = WaitForPage(p->Id(), marker);
    ASSERT_NE(page, nullptr) << "page not shown: " << marker;
    shown.push_back(marker);
    HWND b = Child(page, button);
    ASSERT_NE(b, nullptr) << button;
    Click(b);
    // The page goes once the next one covers it.
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(page) || !p->Running(); })) << marker;
  };
  step(kWelcome, "&Next >");
  step(kDestination, "&Next >");
  step(kReady, "< &Back");
  step(kDestination, "&Next >");
  step(kReady, "&Install");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);  // NEXT
  EXPECT_EQ(shown, (std::vector<std::string>{kWelcome, kDestination, kReady, kDestination, kReady}));
}

TEST_F(Wizard, BackOnTheFirstPageLeavesTheLoopWithBack) {
  WizardLoop({"Welcome", "Destination"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(page, nullptr);
  Click(Child(page, "< &Back"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 72u);  // BACK
}

TEST_F(Wizard, CancelAsksAndOnlyYesCancels) {
  WizardLoop({"Welcome", "Destination"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(page, nullptr);
  Click(Child(page, "Cancel"));
  ASSERT_TRUE(Answer(p->Id(), IDNO));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(page)) << "No must leave the page open";
  EXPECT_TRUE(p->Running());
  Click(Child(page, "Cancel"));
  ASSERT_TRUE(Answer(p->Id(), IDYES));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 73u);  // CANCEL
}

TEST_F(Wizard, AnEditBoundToTargetdirWritesTheVariable) {
  script_.Add("Set Variable", {"TARGETDIR", "C:\\Program Files\\Example\\"});
  script_.Add("Wizard Loop");
  script_.Add("Display Dialog", {"Destination", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("End");
  script_.Add("If", {"TARGETDIR", "0", "D:\\Typed\\Here\\", "FALSE"});
  script_.Add("Terminate with Exit Code", {"81"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"80"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kDestination);
  ASSERT_NE(page, nullptr);
  HWND edit = Child(page, "", "Edit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(Text(edit), "C:\\Program Files\\Example\\");
  HWND next = Child(page, "&Next >");
  // The rule keeps Next disabled while the folder is empty.
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(next); }));
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("D:\\Typed\\Here\\"));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }));
  Click(next);
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 81u);
}

TEST_F(Wizard, ATag5ButtonEndsTheDialogWithItsName) {
  script_.Add("Set Variable", {"LEVEL", "3"});
  script_.Add("Set Variable", {"CODE", ""});
  script_.Add("Display Dialog", {"Custom", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("If", {"CODE", "0", "12345", "TRUE"});
  script_.Add("Terminate with Exit Code", {"90"});
  script_.Add("End");
  ExitByResult();
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kCustom);
  ASSERT_NE(page, nullptr);
  HWND code = Child(page, "", "Edit");
  ASSERT_NE(code, nullptr);
  // Typing the last allowed character moves the focus on to the next control.
  SendMessageA(code, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("1234"));
  Sleep(200);
  EXPECT_NE(FocusOf(page), Child(page, "", "Edit", 1));
  SendMessageA(code, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("12345"));
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(page) == Child(page, "", "Edit", 1); }));
  EXPECT_EQ(SendMessageA(Child(page, "", "msctls_trackbar32"), TBM_GETPOS, 0, 0), 3);
  Click(Child(page, "&Advanced"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 74u);  // ADVANCED
}

TEST_F(Wizard, AValueThatDoesNotFitItsControlFailsTheStatement) {
  script_.Add("Set Variable", {"LEVEL", "high"});
  script_.Add("Display Dialog", {"Custom", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("Terminate with Exit Code", {"5"});
  auto p = Start();
  std::string text;
  RunResult r = p->Wait(30000, [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      text = ChildTexts(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_NE(text.find("high"), std::string::npos) << text;
  EXPECT_NE(r.ExitCode, 5u);
}

TEST_F(Wizard, NextIsEnabledOnlyAfterTheLicenceWasReadAndAccepted) {
  WizardLoop({"License"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kLicense);
  ASSERT_NE(page, nullptr);
  HWND next = Child(page, "&Next >");
  HWND accept = Child(page, "I &accept the terms of the license agreement");
  HWND memo = Child(page, "", "Edit");
  ASSERT_TRUE(next && accept && memo);
  EXPECT_NE(Text(memo).find("SOFTWARE LICENSE AGREEMENT"), std::string::npos);
  EXPECT_FALSE(IsWindowEnabled(next));
  EXPECT_FALSE(IsWindowEnabled(accept));
  SaveScreenshot(page, "license-unread");
  // Scrolling a little is not enough.
  SendMessageA(memo, WM_VSCROLL, SB_PAGEDOWN, 0);
  Sleep(200);
  EXPECT_FALSE(IsWindowEnabled(accept));
  SendMessageA(memo, WM_VSCROLL, SB_BOTTOM, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(accept) != FALSE; }));
  EXPECT_FALSE(IsWindowEnabled(next));
  Click(accept);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }));
  Click(accept);  // ticked off again: Next goes off
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(next); }));
  Click(accept);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }));
  Click(next);
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

TEST_F(Wizard, TheCloseBoxCannotCloseAPage) {
  WizardLoop({"Welcome"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(page, nullptr);
  PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(page, WM_CLOSE, 0, 0);
  Sleep(500);
  EXPECT_TRUE(IsWindowVisible(page));
  EXPECT_TRUE(p->Running());
  // The Close entry of the system menu is greyed.
  HMENU menu = GetSystemMenu(page, FALSE);
  EXPECT_TRUE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

TEST_F(Wizard, ANonModalPageStaysUpWhileStatementsRunAndUpdates) {
  const std::string release = temp_;
  script_.Add("Set Variable", {"PAGE", ""});
  script_.Add("Set Variable", {"PROGRESSTEXT", "Step one"});
  script_.Add("Set Variable", {"PROGRESS", "10"});
  script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  script_.Add("If", {"WINDOWHANDLE", "0", "0", "FALSE"});
  script_.Add("Terminate with Exit Code", {"91"});
  script_.Add("End");
  WaitForFile(script_, release, "one");
  script_.Add("Set Variable", {"PROGRESSTEXT", "Step two"});
  script_.Add("Set Variable", {"PROGRESS", "60"});
  WaitForFile(script_, release, "two");
  script_.Add("Hide Dialog");
  script_.Add("If", {"WINDOWHANDLE", "0", "0", "FALSE"});
  script_.Add("If", {"PAGE", "0", "NOTMODAL", "FALSE"});
  script_.Add("Terminate with Exit Code", {"92"});
  script_.Add("End");
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"93"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Step one");
  ASSERT_NE(page, nullptr);
  HWND bar = Child(page, "", "msctls_progress32");
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 10; }));
  SaveScreenshot(page, "progress-step-one");
  WriteFileBytes(release + "\\ONE", "");
  ASSERT_NE(WaitForPage(p->Id(), "Step two"), nullptr) << "the page did not follow PROGRESSTEXT";
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 60; }));
  EXPECT_TRUE(IsWindowVisible(page));
  WriteFileBytes(release + "\\TWO", "");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 92u);
  EXPECT_EQ(VisiblePages(p->Id()), 0);
}

// Labels, panels, buttons and static texts of a page that stays up follow the variables
// their design texts name, each time the script sets the progress.
TEST_F(Wizard, TextsOfAProgressPageFollowTheScript) {
  const std::string release = temp_;
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  script_.Add("Set Variable", {"STEP", "l'\xE9t\xE9 des fichiers"});
  script_.Add("Set Variable", {"STEPFOLDER", "C:\\Program Files\\Caf\xE9 d'Or\\"});
  script_.Add("Set Variable", {"PROGRESSTEXT", "Copying"});
  script_.Add("Set Variable", {"PROGRESS", "20"});
  script_.Add("Display Dialog", {"Steps", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  WaitForFile(script_, release, "one");
  script_.Add("Set Variable", {"STEP", "the registry"});
  script_.Add("Set Variable", {"STEPFOLDER", "HKCU\\Software\\Caf\xE9"});
  script_.Add("Set Variable", {"PROGRESS", "70"});
  WaitForFile(script_, release, "two");
  script_.Add("Hide Dialog");
  script_.Add("Terminate with Exit Code", {"93"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Installing l'\xE9t\xE9 des fichiers");
  ASSERT_NE(page, nullptr);
  EXPECT_NE(Child(page, "Skip l'\xE9t\xE9 des fichiers"), nullptr) << Texts(page);
  SaveScreenshot(page, "steps-one-" + dpi);
  WriteFileBytes(release + "\\ONE", "");
  // "Set Variable" of PROGRESS refreshes the page: the texts are expanded again.
  EXPECT_NE(WaitForPage(p->Id(), "Installing the registry"), nullptr) << Texts(page);
  EXPECT_NE(Child(page, "Skip the registry"), nullptr) << Texts(page);
  HWND bar = Child(page, "", "msctls_progress32");
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 70; }));
  SaveScreenshot(page, "steps-two-" + dpi);
  WriteFileBytes(release + "\\TWO", "");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 93u);
}

// The file and folder lists write what the user picks; with Tag 1 they start at the
// target's deepest existing folder, and a folder opened moves the target edit there,
// keeping the product's sub-folders.
TEST_F(Wizard, FileAndFolderListsWriteTheirVariablesAndMoveTheTarget) {
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  const std::string data = temp_ + "\\Donn\xE9" "es d'\xE9t\xE9";
  MakeFolder(data);
  MakeFolder(data + "\\Sous-dossier");
  WriteFileBytes(data + "\\a.txt", "a");
  WriteFileBytes(data + "\\relev\xE9.txt", "b");
  script_.Add("Set Variable", {"TARGETDIR", data + "\\Vendor\\App\\"});
  script_.Add("Set Variable", {"FILE", data + "\\a.txt"});
  script_.Add("Set Variable", {"DIR", data});
  script_.Add("Display Dialog", {"Browse", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("Set Variable", {"CODE", "100"});
  const std::pair<const char*, std::string> checks[] = {
      {"FILE", data + "\\relev\xE9.txt"},
      {"TARGETDIR", data + "\\Sous-dossier\\Vendor\\App\\"},
      {"DIR", data + "\\Sous-dossier"}};
  int bit = 1;
  for (const auto& [variable, value] : checks) {
    script_.Add("If", {variable, "0", value, "FALSE"});
    script_.Add("Mathematics", {"$CODE$", std::to_string(bit), "0", "CODE"});
    script_.Add("End");
    bit *= 2;
  }
  script_.Add("Terminate with Exit Code", {"$CODE$"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Pick a file:");
  ASSERT_NE(page, nullptr);
  HWND files = Child(page, "", "ListBox");
  HWND folders = Child(page, "", "ListBox", 1);
  ASSERT_NE(files, nullptr);
  ASSERT_NE(folders, nullptr);
  ASSERT_EQ(SendMessageA(files, LB_GETCOUNT, 0, 0), 2);
  SaveScreenshot(page, "browse-bound-" + dpi);
  auto pick = [&](HWND list, int index, int code) {
    SendMessageA(list, LB_SETCURSEL, index, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), code), reinterpret_cast<LPARAM>(list));
  };
  pick(files, 1, LBN_SELCHANGE);
  // A double click on a sub-folder opens it; the target follows.
  pick(folders, 1, LBN_DBLCLK);
  EXPECT_TRUE(WaitUntil([&] {
    return Texts(page).find(data + "\\Sous-dossier\\Vendor\\App\\") != std::string::npos;
  })) << Texts(page);
  // The list now shows the sub-folder (its first line) and nothing below it.
  std::string first;
  EXPECT_TRUE(WaitUntil([&] {
    wchar_t line[MAX_PATH] = {};
    SendMessageW(folders, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    char narrow[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, line, -1, narrow, sizeof(narrow), nullptr, nullptr);
    first = narrow;
    return first == data + "\\Sous-dossier\\" && SendMessageW(folders, LB_GETCOUNT, 0, 0) == 1;
  })) << first;
  SaveScreenshot(page, "browse-picked-" + dpi);
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 107u);
}

// A masked edit shows what is typed in its mask, writes the value without the mask's
// literals, and hands the focus on once the last position is typed.
TEST_F(Wizard, AMaskedEditTakesItsMaskAndMovesOnWhenFull) {
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  script_.Add("Set Variable", {"OWNER", "Ren\xE9" "e O'Brien"});
  script_.Add("Set Variable", {"SERIAL", ""});
  script_.Add("Display Dialog", {"Serial", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("If", {"SERIAL", "0", "KX4711", "FALSE"});
  script_.Add("Terminate with Exit Code", {"94"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"95"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Owner:");
  if (!page) {
    HWND box = FindMessageBox(p->Id());
    ADD_FAILURE() << "no page; box: " << (box ? WindowText(box) + ": " + ChildTexts(box) : std::string("none"))
                  << "; running: " << p->Running() << "; pages: " << VisiblePages(p->Id());
    if (!p->Running()) ADD_FAILURE() << "exit code " << p->Wait(1000).ExitCode;
  }
  ASSERT_NE(page, nullptr);
  HWND serial = Child(page, "", "Edit");
  HWND owner = Child(page, "", "Edit", 1);
  ASSERT_NE(serial, nullptr);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(Text(serial), "__-____");
  ClickAt(serial, {4, 4});
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(page) == serial; }));
  for (char c : std::string("kx47")) PostMessageA(serial, WM_CHAR, static_cast<WPARAM>(c), 1);
  PostMessageA(serial, WM_KEYUP, '7', 0xC0000001);
  EXPECT_TRUE(WaitUntil([&] { return Text(serial) == "KX-47__"; })) << Text(serial);
  Sleep(200);
  EXPECT_EQ(FocusOf(page), serial);  // not full yet: the focus stays
  SaveScreenshot(page, "serial-half-" + dpi);
  for (char c : std::string("11")) PostMessageA(serial, WM_CHAR, static_cast<WPARAM>(c), 1);
  PostMessageA(serial, WM_KEYUP, '1', 0xC0000001);
  EXPECT_TRUE(WaitUntil([&] { return Text(serial) == "KX-4711"; })) << Text(serial);
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(page) == owner; }));
  SaveScreenshot(page, "serial-full-" + dpi);
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 94u);
}

// A tree view that is no component tree shows the nodes of its form, their texts
// expanded, and writes the text of the node the user selects.
TEST_F(Wizard, APlainTreeViewShowsItsNodesAndWritesTheSelectedOne) {
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  script_.Add("Set Variable", {"EDITION", "de l'\xE9" "diteur"});
  script_.Add("Set Variable", {"PART", ""});
  script_.Add("Display Dialog", {"Parts", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("If", {"PART", "0", "Guide de l'\xE9" "diteur", "FALSE"});
  script_.Add("Terminate with Exit Code", {"96"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"97"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Choose the part to read first:");
  if (!page) {
    HWND box = FindMessageBox(p->Id());
    ADD_FAILURE() << "no page; box: " << (box ? WindowText(box) + ": " + ChildTexts(box) : std::string("none"))
                  << "; running: " << p->Running() << "; pages: " << VisiblePages(p->Id());
    if (!p->Running()) ADD_FAILURE() << "exit code " << p->Wait(1000).ExitCode;
  }
  ASSERT_NE(page, nullptr);
  HWND treeWindow = Child(page, "", WC_TREEVIEWA);
  ASSERT_NE(treeWindow, nullptr);
  RemoteTree tree(treeWindow);
  ASSERT_TRUE(tree.Ready());
  std::vector<std::string> shown;
  for (const RemoteTree::Item& item : tree.Items()) shown.push_back(std::string(item.depth, '>') + item.path);
  EXPECT_EQ(shown, (std::vector<std::string>{"Documents", ">Documents\\Guide de l'\xE9" "diteur", ">Documents\\Readme",
                                             "Outils d'\xE9t\xE9"}));
  SendMessageA(treeWindow, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(tree.Find("Documents").handle));
  SendMessageA(treeWindow, TVM_SELECTITEM, TVGN_CARET,
               reinterpret_cast<LPARAM>(tree.Find("Documents\\Guide de l'\xE9" "diteur").handle));
  SaveScreenshot(page, "parts-" + dpi);
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 96u);
}

// The taskbar's thumbnail button (its click arrives as WM_COMMAND with 0x1800 in the
// high word) and the system menu's About entry open the About box over the page.
TEST_F(Wizard, TheThumbnailButtonAndTheSystemMenuOpenTheAboutBox) {
  WizardLoop({"Welcome"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(page, nullptr);
  for (WPARAM command : {MAKEWPARAM(0, 0x1800), static_cast<WPARAM>(0)}) {
    if (command) PostMessageA(page, WM_COMMAND, command, 0);
    else PostMessageA(page, WM_SYSCOMMAND, 1025, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(p->Id())) != nullptr; })) << command;
    EXPECT_EQ(GetWindow(box, GW_OWNER), page);
    ASSERT_TRUE(Answer(p->Id(), IDOK));
  }
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

// An image holding a metafile draws it (a red rectangle stretched over the image), and
// an animation is the system's animation control.
TEST_F(Wizard, AMetafileImageIsDrawnAndAnAnimationIsTheSystemsControl) {
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  WizardLoop({"Media"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Copying the files of the caf\xE9 d'\xE9t\xE9:");
  ASSERT_NE(page, nullptr);
  EXPECT_NE(Child(page, "", ANIMATE_CLASSA), nullptr);
  // The image is the page's owner-drawn static after the label.
  HWND image = Child(page, "", "Static", 1);
  ASSERT_NE(image, nullptr);
  RECT r{};
  GetClientRect(image, &r);
  POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(image, &centre);
  COLORREF seen = CLR_INVALID;
  EXPECT_TRUE(WaitUntil([&] {
    HDC screen = GetDC(nullptr);
    seen = GetPixel(screen, centre.x, centre.y);
    ReleaseDC(nullptr, screen);
    return GetRValue(seen) > 200 && GetGValue(seen) < 60 && GetBValue(seen) < 60;
  })) << std::hex << seen;
  SaveScreenshot(page, "media-" + dpi);
  Click(Child(page, "&Next >"));
  RunResult r2 = p->Wait(30000);
  ASSERT_FALSE(r2.TimedOut);
  EXPECT_EQ(r2.ExitCode, 71u);
}

struct FirstSight {
  DWORD pid;
  HWND except;
  HWND found = nullptr;
  std::string texts;
};

BOOL CALLBACK FirstSightProc(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<FirstSight*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (pid != s->pid || hwnd == s->except || !IsWindowVisible(hwnd) || std::string(cls) != "TPoolTemplate") return TRUE;
  s->found = hwnd;
  s->texts = ChildTexts(hwnd);
  return FALSE;
}

// The texts of the first page of the process (other than except) seen visible, read at
// once: polled without pause, so a page shown before its texts are bound is caught.
std::string TextsAtFirstSight(DWORD pid, HWND except, HWND* page) {
  const ULONGLONG end = GetTickCount64() + 20000;
  while (GetTickCount64() < end) {
    FirstSight s{pid, except, nullptr, {}};
    EnumWindows(FirstSightProc, reinterpret_cast<LPARAM>(&s));
    if (s.found) {
      *page = s.found;
      return s.texts;
    }
  }
  *page = nullptr;
  return {};
}

// A page is on screen only with its texts: the first page and the next one after Next.
TEST_F(Wizard, APageAppearsWithItsTextsBound) {
  WizardLoop({"Welcome", "Destination"});
  auto p = Start();
  HWND first = nullptr;
  std::string texts = TextsAtFirstSight(p->Id(), nullptr, &first);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(texts.find(kWelcome), std::string::npos) << texts;
  EXPECT_NE(texts.find("&Next >"), std::string::npos) << texts;
  ASSERT_NE(WaitForPage(p->Id(), kWelcome), nullptr);
  Click(Child(first, "&Next >"));
  HWND second = nullptr;
  texts = TextsAtFirstSight(p->Id(), first, &second);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(texts.find(kDestination), std::string::npos) << texts;
  EXPECT_NE(texts.find("< &Back"), std::string::npos) << texts;
  ASSERT_NE(WaitForPage(p->Id(), kDestination), nullptr);
  Click(Child(second, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

// Components of the test: bit values of the exit code 100 + bits.
void DefineTestComponents(ScriptBuilder& script) {
  const struct {
    const char* name;
    const char* selected;
    const char* description;
    const char* size;
  } components[] = {
      {"Program", "TRUE", "The program itself.", "3145728"},
      {"Program\\Help", "TRUE", "Help files$NEWLINE$and samples", "524288"},
      {"Program\\Help\\Api", "FALSE", "The programming reference.", "2097152"},
      {"Tools", "FALSE", "Extra tools.", "81920"},
  };
  for (const auto& c : components) {
    script.Add("Define Component", {c.name, c.selected, c.description});
    script.Add("Set Component Space", {c.name, c.size});
  }
}

void ExitWithComponentStates(ScriptBuilder& script) {
  script.Add("Set Variable", {"CODE", "100"});
  int bit = 1;
  for (const char* name : {"Program", "Program\\Help", "Program\\Help\\Api", "Tools"}) {
    script.Add("Get Component State", {name, "STATE"});
    script.Add("If", {"STATE", "0", "TRUE", "FALSE"});
    script.Add("Mathematics", {"$CODE$", std::to_string(bit), "0", "CODE"});
    script.Add("End");
    bit *= 2;
  }
  script.Add("Terminate with Exit Code", {"$CODE$"});
}

TEST_F(Wizard, TheComponentTreeShowsTheComponentsAndTheUsersChoicesReachTheScript) {
  DefineTestComponents(script_);
  script_.Add("Display Dialog", {"Components", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("If", {"WIZARD", "0", "NEXT", "TRUE"});
  script_.Add("Terminate with Exit Code", {"90"});
  script_.Add("End");
  ExitWithComponentStates(script_);
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kComponents);
  ASSERT_NE(page, nullptr);
  HWND treeWindow = Child(page, "", WC_TREEVIEWA);
  ASSERT_NE(treeWindow, nullptr);
  RemoteTree tree(treeWindow);
  ASSERT_TRUE(tree.Ready());
  HWND next = Child(page, "&Next >");

  // Every component in definition order, at its level, with the image of its state.
  std::vector<std::string> shown;
  for (const RemoteTree::Item& item : tree.Items())
    shown.push_back(std::string(item.depth, '>') + item.path + "=" + std::to_string(item.image));
  EXPECT_EQ(shown, (std::vector<std::string>{"Program=1", ">Program\\Help=1", ">>Program\\Help\\Api=0", "Tools=0"}));
  // The page's figures share the unit of its largest one, the free space of the test
  // machine's drive: KB below 1 GB free, MB above. Each figure is checked in both.
  auto shows = [&](const char* kb, const char* mb) {
    return Texts(page).find(std::string(kb) + "\n") != std::string::npos ||
           Texts(page).find(std::string(mb) + "\n") != std::string::npos;
  };
  EXPECT_TRUE(shows("3,584 KB", "3.5 MB")) << Texts(page);  // space required
  // The first node is selected as the page appears, with its description already shown.
  EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageA(treeWindow, TVM_GETNEXTITEM, TVGN_CARET, 0)),
            tree.Find("Program").handle);
  EXPECT_NE(Texts(page).find("The program itself."), std::string::npos) << Texts(page);
  const char* dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  SaveScreenshot(page, std::string("components-first-node-") + dpi);

  // Selecting a node shows its description and size.
  RemoteTree::Item help = tree.Find("Program\\Help");
  SendMessageA(treeWindow, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(help.handle));
  EXPECT_TRUE(WaitUntil([&] { return Texts(page).find("Help files\r\nand samples") != std::string::npos; })) << Texts(page);
  EXPECT_TRUE(shows("512 KB", "0.5 MB")) << Texts(page);

  auto image = [&](const char* path) { return tree.Find(path).image; };
  auto required = [&](const char* kb, const char* mb) { return WaitUntil([&] { return shows(kb, mb); }); };
  // A click on a node's image switches it off with its sub-tree.
  RECT icon = tree.Rect(help.handle, true);
  ClickAt(treeWindow, {icon.left - 8, (icon.top + icon.bottom) / 2});
  EXPECT_TRUE(WaitUntil([&] { return image("Program\\Help") == 0; }));
  EXPECT_TRUE(required("3,072 KB", "3 MB")) << Texts(page);

  // Space on a node switches it on with the nodes above it.
  SendMessageA(treeWindow, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(tree.Find("Program\\Help\\Api").handle));
  PostMessageA(treeWindow, WM_KEYDOWN, VK_SPACE, 0);
  PostMessageA(treeWindow, WM_KEYUP, VK_SPACE, 0);
  EXPECT_TRUE(WaitUntil([&] { return image("Program\\Help\\Api") == 1 && image("Program\\Help") == 1; }));
  EXPECT_TRUE(required("5,632 KB", "5.5 MB")) << Texts(page);

  // The component menu of a right click: "Entire feature will be unavailable" clears the
  // sub-tree; nothing left to install, the page's rule disables Next.
  RemoteTree::Item program = tree.Find("Program");
  RECT text = tree.Rect(program.handle, true);
  ClickAt(treeWindow, {(text.left + text.right) / 2, (text.top + text.bottom) / 2}, true);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = FindPopupMenu(p->Id())) != nullptr && IsWindowVisible(menu); }))
      << "no component menu";
  SaveScreenshot(page, "components-menu");
  for (int key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}) {
    PostMessageA(menu, WM_KEYDOWN, key, 0);
    PostMessageA(menu, WM_KEYUP, key, 0);
  }
  EXPECT_TRUE(WaitUntil([&] {
    return image("Program") == 0 && image("Program\\Help") == 0 && image("Program\\Help\\Api") == 0;
  }));
  EXPECT_TRUE(required("0 bytes", "0 bytes")) << Texts(page);  // nothing, in any unit
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(next); }));

  // The menu key opens the menu at the selected node; Escape leaves everything as it is.
  SendMessageA(treeWindow, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(tree.Find("Tools").handle));
  PostMessageA(treeWindow, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(treeWindow), -1);
  ASSERT_TRUE(WaitUntil([&] { return (menu = FindPopupMenu(p->Id())) != nullptr && IsWindowVisible(menu); }));
  PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }));
  EXPECT_EQ(image("Tools"), 0);
  PostMessageA(treeWindow, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_TRUE(WaitUntil([&] { return image("Tools") == 1; }));
  EXPECT_TRUE(required("80 KB", "0.1 MB")) << Texts(page);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }));
  SaveScreenshot(page, "components-chosen");

  Click(next);
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 108u);  // only Tools
}

TEST_F(Wizard, AComponentCheckListShowsTheTopLevelComponentsAndItsChecksReachTheScript) {
  DefineTestComponents(script_);
  script_.Add("Set Component Choice", {"Tools", "FALSE"});  // fixed: its check snaps back
  script_.Add("Display Dialog", {"Features", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  ExitWithComponentStates(script_);
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Features to install:");
  ASSERT_NE(page, nullptr);
  HWND list = Child(page, "", WC_LISTVIEWA);
  ASSERT_NE(list, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  ASSERT_NE(process, nullptr);
  void* memory = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(memory, nullptr);
  auto itemText = [&](int i) {
    LVITEMA it{};
    it.iSubItem = 0;
    it.pszText = static_cast<char*>(memory) + 512;
    it.cchTextMax = 256;
    WriteProcessMemory(process, memory, &it, sizeof(it), nullptr);
    SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(memory));
    char buf[257] = {};
    ReadProcessMemory(process, static_cast<char*>(memory) + 512, buf, 256, nullptr);
    return std::string(buf);
  };
  auto checked = [&](int i) {
    return (SendMessageA(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
  };
  auto check = [&](int i, bool on) {
    LVITEMA it{};
    it.stateMask = LVIS_STATEIMAGEMASK;
    it.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
    WriteProcessMemory(process, memory, &it, sizeof(it), nullptr);
    SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(memory));
  };
  // The top-level components only, checked as selected.
  ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(itemText(0), "Program");
  EXPECT_EQ(itemText(1), "Tools");
  EXPECT_TRUE(checked(0));
  EXPECT_FALSE(checked(1));
  // Selecting an item shows its description.
  {
    LVITEMA it{};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = LVIS_SELECTED | LVIS_FOCUSED;
    WriteProcessMemory(process, memory, &it, sizeof(it), nullptr);
    SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(memory));
  }
  EXPECT_TRUE(WaitUntil([&] { return Texts(page).find("The program itself.") != std::string::npos; })) << Texts(page);
  // Unchecking an item takes its sub-components with it; a fixed one snaps back.
  check(0, false);
  EXPECT_TRUE(WaitUntil([&] { return Texts(page).find("0 bytes") != std::string::npos; })) << Texts(page);
  check(1, true);
  Sleep(300);
  EXPECT_FALSE(checked(1));
  SaveScreenshot(page, "features-checklist");
  VirtualFreeEx(process, memory, 0, MEM_RELEASE);
  CloseHandle(process);
  Click(Child(page, "&Done"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 100u);  // nothing selected
}

TEST_F(Wizard, AWorkerFeedsTheProgressPageAndCancelStopsIt) {
  if (TestPlugin().empty()) GTEST_SKIP() << "no test plug-in given";
  const std::string release = temp_;
  script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script_.Add("Set Variable", {"STOPPED", "FALSE"});
  script_.Add("Set Variable", {"PROGRESSMODE", "MARQUEE"});
  script_.Add("Set Variable", {"PROGRESSTEXT", "Preparing"});
  script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  WaitForFile(script_, release, "one");
  script_.Add("Set Variable", {"PROGRESSMODE", ""});
  script_.Add("Set Variable", {"PROGRESS", "30"});
  WaitForFile(script_, release, "two");
  script_.Add("Test Plugin", {"until-stopped", "test_plugin.dll"});
  script_.Add("If", {"STOPPED", "0", "TRUE", "FALSE"});
  script_.Add("If", {"ABORTEDONERROR", "0", "TRUE", "FALSE"});
  script_.Add("Terminate with Exit Code", {"95"});
  script_.Add("End");
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"96"});
  // The plug-in comes with the setup's media.
  SetupData& d = script_.Data();
  d.PluginStatements.push_back("Test Plugin");
  d.StatementMedia.Clear();
  for (std::size_t i = 0; i < d.StatementNames.Count(); ++i)
    d.StatementMedia.Add(d.StatementNames[i] == "Test Plugin" ? "PLUG\\" : "");
  const std::string exe = ComposeSetup(dir_, "setup", d);
  MakeFolder(dir_ + "\\data");
  MakeFolder(dir_ + "\\data\\PLUG");
  ASSERT_TRUE(CopyFileA(TestPlugin().c_str(), (dir_ + "\\data\\PLUG\\test_plugin.dll").c_str(), FALSE));
  StartOptions o;
  o.TempFolder = Widen(temp_);
  auto p = std::make_unique<EngineProcess>(exe, "/l=" + temp_ + "\\trace.log", o);

  HWND page = WaitForPage(p->Id(), "Preparing");
  if (!page) {
    RunResult r = p->Wait(1000);
    FAIL() << "no progress page; exit code " << r.ExitCode << (r.TimedOut ? " (still running)" : "");
  }
  HWND bar = Child(page, "", "msctls_progress32");
  ASSERT_NE(bar, nullptr);
  auto marquee = [&] { return (GetWindowLongA(bar, GWL_STYLE) & PBS_MARQUEE) != 0; };
  EXPECT_TRUE(WaitUntil(marquee)) << "PROGRESSMODE MARQUEE runs a marquee";
  WriteFileBytes(release + "\\ONE", "");
  // Back to a bar at the script's position.
  EXPECT_TRUE(WaitUntil([&] { return !marquee() && SendMessageA(bar, PBM_GETPOS, 0, 0) == 30; }));

  // The worker's reports reach the page while the statement waits for it.
  WriteFileBytes(release + "\\TWO", "");
  ASSERT_NE(WaitForPage(p->Id(), "Test plug-in waiting for the stop"), nullptr) << "the worker's text is not shown";
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 50; }));
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);  // the plug-in's 1..100
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 1);
  SaveScreenshot(page, "progress-worker");

  // Cancel asks first; No goes on working.
  Click(Child(page, "Cancel"));
  ASSERT_TRUE(Answer(p->Id(), IDNO));
  Sleep(1200);
  EXPECT_TRUE(p->Running());
  EXPECT_EQ(FindMessageBox(p->Id()), nullptr);
  // Yes stops the worker well within the watchdog's five seconds: "Setup cancelled".
  Click(Child(page, "Cancel"));
  HWND question = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (question = FindMessageBox(p->Id())) != nullptr; }));
  const auto asked = std::chrono::steady_clock::now();
  PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(question, IDYES)));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    box = FindMessageBox(p->Id());
    return box && box != question && ChildTexts(box).find("Setup cancelled") != std::string::npos;
  })) << "no cancellation message";
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 95u);  // the plug-in saw the stop, the statement reported the cancel
}

TEST_F(Wizard, AMissingDialogFileEndsTheStartUpNamingIt) {
  script_.Add("Display Dialog", {"Nowhere", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  auto p = Start("/update");
  std::string text;
  RunResult r = p->Wait(30000, [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      text = ChildTexts(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 11u);
  EXPECT_NE(text.find("Nowhere.dfm"), std::string::npos) << text;
}

TEST_F(Wizard, SilentRunsShowNothingAndGoStraightThrough) {
  WizardLoop({"Welcome", "License", "Nowhere"});
  auto p = Start("/s");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

// The example's pages one after the other, each saved as a screenshot.
TEST_F(Wizard, EveryPageOfTheExample) {
  script_.Add("Set Variable", {"TARGETDIR", "C:\\Program Files\\Wizard Example\\"});
  script_.Add("Set Variable", {"PROGRESSTEXT", "Installing into C:\\Program Files\\Wizard Example\\ (40%)"});
  script_.Add("Set Variable", {"PROGRESS", "40"});
  DefineTestComponents(script_);
  script_.Add("Wizard Loop");
  for (const char* page : {"Welcome", "License", "Destination", "Components", "Ready"})
    script_.Add("Display Dialog", {page, "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  script_.Add("End");
  script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  AddWaitForFile(script_, temp_, "shot");
  script_.Add("Hide Dialog");
  script_.Add("Display Dialog", {"Finish", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  ExitByResult();
  const std::string dpi = std::getenv("KEM_SCREENSHOT_DPI") ? std::getenv("KEM_SCREENSHOT_DPI") : "96";
  auto p = Start();
  auto shoot = [&](const char* marker, const char* file) -> HWND {
    HWND page = WaitForPage(p->Id(), marker);
    EXPECT_NE(page, nullptr) << marker;
    if (page) SaveScreenshot(page, std::string(file) + "-" + dpi);
    return page;
  };
  HWND page = shoot(kWelcome, "1-welcome");
  ASSERT_NE(page, nullptr);
  Click(Child(page, "&Next >"));
  page = WaitForPage(p->Id(), kLicense);
  ASSERT_NE(page, nullptr);
  SendMessageA(Child(page, "", "Edit"), WM_VSCROLL, SB_BOTTOM, 0);
  HWND accept = Child(page, "I &accept the terms of the license agreement");
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(accept) != FALSE; }));
  Click(accept);
  HWND next = Child(page, "&Next >");
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }));
  shoot(kLicense, "2-license");
  Click(next);
  page = shoot(kDestination, "3-destination");
  ASSERT_NE(page, nullptr);
  Click(Child(page, "&Next >"));
  page = WaitForPage(p->Id(), kComponents);
  ASSERT_NE(page, nullptr);
  {
    RemoteTree tree(Child(page, "", WC_TREEVIEWA));
    SendMessageA(Child(page, "", WC_TREEVIEWA), TVM_SELECTITEM, TVGN_CARET,
                 reinterpret_cast<LPARAM>(tree.Find("Program\\Help").handle));
    ASSERT_TRUE(WaitUntil([&] { return Texts(page).find("and samples") != std::string::npos; }));
  }
  shoot(kComponents, "3b-components");
  Click(Child(page, "&Next >"));
  page = shoot(kReady, "4-ready");
  ASSERT_NE(page, nullptr);
  EXPECT_NE(Texts(page).find("C:\\Program Files\\Wizard Example\\"), std::string::npos);
  Click(Child(page, "&Install"));
  page = WaitForPage(p->Id(), kProgress);
  ASSERT_NE(page, nullptr);
  {
    // The page shows the progress that stood before it: the bar at 40 as well as the text.
    HWND bar = Child(page, "", "msctls_progress32");
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 40; }));
  }
  page = shoot(kProgress, "5-progress");
  WriteFileBytes(temp_ + "\\SHOT", "");
  page = shoot(kFinish, "6-finish");
  ASSERT_NE(page, nullptr);
  Click(Child(page, "&Finish"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

// --- Message boxes, the tray icon and balloons ------------------------------------------

struct WindowSearch {
  DWORD pid;  // 0: any process
  std::string cls;
  bool visibleOnly;
  std::string text;  // part of the window's text, when not empty
  HWND found = nullptr;
};

BOOL CALLBACK FindWindowProc(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<WindowSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof(cls));
  if ((s->pid != 0 && pid != s->pid) || _stricmp(cls, s->cls.c_str()) != 0) return TRUE;
  if (s->visibleOnly && !IsWindowVisible(h)) return TRUE;
  if (!s->text.empty() && Text(h).find(s->text) == std::string::npos) return TRUE;
  s->found = h;
  return FALSE;
}

// A top-level window of the class (of the process, when pid is not 0).
HWND FindTopLevel(DWORD pid, const std::string& cls, bool visibleOnly, const std::string& text = {}) {
  WindowSearch s{pid, cls, visibleOnly, text};
  EnumWindows(FindWindowProc, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// What the notification area sends the engine when the user clicks its icon.
bool ClickTrayIcon(DWORD pid) {
  HWND tray = FindTopLevel(pid, platform::kTrayWindowClass, false);
  if (!tray) return false;
  return PostMessageA(tray, platform::kTrayCallbackMessage, 1, WM_LBUTTONUP) != FALSE;
}

// The message box is owned by the non-modal page on screen; its caption, text and buttons
// are the statement's; the button clicked is the answer the script reads.
TEST_F(Wizard, AMessageBoxBelongsToTheNonModalPageAndItsAnswerReachesTheScript) {
  script_.Add("Set Variable", {"PROGRESSTEXT", "Working on it"});
  script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  script_.Add("MessageBox", {"$TITLE$ question", "Keep the old files?$NEWLINE$They stay on the disk.", "1", "5", "KEEP"});
  script_.Add("MessageBox", {"Copy failed", "The file is in use.", "2", "0", "AGAIN"});
  script_.Add("If", {"KEEP", "0", "CANCEL", "FALSE"});
  script_.Add("If", {"AGAIN", "0", "RETRY", "FALSE"});
  script_.Add("Terminate with Exit Code", {"50"});
  script_.Add("End");
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"51"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), "Working on it");
  ASSERT_NE(page, nullptr);
  const struct {
    const char* caption;
    const char* text;
    std::vector<int> buttons;  // present; every other standard button is absent
    int click;
    const char* shot;
  } boxes[] = {
      {"Test Product question", "Keep the old files?\r\nThey stay on the disk.", {IDYES, IDNO, IDCANCEL}, IDCANCEL,
       "messagebox-question"},
      {"Copy failed", "The file is in use.", {IDABORT, IDRETRY, IDIGNORE}, IDRETRY, "messagebox-warning"},
  };
  HWND previous = nullptr;
  for (const auto& b : boxes) {
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(p->Id())) != nullptr && box != previous; })) << b.caption;
    previous = box;
    EXPECT_EQ(WindowText(box), b.caption);
    EXPECT_NE(ChildTexts(box).find(b.text), std::string::npos) << ChildTexts(box);
    EXPECT_EQ(GetWindow(box, GW_OWNER), page) << b.caption;
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
      const bool expected = std::find(b.buttons.begin(), b.buttons.end(), id) != b.buttons.end();
      EXPECT_EQ(GetDlgItem(box, id) != nullptr, expected) << b.caption << " button " << id;
    }
    SaveScreenshot(box, b.shot);
    Click(GetDlgItem(box, b.click));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << b.caption;
  }
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 50u);
}

// Silent: no box at all, and the result variable keeps the value it had.
TEST_F(Wizard, ASilentMessageBoxShowsNothingAndLeavesTheAnswerAlone) {
  script_.Add("Set Variable", {"REBOOTNOW", "OK"});
  script_.Add("MessageBox", {"$TITLE$ Setup", "Restart now?", "2", "2", "REBOOTNOW"});
  script_.Add("If", {"REBOOTNOW", "0", "OK", "FALSE"});
  script_.Add("Terminate with Exit Code", {"52"});
  script_.Add("End");
  script_.Add("Terminate with Exit Code", {"53"});
  auto p = Start("/s");
  bool boxShown = false;
  RunResult r = p->Wait(30000, [&](DWORD pid) {
    if (HWND box = FindMessageBox(pid)) {
      boxShown = true;
      PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    }
  });
  ASSERT_FALSE(r.TimedOut);
  EXPECT_FALSE(boxShown);
  EXPECT_EQ(r.ExitCode, 52u);
}

// "System Tray" hides the non-modal page behind the tray icon; a click on the icon
// brings it back in front. A page displayed while the setup is in the tray waits there
// until the click; minimising a page while the icon shows sends it to the tray as well,
// and the Close box then brings it back rather than closing it.
TEST_F(Wizard, TheTrayIconBringsTheHiddenPageBack) {
  const std::string release = temp_;
  script_.Add("Set Variable", {"PROGRESSTEXT", "In the tray"});
  script_.Add("Display Dialog", {"Progress", "PAGE", "FALSE", "", "TRUE", "FALSE"});
  WaitForFile(script_, release, "tray");
  script_.Add("System Tray", {"TRUE", "FALSE", "FALSE", "FALSE"});
  WaitForFile(script_, release, "one");
  script_.Add("System Tray", {"TRUE", "FALSE", "FALSE", "FALSE"});
  script_.Add("Display Dialog", {"Welcome", "WIZARD", "TRUE", "", "TRUE", "FALSE"});
  ExitByResult();
  auto p = Start();
  ASSERT_NE(WaitForPage(p->Id(), "In the tray"), nullptr);
  WriteFileBytes(release + "\\TRAY", "");
  // The icon was added (the page hides only then) and the page went.
  ASSERT_TRUE(WaitUntil([&] { return VisiblePages(p->Id()) == 0; })) << "System Tray did not hide the page";
  ASSERT_TRUE(ClickTrayIcon(p->Id()));
  HWND page = WaitForPage(p->Id(), "In the tray");
  ASSERT_NE(page, nullptr) << "the click did not bring the page back";
  EXPECT_FALSE(IsIconic(page));
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == page; })) << "not in front";

  // In the tray again, the next page is displayed: it stays hidden until the click.
  WriteFileBytes(release + "\\ONE", "");
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(page); }));
  Sleep(1000);
  EXPECT_EQ(VisiblePages(p->Id()), 0) << "a page displayed while in the tray showed";
  ASSERT_TRUE(ClickTrayIcon(p->Id()));
  HWND welcome = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(welcome, nullptr) << "the page displayed while in the tray did not come";
  EXPECT_FALSE(IsWindowVisible(page)) << "the page before it stays hidden";
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == welcome; })) << "not in front";
  SaveScreenshot(welcome, "tray-restored");

  // Minimised by the user while the icon shows: into the tray, and back by a click.
  PostMessageA(welcome, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(welcome); })) << "minimising did not go to the tray";
  ASSERT_TRUE(ClickTrayIcon(p->Id()));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(welcome) && !IsIconic(welcome); }));
  // The Close box brings the page back too, and never closes it.
  PostMessageA(welcome, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(welcome); }));
  PostMessageA(welcome, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(welcome) && !IsIconic(welcome); })) << "Close did not restore";
  EXPECT_TRUE(p->Running());
  Click(Child(welcome, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);  // NEXT
  // The icon's window goes with the run.
  EXPECT_EQ(FindTopLevel(p->Id(), platform::kTrayWindowClass, false), nullptr);
}

// A balloon at the tray icon: the notification area draws it (Wine draws its own); its
// title and text are the statement's.
TEST_F(Wizard, ABalloonShowsAtTheTrayIcon) {
  const std::string release = temp_;
  script_.Add("MessageBalloon", {"$TITLE$ notice", "The balloon's text$NEWLINE$on two lines", "1", "10"});
  WaitForFile(script_, release, "one");
  script_.Add("Terminate with Exit Code", {"54"});
  auto p = Start();
  HWND tip = nullptr;
  const bool found = WaitUntil([&] {
    return (tip = FindTopLevel(0, "tooltips_class32", true, "The balloon's text")) != nullptr;
  });
  if (found) SaveScreenshot(tip, "balloon");
  WriteFileBytes(release + "\\ONE", "");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 54u);
  EXPECT_TRUE(found) << "no balloon window with the text";
}

// Where the shell draws no balloons (Windows before 2000 and Me, here Wine told to play
// Windows NT 4.0 for this program), the engine draws its own: it shows the title and the
// text, goes by itself after its time-out, and at once on a click.
TEST_F(Wizard, OnOldWindowsTheEngineDrawsItsOwnBalloon) {
  const std::string release = temp_;
  const std::string key = "Software\\Wine\\AppDefaults\\oldwin.exe";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("nt40"), 5);
  RegCloseKey(k);
  struct Restore {
    std::string key;
    ~Restore() { RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str()); }
  } restore{key};

  script_.Add("MessageBalloon", {"$TITLE$ notice", "Installed.$NEWLINE$Everything is in place.", "0", "5"});
  WaitForFile(script_, release, "one");
  script_.Add("MessageBalloon", {"Second", "Click me away", "2", "30"});
  WaitForFile(script_, release, "two");
  script_.Add("Terminate with Exit Code", {"55"});
  auto p = Start({}, "oldwin");
  HWND balloon = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    return (balloon = FindTopLevel(p->Id(), platform::kBalloonWindowClass, true)) != nullptr;
  })) << "no balloon of the engine";
  const auto shown = std::chrono::steady_clock::now();
  EXPECT_NE(ChildTexts(balloon).find("Test Product notice"), std::string::npos) << ChildTexts(balloon);
  EXPECT_NE(ChildTexts(balloon).find("Installed.\r\nEverything is in place."), std::string::npos) << ChildTexts(balloon);
  EXPECT_NE(GetForegroundWindow(), balloon) << "the balloon must not take the focus";
  SaveScreenshot(balloon, "balloon-own");
  // A time-out of 5 s counts as 10.
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(balloon) || !IsWindowVisible(balloon); }, 20000));
  const auto lasted = std::chrono::steady_clock::now() - shown;
  EXPECT_GT(lasted, std::chrono::seconds(8));
  EXPECT_LT(lasted, std::chrono::seconds(14));

  WriteFileBytes(release + "\\ONE", "");
  ASSERT_TRUE(WaitUntil([&] {
    return (balloon = FindTopLevel(p->Id(), platform::kBalloonWindowClass, true)) != nullptr;
  }));
  EXPECT_NE(ChildTexts(balloon).find("Click me away"), std::string::npos) << ChildTexts(balloon);
  SaveScreenshot(balloon, "balloon-own-error");
  PostMessageA(balloon, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(balloon) || !IsWindowVisible(balloon); }, 3000)) << "a click closes it";
  WriteFileBytes(release + "\\TWO", "");
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 55u);
}

// The engine's manifest: the themed common controls (version 6), per-monitor DPI
// awareness, the supported Windows versions and an explicit execution level; the identity
// names no processor, so that the same manifest fits the 32-bit and the 64-bit build. A
// running page shows that the system took it: the engine loaded the version 6 controls
// from the side-by-side store and its page is per-monitor aware.
TEST_F(Wizard, TheEngineCarriesItsManifestAndRunsByIt) {
  HMODULE image = LoadLibraryExA(Files().Engine.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << Files().Engine;
  HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                             SizeofResource(image, found));
  FreeLibrary(image);
  for (const char* item : {
           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
           "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>",
           ">true/pm</dpiAware>",
           ">PerMonitorV2, PerMonitor</dpiAwareness>",
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
       })
    EXPECT_NE(manifest.find(item), std::string::npos) << item;
  const std::size_t identity = manifest.find("<assemblyIdentity");
  ASSERT_NE(identity, std::string::npos);
  const std::string own = manifest.substr(identity, manifest.find("/>", identity) - identity);
  EXPECT_EQ(own.find("processorArchitecture"), std::string::npos) << own;

  WizardLoop({"Welcome"});
  auto p = Start();
  HWND page = WaitForPage(p->Id(), kWelcome);
  ASSERT_NE(page, nullptr);
  // The controls library the engine loaded.
  std::string controls;
  {
    using EnumFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using NameFn = DWORD(WINAPI*)(HANDLE, HMODULE, char*, DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto enumModules = reinterpret_cast<EnumFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "K32EnumProcessModules")));
    auto moduleName = reinterpret_cast<NameFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "K32GetModuleFileNameExA")));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, p->Id());
    ASSERT_TRUE(enumModules && moduleName && process);
    HMODULE modules[512];
    DWORD bytes = 0;
    if (enumModules(process, modules, sizeof(modules), &bytes)) {
      for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        char name[MAX_PATH] = {};
        moduleName(process, modules[i], name, MAX_PATH);
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.size() >= 12 && lower.compare(lower.size() - 12, 12, "comctl32.dll") == 0) controls += lower + ";";
      }
    }
    CloseHandle(process);
  }
  EXPECT_NE(controls.find("common-controls_6595b64144ccf1df_6.0"), std::string::npos) << controls;
  // The page's DPI awareness, where the system can tell.
  using ContextFn = void*(WINAPI*)(HWND);
  using EqualFn = BOOL(WINAPI*)(void*, void*);
  HMODULE user = GetModuleHandleA("user32.dll");
  auto context = reinterpret_cast<ContextFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetWindowDpiAwarenessContext")));
  auto equal = reinterpret_cast<EqualFn>(reinterpret_cast<void*>(GetProcAddress(user, "AreDpiAwarenessContextsEqual")));
  if (context && equal) {
    void* mine = context(page);
    EXPECT_TRUE(equal(mine, reinterpret_cast<void*>(static_cast<INT_PTR>(-4))) ||   // per monitor, version 2
                equal(mine, reinterpret_cast<void*>(static_cast<INT_PTR>(-3))))      // per monitor
        << "the page is not per-monitor aware";
  }
  Click(Child(page, "&Next >"));
  RunResult r = p->Wait(30000);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 71u);
}

}  // namespace
}  // namespace kem::test
