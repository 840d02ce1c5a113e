// Windows and dialogs: what the engine shows the user.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kem {

// The states of the progress on a taskbar button (Windows 7 and later), numbered as the
// taskbar numbers them.
enum class TaskbarState { None = 0, Indeterminate = 1, Normal = 2, Error = 4, Paused = 8 };

class UiService {
 public:
  virtual ~UiService() = default;
  // A message box with the error icon and an OK button. owner is a window handle
  // (0: none). Returns when the user dismissed it.
  virtual void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) = 0;
  // Processes the pending window messages of the main thread.
  virtual void PumpMessages() = 0;

  // Waits until WakeMainThread is called, a window message arrives or the time-out
  // passes, and handles at most one window message (silent: only messages other threads
  // send, so that a worker's calls into this thread never deadlock a silent run).
  virtual void WaitForWake(bool silent, unsigned timeoutMs) {
    (void)silent;
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs < 1 ? timeoutMs : 1));
  }
  // Ends a WaitForWake of the main thread; from any thread.
  virtual void WakeMainThread() {}

  // The calls below show nothing unless a service implements them (a run without a
  // desktop, tests that need none of them).

  // A message box with the given style bits (icon and buttons as the system numbers
  // them); owner 0: none. Returns the button chosen (1 OK, 2 Cancel, 3 Abort, 4 Retry,
  // 5 Ignore, 6 Yes, 7 No), 0 when the box could not be shown.
  virtual int AskUser(std::uintptr_t owner, const std::string& text, const std::string& caption, unsigned style) {
    (void)owner, (void)text, (void)caption, (void)style;
    return 0;
  }
  // The setup's icon in the notification area, with the hint as its tool tip. A click or
  // double click on it calls the handler of SetTrayClickHandler. False when there is no
  // notification area to hold it.
  virtual bool ShowTrayIcon(const std::string& hint) {
    (void)hint;
    return false;
  }
  virtual void HideTrayIcon() {}
  virtual void SetTrayClickHandler(std::function<void()> handler) { (void)handler; }
  // A balloon at the tray icon (shown first when hidden): icon 1 information, 2 warning,
  // 3 error. `ended` runs on the main thread once the time-out has passed.
  virtual void ShowBalloon(const std::string& title, const std::string& text, int icon, unsigned timeoutMs,
                           std::function<void()> ended) {
    (void)title, (void)text, (void)icon, (void)timeoutMs, (void)ended;
  }
  // The taskbar overlay icon of the window (Windows 7 and later), with the description;
  // off removes it. Failures are ignored.
  virtual void SetTaskbarOverlay(std::uintptr_t window, bool on, const std::string& description) {
    (void)window, (void)on, (void)description;
  }
  // The progress shown on the window's taskbar button: its state, and with a value the
  // part done (completed of total). Failures are ignored.
  virtual void SetTaskbarProgress(std::uintptr_t window, TaskbarState state, bool withValue, std::uint64_t completed,
                                  std::uint64_t total) {
    (void)window, (void)state, (void)withValue, (void)completed, (void)total;
  }
  // One thumbnail button under the window's taskbar preview (Windows 7 and later), with
  // the program's icon and the tip; its click comes to the window as WM_COMMAND with
  // 0x1800 in the high word. Failures are ignored.
  virtual void AddThumbnailButton(std::uintptr_t window, const std::string& tip) { (void)window, (void)tip; }
  // Hides a top-level window.
  virtual void HideWindow(std::uintptr_t window) { (void)window; }
  // Shows a top-level window, brings it to the top; restore: also restores it from the
  // minimised state. Then makes it the foreground window.
  virtual void BringWindowBack(std::uintptr_t window, bool restore) { (void)window, (void)restore; }
};

}  // namespace kem
