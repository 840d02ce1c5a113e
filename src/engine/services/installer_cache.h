// The machine as the installer cache sees it: the registry values of the product's
// registration, the application data folders, the cache folder's files, its security and
// compression, and the installed product's package code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kem {

class InstallerCacheService {
 public:
  virtual ~InstallerCacheService() = default;

  // --- Registry (machine: HKEY_LOCAL_MACHINE, else HKEY_CURRENT_USER; 32-bit view) ------
  virtual bool KeyExists(bool machine, const std::string& key) = 0;
  // A string value (name empty: the key's default value); nullopt when missing.
  virtual std::optional<std::string> ReadString(bool machine, const std::string& key, const std::string& name) = 0;
  // Write a value, creating the key when missing; false when refused.
  virtual bool WriteString(bool machine, const std::string& key, const std::string& name,
                           const std::string& value) = 0;
  virtual bool WriteDword(bool machine, const std::string& key, const std::string& name, std::uint32_t value) = 0;
  // Deletes the key with its sub-keys; nothing when it does not exist.
  virtual void DeleteKey(bool machine, const std::string& key) = 0;

  // --- Folders (each with a trailing backslash; empty when the system has none) ----------
  virtual std::string CommonAppDataFolder() = 0;
  virtual std::string LocalAppDataFolder() = 0;
  virtual std::string RoamingAppDataFolder() = 0;
  virtual std::string DesktopFolder() = 0;

  // --- The cache folder ------------------------------------------------------------------
  // Creates the folder and its missing parents; created receives the folders this call
  // made, outermost first. False when the folder does not exist afterwards.
  virtual bool CreateFolders(const std::string& folder, std::vector<std::string>& created) = 0;
  // Removes an empty folder; false when it is not empty or cannot be removed.
  virtual bool RemoveEmptyFolder(const std::string& folder) = 0;
  // Makes an existing folder one that only administrators and the system can change
  // (everyone else reads), replacing inherited entries. False when refused.
  virtual bool ProtectFolder(const std::string& folder) = 0;
  // Creates a new folder (its missing parents as CreateFolders does) that carries those
  // permissions from its first moment, so nobody can put a file into it in between. False
  // when it cannot be created so.
  virtual bool CreateProtectedFolder(const std::string& folder) = 0;
  // Whether the folder is owned by the administrators or the system (a standard user
  // cannot give a folder such an owner).
  virtual bool OwnedByAdministrators(const std::string& folder) = 0;
  // The path is a link (junction, symbolic link or other reparse point).
  virtual bool IsLink(const std::string& path) = 0;
  // NTFS compression of a folder on or off; failures are ignored.
  virtual void SetCompression(const std::string& folder, bool on) = 0;
  virtual void SetHidden(const std::string& folder) = 0;
  // Copies with overwrite; the target's attributes are set to normal before and after.
  virtual bool CopyOver(const std::string& from, const std::string& to) = 0;
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // Writes a new file beside the path and renames it over the path, so a reader finds the
  // old or the new contents, never a part.
  virtual bool WriteReplacing(const std::string& path, const std::string& bytes) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Names (not paths) of the files in folder matching the pattern ("*.dat"), and of its
  // sub-folders.
  virtual std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) = 0;
  virtual std::vector<std::string> ListFolders(const std::string& folder) = 0;
  // Deletes the folder's contents and the folder; links are removed, never followed.
  virtual void RemoveTree(const std::string& folder) = 0;
  virtual bool MoveFolder(const std::string& from, const std::string& to) = 0;
  // Deletes the file or empty folder at the next restart.
  virtual void DeleteAtRestart(const std::string& path) = 0;
  // The short (8.3) form of an existing path; the path itself when there is none.
  virtual std::string ShortPath(const std::string& path) = 0;

  // --- Windows Installer ------------------------------------------------------------------
  // The installed product's PackageCode; empty when it cannot be read.
  virtual std::string ProductPackageCode(const std::string& productCode) = 0;
};

}  // namespace kem
