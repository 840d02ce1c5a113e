// Windows and dialogs on Windows: message boxes, the message pump and the UI service.
// Free of <windows.h>; window handles travel as void* or std::uintptr_t.
#pragma once

#include <memory>
#include <string>

#include "engine/services/ui.h"

namespace kem::platform {

// Message box with the error icon and an OK button.
void ShowErrorBox(void* owner, const std::string& text, const std::string& caption);

// Processes pending window messages of this thread.
void PumpMessages();

std::unique_ptr<UiService> CreateUiService();

}  // namespace kem::platform
