// The per-run support folder: the first "kem" + N in the temporary folder that this run
// creates itself.
#pragma once

#include <functional>
#include <string>

#include "engine/services/files.h"

namespace kem {

// Upper bound of the numbers tried, and of folders in a row that cannot be created for
// another reason than existing already.
inline constexpr int kMaxSupportFolders = 100000;
inline constexpr int kMaxFailedSupportFolders = 1000;

// Claims tempFolder + "kem" + N (N from 1) through claim and returns it with a trailing
// backslash. A name that exists, or that cannot be created (for example while a folder of
// that name is still being deleted), moves on to the next N. Raises std::runtime_error
// past the bounds.
std::string ClaimSupportFolder(const std::string& tempFolder,
                               const std::function<FolderClaim(const std::string& path)>& claim);

}  // namespace kem
