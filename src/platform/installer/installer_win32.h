// Windows Installer on Windows: msi.dll loaded from the system folder on first use.
// Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/installer.h"

namespace kem::platform {

std::unique_ptr<InstallerService> CreateInstallerService();

}  // namespace kem::platform
