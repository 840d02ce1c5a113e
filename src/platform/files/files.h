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
// Creates the folder and its parents when missing.
void EnsureFolder(const std::string& path);
std::uint64_t FileSize(const std::string& path);  // raises when the file cannot be opened
// Reads the file from the offset to its end.
std::string ReadFileFrom(const std::string& path, std::uint64_t offset);
// Copies with overwrite and sets the copy's attributes to normal; false when the source
// cannot be copied.
bool CopyFileNormal(const std::string& from, const std::string& to);
// Deletes the folder's contents recursively, clearing attributes first. Links (reparse
// points) are removed themselves, never followed and never have their target's
// attributes changed.
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
