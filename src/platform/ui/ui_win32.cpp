#include "platform/ui/ui.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "platform/handles.h"
#include "platform/process/system_library.h"

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

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT_PTR kBalloonTimer = 1;
constexpr UINT kTrayIconId = 1;

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
    if (!visible_ || !notify_) return;
    NOTIFYICONDATAA data = Base();
    notify_(NIM_DELETE, &data);
    visible_ = false;
  }

  void Balloon(const std::string& title, const std::string& text, int icon, unsigned timeoutMs,
               std::function<void()> ended) {
    if (!visible_ || !notify_) return;
    NOTIFYICONDATAA data = Base();
    data.uFlags = NIF_INFO;
    CopyText(data.szInfoTitle, title);
    CopyText(data.szInfo, text);
    data.uTimeout = timeoutMs;
    data.dwInfoFlags = icon == 1 ? NIIF_INFO : icon == 2 ? NIIF_WARNING : icon == 3 ? NIIF_ERROR : NIIF_NONE;
    notify_(NIM_MODIFY, &data);
    KillBalloonTimer();
    ended_ = std::move(ended);
    SetTimer(window_, kBalloonTimer, timeoutMs, nullptr);
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
    wc.lpszClassName = "KemTrayWindow";
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
