// The names the engine's variables may not take into the installer session: Windows
// Installer's own properties (and the empty name). A reserved variable never reaches the
// property file, so a script variable such as ALLUSERS or REMOVE cannot override what the
// session's command line sets.
#pragma once

#include <cstddef>
#include <string_view>

namespace kem {

// Equal to a reserved name without regard to letter case, or empty.
bool IsReservedName(std::string_view name);
std::size_t ReservedNameCount();

}  // namespace kem
