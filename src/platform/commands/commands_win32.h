// The Windows halves of the command services (engine/services/commands.h).
#pragma once

#include <memory>

#include "engine/services/commands.h"

namespace kem::platform {

std::unique_ptr<CommandFileService> CreateCommandFileService();
std::unique_ptr<RegistryQueryService> CreateRegistryQueryService();
std::unique_ptr<SystemQueryService> CreateSystemQueryService();
std::unique_ptr<ProgramService> CreateProgramService();

}  // namespace kem::platform
