// The installer cache's machine on Windows. Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/installer_cache.h"

namespace kem::platform {

std::unique_ptr<InstallerCacheService> CreateInstallerCacheService();

}  // namespace kem::platform
