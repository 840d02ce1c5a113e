#include "platform/ui/ui.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>

#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/ui/tray_window.h"

namespace kem::platform {

void ShowErrorBox(void* owner, const std::string& text, const std::string& caption) {
  MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

namespace {

constexpr UINT kTrayMessage = kTrayCallbackMessage;
static_assert(kTrayCallbackMessage == WM_APP + 1);
constexpr UINT_PTR kBalloonTimer = 1;
constexpr UINT kTrayIconId = 1;

// The shell draws balloons at tray icons from Windows 2000 and Windows Me on.
bool ShellDrawsBalloons() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version)) return true;
  return version.dwMajorVersion > 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion >= 90);
}

// The engine's own balloon, for Windows whose shell draws none: a small window in the
// bottom right corner of the work area, above the notification area, with the icon, the
// title in bold, the text and a close button. A click anywhere, the close button or the
// time-out closes it; it never takes the focus.
class BalloonForm {
 public:
  ~BalloonForm() { Close(); }

  void Show(const std::string& title, const std::string& text, int icon, unsigned timeoutMs) {
    Close();
    HINSTANCE self = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &BalloonForm::Procedure;
    wc.hInstance = self;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = GetSysColorBrush(COLOR_INFOBK);
    wc.lpszClassName = kBalloonWindowClass;
    RegisterClassA(&wc);  // fails harmlessly when registered before

    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    font_ = GdiObject(CreateFontIndirectA(&metrics.lfMessageFont));
    LOGFONTA bold = metrics.lfMessageFont;
    bold.lfWeight = FW_BOLD;
    boldFont_ = GdiObject(CreateFontIndirectA(&bold));

    // The layout in pixels of the system's resolution.
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
    const int margin = px(10), iconSize = GetSystemMetrics(SM_CXICON), closeSize = px(18), width = px(300);
    HICON image = nullptr;
    if (icon >= 1 && icon <= 3)
      image = LoadIconA(nullptr, MAKEINTRESOURCEA(icon == 1 ? 32516 : icon == 2 ? 32515 : 32513));
    const int textLeft = margin + (image ? iconSize + margin : 0);
    const int textWidth = width - textLeft - margin - closeSize - margin / 2;
    auto measure = [&](const GdiObject& f, const std::string& t) {
      RECT r{0, 0, textWidth, 0};
      HGDIOBJ old = SelectObject(screen, f.Get());
      DrawTextA(screen, t.c_str(), static_cast<int>(t.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      SelectObject(screen, old);
      return r.bottom - r.top;
    };
    const int titleHeight = title.empty() ? 0 : measure(boldFont_, title);
    const int textHeight = measure(font_, text);
    ReleaseDC(nullptr, screen);
    const int gap = title.empty() ? 0 : px(6);
    const int height = std::max(margin + titleHeight + gap + textHeight + margin, margin + iconSize + margin);

    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBalloonWindowClass, title.c_str(),
                              WS_POPUP | WS_BORDER, work.right - width - px(8), work.bottom - height - px(8), width,
                              height, nullptr, nullptr, self, nullptr);
    if (window_ == nullptr) return;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    auto child = [&](const char* cls, const char* t, DWORD style, int x, int y, int w, int h, int id) {
      HWND c = CreateWindowExA(0, cls, t, WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), self, nullptr);
      SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(id == kTitleId ? boldFont_.Get() : font_.Get()), FALSE);
      return c;
    };
    if (image) {
      HWND picture = child("STATIC", "", SS_ICON, margin, margin, iconSize, iconSize, 0);
      SendMessageA(picture, STM_SETICON, reinterpret_cast<WPARAM>(image), 0);
    }
    if (!title.empty()) child("STATIC", title.c_str(), SS_NOPREFIX, textLeft, margin, textWidth, titleHeight, kTitleId);
    child("STATIC", text.c_str(), SS_NOPREFIX, textLeft, margin + titleHeight + gap, textWidth, textHeight, kTextId);
    child("BUTTON", "x", BS_PUSHBUTTON, width - margin / 2 - closeSize - 2, margin / 2, closeSize, closeSize, IDCANCEL);
    SetTimer(window_, kCloseTimer, timeoutMs, nullptr);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
  }

  void Close() {
    if (window_ == nullptr) return;
    HWND w = std::exchange(window_, nullptr);
    KillTimer(w, kCloseTimer);
    SetWindowLongPtrA(w, GWLP_USERDATA, 0);
    DestroyWindow(w);
  }

 private:
  static constexpr UINT_PTR kCloseTimer = 1;
  static constexpr int kTitleId = 100;
  static constexpr int kTextId = 101;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<BalloonForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr) {
      switch (message) {
        case WM_TIMER:
          if (wParam != kCloseTimer) break;
          self->Close();
          return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
          self->Close();
          return 0;
        case WM_COMMAND:
          if (LOWORD(wParam) == IDCANCEL) self->Close();
          return 0;
        case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
        case WM_CTLCOLORSTATIC: {
          HDC dc = reinterpret_cast<HDC>(wParam);
          SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
          SetBkColor(dc, GetSysColor(COLOR_INFOBK));
          return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_INFOBK));
        }
        default: break;
      }
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  GdiObject font_, boldFont_;
};

// The notification-area icon: a hidden window of the main thread receives its clicks and
// the balloon's time-out.
class TrayIcon {
 public:
  ~TrayIcon() {
    Hide();
    if (window_ != nullptr) DestroyWindow(window_);
  }

  void SetClickHandler(std::function<void()> handler) { click_ = std::move(handler); }

  bool Show(const std::string& hint) {
    if (!EnsureWindow() || !notify_) return false;
    hint_ = hint;
    if (notify_(visible_ ? NIM_MODIFY : NIM_ADD, IconData())) visible_ = true;
    return visible_;
  }

  void Hide() {
    KillBalloonTimer();
    ownBalloon_.Close();
    if (!visible_ || !notify_) return;
    NOTIFYICONDATAA data = Base();
    notify_(NIM_DELETE, &data);
    visible_ = false;
  }

  void Balloon(const std::string& title, const std::string& text, int icon, unsigned timeoutMs,
               std::function<void()> ended) {
    if (!ShellDrawsBalloons()) {
      // The engine draws the balloon itself, with or without an icon to point at.
      if (!EnsureWindow()) return;
      ownBalloon_.Show(title, text, icon, timeoutMs);
      StartBalloonTimer(timeoutMs, std::move(ended));
      return;
    }
    if (!visible_ || !notify_) return;
    NOTIFYICONDATAA data = Base();
    data.uFlags = NIF_INFO;
    CopyText(data.szInfoTitle, title);
    CopyText(data.szInfo, text);
    data.uTimeout = timeoutMs;
    data.dwInfoFlags = icon == 1 ? NIIF_INFO : icon == 2 ? NIIF_WARNING : icon == 3 ? NIIF_ERROR : NIIF_NONE;
    notify_(NIM_MODIFY, &data);
    StartBalloonTimer(timeoutMs, std::move(ended));
  }

 private:
  using NotifyFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);

  template <std::size_t N>
  static void CopyText(char (&target)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
  }

  NOTIFYICONDATAA* IconData() {
    iconData_ = Base();
    iconData_.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    iconData_.uCallbackMessage = kTrayMessage;
    iconData_.hIcon = Icon();
    CopyText(iconData_.szTip, hint_);
    return &iconData_;
  }

  NOTIFYICONDATAA Base() const {
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kTrayIconId;
    return data;
  }

  // The program's own icon, or the system's application icon.
  static HICON Icon() {
    HINSTANCE self = GetModuleHandleA(nullptr);
    HICON icon = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    return icon != nullptr ? icon : LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  }

  bool EnsureWindow() {
    if (window_ != nullptr) return true;
    notify_ = shell_.Function<NotifyFn>("Shell_NotifyIconA");
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &TrayIcon::Procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kTrayWindowClass;
    RegisterClassA(&wc);  // fails harmlessly when registered before
    window_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (window_ == nullptr) return false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
    return true;
  }

  void KillBalloonTimer() {
    if (window_ != nullptr) KillTimer(window_, kBalloonTimer);
  }

  void StartBalloonTimer(unsigned timeoutMs, std::function<void()> ended) {
    KillBalloonTimer();
    ended_ = std::move(ended);
    SetTimer(window_, kBalloonTimer, timeoutMs, nullptr);
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TrayIcon*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == kTrayMessage && (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK)) {
      if (self->click_) self->click_();
      return 0;
    }
    // The notification area was made anew (the shell restarted): the icon goes back in,
    // so a setup minimised to the tray is not stranded.
    if (self != nullptr && message != 0 && message == self->taskbarCreated_) {
      if (self->visible_ && self->notify_) self->notify_(NIM_ADD, self->IconData());
      return 0;
    }
    if (self != nullptr && message == WM_TIMER && wParam == kBalloonTimer) {
      self->KillBalloonTimer();
      if (auto ended = std::exchange(self->ended_, {})) ended();
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  SystemLibrary shell_{L"shell32.dll"};
  NotifyFn notify_ = nullptr;
  HWND window_ = nullptr;
  UINT taskbarCreated_ = 0;
  bool visible_ = false;
  std::string hint_;
  NOTIFYICONDATAA iconData_ = {};
  std::function<void()> click_;
  std::function<void()> ended_;
  BalloonForm ownBalloon_;
};

// The taskbar button's overlay icon and progress, through the taskbar's COM interface
// (Windows 7 and later); nothing where it is missing.
class TaskbarOverlay {
 public:
  ~TaskbarOverlay() {
    if (taskbar_ != nullptr) taskbar_->Release();
  }

  void Set(HWND window, bool on, const std::string& description) {
    ITaskbarList3* taskbar = Taskbar();
    if (taskbar == nullptr || window == nullptr) return;
    std::wstring text(description.begin(), description.end());
    if (int n = MultiByteToWideChar(CP_ACP, 0, description.data(), static_cast<int>(description.size()), nullptr, 0);
        n > 0) {
      text.assign(static_cast<std::size_t>(n), L'\0');
      MultiByteToWideChar(CP_ACP, 0, description.data(), static_cast<int>(description.size()), text.data(), n);
    }
    taskbar->SetOverlayIcon(window, on ? LoadIconA(nullptr, MAKEINTRESOURCEA(32516)) : nullptr,  // IDI_INFORMATION
                            on ? text.c_str() : nullptr);
  }

  void ThumbnailButton(HWND window, const std::string& tip) {
    ITaskbarList3* taskbar = Taskbar();
    if (taskbar == nullptr || window == nullptr) return;
    THUMBBUTTON button{};
    button.dwMask = static_cast<THUMBBUTTONMASK>(THB_ICON | THB_TOOLTIP | THB_FLAGS);
    button.iId = 0;
    button.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (button.hIcon == nullptr) button.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32516));  // IDI_INFORMATION
    const std::size_t n = std::min<std::size_t>(tip.size(), std::size(button.szTip) - 1);
    for (std::size_t i = 0; i < n; ++i) button.szTip[i] = static_cast<unsigned char>(tip[i]);
    button.dwFlags = static_cast<THUMBBUTTONFLAGS>(THBF_ENABLED | THBF_DISMISSONCLICK);
    taskbar->ThumbBarAddButtons(window, 1, &button);
  }

  void Progress(HWND window, TaskbarState state, bool withValue, std::uint64_t completed, std::uint64_t total) {
    ITaskbarList3* taskbar = Taskbar();
    if (taskbar == nullptr || window == nullptr) return;
    if (withValue) taskbar->SetProgressValue(window, completed, total);
    taskbar->SetProgressState(window, static_cast<TBPFLAG>(state));
  }

 private:
  ITaskbarList3* Taskbar() {
    if (tried_) return taskbar_;
    tried_ = true;
    using InitFn = HRESULT(WINAPI*)(LPVOID, DWORD);
    using CreateFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
    auto init = ole_.Function<InitFn>("CoInitializeEx");
    auto create = ole_.Function<CreateFn>("CoCreateInstance");
    if (!init || !create) return nullptr;
    init(nullptr, COINIT_APARTMENTTHREADED);
    static const CLSID kTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
    static const IID kTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};
    void* made = nullptr;
    if (FAILED(create(kTaskbarList, nullptr, CLSCTX_INPROC_SERVER, kTaskbarList3, &made)) || made == nullptr)
      return nullptr;
    taskbar_ = static_cast<ITaskbarList3*>(made);
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
    return taskbar_;
  }

  SystemLibrary ole_{L"ole32.dll"};
  bool tried_ = false;
  ITaskbarList3* taskbar_ = nullptr;
};

class Win32UiService final : public UiService {
 public:
  void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) override {
    platform::ShowErrorBox(reinterpret_cast<void*>(owner), text, caption);
  }
  void PumpMessages() override { platform::PumpMessages(); }

  void WaitForWake(bool silent, unsigned timeoutMs) override {
    HANDLE wake = wake_.Get();
    const DWORD r = MsgWaitForMultipleObjectsEx(wake != nullptr ? 1 : 0, &wake, timeoutMs,
                                                silent ? QS_SENDMESSAGE : QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    const DWORD messages = WAIT_OBJECT_0 + (wake != nullptr ? 1 : 0);
    if (r != messages) return;
    MSG msg;
    if (silent) {
      // Peeking dispatches the messages other threads sent; nothing is taken off the queue.
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    } else if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  void WakeMainThread() override {
    if (wake_.Valid()) SetEvent(wake_.Get());
  }

  int AskUser(std::uintptr_t owner, const std::string& text, const std::string& caption, unsigned style) override {
    return MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
  }
  bool ShowTrayIcon(const std::string& hint) override { return tray_.Show(hint); }
  void HideTrayIcon() override { tray_.Hide(); }
  void SetTrayClickHandler(std::function<void()> handler) override { tray_.SetClickHandler(std::move(handler)); }
  void ShowBalloon(const std::string& title, const std::string& text, int icon, unsigned timeoutMs,
                   std::function<void()> ended) override {
    tray_.Balloon(title, text, icon, timeoutMs, std::move(ended));
  }
  void SetTaskbarOverlay(std::uintptr_t window, bool on, const std::string& description) override {
    overlay_.Set(reinterpret_cast<HWND>(window), on, description);
  }
  void SetTaskbarProgress(std::uintptr_t window, TaskbarState state, bool withValue, std::uint64_t completed,
                          std::uint64_t total) override {
    overlay_.Progress(reinterpret_cast<HWND>(window), state, withValue, completed, total);
  }
  void AddThumbnailButton(std::uintptr_t window, const std::string& tip) override {
    overlay_.ThumbnailButton(reinterpret_cast<HWND>(window), tip);
  }
  void HideWindow(std::uintptr_t window) override { ShowWindow(reinterpret_cast<HWND>(window), SW_HIDE); }
  void BringWindowBack(std::uintptr_t window, bool restore) override {
    HWND w = reinterpret_cast<HWND>(window);
    if (!IsWindow(w)) return;
    ShowWindow(w, SW_SHOW);
    BringWindowToTop(w);
    if (restore) SendMessageA(w, WM_SYSCOMMAND, SC_RESTORE, 0);
    SetForegroundWindow(w);
  }

 private:
  UniqueHandle wake_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // auto-reset
  TrayIcon tray_;
  TaskbarOverlay overlay_;
};

}  // namespace

std::unique_ptr<UiService> CreateUiService() { return std::make_unique<Win32UiService>(); }

}  // namespace kem::platform
