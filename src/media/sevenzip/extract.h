// Extraction of an archive's entries into a destination folder: selection, path safety,
// overwrite answers, progress and cancellation, folders, empty files, times and attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/sevenzip/sevenzip.h"

namespace kem::sevenzip {

// False for a name that could leave the destination folder or reach a device: an absolute
// path, a drive letter or any ':' (alternate data stream), a component that Windows reduces
// to "." or ".." (only dots and spaces), an empty component, characters Windows forbids in
// names, and reserved device names (CON, NUL, COM1, LPT1, ... with or without extension).
bool IsSafeEntryName(std::string_view name);

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // Closes the file and applies the entry's modification time and attributes.
  virtual void Commit(const Entry& entry) = 0;
  // Closes and deletes the incomplete file.
  virtual void Abort() noexcept = 0;
};

// The file system below the destination. Failures throw ArchiveError(kWriteError).
class OutputFolder {
 public:
  struct Existing {
    bool exists = false;
    bool isDirectory = false;
    uint64_t size = 0;
    uint64_t modificationTime = 0;  // FILETIME
  };
  virtual ~OutputFolder() = default;
  virtual char Separator() const = 0;
  virtual Existing Query(const std::string& path) = 0;
  virtual void CreateDirectories(const std::string& path) = 0;
  // Creates or replaces the file.
  virtual std::unique_ptr<OutputFile> Create(const std::string& path) = 0;
  virtual void FinishDirectory(const std::string& path, const Entry& entry) = 0;
};

// The local file system through the C++ library (native builds and tests).
std::unique_ptr<OutputFolder> LocalOutputFolder();

// Answers to an existing target file.
enum class OverwriteAnswer : int {
  kCancel = 0,
  kSkip = 1,
  kOverwrite = 2,
  kSkipAll = 3,
  kOverwriteAll = 4,
};

struct ExtractRequest {
  std::string destination;
  // Entry names as listed (any separator, any letter case); no value means every entry.
  std::optional<std::vector<std::string>> selection;
  // Store every file directly in the destination, without the folders of its path.
  bool withoutFolders = false;
  // Called before each file, every few megabytes within large files, and once at the end:
  // entry name, bytes done and total bytes of the selection. False cancels.
  std::function<bool(const std::string& name, uint64_t done, uint64_t total)> progress;
  // Called after each entry: entries done, entries selected. False cancels.
  std::function<bool(uint32_t done, uint32_t total)> entryProgress;
  // Asked when a target file exists; without it, files are replaced.
  std::function<OverwriteAnswer(const std::string& path, const Entry& entry, const OutputFolder::Existing&)> overwrite;
};

// Throws ArchiveError: kSelection, kUnsafeName (before anything is written), kCancelled,
// kWriteError, and the reader's errors. Incomplete files are removed.
void ExtractToFolder(Archive& archive, OutputFolder& folder, const ExtractRequest& request);

}  // namespace kem::sevenzip
