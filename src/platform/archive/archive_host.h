// The Windows side of the engine's archive operations (media/archive_operations): the
// listing's date text and the free space of the destination's volume.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/archive_operations.h"

namespace kem::platform {

// "YYYY-MM-DD hh:mm:ss" in local time, to two seconds; empty when the time cannot be shown.
std::string ArchiveDateText(uint64_t fileTime);

using DiskSpace = ArchiveHost::DiskSpace;

// The space on the volume of the folder (or of its nearest existing parent, for a folder
// yet to be made); nothing when the system cannot tell. The folder is an ANSI path.
std::optional<DiskSpace> QueryDiskSpace(const std::string& folder);

// The archive host over the two calls above.
std::unique_ptr<ArchiveHost> CreateArchiveHost();

}  // namespace kem::platform
