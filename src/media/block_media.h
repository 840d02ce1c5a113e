// Media copying and the unpacking of web media blocks: the recursive folder transfer, the
// copy of the setup's own data into the data folder, and the retry loop around unpacking a
// downloaded block. The file work runs on a worker thread while the main thread waits as it
// does for every long statement.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "media/media_files.h"

namespace kem {

class Interpreter;

// Extraction of a whole archive. progress gets the entry's name and the bytes done and in
// all; false from it stops the extraction (which then fails with "#1006").
class ArchiveExtractor {
 public:
  using Progress = std::function<bool(const std::string& entry, std::uint64_t done, std::uint64_t total)>;
  virtual ~ArchiveExtractor() = default;
  // False with the error text on failure: a listing text, or "#" + code.
  virtual bool Extract(const std::string& archivePath, const std::string& password,
                       const std::string& destinationFolder, bool overwrite, bool arrangement,
                       const Progress& progress, std::string& errorText) = 0;
};

// The user's answer to a block that could not be unpacked.
enum class ExtractRetryChoice { Download, Extract, Cancel };

class ExtractRetryPrompt {
 public:
  virtual ~ExtractRetryPrompt() = default;
  // Shows the retry question owned by the window (0: none) with the texts of the message
  // table; the taskbar progress is paused meanwhile. timedOut is set when nobody answered
  // and the form chose Download by itself.
  virtual ExtractRetryChoice Ask(std::uintptr_t owner, const std::function<std::string(int)>& message,
                                 bool& timedOut) = 0;
};

// What one run remembers between block loads.
struct MediaRunState {
  // Upper-cased paths of local block archives that could not be unpacked: not used again.
  std::set<std::string> RejectedLocalCopies;
  // Retries that the retry question chose by itself, nobody answering, in a row.
  int UnattendedRetries = 0;
};

// That many unanswered retry questions in a row count as Cancel.
inline constexpr int kUnattendedRetryLimit = 10;

// What media copying and unpacking work with.
struct MediaServices {
  MediaFileService& Files;
  ArchiveExtractor& Archives;
  ExtractRetryPrompt& RetryPrompt;
  MediaRunState& State;
};

// The marker that says a block folder holds its block: an empty file named after the
// revision code.
std::string BlockMarkerPath(const std::string& blockFolder, const std::string& revisionCode);

// Moves or copies every file under source into destination (relative folders kept; links
// are never entered). With move, targets are replaced and the emptied source is removed;
// without it, existing targets are copied over. The first failing file ends the transfer.
bool TransferFolder(MediaFileService& files, const std::string& source, const std::string& destination,
                    bool move);

// Removes the folder's contents (attributes cleared first, three sweeps; links removed,
// never followed) and, with removeFolder, the folder itself. True when nothing is left.
bool EmptyFolder(MediaFileService& files, const std::string& folder, bool removeFolder);

// Copies (or moves) the setup's offline data and merge modules into the data folder on a
// worker, waiting as long statements wait. True on success.
bool CopyOfflineMedia(Interpreter& in, MediaServices& media, const std::string& sourceFolder,
                      const std::string& destinationFolder);

struct WebBlockUnpack {
  std::string ArchivePath;
  std::string Password;
  std::string DataFolder;   // the destination of the block's files
  std::string BlockFolder;  // the block's folder in the data folder
  bool LocalCopy = false;   // the archive lies beside the program: it is kept
};

enum class WebBlockUnpackResult { Unpacked, DownloadAgain };

// The retry loop around unpacking a downloaded block; on Unpacked the block folder and its
// marker exist. On DownloadAgain the downloaded archive is gone (a local copy is
// remembered as rejected; see LocalCopyRejected). Throws the statement error with message
// 16 when the user gives up or cancels.
WebBlockUnpackResult UnpackWebBlock(Interpreter& in, MediaServices& media, const WebBlockUnpack& block);

// Whether a local copy of a block archive was rejected earlier in this run.
bool LocalCopyRejected(const MediaServices& media, const std::string& archivePath);

}  // namespace kem
