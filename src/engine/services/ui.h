// Windows and dialogs: what the engine shows the user.
#pragma once

#include <cstdint>
#include <string>

namespace kem {

class UiService {
 public:
  virtual ~UiService() = default;
  // A message box with the error icon and an OK button. owner is a window handle
  // (0: none). Returns when the user dismissed it.
  virtual void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) = 0;
  // Processes the pending window messages of the main thread.
  virtual void PumpMessages() = 0;
};

}  // namespace kem
