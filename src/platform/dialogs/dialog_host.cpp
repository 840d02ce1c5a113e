#include "platform/dialogs/dialog_host.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "common/text.h"
#include "dialogs/html/html_links.h"
#include "platform/dialogs/host_internals.h"
#include "platform/dialogs/html_view.h"
#include "script/interpreter/interpreter.h"

namespace kem::platform {

using namespace pages;

DialogHost::Impl::Impl(EngineContext& c, FileService& f) : ctx(c), files(f), runtime(c, f) {
  runtime.FreeBytes = [this](const std::string& root) -> std::int64_t {
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(W(root).c_str(), &free, nullptr, nullptr)) return -1;
    return static_cast<std::int64_t>(std::min<unsigned long long>(free.QuadPart, LLONG_MAX));
  };
}

DialogHost::Impl::~Impl() {
  pages.clear();  // the windows go before the images they show
  for (auto& [height, list] : componentImages)
    if (Libraries().imageListDestroy) Libraries().imageListDestroy(list);
}

Page& DialogHost::Impl::LoadPage(const std::string& key, const std::string& path) {
  RegisterClass();
  // No system box asks for a missing disk while pages are up: such a failure is an
  // error of the call that met it.
  const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  SetErrorMode(mode | SEM_FAILCRITICALERRORS);
  Dialog& d = runtime.Load(key, path);
  auto page = std::make_unique<Page>();
  page->host = this;
  page->dialog = &d;
  Page& p = *page;
  pages[UpperCase(key)] = std::move(page);
  return p;
}

// The page of the key with its window; the window is made when the page is first
// needed, so that the start-up reads every dialog file but draws only what is shown.
Page* DialogHost::Impl::PageOf(const std::string& key) {
  auto it = pages.find(UpperCase(key));
  if (it != pages.end()) {
    if (!it->second->Hwnd()) BuildWindow(*it->second);
    return it->second.get();
  }
  auto reg = registered.find(UpperCase(key));
  if (reg == registered.end()) return nullptr;
  std::string path = reg->second;
  registered.erase(reg);
  Page& p = LoadPage(key, path);
  BuildWindow(p);
  return &p;
}

std::string DialogHost::Impl::WindowText(HWND h) const {
  int n = GetWindowTextLengthW(h);
  std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(h, w.data(), n + 1);
  w.resize(std::max(n, 0));
  return A(w);
}

void DialogHost::Impl::AfterEvent(Page& p) {
  Sync(p);
  CheckScrollEnd(p);
}

void DialogHost::Impl::Hook(Page& p) {
  for (const std::string* name : {&p.dialog->hookedMemo, &p.dialog->hookedRichEdit}) {
    if (name->empty()) continue;
    Native* n = p.ByName(*name);
    if (!n || !n->hwnd || n->savedProc) continue;
    SetWindowLongPtrW(n->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(n));
    n->savedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(n->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrackedEditProc)));
  }
}

void DialogHost::Impl::Unhook(Page& p) {
  for (auto& n : p.controls) {
    if (!n->savedProc) continue;
    SetWindowLongPtrW(n->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(n->savedProc));
    n->savedProc = nullptr;
  }
}

// Whether the tracked text has been scrolled to its end (or never needed scrolling).
bool DialogHost::Impl::AtEnd(HWND h) {
  if (!(GetWindowLongW(h, GWL_STYLE) & WS_VSCROLL)) return true;
  SCROLLINFO si{};
  si.cbSize = sizeof(si);
  si.fMask = SIF_ALL;
  if (!GetScrollInfo(h, SB_VERT, &si)) return true;
  if (si.nPage == 0 || si.nMax - si.nMin + 1 <= static_cast<int>(si.nPage)) return true;
  return si.nMax - si.nPos <= static_cast<int>(si.nPage);
}

void DialogHost::Impl::CheckScrollEnd(Page& p) {
  for (const std::string* name : {&p.dialog->hookedMemo, &p.dialog->hookedRichEdit}) {
    if (name->empty()) continue;
    Native* n = p.ByName(*name);
    if (!n || !n->hwnd || n->Model().Integer("MaxLength") == dialogs::kScrollEndMarker) continue;
    if (AtEnd(n->hwnd)) {
      runtime.ScrolledToEnd(*p.dialog, n->name);
      Sync(p);
    }
  }
}

bool DialogHost::Impl::Confirm(Dialog& d, const std::string& text, const std::string& caption) {
  Page* p = PageOf(d.key);
  runtime.PromptProgressState(true, true);
  const bool yes = MessageBoxW(p ? p->Hwnd() : nullptr, W(text).c_str(), W(caption).c_str(),
                               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  runtime.PromptProgressState(false, false);
  return yes;
}

std::optional<std::string> DialogHost::Impl::BrowseFolder(Dialog& d) {
  WindowLibraries& libs = Libraries();
  using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOW);
  using PathFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPWSTR);
  using OleInitFn = HRESULT(WINAPI*)(LPVOID);
  using FreeFn = void(WINAPI*)(LPVOID);
  auto browse = libs.shell.Function<BrowseFn>("SHBrowseForFolderW");
  auto path = libs.shell.Function<PathFn>("SHGetPathFromIDListW");
  auto freeMem = libs.ole.Function<FreeFn>("CoTaskMemFree");
  if (!browse || !path) return std::nullopt;
  if (!libs.oleReady) {
    if (auto init = libs.ole.Function<OleInitFn>("OleInitialize")) libs.oleReady = SUCCEEDED(init(nullptr));
  }
  Page* p = PageOf(d.key);
  BROWSEINFOW bi{};
  bi.hwndOwner = p ? p->Hwnd() : nullptr;
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  LPITEMIDLIST item = browse(&bi);
  if (!item) return std::nullopt;
  wchar_t wide[MAX_PATH + 1] = {};
  std::string chosen;
  if (path(item, wide)) {
    chosen = A(wide);
    // A name the code page cannot hold: its short form stays usable by the engine.
    if (W(chosen) != std::wstring(wide)) {
      wchar_t shortName[MAX_PATH + 1] = {};
      DWORD n = GetShortPathNameW(wide, shortName, MAX_PATH + 1);
      if (n > 0 && n <= MAX_PATH) chosen = A(shortName);
    }
  }
  if (freeMem) freeMem(item);
  return chosen;
}

void DialogHost::Impl::FocusTabOrder(Dialog& d, std::int64_t tabOrder) {
  Page* p = PageOf(d.key);
  if (!p) return;
  for (auto& n : p->controls) {
    if (n->hwnd && n->Model().Integer("TabOrder", -1) == tabOrder && IsWindowVisible(n->hwnd) &&
        IsWindowEnabled(n->hwnd)) {
      SetFocus(n->hwnd);
      return;
    }
  }
}

void DialogHost::Impl::About(Dialog& d) {
  Page* p = PageOf(d.key);
  std::string text = ctx.Data.ProductTitle;
  if (!ctx.Data.ProductVersion.empty()) text += "\r\nVersion " + ctx.Data.ProductVersion;
  if (!ctx.Data.CompanyName.empty()) text += "\r\n" + ctx.Data.CompanyName;
  MessageBoxW(p ? p->Hwnd() : nullptr, W(text).c_str(), W(ctx.WindowCaption()).c_str(), MB_OK | MB_ICONINFORMATION);
}

void DialogHost::Impl::Bind(const std::string& key) {
  if (ctx.Startup.SilentMode) return;
  Page* p = PageOf(key);
  if (!p) throw std::runtime_error("Dialog not loaded: " + key);
  // The non-modal page on screen does not repaint while the next one is filled.
  HWND nonModal = reinterpret_cast<HWND>(ctx.State.WindowHandleOfNonModal);
  if (nonModal) LockWindowUpdate(nonModal);
  try {
    runtime.Bind(*p->dialog);
    Sync(*p);
    Hook(*p);
  } catch (...) {
    if (nonModal) LockWindowUpdate(nullptr);
    throw;
  }
  if (nonModal) LockWindowUpdate(nullptr);
}

void DialogHost::Impl::Unbind(const std::string& key) {
  if (ctx.Startup.SilentMode) return;
  Page* p = PageOf(key);
  if (!p) return;
  Unhook(*p);
  runtime.Unbind(*p->dialog);
  Sync(*p);
  lastUnbound = p;
}

LRESULT DialogHost::Impl::PageMessage(Page& p, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      // The thumbnail button of the taskbar (its only button) opens the About box.
      if (HIWORD(wp) == kThumbButtonClicked) {
        runtime.About(*p.dialog, *this);
        return 0;
      }
      if (lp == 0) break;
      if (Native* n = p.ById(LOWORD(wp))) OnCommand(p, *n, HIWORD(wp));
      return 0;
    }
    case WM_NOTIFY:
      OnNotify(p, *reinterpret_cast<NMHDR*>(lp));
      return 0;
    case WM_CONTEXTMENU: {
      // A right click on a component tree, or the menu key or Shift+F10 in it.
      Native* n = p.ByHwnd(reinterpret_cast<HWND>(wp));
      if (n && n->kind == ControlKind::TreeView && p.dialog->Tree(n->name) && !syncing) {
        ComponentContextMenu(p, *n, lp);
        return 0;
      }
      break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lp)
        if (Native* n = p.ByHwnd(reinterpret_cast<HWND>(lp))) OnScroll(p, *n);
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: {
      Native* n = p.ByHwnd(reinterpret_cast<HWND>(lp));
      if (!n) break;
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, n->fore);
      SetBkColor(dc, n->back);
      return reinterpret_cast<LRESULT>(n->brush);
    }
    case WM_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      if (Native* n = p.ById(static_cast<int>(di->CtlID))) {
        Draw(p, *n, *di);
        return TRUE;
      }
      break;
    }
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, p.backBrush);
      return 1;
    }
    case DM_GETDEFID:
      for (auto& n : p.controls)
        if (n->hwnd && (GetWindowLongW(n->hwnd, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON &&
            (n->kind == ControlKind::Button || n->kind == ControlKind::BitBtn))
          return MAKELRESULT(n->id, DC_HASDEFID);
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE && !p.dialog->closingAllowed) {
        RefuseClose(p);
        return 0;
      }
      if (wp == kAboutCommand) {
        runtime.About(*p.dialog, *this);
        return 0;
      }
      if ((wp & 0xFFF0) == SC_MINIMIZE && ctx.State.TrayIconVisible) {
        // With the tray icon showing, a minimised page leaves the taskbar: it comes
        // back through the icon.
        DefWindowProcW(hwnd, msg, wp, lp);
        ShowWindow(hwnd, SW_HIDE);
        ctx.State.MinimizedToTray = true;
        return 0;
      }
      break;
    case WM_CLOSE:
      if (!p.dialog->closingAllowed) RefuseClose(p);
      else ShowWindow(hwnd, SW_HIDE);
      return 0;
    case WM_TIMER:
      // The progress timer: every page ticks, so a waiting display sees a message at
      // least once a second; while a worker runs, the page on screen shows its channel.
      if (wp == kProgressTimer && ctx.State.WorkerActive && current == &p) RefreshFromChannel(p);
      if (wp == kMetaTimer) MetaRefreshDue(p);
      if (wp == kThumbTimer) {
        KillTimer(hwnd, kThumbTimer);
        if (ui && current == &p) ui->AddThumbnailButton(reinterpret_cast<std::uintptr_t>(hwnd), "About");
      }
      return 0;
    default: break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// An HTML view loaded a page with a timed refresh: when the target exists below the
// support folder, the page's meta timer is set to load it.
void DialogHost::Impl::ArmMetaRefresh(Page& p, HtmlView& view, const html::MetaRefresh& refresh) {
  const std::string target = html::MetaRefreshTarget(runtime.SupportFolder(), refresh.url);
  const DWORD a = GetFileAttributesW(W(target).c_str());
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return;
  for (auto& n : p.controls)
    if (HtmlView::From(n->hwnd) == &view) p.metaView = n->hwnd;
  p.metaDocument = view.DocumentFile();
  p.metaTarget = target;
  if (p.Hwnd()) SetTimer(p.Hwnd(), kMetaTimer, html::MetaRefreshInterval(refresh.delay), nullptr);
}

// The refresh is due: it happens only while the view still shows the page that set it;
// the page's caption becomes the new page's title.
void DialogHost::Impl::MetaRefreshDue(Page& p) {
  KillTimer(p.Hwnd(), kMetaTimer);
  HtmlView* view = HtmlView::From(p.metaView);
  if (!view || !SameText(view->DocumentFile(), p.metaDocument)) return;
  const std::string target = p.metaTarget;
  if (!view->LoadFile(target)) return;
  SetWindowTextW(p.Hwnd(), W(view->Title()).c_str());
}

LRESULT DialogHost::Impl::TrackedEdit(Native& n, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WNDPROC saved = n.savedProc;
  LRESULT r = CallWindowProcW(saved, hwnd, msg, wp, lp);
  // Keys scroll the text as well as the bar and the wheel do.
  if ((msg == WM_VSCROLL || msg == WM_MOUSEWHEEL || msg == WM_KEYDOWN) &&
      n.Model().Integer("MaxLength") != dialogs::kScrollEndMarker && AtEnd(hwnd)) {
    runtime.ScrolledToEnd(*n.page->dialog, n.name);
    Sync(*n.page);
  }
  return r;
}

namespace pages {

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* p = reinterpret_cast<Page*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!p || !p->host) return DefWindowProcW(hwnd, msg, wp, lp);
  if (!p->window.Get()) {
    // Still being created: the page's window is not recorded yet.
    if (msg == WM_ERASEBKGND || msg == WM_CTLCOLORSTATIC) return DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return p->host->PageMessage(*p, hwnd, msg, wp, lp);
  } catch (const std::exception& e) {
    // A handler must not unwind through the system's code; the failure is shown.
    MessageBoxA(hwnd, e.what(), nullptr, MB_OK | MB_ICONERROR);
    return 0;
  }
}

LRESULT CALLBACK TrackedEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* n = reinterpret_cast<Native*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!n || !n->savedProc) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return n->page->host->TrackedEdit(*n, hwnd, msg, wp, lp);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace pages

DialogHost::DialogHost(EngineContext& context, FileService& files) : impl_(std::make_unique<Impl>(context, files)) {}

DialogHost::~DialogHost() = default;

void DialogHost::Init(const std::string& supportFolder) {
  impl_->runtime.Init(supportFolder);
  impl_->pages.clear();
  impl_->registered.clear();
}

void DialogHost::Load(const std::string& key, const std::string& path) {
  if (impl_->ctx.Startup.SilentMode) {
    impl_->registered[UpperCase(key)] = path;
    return;
  }
  impl_->LoadPage(key, path);
}

DialogOperations DialogHost::Operations() {
  DialogOperations ops;
  Impl* impl = impl_.get();
  ops.Present = [impl](Interpreter& in, const std::string& key, bool modal, std::string& custom) {
    return impl->Show(in, key, modal, custom);
  };
  ops.Bind = [impl](Interpreter&, const std::string& key) { impl->Bind(key); };
  ops.Unbind = [impl](Interpreter&, const std::string& key) { impl->Unbind(key); };
  ops.Hide = [impl](Interpreter&) { impl->Hide(); };
  ops.Refresh = [impl](const std::string& text, std::int64_t position) { impl->RefreshNow(text, position); };
  ops.PromptState = [impl](bool prompt, bool error) { impl->runtime.PromptProgressState(prompt, error); };
  ops.RestoreFromTray = [impl](Interpreter&) { impl->RestoreFromTray(); };
  return ops;
}

void DialogHost::CloseWhenCovered(std::function<void()> close) { impl_->closeWhenCovered = std::move(close); }

void DialogHost::WriteProgress(const std::string& text, std::int64_t position) { impl_->WriteProgress(text, position); }

void DialogHost::HideAll() { impl_->HideAll(); }

std::uintptr_t DialogHost::WindowOf(const std::string& key) const {
  auto it = impl_->pages.find(UpperCase(key));
  return it == impl_->pages.end() ? 0 : reinterpret_cast<std::uintptr_t>(it->second->Hwnd());
}

dialogs::DialogRuntime& DialogHost::Runtime() { return impl_->runtime; }

}  // namespace kem::platform
