// Helpers shared by media copying and extraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/media_files.h"

namespace kem {

// A file below a folder, found by CollectTree.
struct TreeFile {
  std::string Source;               // its path, in names the code page can address
  std::string RelativeFolder;       // below the walked folder: empty or ending with a backslash
  std::string Name;                 // its name (the short form when the code page cannot spell it)
  std::u16string WideRelativeFolder;  // the relative folder in the entries' own names
  std::u16string WideName;          // its own name when the code page cannot spell it
  bool Wide = false;                // the name or a folder above it needs the wide forms
};

// Every file under folder (with a trailing backslash), all depths, folders before files as
// listed; links are neither entered nor listed.
std::vector<TreeFile> CollectTree(MediaFileService& files, const std::string& folder);

// The file's place below the target folder, through the wide forms.
std::u16string WideTarget(MediaFileService& files, const std::string& targetFolder, const TreeFile& file);
std::u16string WideTargetFolder(MediaFileService& files, const std::string& targetFolder, const TreeFile& file);

// The last element of a path.
std::string FileNamePart(const std::string& path);

// percent = done * 100 / total + 1, at most 100 (100 for an empty total).
std::int64_t ProgressPercent(std::uint64_t done, std::uint64_t total);

// Copies the file under a temporary name beside the target and renames it into place,
// so that the target exists only once it is whole. Never replaces an existing target.
bool CopyWhole(MediaFileService& files, const std::string& from, const std::string& to);
// The same for a target that the caller has just found missing.
bool CopyWholeAbsent(MediaFileService& files, const std::string& from, const std::string& to);
bool CopyWholeWide(MediaFileService& files, const std::u16string& from, const std::u16string& to);

// Copies the archive into folder under its own name (the folder created, compressed with
// compress), unless a file of the same size is there already.
bool CopyWebBlock(MediaFileService& files, const std::string& archive, const std::string& folder, bool compress);

}  // namespace kem
