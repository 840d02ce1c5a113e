// Extraction of an archive's entries into a destination folder: selection, path safety,
// overwrite answers, progress and cancellation, folders, empty files, times and attributes.
//
// Names are checked and paths are built from the names as the archive stores them (UTF-16),
// so that no code page conversion can change a name's meaning: a double-byte character whose
// second byte is 0x5C or 0x7C stays one character, and a character the code page lacks does
// not become '?'. Only the texts handed to the caller (entry names, the path of the overwrite
// question) and those it hands in (destination, selection) are in the caller's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/sevenzip/sevenzip.h"

namespace kem::sevenzip {

// Names with more components are refused as unsafe. Each component takes at least two
// characters of a path ("a\"), so a deeper name cannot fit the 260-character path of the
// Windows calls anyway; the bound keeps the work per name small and fixed.
inline constexpr size_t kMaxNameDepth = 128;

// False for a name that could leave the destination folder or reach a device: an absolute
// path, a drive letter or any ':' (alternate data stream), a component that Windows reduces
// to "." or ".." (only dots and spaces), an empty component, characters Windows forbids in
// names, reserved device names (CON, NUL, COM1, LPT1, ... with or without extension), and
// more than kMaxNameDepth components. A single trailing separator (folder entries) is allowed.
bool IsSafeEntryName(std::u16string_view name);

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // Closes the file and applies the entry's modification time and attributes.
  virtual void Commit(const Entry& entry) = 0;
  // Closes and deletes the incomplete file.
  virtual void Abort() noexcept = 0;
};

// The file system below the destination, addressed by UTF-16 paths. Failures throw
// ArchiveError(kWriteError).
class OutputFolder {
 public:
  struct Existing {
    bool exists = false;
    bool isDirectory = false;
    uint64_t size = 0;
    uint64_t modificationTime = 0;  // FILETIME
  };
  virtual ~OutputFolder() = default;
  virtual char16_t Separator() const = 0;
  // The destination as the folder's calls will see it (absolute where the system would
  // resolve a relative path itself), without a trailing separator unless it is a root.
  virtual std::u16string Root(const std::u16string& destination) = 0;
  // The longest path, in UTF-16 units, that the folder's calls take for a file and for a
  // folder. Longer paths are refused before anything is written.
  virtual size_t PathLimit(bool directory) const = 0;
  virtual Existing Query(const std::u16string& path) = 0;
  // Creates the folder and whichever of its parents are missing, one level at a time
  // (no recursion, whatever the depth).
  virtual void CreateDirectories(const std::u16string& path) = 0;
  // Creates or replaces the file.
  virtual std::unique_ptr<OutputFile> Create(const std::u16string& path) = 0;
  virtual void FinishDirectory(const std::u16string& path, const Entry& entry) = 0;
};

// The local file system through POSIX calls, paths in UTF-8 (native builds and tests).
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
  std::u16string destination;
  // Entry names as listed (Entry::name, any separator, any letter case); no value means
  // every entry. Matched in linear time.
  std::optional<std::vector<std::string>> selection;
  // Store every file directly in the destination, without the folders of its path.
  bool withoutFolders = false;
  // Called before each file, every few megabytes within large files, and once at the end:
  // entry name, bytes done and total bytes of the selection. False cancels.
  std::function<bool(const std::string& name, uint64_t done, uint64_t total)> progress;
  // Called after each entry: entries done, entries selected. False cancels.
  std::function<bool(uint32_t done, uint32_t total)> entryProgress;
  // Asked when a target file exists (the path in the caller's text); without it, files are
  // replaced.
  std::function<OverwriteAnswer(const std::string& path, const Entry& entry, const OutputFolder::Existing&)> overwrite;
  // The caller's text: from UTF-16 (paths handed out) and to UTF-16 (the selection, matched
  // against the listed names). Windows-1252 when empty.
  NameConverter toCallerText;
  PasswordConverter fromCallerText;
};

// Throws ArchiveError: kSelection, kUnsafeName and kWriteError for a path over the folder's
// limit (both before anything is written), kCancelled, kWriteError, and the reader's errors.
// Incomplete files are removed. Entries that land on the same target (same name ignoring
// letter case and separator form): the last one in the archive is the one extracted.
void ExtractToFolder(Archive& archive, OutputFolder& folder, const ExtractRequest& request);

}  // namespace kem::sevenzip
