// Writing the queued Property rows into the installer database before a session, and the
// new identity of an instance transform.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "installer/property_file.h"

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

// What the session thread hands the installer before it runs: the property file, written
// private (removed when File goes), its path queued as the Property row
// kPropertyFileProperty, and the queued rows committed (not for a patch). Silent and
// Title come from the variables for the installer's message boxes.
struct SessionInputs {
  std::unique_ptr<PropertyFile> File;
  bool Silent = false;
  std::string Title;
};
// Raises StatementError when the property file cannot be created (nothing is committed
// then), or when a queued value cannot be held by the database.
SessionInputs PrepareSessionInputs(EngineContext& ctx, InstallerService& installer, SystemService& system,
                                   const PropertyFileSettings& settings, const std::string& package,
                                   const std::function<bool(const std::string&)>& pathExists);

}  // namespace kem
