// Files and folders on Windows: the launcher's helpers and the file service. Free of
// <windows.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/services/files.h"

namespace kem::platform {

bool FileExists(const std::string& path);    // an existing file, not a folder
bool FolderExists(const std::string& path);

// Creates the folder that must be new (see FolderClaim).
FolderClaim ClaimNewFolder(const std::string& path);

// Ownership of a support folder: the file FOLDER + ".lock" beside it, held open without
// sharing for as long as the run owns the folder. A setup that ends normally deletes both;
// after a crash or a kill both stay, and the next setup's sweep (RemoveStaleSupportFolders)
// finds the lock free and removes them. A folder without a lock file is never touched: it
// is not known to be ours.
class SupportFolderLock {
 public:
  SupportFolderLock() = default;
  ~SupportFolderLock();
  SupportFolderLock(const SupportFolderLock&) = delete;
  SupportFolderLock& operator=(const SupportFolderLock&) = delete;

  // Creates the folder that must be new, then takes its lock. When the lock cannot be
  // taken (a sweep holds it, or a name of that form is in the way) the folder just
  // created is removed again and the claim counts as Failed.
  FolderClaim Claim(const std::string& folder);
  bool Held() const { return handle_ != nullptr; }
  // Lets the lock go; the lock file is deleted once its folder is gone.
  void Release();

 private:
  void* handle_ = nullptr;
  std::wstring folder_;
};

// Removes the support folders in tempFolder ("kem" + N with "kem" + N + ".lock" beside it)
// whose lock no running setup holds, and lock files left without their folder. Folders
// held by a running setup, and folders without a lock file, stay. At most `limit` folders
// are removed per call, so a start-up never spends long on other runs' leftovers. Returns
// the number removed.
int RemoveStaleSupportFolders(const std::string& tempFolder, int limit = 32);
// Creates the folder and its parents when missing.
void EnsureFolder(const std::string& path);
std::uint64_t FileSize(const std::string& path);  // raises when the file cannot be opened
// Reads the file from the offset to its end.
std::string ReadFileFrom(const std::string& path, std::uint64_t offset);
// Copies with overwrite and sets the copy's attributes to normal; false when the source
// cannot be copied.
bool CopyFileNormal(const std::string& from, const std::string& to);
// Deletes the folder's contents recursively; a read-only attribute is cleared only where
// it stops a removal. Links (reparse points) are removed themselves, never followed and
// never have their target's attributes changed.
void DeleteFolderContents(const std::string& folder);
bool RemoveFolder(const std::string& folder);
// Three sweeps over the contents, then the folder itself.
void RemoveFolderTree(const std::string& folder);

// The system's temporary folder (also one longer than MAX_PATH) as an ANSI path that
// names it exactly, ending with a backslash: the long path when the code page can hold it
// and it leaves room for the support folder, otherwise its short (8.3) form, otherwise the
// Windows folder's "Temp\". Never a drive root. Raises std::runtime_error when no usable
// folder is found.
std::string SystemTempFolder();

// The full form of a path (relative to the current folder); the path itself when the
// system cannot give one.
std::string FullPath(const std::string& path);

std::unique_ptr<FileService> CreateFileService();

}  // namespace kem::platform
