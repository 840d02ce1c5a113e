// Files and folders. Paths are ANSI texts in the setup's code page; folders end with a
// backslash.
#pragma once

#include <optional>
#include <string>

namespace kem {

// The outcome of creating a folder that must be new: created by this call; something of
// that name exists already; any other failure (for example a folder of that name still
// being deleted).
enum class FolderClaim { Created, Exists, Failed };

class FileService {
 public:
  virtual ~FileService() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  // Whether the path lies on a fixed disk.
  virtual bool IsFixedDrive(const std::string& path) = 0;
  // Creates (or truncates) an empty file; false on failure.
  virtual bool CreateEmptyFile(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Deletes the folder's contents recursively (read-only attributes cleared where they
  // stop a removal; links are removed, never followed) and the folder.
  virtual void RemoveFolderTree(const std::string& folder) = 0;
  // A unique temporary file name in folder with the prefix; the system creates the empty
  // file. Empty when the system refuses.
  virtual std::string CreateTempFileName(const std::string& folder, const std::string& prefix) = 0;
  // The short (8.3) form of an existing path; nullopt when the system cannot give it.
  virtual std::optional<std::string> ShortPathName(const std::string& path) = 0;
  // The name as stored on disk of the file or folder path (its last element); nullopt
  // when nothing by that name exists.
  virtual std::optional<std::string> StoredName(const std::string& path) = 0;
  // Switches the main thread's WOW64 file-system redirection off (true) or back on
  // (false); nests; does nothing where there is no redirection.
  virtual void SetFileSystemRedirectionOff(bool off) = 0;
};

}  // namespace kem
