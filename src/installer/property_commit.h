// Writing the queued Property rows into the installer database before a session, and the
// new identity of an instance transform.
#pragma once

#include <string>
#include <string_view>

namespace kem {

class EngineContext;
class InstallerService;
class SystemService;

// A queued value as it goes between single quotes into SQL: every "$NEWLINE$" (any letter
// case) a CR LF, then every single quote "$QUOTE$" (the database's actions restore them).
std::string PropertyRowValue(std::string_view value);

// Commits the queued rows into the package: each row is inserted and then updated, so
// the last row of a name decides its value. After "Transform Instance" the component
// codes are renewed once per run, and the last row carries the new product code and
// revision. The queue starts empty again afterwards.
//
// Raises StatementError, before anything is written, when a value holds characters the
// database's code page cannot hold. Returns false (queue kept) when the package cannot be
// opened or committed.
bool CommitPropertyRows(EngineContext& ctx, InstallerService& installer, SystemService& system,
                        const std::string& package);

}  // namespace kem
