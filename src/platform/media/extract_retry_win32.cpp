// The question after a web block could not be unpacked: download the block again, or try
// the extraction again. Left alone, it chooses the download by itself.
#include <windows.h>

#include "platform/media/media_win32.h"

namespace kem::platform {
namespace {

constexpr char kClass[] = "TkemExtract";
constexpr int kClientWidth = 354, kClientHeight = 200;
constexpr int kDownloadId = 101, kExtractId = 102;
constexpr UINT_PTR kTimerId = 1;

struct PromptState {
  int result = 0;  // 1 OK, 2 Cancel
  bool timedOut = false;
  HWND download = nullptr;
  HWND extract = nullptr;
  HBRUSH white = nullptr;
};

LRESULT CALLBACK ExtractRetryProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (state && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        state->result = LOWORD(wParam) == IDOK ? 1 : 2;
        return 0;
      }
      break;
    case WM_TIMER:
      if (state && wParam == kTimerId) {
        KillTimer(window, kTimerId);
        SendMessageA(state->download, BM_SETCHECK, BST_CHECKED, 0);
        SendMessageA(state->extract, BM_SETCHECK, BST_UNCHECKED, 0);
        state->timedOut = true;
        state->result = 1;
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (state && state->white) {
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(state->white);
      }
      break;
    case WM_CLOSE:
      if (state) state->result = 2;
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class Win32ExtractRetryPrompt : public ExtractRetryPrompt {
 public:
  explicit Win32ExtractRetryPrompt(std::chrono::milliseconds timeout) : timeout_(timeout) {}

  ExtractRetryChoice Ask(std::uintptr_t ownerHandle, const std::function<std::string(int)>& message,
                         bool& timedOut) override {
    timedOut = false;
    HWND owner = reinterpret_cast<HWND>(ownerHandle);
    if (owner && !IsWindow(owner)) owner = nullptr;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (!GetClassInfoA(inst, kClass, &wc)) {
      wc.lpfnWndProc = ExtractRetryProc;
      wc.hInstance = inst;
      wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      wc.lpszClassName = kClass;
      RegisterClassA(&wc);
    }
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    const int w = r.right - r.left, h = r.bottom - r.top;
    // Centred on the owner, or on the screen without one.
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner) GetWindowRect(owner, &area);
    const int left = area.left + (area.right - area.left - w) / 2;
    const int top = area.top + (area.bottom - area.top - h) / 2;

    PromptState state;
    state.white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    HWND window = CreateWindowExA(exStyle, kClass, message(33).c_str(), style, left, top, w, h, owner, nullptr, inst,
                                  nullptr);
    if (!window) return ExtractRetryChoice::Cancel;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    HDC dc = GetDC(window);
    const int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(window, dc);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
    auto child = [&](const char* cls, const std::string& text, DWORD s, int x, int y, int cw, int ch, int id) {
      HWND c = CreateWindowExA(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | s, x, y, cw, ch, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
      SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      return c;
    };
    child("STATIC", message(34), SS_LEFT, 16, 12, 322, 42, 0);                                            // Label1
    state.download = child("BUTTON", message(35), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 32, 60, 306, 20,
                           kDownloadId);
    state.extract = child("BUTTON", message(36), BS_AUTORADIOBUTTON, 32, 84, 306, 20, kExtractId);
    child("STATIC", message(37), SS_LEFT, 16, 112, 322, 40, 0);                                           // Label4
    HWND ok = child("BUTTON", message(38), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 182, 162, 75, 25, IDOK);
    child("BUTTON", message(39), BS_PUSHBUTTON | WS_TABSTOP, 263, 162, 75, 25, IDCANCEL);
    SendMessageA(state.download, BM_SETCHECK, BST_CHECKED, 0);

    // Modal to its owner.
    const bool ownerEnabled = owner && IsWindowEnabled(owner);
    if (ownerEnabled) EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(ok);
    SetTimer(window, kTimerId, static_cast<UINT>(timeout_.count()), nullptr);
    MSG msg{};
    while (state.result == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (IsDialogMessageA(window, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (msg.message == WM_QUIT && state.result == 0) PostQuitMessage(static_cast<int>(msg.wParam));
    KillTimer(window, kTimerId);
    const bool download = SendMessageA(state.download, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (ownerEnabled) EnableWindow(owner, TRUE);
    DestroyWindow(window);
    DeleteObject(font);
    timedOut = state.timedOut;
    if (state.result != 1) return ExtractRetryChoice::Cancel;
    return download ? ExtractRetryChoice::Download : ExtractRetryChoice::Extract;
  }

 private:
  std::chrono::milliseconds timeout_;
};

}  // namespace

std::unique_ptr<ExtractRetryPrompt> CreateExtractRetryPrompt(std::chrono::milliseconds timeout) {
  return std::make_unique<Win32ExtractRetryPrompt>(timeout);
}

}  // namespace kem::platform
