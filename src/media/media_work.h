// Helpers shared by media copying and extraction.
#pragma once

#include <cstdint>
#include <string>

#include "media/media_files.h"

namespace kem {

// The last element of a path.
std::string FileNamePart(const std::string& path);

// percent = done * 100 / total + 1, at most 100 (100 for an empty total).
std::int64_t ProgressPercent(std::uint64_t done, std::uint64_t total);

// Copies the file under a temporary name beside the target and renames it into place,
// so that the target exists only once it is whole. Never replaces an existing target.
bool CopyWhole(MediaFileService& files, const std::string& from, const std::string& to);
bool CopyWholeWide(MediaFileService& files, const std::u16string& from, const std::u16string& to);

// Copies the archive into folder under its own name (the folder created, compressed with
// compress), unless a file of the same size is there already.
bool CopyWebBlock(MediaFileService& files, const std::string& archive, const std::string& folder, bool compress);

}  // namespace kem
