// The user's shell and locale on Windows. Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/shell.h"

namespace kem::platform {

std::unique_ptr<ShellService> CreateShellService();

}  // namespace kem::platform
