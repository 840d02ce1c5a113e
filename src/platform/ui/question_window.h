// The engine's own small questions (retry a download, the proxy settings, retry an
// extraction): a dialog-bordered window of a given client size, centred on its owner (or on
// the screen), with Tahoma 8, modal to its owner until its window procedure sets the
// answer.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace kem::platform {

class QuestionWindow {
 public:
  // `state` goes to the window's GWLP_USERDATA for `proc`; the window stays until `result`
  // is no longer 0. The class is registered on first use with `background`.
  QuestionWindow(const char* cls, WNDPROC proc, HBRUSH background, HWND owner, const std::string& caption,
                 int width, int height, void* state, int& result);
  ~QuestionWindow();
  QuestionWindow(const QuestionWindow&) = delete;
  QuestionWindow& operator=(const QuestionWindow&) = delete;

  explicit operator bool() const { return window_ != nullptr; }
  HWND Handle() const { return window_; }
  HWND Child(const char* cls, const std::string& text, DWORD style, int x, int y, int w, int h, int id = 0,
             DWORD exStyle = 0);
  HWND Icon(LPCSTR which, int x, int y);
  // Modal to the owner until the answer is set (a button, the close box or the timer `timerId`,
  // started when `timeout` is not 0). A quit request that ends the wait first sets
  // `cancelResult` and stays for the loop that owns it.
  void Run(HWND focus, std::chrono::milliseconds timeout, UINT_PTR timerId, int cancelResult);

 private:
  HWND owner_;
  int& result_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace kem::platform
