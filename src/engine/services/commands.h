// The machine as the immediate file, registry, system and program statements see it.
// Paths and texts are ANSI in the setup's code page. Every call answers for the calling
// thread (file-system redirection belongs to a thread).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/services/system.h"

namespace kem {

// One entry of a folder listing ("." and ".." never appear).
struct FolderEntry {
  std::string Name;
  bool Folder = false;
  // A junction or symbolic link (to a file or a folder): listed, never entered.
  bool Link = false;
};

// A text file read line by line. A line ends at CR LF, LF or CR; the last line needs no
// end. Lines longer than the reader's limit are a read failure.
class TextLineReader {
 public:
  virtual ~TextLineReader() = default;
  enum class Read { Line, End, Failed };
  virtual Read Next(std::string& line) = 0;
  // Appends the next lines to out, each ended by CR LF, as Next would give them: Line
  // after a piece was appended (the last line of a piece may go on in the next one), End
  // when nothing is left. For copying a file's lines whole; not mixed with Next.
  virtual Read NextLines(std::string& out) {
    constexpr std::size_t kPiece = 64 * 1024;
    std::string line;
    for (bool any = false;; any = true) {
      if (any && out.size() >= kPiece) return Read::Line;
      const Read r = Next(line);
      if (r != Read::Line) return r == Read::End && any ? Read::Line : r;
      out += line;
      out += "\r\n";
    }
  }
};

// A new file written in the folder of its target and put in the target's place by
// Commit. Dropped without Commit, it leaves the target untouched and removes itself.
class TextReplacement {
 public:
  virtual ~TextReplacement() = default;
  virtual bool Write(const std::string& bytes) = 0;
  // Writes what is pending, closes and replaces the target (its attributes set to normal
  // first).
  virtual bool Commit() = 0;
};

class CommandFileService {
 public:
  virtual ~CommandFileService() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  // The entries of folder (with a trailing backslash) whose names match mask ("*" for
  // all), in the system's order; empty when the folder cannot be read.
  virtual std::vector<FolderEntry> List(const std::string& folder, const std::string& mask) = 0;
  virtual bool SetNormalAttributes(const std::string& path) = 0;
  virtual bool DeletePath(const std::string& path) = 0;
  // Removes an empty folder, or a folder link itself (never what it points to).
  virtual bool RemoveFolder(const std::string& path) = 0;
  // Removes a file or an empty folder that a search below `top` (a folder with a trailing
  // backslash) found, never through a link: a link the system marks is removed itself, and
  // an entry that resolves anywhere but to its own place below `top` (a link shown as a
  // plain file or folder, or anything reached through one) stays, since removing it would
  // remove its target. A read-only attribute is cleared only where it stops the removal.
  virtual bool RemoveFound(const std::string& top, const std::string& path) = 0;
  // Free bytes for the calling user and total bytes of the volume holding path.
  virtual std::optional<std::pair<std::uint64_t, std::uint64_t>> DiskSpace(const std::string& path) = 0;
  // The system's settings-file reader (default empty, at most 26,000 bytes).
  virtual std::string IniValue(const std::string& file, const std::string& section, const std::string& key) = 0;
  // The fixed file version: major, minor, build, revision; nullopt without one.
  virtual std::optional<std::array<std::uint16_t, 4>> FileVersion(const std::string& path) = 0;
  // nullptr when the file cannot be opened for reading.
  virtual std::unique_ptr<TextLineReader> OpenText(const std::string& path) = 0;
  // nullptr when no new file can be created beside path.
  virtual std::unique_ptr<TextReplacement> ReplaceText(const std::string& path) = 0;
  virtual bool MovePath(const std::string& from, const std::string& to) = 0;
  virtual bool CopyPath(const std::string& from, const std::string& to) = 0;
  // Writes to a new file the first headBytes of head followed by the whole of tail; false
  // (and no file left) when anything cannot be read or written.
  virtual bool JoinFiles(const std::string& target, const std::string& head, std::uint64_t headBytes,
                         const std::string& tail) = 0;
  // The stub size of the engine file (the bytes before its appended data); 0 when unknown.
  virtual std::uint64_t StubSize(const std::string& engine) = 0;
  // Switches the calling thread's WOW64 redirection off (true) or back (false); does
  // nothing where there is none.
  virtual void SetThreadRedirectionOff(bool off) = 0;
};

// A registry value as stored.
struct RegistryValue {
  std::uint32_t Type = 0;  // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, REG_MULTI_SZ 7
  std::string Data;
};

enum class RegistryReadResult { Ok, NoKey, NoValue, Failed };

class RegistryQueryService {
 public:
  virtual ~RegistryQueryService() = default;
  // Opens key for reading with the view flag added (0, 256 or 512) and reads the value.
  virtual RegistryReadResult Read(RegistryRoot root, const std::string& key, const std::string& name,
                                  std::uint32_t view, RegistryValue& value) = 0;
};

struct OsVersionInfo {
  bool Nt = true;
  unsigned Major = 0, Minor = 0;
  std::uint32_t Build = 0;
  std::string ServicePack;
  bool Server = false;
};

// Special folders that the shell locates (the folder codes of "Get Folder Location" that
// need no registry value).
class SystemQueryService {
 public:
  virtual ~SystemQueryService() = default;
  virtual bool IsWow64() = 0;
  virtual OsVersionInfo Version() = 0;
  virtual std::uint64_t PhysicalMemory() = 0;
  virtual int ScreenWidth() = 0;
  virtual int ScreenHeight() = 0;
  virtual int BitsPerPixel() = 0;
  virtual int DpiX() = 0;
  // Membership of the built-in groups by their RID (544 Administrators, 547 Power Users,
  // 545 Users, 546 Guests).
  virtual bool InGroup(std::uint32_t rid) = 0;
  virtual bool Elevated() = 0;
  // The language of "winver.exe"'s version resource and its name; 0 / empty when unknown.
  virtual std::uint16_t SystemLanguage() = 0;
  virtual std::string LanguageName(std::uint16_t language) = 0;
  virtual std::string UserName() = 0;
  virtual std::string ComputerName() = 0;
  virtual std::string UserDomain() = 0;
  virtual bool TabletPc() = 0;
  virtual bool MediaCenter() = 0;
  virtual bool VmWare() = 0;
  virtual bool VirtualPc() = 0;
  // "X86", "IA64", "AMD64" or "UNKNOWN".
  virtual std::string NativeArchitecture() = 0;
  // A shell folder by its CSIDL, without a trailing backslash; empty when unknown.
  virtual std::string ShellFolder(int csidl) = 0;
  virtual std::string SystemFolder() = 0;
  virtual std::string Wow64SystemFolder() = 0;
  virtual std::string WindowsFolder() = 0;
  // The letter of the first CD-ROM drive, 0 when there is none.
  virtual char FirstCdDrive() = 0;
  virtual std::string ExpandEnvironment(const std::string& text) = 0;
};

// A started program.
class RunningProgram {
 public:
  virtual ~RunningProgram() = default;
  // Waits up to ms for the end; true once the program has ended.
  virtual bool Wait(std::uint32_t ms) = 0;
  // The exit code (259 while it runs).
  virtual std::uint32_t ExitCode() = 0;
};

// How a program is to be started.
struct ProgramStart {
  std::string Program;      // path of the program (shell start)
  std::string CommandLine;  // the whole command line (direct starts)
  std::string Parameters;   // parameters (shell start)
  std::string Folder;       // working folder; empty: the engine's current folder
  int Show = 1;             // SW_ value
  // name=value strings; nullopt: the engine's environment.
  std::optional<std::vector<std::string>> Environment;
};

// The outcome of a start: Program when something was started (may be null for a shell
// start that gave no process handle), otherwise Code.
struct StartResult {
  std::unique_ptr<RunningProgram> Program;
  bool Started = false;
  int Code = 0;
};

class ProgramService {
 public:
  virtual ~ProgramService() = default;
  // Through the shell, verb "open" and then without a verb; Started false when both fail.
  virtual StartResult ShellStart(const ProgramStart& start) = 0;
  // CreateProcess with a new console: Code -11 when it fails.
  virtual StartResult Start(const ProgramStart& start) = 0;
  // As another user with the profile loaded: Code -1 without the logon start, -11 when
  // the process cannot be created.
  virtual StartResult StartWithLogon(const ProgramStart& start, const std::string& user, const std::string& domain,
                                     const std::string& password) = 0;
  // As the logged-on user from an elevated engine (the shell's token without its
  // powerful privileges). nullopt when the preconditions do not hold (start plainly);
  // otherwise the result with the table's codes (-7 ... -11, 0).
  virtual std::optional<StartResult> StartAsShellUser(const ProgramStart& start) = 0;
  // Starts a command line without waiting (handles inherited); true when created.
  virtual bool StartDetached(const std::string& commandLine) = 0;
  virtual bool RegisterTypeLibrary(const std::string& path, bool registering) = 0;
  // Calls DllRegisterServer / DllUnregisterServer; true when it exists and returned 0.
  virtual bool RegisterServer(const std::string& path, bool registering) = 0;
  // OLE initialised for the scope of the call's owner.
  virtual void InitializeOle(bool on) = 0;
  // The registry view the OLE registrations use (256 or 512; 0 leaves the default).
  virtual void SetRegistrationView(std::uint32_t view) = 0;
  virtual std::string CurrentFolder() = 0;
  virtual bool SetCurrentFolder(const std::string& folder) = 0;
  virtual void SetThreadRedirectionOff(bool off) = 0;
};

struct CommandServices {
  CommandFileService& Files;
  RegistryQueryService& Registry;
  SystemQueryService& System;
  ProgramService& Programs;
};

}  // namespace kem
