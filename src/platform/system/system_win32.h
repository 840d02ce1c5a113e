// The system service on Windows: processes, services, registry deletion, windows, disk
// space, identifiers and files for the system-change statements. Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/system.h"

namespace kem::platform {

std::unique_ptr<SystemService> CreateSystemService();

}  // namespace kem::platform
