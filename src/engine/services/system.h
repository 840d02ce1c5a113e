// The machine as the system-change statements see it at once: running processes and
// services, registry deletion, top-level windows, disk space, identifiers, and the files
// the feature selections and the installer session read and write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kem {

struct TopLevelWindow {
  std::uintptr_t Handle = 0;
  std::string Title;
  std::string ClassName;
};

// What "Set Access Control" changes, and how much it grants.
enum class SecuredObject { FileOrFolder, Share, RegistryKey };
enum class AccessLevel { Read, Modify, Full };

// A task for the Task Scheduler: run Program with Arguments in WorkingFolder; Flags are
// the scheduler's task flags; a start time (local) adds a trigger that runs it once then.
struct ScheduledTask {
  std::string Name;
  std::string Machine;  // "\\\\name", empty for this computer
  std::string Program;
  std::string Arguments;
  std::string WorkingFolder;
  std::uint32_t Flags = 0;
  bool HasStart = false;
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0;
};

// Registry roots by the index the statements use.
enum class RegistryRoot { ClassesRoot = 0, CurrentUser = 1, LocalMachine = 2, Users = 3, CurrentConfig = 4 };

class SystemService {
 public:
  virtual ~SystemService() = default;
  // The engine runs as a 32-bit process on 64-bit Windows.
  virtual bool IsWow64() = 0;
  // Major and minor version of Windows.
  virtual unsigned WindowsMajor() = 0;
  virtual unsigned WindowsMinor() = 0;
  // A new GUID as upper-case text in braces.
  virtual std::string NewGuid() = 0;

  // The executable names of the running processes (as the process snapshot gives them).
  virtual std::vector<std::string> ProcessNames() = 0;
  // The current state of a service (1 stopped ... 7 paused); 0 when the service manager or
  // the service cannot be opened or queried. An empty machine means this computer.
  virtual int ServiceState(const std::string& service, const std::string& machine) = 0;

  // Deletes the key with its whole subtree; access adds view (0, 256 or 512).
  virtual void DeleteRegistryTree(RegistryRoot root, const std::string& key, std::uint32_t view) = 0;
  // Deletes the sub-key name (without sub-keys of its own) of parent in the 64-bit view.
  virtual void DeleteRegistrySubKey64(RegistryRoot root, const std::string& parent, const std::string& name) = 0;
  // Deletes a value of an existing key; nothing when the key cannot be opened.
  virtual void DeleteRegistryValue(RegistryRoot root, const std::string& key, const std::string& value,
                                   std::uint32_t view) = 0;

  // The top-level windows in Z order.
  virtual std::vector<TopLevelWindow> TopLevelWindows() = 0;
  // Posts WM_CANCELMODE, then WM_CLOSE.
  virtual void PostCancelAndClose(std::uintptr_t window) = 0;

  // The Windows folder, with a trailing backslash.
  virtual std::string WindowsFolder() = 0;
  // Runs program with the command-line arguments in workingFolder, hidden, and waits for
  // its end. The exit code; -1 when it cannot be started.
  virtual int RunHidden(const std::string& program, const std::string& arguments,
                        const std::string& workingFolder) = 0;
  // Creates the network share name for path (maxUsers -1: no limit) / removes it; false
  // when the system refuses.
  virtual bool CreateShare(const std::string& name, const std::string& path, const std::string& remark,
                           int maxUsers) = 0;
  virtual bool DeleteShare(const std::string& name) = 0;

  // Adds access-allowed entries for the accounts (SID strings such as "S-1-1-0") to the
  // object's list, keeping the entries it has; folders and keys pass them on to what
  // they hold. A registry key is named as "MACHINE\\SOFTWARE\\..." (root names
  // CLASSES_ROOT, CURRENT_USER, MACHINE, USERS, CURRENT_CONFIG). False when refused.
  virtual bool GrantAccess(SecuredObject kind, const std::string& name, const std::vector<std::string>& accounts,
                           AccessLevel level) = 0;

  // Creates the task, or changes the existing task of that name / deletes it. False when
  // the scheduler is not available or refuses.
  virtual bool ScheduleTask(const ScheduledTask& task) = 0;
  virtual bool DeleteScheduledTask(const std::string& name, const std::string& machine) = 0;

  // Bytes available to the user on the drive whose root is given; -1 when unknown.
  virtual std::int64_t FreeDiskSpace(const std::string& root) = 0;

  // Whole files (bytes as they are).
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  virtual bool WriteFile(const std::string& path, const std::string& bytes) = 0;
  // Writes bytes to a new file with an unpredictable name in a new folder that only the
  // current user can open, and returns its path; empty when that fails.
  virtual std::string CreatePrivateFile(const std::string& bytes) = 0;
  // Removes such a file and its folder.
  virtual void RemovePrivateFile(const std::string& path) = 0;
};

}  // namespace kem
