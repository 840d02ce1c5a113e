// Web media blocks: the "Web Media Block" statement, which names the block that the
// following file-carrying statements draw from, and the media loader, which brings a
// block into the installer cache before the first statement that needs it (downloading
// and unpacking its archive, or copying the offline data that ships with the setup).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "media/web/download.h"

namespace kem {

class Interpreter;
class StatementTable;
struct InterpreterHooks;
struct SetupData;

// The block named by the last "Web Media Block" statement, with the run's retry choices.
struct WebBlockContext {
  std::vector<std::string> Urls;
  std::string Name;
  std::string ArchivePath;  // data folder + name + ".7zip"
  std::string Password;
  bool Resume = true;
  ProxySettings Proxy;
};

// Shared between the download thread and the loader.
struct DownloaderState {
  // Cleared for good when the system lacks the lightweight downloader's functions.
  std::atomic<bool> LightAvailable{true};
  // The Internet cache file of the last lightweight download (worker-written; read after).
  std::string LastCacheFile;
};

// What a run keeps about web media.
struct WebMediaState {
  WebBlockContext Block;
  std::string DataFolder;  // the data folder of the last load (empty before the first)
  std::set<std::string> RejectedLocalCopies;  // upper-cased paths of copies not to use again
  DownloaderState Downloads;
};

// The stored password of a block turned into the password: each character XORed with its
// position, then each pair "lh" read as the hexadecimal byte "hl". nullopt for a text that
// cannot be one (odd length, not hexadecimal).
std::optional<std::string> DescrambleBlockPassword(std::string_view stored);
// The password of a block: its WebBlockSources entry, else the one of "offline"; empty
// when there is none. Raises for a stored text that is damaged.
std::string BlockPassword(const SetupData& data, std::string_view block);
// The URL lines of the statement's second parameter (trimmed, empty lines left out).
std::vector<std::string> UrlLines(std::string_view text);

// The file work of the loader.
class WebMediaMachine {
 public:
  virtual ~WebMediaMachine() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  // Creates the folder with its parents; compressed when asked (failures to compress are ignored).
  virtual bool CreateFolder(const std::string& path, bool compress) = 0;
  // Removes the folder's files and sub-folders (attributes cleared first, three sweeps).
  virtual void EmptyFolder(const std::string& path) = 0;
  virtual bool RemoveFolder(const std::string& path) = 0;
  virtual bool CreateEmptyFile(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // The names of the folder's sub-folders.
  virtual std::vector<std::string> SubFolders(const std::string& path) = 0;
};

// The retry prompt after a failed download with the lightweight downloader.
struct ResumeAnswer {
  bool Retry = false;    // OK (false: Cancel)
  bool Resume = true;    // the choice shown when it was closed
  bool ByTimer = false;  // closed by its timer, not by the user
};

struct UnpackOutcome {
  bool Unpacked = false;  // false: the user asked for a fresh download
};

struct WebMediaServices {
  std::shared_ptr<WebMediaMachine> Machine;
  // A downloader for one download (called on the download thread).
  std::function<std::unique_ptr<Downloader>(DownloaderState&)> NewDownloader;
  // The cache folder for the current ALLUSERS (with a trailing backslash).
  std::function<std::string(Interpreter&)> CacheFolder;
  // Moves a folder with everything in it (into a destination that may exist).
  std::function<bool(Interpreter&, const std::string& source, const std::string& destination)> MoveFolder;
  // Copies the offline data from the program's data folder into the data folder; raises
  // with the message to show when it fails.
  std::function<void(Interpreter&, const std::string& source, const std::string& destination)> CopyOffline;
  // Unpacks a block's archive into the data folder, retrying as the user decides; raises
  // when the user gives up.
  std::function<UnpackOutcome(Interpreter&, const std::string& archive, const std::string& password,
                              const std::string& dataFolder, const std::string& blockFolder, bool localCopy)>
      Unpack;
  // The prompts; empty ones count as Cancel / No.
  std::function<ResumeAnswer(Interpreter&, bool resume)> AskResume;
  std::function<bool(Interpreter&, ProxySettings&)> AskProxy;
};

// Timer-chosen retries in a row after which the loader gives up as on Cancel.
inline constexpr int kMaxUnattendedRetries = 10;

// Registers "Web Media Block" (it only sets the block context of the run).
void RegisterWebMediaStatements(StatementTable& table, std::shared_ptr<WebMediaState> state);

// Brings the block whose StatementMedia entry is blockFolder into the data folder. Raises
// with the message to show when the block cannot be loaded.
void LoadWebMedia(Interpreter& in, WebMediaState& state, const WebMediaServices& services,
                  const std::string& blockFolder);

// The loading of a statement's media (statement index, StatementMedia entry); raises with
// the message to show.
using MediaLoad = std::function<void(Interpreter&, std::size_t statementIndex, const std::string& media)>;

// In a web build, plug-in statements with media and "Apply Changes" (with the offline
// block) load their media first, in the before-session phase. A failed load is shown; the
// script then ends when ABORTONERROR is "TRUE" (the statement is skipped), and otherwise
// goes on with ABORTEDONERROR set.
void AddWebMediaLoading(InterpreterHooks& hooks, MediaLoad load);
// One load with that failure handling (nothing when ABORTEDONERROR is "TRUE" already).
void LoadMediaBefore(Interpreter& in, std::size_t statementIndex, const std::string& media, const MediaLoad& load);

}  // namespace kem
