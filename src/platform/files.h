// File and folder services over the ANSI entry points.
#pragma once

#include <cstdint>
#include <string>

namespace kem::platform {

bool FileExists(const std::string& path);    // an existing file, not a folder
bool FolderExists(const std::string& path);
// Creates the folder; true only when this call created it (false when anything by that
// name exists already). Raises std::runtime_error for any other failure.
bool ClaimNewFolder(const std::string& path);
// Creates the folder and its parents when missing.
void EnsureFolder(const std::string& path);
std::uint64_t FileSize(const std::string& path);  // raises when the file cannot be opened
// Reads the file from the offset to its end.
std::string ReadFileFrom(const std::string& path, std::uint64_t offset);
// Copies with overwrite and sets the copy's attributes to normal; false when the source
// cannot be copied.
bool CopyFileNormal(const std::string& from, const std::string& to);
// Deletes the folder's contents recursively, clearing attributes first.
void DeleteFolderContents(const std::string& folder);
bool RemoveFolder(const std::string& folder);

}  // namespace kem::platform
