// Network names on Windows. Free of <windows.h>.
#pragma once

#include <memory>

#include "engine/services/network.h"

namespace kem::platform {

std::unique_ptr<NetworkService> CreateNetworkService();

}  // namespace kem::platform
