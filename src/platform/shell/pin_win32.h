// Shortcut pinning on Windows: the shell link's property store for app IDs, the shell's
// automation object for the context-menu verbs, and the verb names from the shell's
// language resources (loaded as data). Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/shell.h"

namespace kem::platform {

std::unique_ptr<ShortcutPinService> CreateShortcutPinService();

}  // namespace kem::platform
