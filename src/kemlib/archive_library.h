// The archive library "kem.lib" as the engine imports it at load time: four functions
// exported by name, standard Windows calling convention, ANSI texts. The engine binds them
// through the library's import library; nothing is looked up at run time. This header
// includes nothing of ours: the library and its callers both build on it.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define KEM_ARCHIVE_CALL __stdcall
#else
#define KEM_ARCHIVE_CALL
#endif

extern "C" {

// The selection of ExtractArchive: entry names as listed, and their count.
struct TSZW_TARGETFILES {
  char** names;
  int32_t count;
};
static_assert(sizeof(TSZW_TARGETFILES) == (sizeof(void*) == 4 ? 8 : 16), "a pointer followed by a 32-bit count");

// One listed entry, 48 bytes.
struct ArchiveListEntry {
  const char* name;           // 0: path inside the archive, backslash separated
  uint32_t index;             // 4: position in the archive
  uint64_t size;              // 8: unpacked size
  uint64_t packedSize;        // 16: packed size of the entry's folder on its first entry, else 0
  uint32_t crc;               // 24: CRC32 of the data (0 without data)
  uint32_t flags;             // 28: kArchiveEntry* flags
  uint64_t modificationTime;  // 32: FILETIME, UTC
  uint32_t attributes;        // 40: Windows file attributes
  uint32_t reserved;          // 44
};
static_assert(sizeof(void*) != 4 || sizeof(ArchiveListEntry) == 48, "the entry layout is fixed");

// The library copies a password of at most kArchivePasswordBufferSize - 1 characters into
// the buffer it hands to the password callback.
inline constexpr int kArchivePasswordBufferSize = 1024;
// Non-zero: the buffer holds the password, zero-terminated. Zero: no password.
typedef int32_t(KEM_ARCHIVE_CALL* ArchivePasswordCallback)(char* buffer);
// Entry name, bytes done of the whole extraction (low, high), total bytes (low, high).
// Called before each file, every few megabytes within large files and once at the end.
// Zero stops the extraction, which then fails.
typedef int32_t(KEM_ARCHIVE_CALL* ArchiveProgressCallback)(const char* name, uint32_t doneLow, uint32_t doneHigh,
                                                           uint32_t totalLow, uint32_t totalHigh);
// Entries done and entries selected, after each entry. Zero stops the extraction.
typedef int32_t(KEM_ARCHIVE_CALL* ArchiveEntryProgressCallback)(uint32_t done, uint32_t total);
// Asked when a target file exists: target path, existing size (low, high), existing time
// (low, high), new size (low, high), new time (low, high), entry index. Answers:
// 0 stop, 1 skip, 2 replace, 3 skip this and every later one, 4 replace this and every later one.
typedef int32_t(KEM_ARCHIVE_CALL* ArchiveOverwriteCallback)(const char* path, uint32_t oldSizeLow, uint32_t oldSizeHigh,
                                                            uint32_t oldTimeLow, uint32_t oldTimeHigh,
                                                            uint32_t newSizeLow, uint32_t newSizeHigh,
                                                            uint32_t newTimeLow, uint32_t newTimeHigh, uint32_t index);

// Non-zero on success. mode is always 1; withoutFolders non-zero stores every file directly
// in the destination.
int32_t KEM_ARCHIVE_CALL ExtractArchive(const char* archivePath, int32_t mode, const char* destinationFolder,
                                        const TSZW_TARGETFILES* selection, int32_t withoutFolders,
                                        const char* password, ArchivePasswordCallback passwordCallback,
                                        ArchiveProgressCallback progress, ArchiveEntryProgressCallback entryProgress,
                                        ArchiveOverwriteCallback overwrite);
// A list handle, 0 on failure. The entries stay valid until CloseListArchive.
intptr_t KEM_ARCHIVE_CALL OpenListArchive(const char* archivePath, int32_t reserved1,
                                          ArchivePasswordCallback passwordCallback, int32_t reserved2,
                                          int32_t reserved3, int32_t reserved4, const char* password,
                                          ArchiveListEntry** entries, int32_t* count);
void KEM_ARCHIVE_CALL CloseListArchive(intptr_t handle);
// The code of the last failure (the argument is 0).
int32_t KEM_ARCHIVE_CALL GetLastArchiveError(int32_t reserved);

}  // extern "C"

// Failure codes.
namespace kem::archive_codes {
inline constexpr int32_t kNotFound = 1001;        // the archive file was not found
inline constexpr int32_t kBadSelection = 1002;    // a selected name is not in the archive
inline constexpr int32_t kUnsupported = 1003;     // not a 7z archive, unsupported, wrong or missing password
inline constexpr int32_t kUnsafeName = 1004;      // an entry name would leave the destination folder
inline constexpr int32_t kDataError = 1005;       // damaged archive or CRC mismatch
inline constexpr int32_t kCancelled = 1006;       // a callback stopped the extraction
inline constexpr int32_t kWriteError = 1007;      // an output file or folder could not be written
inline constexpr int32_t kLimit = 1008;           // memory limit exceeded
inline constexpr int32_t kReadError = 1009;       // the archive file could not be read
inline constexpr int32_t kBadArgument = 1010;     // a missing or invalid argument
inline constexpr int32_t kInternal = 1011;        // anything else
}  // namespace kem::archive_codes
