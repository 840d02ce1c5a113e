// The registry on Windows: the program's compatibility marks and the registry service.
// Free of <windows.h>.
#pragma once

#include <memory>
#include <string>

#include "engine/services/registry.h"

namespace kem::platform {

// Marks the program as a host application (Windows 7 and later) or records it as
// compatible for the program compatibility assistant (Windows Vista). Never fails.
void RegisterProgramCompatibility(const std::string& programFileName, const std::string& programPath);

std::unique_ptr<RegistryService> CreateRegistryService();

}  // namespace kem::platform
