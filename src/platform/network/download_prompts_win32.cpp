#include "platform/network/download_prompts_win32.h"

#include <windows.h>

#include <vector>

#include "platform/ui/question_window.h"

namespace kem::platform {
namespace {

constexpr char kRetryClass[] = "TkemProxyEx";
constexpr char kProxyClass[] = "TkemProxy";
constexpr UINT_PTR kTimer = 1;
constexpr int kResumeId = 201, kNewCopyId = 202;

// The state of one shown question.
struct Question {
  int result = 0;  // the button's result; 0 while open
  bool timedOut = false;
  bool timer = false;
  HWND resume = nullptr, newCopy = nullptr;
  int okResult = 1, cancelResult = 2;
};

LRESULT CALLBACK QuestionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* q = reinterpret_cast<Question*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (q) {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          q->result = LOWORD(wParam) == IDOK ? q->okResult : q->cancelResult;
          return 0;
        }
        break;
      case WM_TIMER:
        if (wParam == kTimer) {
          // Nobody answered: OK with the choice shown.
          KillTimer(window, kTimer);
          q->timedOut = true;
          q->result = q->okResult;
          return 0;
        }
        break;
      case WM_CLOSE:
        q->result = q->cancelResult;
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string EditText(HWND edit) {
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1);
  GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace

ResumeAnswer AskDownloadRetry(std::uintptr_t owner, const std::function<std::string(int)>& message, bool resume,
                              std::chrono::milliseconds timeout) {
  ResumeAnswer answer;
  answer.Resume = resume;
  Question q;
  QuestionWindow w(kRetryClass, QuestionProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), reinterpret_cast<HWND>(owner),
                   message(25), 435, 207, &q, q.result);
  if (!w) return answer;  // no window: Cancel
  w.Icon(MAKEINTRESOURCEA(32514), 16, 16);  // IDI_QUESTION
  w.Child("STATIC", message(49), SS_LEFT, 64, 14, 355, 30);                                         // Label1
  w.Child("STATIC", message(50), SS_LEFT, 64, 48, 355, 16);                                         // Label2
  q.resume = w.Child("BUTTON", message(51), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 80, 68, 339, 20, kResumeId);
  q.newCopy = w.Child("BUTTON", message(52), BS_AUTORADIOBUTTON, 80, 90, 339, 20, kNewCopyId);
  w.Icon(MAKEINTRESOURCEA(32516), 16, 122);  // IDI_INFORMATION, Image2
  w.Child("STATIC", message(53), SS_LEFT, 64, 122, 355, 40);                                        // Label4
  HWND ok = w.Child("BUTTON", message(38), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 263, 172, 75, 25, IDOK);
  w.Child("BUTTON", message(39), BS_PUSHBUTTON | WS_TABSTOP, 344, 172, 75, 25, IDCANCEL);
  SendMessageA(resume ? q.resume : q.newCopy, BM_SETCHECK, BST_CHECKED, 0);
  w.Run(ok, timeout, kTimer, q.cancelResult);
  answer.Retry = q.result == 1;
  answer.ByTimer = q.timedOut;
  answer.Resume = SendMessageA(q.resume, BM_GETCHECK, 0, 0) == BST_CHECKED;
  return answer;
}

bool AskProxySettings(std::uintptr_t owner, const std::function<std::string(int)>& message, ProxySettings& proxy) {
  Question q;
  q.okResult = 6;     // Yes
  q.cancelResult = 7;  // No
  QuestionWindow w(kProxyClass, QuestionProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), reinterpret_cast<HWND>(owner),
                   message(25), 310, 290, &q, q.result);
  if (!w) return false;
  w.Child("STATIC", message(26), SS_LEFT, 12, 10, 286, 44);                                         // Label1
  w.Child("BUTTON", message(27), BS_GROUPBOX, 12, 58, 286, 150);                                    // GroupBox1
  auto field = [&](int label, const std::string& value, int y, DWORD extra) {
    w.Child("STATIC", message(label), SS_LEFT, 24, y + 3, 96, 16);
    return w.Child("EDIT", value, ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER | extra, 124, y, 160, 21, 0, 0);
  };
  HWND server = field(28, proxy.Server, 80, 0);
  HWND port = field(29, proxy.Port, 110, ES_NUMBER);
  HWND user = field(41, proxy.User, 140, 0);
  HWND password = field(42, proxy.Password, 170, ES_PASSWORD);
  w.Child("STATIC", message(30), SS_LEFT, 12, 214, 286, 40);                                        // Label4
  w.Child("BUTTON", message(31), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 142, 258, 75, 25, IDOK);
  w.Child("BUTTON", message(32), BS_PUSHBUTTON | WS_TABSTOP, 223, 258, 75, 25, IDCANCEL);
  w.Run(server, std::chrono::milliseconds(0), kTimer, q.cancelResult);
  if (q.result != 6) return false;
  proxy.Server = EditText(server);
  proxy.Port = EditText(port);
  proxy.User = EditText(user);
  proxy.Password = EditText(password);
  return true;
}

}  // namespace kem::platform
