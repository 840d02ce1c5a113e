// The question after a web block could not be unpacked: download the block again, or try
// the extraction again. Left alone, it chooses the download by itself.
#include <windows.h>

#include "platform/media/media_win32.h"
#include "platform/ui/question_window.h"

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
    PromptState state;
    state.white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    QuestionWindow w(kClass, ExtractRetryProc, state.white, owner, message(33), kClientWidth, kClientHeight, &state,
                     state.result);
    if (!w) return ExtractRetryChoice::Cancel;
    w.Child("STATIC", message(34), SS_LEFT, 16, 12, 322, 42);                                             // Label1
    state.download = w.Child("BUTTON", message(35), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 32, 60, 306, 20,
                             kDownloadId);
    state.extract = w.Child("BUTTON", message(36), BS_AUTORADIOBUTTON, 32, 84, 306, 20, kExtractId);
    w.Child("STATIC", message(37), SS_LEFT, 16, 112, 322, 40);                                            // Label4
    HWND ok = w.Child("BUTTON", message(38), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 182, 162, 75, 25, IDOK);
    w.Child("BUTTON", message(39), BS_PUSHBUTTON | WS_TABSTOP, 263, 162, 75, 25, IDCANCEL);
    SendMessageA(state.download, BM_SETCHECK, BST_CHECKED, 0);
    w.Run(ok, timeout_, kTimerId, 2);
    const bool download = SendMessageA(state.download, BM_GETCHECK, 0, 0) == BST_CHECKED;
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
