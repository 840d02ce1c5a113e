// The two start-up windows: the splash (only with "setup.bmp") and the preparing window
// with its progress bar.
#pragma once

#include <memory>
#include <string>

namespace kem::platform {

class StartupWindows {
 public:
  StartupWindows();
  ~StartupWindows();
  StartupWindows(const StartupWindows&) = delete;
  StartupWindows& operator=(const StartupWindows&) = delete;

  // Creates and shows the windows. The splash appears when the bitmap path names an
  // existing file; the preparing window is placed beside it, or centred without it.
  void Show(const std::string& splashBitmapPath, const std::string& caption, const std::string& label);
  bool Created() const;
  void SetProgressRange(int maximum);  // range 0..maximum, position 1
  void Advance();
  // The preparing window, owner of start-up message boxes; null when not created.
  void* Owner() const;
  // Hides and frees both windows.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kem::platform
