#include "platform/ui/question_window.h"

namespace kem::platform {

QuestionWindow::QuestionWindow(const char* cls, WNDPROC proc, HBRUSH background, HWND owner,
                               const std::string& caption, int width, int height, void* state, int& result)
    : owner_(owner && IsWindow(owner) ? owner : nullptr), result_(result) {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!GetClassInfoA(inst, cls, &wc)) {
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = cls;
    RegisterClassA(&wc);
  }
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner_) GetWindowRect(owner_, &area);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, cls, caption.c_str(), style,
                            area.left + (area.right - area.left - w) / 2, area.top + (area.bottom - area.top - h) / 2,
                            w, h, owner_, nullptr, inst, nullptr);
  if (!window_) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  HDC dc = GetDC(window_);
  font_ = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
  ReleaseDC(window_, dc);
}

QuestionWindow::~QuestionWindow() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

HWND QuestionWindow::Child(const char* cls, const std::string& text, DWORD style, int x, int y, int w, int h, int id,
                           DWORD exStyle) {
  HWND c = CreateWindowExA(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  return c;
}

HWND QuestionWindow::Icon(LPCSTR which, int x, int y) {
  HWND c = Child("STATIC", "", SS_ICON, x, y, 32, 32);
  SendMessageA(c, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, which)), 0);
  return c;
}

void QuestionWindow::Run(HWND focus, std::chrono::milliseconds timeout, UINT_PTR timerId, int cancelResult) {
  const bool ownerEnabled = owner_ && IsWindowEnabled(owner_);
  if (ownerEnabled) EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(focus);
  if (timeout.count() > 0) SetTimer(window_, timerId, static_cast<UINT>(timeout.count()), nullptr);
  MSG msg{};
  while (result_ == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (msg.message == WM_QUIT && result_ == 0) {
    result_ = cancelResult;
    PostQuitMessage(static_cast<int>(msg.wParam));
  }
  KillTimer(window_, timerId);
  if (ownerEnabled) EnableWindow(owner_, TRUE);
}

}  // namespace kem::platform
