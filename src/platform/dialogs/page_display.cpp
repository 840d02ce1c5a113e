// The page display: a page brought on screen in front of the one before it (painted
// before that one goes, so nothing flickers), the modal loop that waits for a result,
// pages kept back while the setup sits in the tray, hiding, and the progress refreshes
// of the page on screen.
#include <windows.h>

#include <stdexcept>
#include <utility>

#include "common/text.h"
#include "platform/dialogs/host_internals.h"
#include "script/interpreter/interpreter.h"
#include "script/worker/progress_channel.h"

namespace kem::platform {

using namespace pages;

void DialogHost::Impl::Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void DialogHost::Impl::FormShow(Page& p) {
  runtime.FormShow(*p.dialog);
  // The system menu: Close greyed, and the About entry.
  GetSystemMenu(p.Hwnd(), TRUE);
  HMENU menu = GetSystemMenu(p.Hwnd(), FALSE);
  if (menu) {
    EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, L"&About...");
  }
  // Windows 7 and later: the thumbnail button's click reaches an elevated page too, and
  // the button is added once the taskbar knows the page.
  using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  if (auto filter = reinterpret_cast<FilterFn>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx"))))
    filter(p.Hwnd(), WM_COMMAND, 1 /* MSGFLT_ALLOW */, nullptr);
  SetTimer(p.Hwnd(), kThumbTimer, 314, nullptr);
}

// Shows the page in front with the focus on its default button (Next), else on the
// first control that takes it.
void DialogHost::Impl::Reveal(Page& p) {
  ShowWindow(p.Hwnd(), SW_SHOW);
  SetWindowPos(p.Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(p.Hwnd());
  // The focus goes to the default button (Next), else to the first control that takes it.
  HWND first = nullptr;
  for (auto& n : p.controls)
    if (n->hwnd && n->Model().Boolean("Default") && IsWindowEnabled(n->hwnd) && IsWindowVisible(n->hwnd)) {
      first = n->hwnd;
      break;
    }
  if (!first) first = GetNextDlgTabItem(p.Hwnd(), nullptr, FALSE);
  if (first) SetFocus(first);
}

void DialogHost::Impl::BringToScreen(Page& p) {
  p.dialog->closingAllowed = false;
  // Minimised to the tray: the page waits for the user to bring the setup back.
  if (ctx.State.MinimizedToTray) {
    pending = &p;
  } else {
    pending = nullptr;
    Reveal(p);
    // The new page is painted before the old one goes: no flicker between pages.
    RedrawWindow(p.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  Pump();
  if (current && current != &p) {
    current->dialog->closingAllowed = true;
    ShowWindow(current->Hwnd(), SW_HIDE);
  }
  if (lastUnbound && lastUnbound != &p) ShowWindow(lastUnbound->Hwnd(), SW_HIDE);
  if (!pending) RunCloseWhenCovered();
  Pump();
  current = &p;
}

// A click on the tray icon, or a refused close while the icon shows: the page displayed
// while minimised comes on screen, the page on screen comes back restored and in front.
void DialogHost::Impl::RestoreFromTray() {
  Page* shown = current;
  if (ctx.State.MinimizedToTray) {
    ctx.State.MinimizedToTray = false;
    // The pending page may be on its way to the screen (its display runs messages).
    if (Page* p = std::exchange(pending, nullptr)) {
      Reveal(*p);
      Pump();
      RunCloseWhenCovered();
      shown = p;
    }
    if (shown) {
      ShowWindow(shown->Hwnd(), SW_SHOW);
      SetWindowPos(shown->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      SendMessageW(shown->Hwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
    }
  } else if (shown) {
    ShowWindow(shown->Hwnd(), SW_SHOW);
    SetWindowPos(shown->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  if (shown) SetForegroundWindow(shown->Hwnd());
}

std::uintptr_t DialogHost::Impl::Show(Interpreter& in, const std::string& key, bool modal, std::string& custom) {
  ctx.Vars.SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
  custom.clear();
  // The taskbar button of the page on screen shows the progress.
  ui = &in.Machine().Ui;
  runtime.Taskbar = [this](const dialogs::TaskbarProgress& t) {
    if (current && current->Hwnd())
      ui->SetTaskbarProgress(reinterpret_cast<std::uintptr_t>(current->Hwnd()), t.state, t.withValue, t.completed,
                             t.total);
  };
  // Silent runs show nothing: every modal display goes on, a non-modal one leaves no
  // window behind.
  if (ctx.Startup.SilentMode) return modal ? dialogs::kResultNext : 0;
  wchar_t saved[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, saved);
  SetCurrentDirectoryW(W(runtime.SupportFolder()).c_str());
  currentKey = key;
  Page* p = PageOf(key);
  if (!p) throw std::runtime_error("Dialog not loaded: " + key);
  Dialog& d = *p->dialog;

  RECT wr;
  GetWindowRect(p->Hwnd(), &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  auto& last = runtime.LastDialogPosition;
  if (!runtime.RecentreNext && (w != last.width || h != last.height)) runtime.RecentreNext = true;
  int x = last.left, y = last.top;
  if (runtime.RecentreNext) {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    x = work.left + (work.right - work.left - w) / 2;
    y = work.top + (work.bottom - work.top - h) / 2;
    last.width = w;
    last.height = h;
  }
  runtime.RecentreNext = false;
  SetWindowPos(p->Hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ctx.Vars.SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
  FormShow(*p);

  std::uintptr_t code;
  if (modal) {
    d.resultCode = dialogs::kResultWaiting;
    BringToScreen(*p);
    CheckScrollEnd(*p);
    while (d.resultCode == dialogs::kResultWaiting) {
      MSG msg;
      BOOL r = GetMessageW(&msg, nullptr, 0, 0);
      if (r == 0) {
        // The session ends: the page is cancelled and the quit passed on.
        PostQuitMessage(static_cast<int>(msg.wParam));
        d.resultCode = dialogs::kResultCancel;
        break;
      }
      if (r < 0) break;
      if (IsDialogMessageW(p->Hwnd(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    code = static_cast<std::uintptr_t>(d.resultCode);
    if (d.resultCode == dialogs::kResultCustom) custom = d.customResult;
    currentKey.clear();
  } else {
    code = reinterpret_cast<std::uintptr_t>(p->Hwnd());
    BringToScreen(*p);
    CheckScrollEnd(*p);
  }
  GetWindowRect(p->Hwnd(), &wr);
  last.left = wr.left;
  last.top = wr.top;
  if (GetFileAttributesW(saved) != INVALID_FILE_ATTRIBUTES) SetCurrentDirectoryW(saved);
  return code;
}

void DialogHost::Impl::Hide() {
  Page* p = currentKey.empty() ? nullptr : PageOf(currentKey);
  if (!p) return;
  p->dialog->closingAllowed = true;
  ShowWindow(p->Hwnd(), SW_HIDE);
  if (current) ShowWindow(current->Hwnd(), SW_HIDE);
  if (lastUnbound) ShowWindow(lastUnbound->Hwnd(), SW_HIDE);
  Pump();
  if (current == p) current = nullptr;
  if (pending == p) pending = nullptr;
  currentKey.clear();
  RECT wr;
  GetWindowRect(p->Hwnd(), &wr);
  runtime.LastDialogPosition.left = wr.left;
  runtime.LastDialogPosition.top = wr.top;
}

void DialogHost::Impl::HideAll() {
  RunCloseWhenCovered();
  for (auto& [key, p] : pages) {
    p->dialog->closingAllowed = true;
    if (p->Hwnd()) ShowWindow(p->Hwnd(), SW_HIDE);
  }
  current = nullptr;
  pending = nullptr;
  lastUnbound = nullptr;
  currentKey.clear();
}

// The page shows the progress channel as the workers left it; the cancel state goes to
// the copy the installer session reads.
void DialogHost::Impl::RefreshFromChannel(Page& p) {
  const bool cancelled = IsTrue(ctx.Vars.Get("VRAX_IsCancelled"));
  ctx.Vars.SetVar("VRAX_thCancelled", cancelled ? "TRUE" : "FALSE", "RefreshProgress");
  const ProgressReport report = ReadProgress(ctx.Vars);
  runtime.RefreshProgress(*p.dialog, report.Text, report.Min, report.Max, report.Position);
  Sync(p);
}

// The page on screen shows the text and position now (silent runs show nothing).
void DialogHost::Impl::RefreshNow(const std::string& text, std::int64_t position) {
  if (ctx.Startup.SilentMode || !current || !current->Hwnd()) return;
  runtime.RefreshProgress(*current->dialog, text, 0, 100, position);
  Sync(*current);
  UpdateWindow(current->Hwnd());
}

void DialogHost::Impl::WriteProgress(const std::string& text, std::int64_t position) {
  HWND nonModal = reinterpret_cast<HWND>(ctx.State.WindowHandleOfNonModal);
  for (auto& [key, p] : pages) {
    if (!nonModal || p->Hwnd() != nonModal) continue;
    runtime.RefreshProgress(*p->dialog, text, 0, 100, position);
    Sync(*p);
    UpdateWindow(p->Hwnd());
  }
}

void DialogHost::Impl::RefuseClose(Page&) {
  if (ctx.State.TrayIconVisible) {
    RestoreFromTray();
    return;
  }
  if (!current) return;
  ShowWindow(current->Hwnd(), SW_RESTORE);
  SetWindowPos(current->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(current->Hwnd());
}

}  // namespace kem::platform
