// The Windows side of the engine's archive operations.
#include "platform/archive/archive_host.h"

#include <windows.h>

#include <cstdio>

namespace kem::platform {

namespace {

std::optional<DiskSpace> SystemDiskSpace(const std::string& folder) {
  // Wide, so that a double-byte character ending in 0x5C is not taken for a separator.
  int n = MultiByteToWideChar(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()), nullptr, 0);
  std::wstring path(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()), path.data(), n);
  // A folder still to be made has no space of its own: ask its nearest existing parent.
  for (;;) {
    ULARGE_INTEGER available, total, free;
    if (!path.empty() && GetDiskFreeSpaceExW(path.c_str(), &available, &total, &free)) {
      DiskSpace space;
      space.freeBytes = available.QuadPart;
      space.clusterBytes = 4096;
      DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
      if (path.size() >= 3 && path[1] == L':' &&
          GetDiskFreeSpaceW(path.substr(0, 3).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
          sectorsPerCluster * bytesPerSector > 0)
        space.clusterBytes = uint64_t{sectorsPerCluster} * bytesPerSector;
      return space;
    }
    size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut > 0) {
      path.resize(cut);
    } else if (path != L".") {
      path = L".";  // a relative name without a folder: the current folder's volume
    } else {
      return std::nullopt;
    }
  }
}

}  // namespace

std::string ArchiveDateText(uint64_t fileTime) {
  FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 15u,
                date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
  return text;
}

std::optional<DiskSpace> QueryDiskSpace(const std::string& folder) { return SystemDiskSpace(folder); }

namespace {

class SystemArchiveHost : public ArchiveHost {
 public:
  std::string DateText(uint64_t fileTime) override { return ArchiveDateText(fileTime); }
  std::optional<DiskSpace> FreeSpace(const std::string& folder) override { return SystemDiskSpace(folder); }
};

}  // namespace

std::unique_ptr<ArchiveHost> CreateArchiveHost() { return std::make_unique<SystemArchiveHost>(); }

}  // namespace kem::platform
