// kem.lib's four calls over the portable reader: argument checks, the password hand-out,
// the callbacks, the listing handles and the last failure code. The system side (files,
// folders and the process code page) comes from a LibraryHost, which the DLL's Windows
// entry file (kemlib_win32.cpp) implements; nothing here includes a Windows header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"
#include "kemlib/archive_library.h"

namespace kem::kemlib {

class LibraryHost {
 public:
  virtual ~LibraryHost() = default;
  // The process code page: listed names, names in callbacks, selections, paths, passwords.
  virtual std::string ToAnsi(std::u16string_view text) = 0;
  virtual std::u16string FromAnsi(std::string_view text) = 0;
  // Throws ArchiveError (kNotFound, kReadError).
  virtual std::unique_ptr<sevenzip::InputFile> OpenArchive(const std::u16string& path) = 0;
  virtual std::unique_ptr<sevenzip::OutputFolder> Destination() = 0;
};

// The exports' work; failures set the code that LastError returns.
int32_t Extract(LibraryHost& host, const char* archivePath, const char* destinationFolder,
                const TSZW_TARGETFILES* selection, int32_t withoutFolders, const char* password,
                ArchivePasswordCallback passwordCallback, ArchiveProgressCallback progress,
                ArchiveEntryProgressCallback entryProgress, ArchiveOverwriteCallback overwrite);
intptr_t OpenList(LibraryHost& host, const char* archivePath, ArchivePasswordCallback passwordCallback,
                  const char* password, ArchiveListEntry** entries, int32_t* count);
void CloseList(intptr_t handle);
int32_t LastError();

}  // namespace kem::kemlib
