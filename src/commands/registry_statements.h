// The registry and system queries: registry values as text, the Windows version, the
// system settings by code and the special folders by code.
#pragma once

#include <cstdint>
#include <string>

#include "engine/services/commands.h"

namespace kem {

class StatementTable;

// A value as "Check Registry" shows it (the markers for what could not be read).
std::string RegistryValueText(RegistryReadResult result, const RegistryValue& value);
// The name of "Get OS or SP Level" and the service pack level.
std::string OsName(const OsVersionInfo& version);
int ServicePackLevel(const std::string& text);

void RegisterRegistryStatements(StatementTable& table, RegistryQueryService& registry, SystemQueryService& system,
                                CommandFileService& files);

}  // namespace kem
