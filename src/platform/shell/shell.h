// The user's shell and locale on Windows. Free of <windows.h>.
#pragma once

#include <memory>
#include <string>

#include "engine/services/shell.h"

namespace kem::platform {

// A shell folder by its CSIDL number, with a trailing backslash; empty when the system
// has none.
std::string ShellFolder(int csidl);

std::unique_ptr<ShellService> CreateShellService();

}  // namespace kem::platform
