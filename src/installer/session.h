// The installer session's rules that need no machine: the folders handed to the
// installer, its command line per mode, the outcome of its return codes, the retry while
// another installation runs, the parsing of its progress messages and the answers of the
// external user interface, and the search for the setup's sources.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kem {

class FileService;

// What a session does with the package.
enum class SessionMode { Install, Removal, Patch };

// The folders of a session, each with a trailing backslash.
struct SessionFolders {
  std::string MsiFolder;     // the package's folder, in its short form when there is one
  std::string DataFolder;    // in its short form when it exists
  std::string MediaFolder;   // the data folder's parent without its drive ("\Setup\")
  std::string SourceFolder;  // a patch's source folder, short when it exists
  bool QuoteData = false;    // the data (or source) folder needs double quotes
  bool QuoteMsi = false;     // the package's folder needs double quotes
  std::string SourceList;    // data folder + ";" + MSI folder, quoted when either flag is set
};

// Computes the folders; createFolder makes a missing data folder (not for a patch).
SessionFolders ComputeSessionFolders(FileService& files, const std::function<void(const std::string&)>& createFolder,
                                     const std::string& package, const std::string& dataFolder,
                                     const std::string& sourceFolder, bool patch);

struct CommandLineInputs {
  SessionMode Mode = SessionMode::Install;
  bool Advertise = false;
  bool Installed = false;         // the product is installed already
  bool AdvertisedBefore = false;  // the product's cache holds the advertisement marker
  bool AllUsers = false;          // ALLUSERS is exactly "TRUE"
  bool DisableRollback = false;   // VRAX_DISABLE_ROLLBACK is exactly "TRUE"
  bool DisableRestartManager = false;  // VRAX_DISABLE_VISTA_RESTART_MANAGER is exactly "TRUE"
  std::string TargetFolder;
  SessionFolders Folders;
};

// The property assignments of the installer call. Every piece ends with one blank.
std::string BuildSessionCommandLine(const CommandLineInputs& in);

// Return codes of an installer call.
inline constexpr unsigned kInstallSuccess = 0;
inline constexpr unsigned kRebootInitiated = 1641;
inline constexpr unsigned kRebootRequired = 3010;
inline constexpr unsigned kAnotherInstallation = 1618;
inline constexpr unsigned kUserExit = 1602;
inline constexpr unsigned kInstallFailure = 1603;

struct CodeOutcome {
  bool Failed = false;
  bool Reboot = false;
};
CodeOutcome OutcomeOfReturnCode(unsigned code);

// The retry while another installation runs: the dots after "Windows Installer" grow by
// one up to three, then start again at one.
std::string NextRetryDots(const std::string& dots);
// How long the session waits before it tries again.
inline constexpr unsigned kRetryIntervalMs = 3141;

// Outcome codes of a session: -1 error, 0 cancelled, 1 completed, 2 completed and a reboot
// is needed. A cancel counts only when the session failed too: a cancel that came too late
// to stop a successful session is a success.
int SessionOutcome(bool cancelled, bool failed, bool reboot);
// "ERROR", "CANCEL", "COMPLETE" or "REBOOT".
std::string_view SessionResultText(int outcome);
// The process exit code an outcome stands for when the script sets none: 0, 1602, 1603,
// 3010, or 1618 when another installation kept the session from running.
int SessionExitCode(int outcome, unsigned lastReturnCode);

// The error text of a failed session without one: the installer's last reported error,
// else `general`. A single full stop that ends the text is dropped.
std::string SessionFailureText(const std::string& lastInstallerError, const std::string& general);
// A return code's system text without trailing blanks, control characters and full stops.
std::string TrimReturnCodeText(std::string text);

// The product code as the installer's registry keys write it: the first three groups
// reversed, the pairs of the last two swapped, without braces and hyphens. Empty when
// the text is not a GUID.
std::string PackedProductCode(std::string_view productCode);

// Message types of the installer's external user interface (the code's high byte).
enum InstallerMessageType : unsigned {
  kMsgFatalExit = 0,
  kMsgError = 1,
  kMsgWarning = 2,
  kMsgUser = 3,
  kMsgInfo = 4,
  kMsgFilesInUse = 5,
  kMsgResolveSource = 6,
  kMsgOutOfDiskSpace = 7,
  kMsgActionStart = 8,
  kMsgActionData = 9,
  kMsgProgress = 10,
  kMsgCommonData = 11,
  kMsgInitialize = 12,
  kMsgTerminate = 13,
  kMsgShowDialog = 14,
};

// The installer's progress as its messages describe it. Kept for the whole run: a second
// session goes on from the first one's values.
struct InstallerProgress {
  std::string ActionText;
  std::int64_t Completed = 0;
  std::int64_t Total = 0;
  std::int64_t Step = 0;
  std::int64_t Direction = 0;
  std::int64_t Minimum = 0;

  // A progress message: up to four "N: value " fields.
  void ApplyProgressFields(std::string_view text);
  void ApplyActionStart(std::string_view text);
  void ApplyActionData(std::string_view text);
};

// A message box the handler asks for: kind is the message table's title number (0 for a
// question without a title), style the box's flags with the icon added.
struct InstallerBox {
  std::string Text;
  unsigned Style = 0;
  bool ErrorState = false;  // the taskbar shows the error state meanwhile (else paused)
};

// The external user interface's answer to one message, with what it needs around it.
struct InstallerUiCalls {
  bool Silent = false;
  // Shows a box; answers the button chosen.
  std::function<int(const InstallerBox&)> Ask;
  // Reports the progress; false once the session should be cancelled.
  std::function<bool(const InstallerProgress&)> Report;
  // The texts "Fatal Error", "Error", "Warning", "Out of Disk Space".
  std::function<std::string(int message)> Message;
};
struct InstallerUiState {
  InstallerProgress Progress;
  std::string LastError;  // the text of the last error or fatal exit
};
// Answers one message (type: the high byte, flags: the low 24 bits of its code).
int AnswerInstallerMessage(InstallerUiState& state, const InstallerUiCalls& calls, unsigned type, unsigned flags,
                           const std::string& text);

// The setup's sources: a file named after the product code (as the setup data carried
// it) in the data folder, or for a patch build in the previous source folder.
struct SourceSearch {
  std::string Marker;          // the file name
  std::string DataFolder;      // with a trailing backslash
  std::string PreviousSource;  // with a trailing backslash, or empty
  bool PatchBuild = false;     // MediaMode 3
  // May the user be asked for them (maintenance or a patch, not a web build, installing)?
  bool MayAsk = false;
  bool Silent = false;
};
struct SourceSearchResult {
  bool Found = false;
  std::string DataFolder;      // the data folder to use when found
  std::string PreviousSource;  // the previous source folder to use
};
// browse asks the user for a folder (nullopt: given up).
SourceSearchResult FindSetupSources(const SourceSearch& search, FileService& files,
                                    const std::function<std::optional<std::string>()>& browse);

// The folder part (with a trailing backslash) of an uninstall command "path\prog.exe"
// args: the first double quote dropped, everything from the next one cut off.
std::string SourceFolderOfUninstallString(std::string text);

}  // namespace kem
