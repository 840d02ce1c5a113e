// The support archive (base name + ".res"): a 7z archive of the support folder's files,
// packed with Debian's 7zz so that the same files always give the same bytes (fixed file
// times and permissions, names in sorted order, one thread, fixed method). The dictionary
// is held at 16 MB: packing then takes about 200 MB for files of any size, and the 32-bit
// engine needs little to unpack. Files are copied in pieces, never held whole.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kembuild/compile_setup.h"

namespace kem::builder {

// Writes the archive to archivePath, staging the files under workDir (which it creates
// and leaves behind for the caller to remove). The 7zz program is taken from the
// environment variable KEM_7ZZ, else "7zz" on the PATH. Raises std::runtime_error.
void WriteSupportArchive(const std::vector<ArchiveEntry>& files, const std::filesystem::path& archivePath,
                         const std::filesystem::path& workDir);

// Copies a file in pieces of 1 MB; failures are std::runtime_error naming the file by name
// and the cause ("the disk is full" for a full disk).
void CopyFileInPieces(const std::filesystem::path& source, const std::filesystem::path& target,
                      const std::string& name);

// The process id of the packing tool while it runs, else 0.
long RunningToolProcess() noexcept;

// The bytes of an empty 7z archive (what a project without support files gets).
std::string EmptySevenZipArchive();

}  // namespace kem::builder
