// What the engine's archive operations (media/archive_operations) need from Windows besides
// kem.lib itself: the listing's date text and the free space of the destination's volume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kem::platform {

// "YYYY-MM-DD hh:mm:ss" in local time, to two seconds; empty when the time cannot be shown.
std::string ArchiveDateText(uint64_t fileTime);

struct DiskSpace {
  uint64_t freeBytes = 0;     // available to the caller
  uint64_t clusterBytes = 0;  // allocation unit; a file takes whole clusters
};

// The space on the volume of the folder (or of its nearest existing parent, for a folder
// yet to be made); nothing when the system cannot tell. The folder is an ANSI path.
std::optional<DiskSpace> QueryDiskSpace(const std::string& folder);

// Replaces the system's answer, for tests; nullptr restores it. Returns the one replaced.
using DiskSpaceQuery = std::optional<DiskSpace> (*)(const std::string& folder);
DiskSpaceQuery SetDiskSpaceQuery(DiskSpaceQuery query);

}  // namespace kem::platform
