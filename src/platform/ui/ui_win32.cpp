#include "platform/ui/ui.h"

#include <windows.h>

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

class Win32UiService final : public UiService {
 public:
  void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) override {
    platform::ShowErrorBox(reinterpret_cast<void*>(owner), text, caption);
  }
  void PumpMessages() override { platform::PumpMessages(); }
};

}  // namespace

std::unique_ptr<UiService> CreateUiService() { return std::make_unique<Win32UiService>(); }

}  // namespace kem::platform
