// The engine's archive operations over kem.lib: list and extract, with the default
// callbacks, the one-time password hand-out and the error texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kemlib/archive_library.h"

namespace kem {

// What the archive operations need of the machine besides kem.lib: the listing's date text
// and the free space of the destination's volume. The Windows half is
// platform/archive/archive_host.
class ArchiveHost {
 public:
  struct DiskSpace {
    uint64_t freeBytes = 0;     // available to the caller
    uint64_t clusterBytes = 0;  // allocation unit; a file takes whole clusters
  };
  virtual ~ArchiveHost() = default;
  // "YYYY-MM-DD hh:mm:ss" in local time, to two seconds; empty when the time cannot be shown.
  virtual std::string DateText(uint64_t fileTime) = 0;
  // The space on the volume of the folder (or of its nearest existing parent, for a folder
  // yet to be made); nothing when the system cannot tell. The folder is an ANSI path.
  virtual std::optional<DiskSpace> FreeSpace(const std::string& folder) = 0;
};

// Texts of a failed listing, by the library's failure code.
inline constexpr const char* kArchiveNotFoundText = "The archive file was not found";
inline constexpr const char* kArchiveIllegalPathText = "Illegal path used in a wildcard expression";
inline constexpr const char* kArchiveCannotOpenText =
    "The archive cannot be opened: unsupported archive or incorrect password";
inline constexpr const char* kArchiveGeneralFailureText = "General failure opening archive";
std::string ArchiveListErrorText(int32_t code);

// Receivers of a listing; each one given is cleared and gets one text per entry.
struct ArchiveListReceivers {
  std::vector<std::string>* names = nullptr;
  std::vector<std::string>* sizes = nullptr;        // the 64-bit number at offset 8, decimal
  std::vector<std::string>* packedSizes = nullptr;  // the 64-bit number at offset 16, decimal
  std::vector<std::string>* dates = nullptr;        // local time, to two seconds: "YYYY-MM-DD hh:mm:ss"
  std::vector<std::string>* attributes = nullptr;   // the 32-bit number at offset 40, decimal
};

// Lists the archive. Without a password callback the engine's own is used, loaded with the
// password. False with the error text on failure.
bool ListArchive(ArchiveHost& host, const std::string& archivePath, const std::string& password,
                 ArchivePasswordCallback passwordCallback, const ArchiveListReceivers& receivers,
                 std::string& errorText);

// Callbacks of an extraction; those left empty are the engine's defaults.
struct ArchiveExtractCallbacks {
  ArchivePasswordCallback password = nullptr;
  ArchiveProgressCallback progress = nullptr;
  ArchiveEntryProgressCallback entryProgress = nullptr;
  ArchiveOverwriteCallback overwrite = nullptr;
};

// Extracts the named entries (every entry when entryNames is null; the archive is then
// listed first, and the library gets no list). overwrite: replace existing files; arrangement: keep the folders of the
// entries' paths. False with the error text on failure: a listing text, or "#" + code.
bool ExtractFromArchive(ArchiveHost& host, const std::string& archivePath, const std::string& password,
                        const std::string& destinationFolder, const ArchiveExtractCallbacks& callbacks,
                        const std::vector<std::string>* entryNames, bool overwrite, bool arrangement,
                        std::string& errorText);

// Unpacks the whole support archive into the folder: no password, default callbacks,
// overwrite and arrangement flags set. The listed sizes are checked against the free space
// of the folder's volume first ("#1007" when they do not fit, nothing written). False with
// the error text on failure.
bool ExtractSupportArchive(ArchiveHost& host, const std::string& archivePath, const std::string& destinationFolder,
                           std::string& errorText);

}  // namespace kem
