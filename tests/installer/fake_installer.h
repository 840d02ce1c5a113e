// Stand-ins for the installer and system services: a Property table in memory, processes,
// services, registry deletions, windows and files, recording what the engine asked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/text.h"
#include "engine/services/installer.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"

namespace kem::test {

// The database files of a fake installer: per path, the Property table and what else
// the engine changed.
struct FakePackage {
  std::map<std::string, std::string> properties;
  std::vector<std::string> sql;  // every statement executed, committed or not
  std::map<unsigned, std::string> summary;
  std::vector<std::string> componentIds = {"{OLD-1}", "{OLD-2}"};
  std::map<unsigned, int> summaryInts;
  bool components64 = false;
  int commits = 0;
};

class FakeInstallerDatabase : public InstallerDatabase {
 public:
  FakeInstallerDatabase(FakePackage& package, std::set<char> unheld) : package_(package), work_(package), unheld_(std::move(unheld)) {}
  bool Execute(const std::string& sql) override {
    package_.sql.push_back(sql);
    const std::string insert = "INSERT INTO `Property` ( `Property` , `Value` ) VALUES ( '";
    const std::string update = "UPDATE `Property` SET `Value`='";
    if (sql.rfind(insert, 0) == 0) {
      auto nameEnd = sql.find("' , '", insert.size());
      std::string name = sql.substr(insert.size(), nameEnd - insert.size());
      std::string value = sql.substr(nameEnd + 5, sql.size() - (nameEnd + 5) - 3);
      return work_.properties.emplace(name, value).second;
    }
    if (sql.rfind(update, 0) == 0) {
      const std::string where = "' WHERE `Property`='";
      auto valueEnd = sql.rfind(where);
      std::string value = sql.substr(update.size(), valueEnd - update.size());
      std::string name = sql.substr(valueEnd + where.size(), sql.size() - (valueEnd + where.size()) - 1);
      auto it = work_.properties.find(name);
      if (it == work_.properties.end()) return true;
      it->second = value;
      return true;
    }
    return false;
  }
  bool RenewComponentIds(const std::function<std::string()>& newCode) override {
    for (auto& id : work_.componentIds) id = newCode();
    return true;
  }
  bool SetSummaryString(unsigned property, const std::string& value) override {
    work_.summary[property] = value;
    return true;
  }
  std::string GetSummaryString(unsigned property) override { return work_.summary[property]; }
  bool SetSummaryInteger(unsigned property, int value) override {
    work_.summaryInts[property] = value;
    return true;
  }
  bool SetComponents64Bit(bool on) override {
    work_.components64 = on;
    return true;
  }
  bool CanHold(const std::string& text) override {
    for (char c : text)
      if (unheld_.contains(c)) return false;
    return true;
  }
  bool Commit() override {
    auto sql = std::move(package_.sql);
    int commits = package_.commits + 1;
    package_ = work_;
    package_.sql = std::move(sql);
    package_.commits = commits;
    return true;
  }

 private:
  FakePackage& package_;
  FakePackage work_;  // changes until Commit
  std::set<char> unheld_;
};

class FakeInstaller : public InstallerService {
 public:
  std::map<std::string, int> productStates;
  bool missing = false;  // no msi.dll
  std::map<std::string, FakePackage> packages;
  std::set<char> unheld;  // characters the database's code page cannot hold
  int opens = 0;

  int QueryProductState(const std::string& code) override {
    if (missing) throw StatementError("Library not found: msi.dll");
    auto it = productStates.find(code);
    return it == productStates.end() ? -1 : it->second;
  }
  std::unique_ptr<InstallerDatabase> OpenDatabase(const std::string& path, std::uint32_t) override {
    auto it = packages.find(path);
    if (it == packages.end()) return nullptr;
    ++opens;
    return std::make_unique<FakeInstallerDatabase>(it->second, unheld);
  }

  // The session: each installer call records its package and command line, feeds
  // `messages` to the handler (the answers are kept) and returns the next of `codes`
  // (the last one again once they run out; 0 when there are none).
  struct Call {
    std::string kind;  // "install" or "patch"
    std::string package;
    std::string commandLine;
  };
  std::vector<Call> calls;
  std::vector<unsigned> codes;
  std::vector<std::tuple<unsigned, unsigned, std::string>> messages;
  std::vector<int> answers;
  std::function<void()> duringCall;
  std::map<unsigned, std::string> codeTexts;
  std::vector<std::string> logs, tempPackageCleanups, removalSources, patchSources, createdFolders;
  std::map<std::string, std::string> uninstallStrings;  // "HKLM|title" or "HKCU|title"
  std::vector<std::optional<std::string>> browseAnswers;
  std::vector<std::string> browsePrompts;

  unsigned Run(const char* kind, const std::string& package, const std::string& commandLine,
               const InstallerMessageHandler& handler) {
    if (missing) throw StatementError("Library not found: msi.dll");
    calls.push_back({kind, package, commandLine});
    if (duringCall) duringCall();
    for (const auto& [type, flags, text] : messages) answers.push_back(handler(type, flags, text));
    if (codes.empty()) return 0;
    const unsigned code = codes.front();
    if (codes.size() > 1) codes.erase(codes.begin());
    return code;
  }
  void RemoveTempPackages(const std::string& code) override { tempPackageCleanups.push_back(code); }
  void EnableLog(const std::string& path) override { logs.push_back(path); }
  unsigned InstallProduct(const std::string& package, const std::string& commandLine,
                          const InstallerMessageHandler& handler) override {
    return Run("install", package, commandLine, handler);
  }
  unsigned ApplyPatch(const std::string& package, const std::string& commandLine,
                      const InstallerMessageHandler& handler) override {
    return Run("patch", package, commandLine, handler);
  }
  void AddPatchSource(const std::string& code, const std::string& folder) override {
    patchSources.push_back(code + "|" + folder);
  }
  void RegisterRemovalSources(const std::string& packed, const std::string& msiFolder, const std::string& dataFolder,
                              const std::string& mediaFolder) override {
    removalSources.push_back(packed + "|" + msiFolder + "|" + dataFolder + "|" + mediaFolder);
  }
  std::string ReturnCodeText(unsigned code) override {
    auto it = codeTexts.find(code);
    return it == codeTexts.end() ? std::string() : it->second;
  }
  std::string UninstallString(bool machine, const std::string& title) override {
    auto it = uninstallStrings.find((machine ? "HKLM|" : "HKCU|") + title);
    return it == uninstallStrings.end() ? std::string() : it->second;
  }
  std::optional<std::string> BrowseForFolder(std::uintptr_t, const std::string& prompt) override {
    browsePrompts.push_back(prompt);
    if (browseAnswers.empty()) return std::nullopt;
    auto answer = browseAnswers.front();
    browseAnswers.erase(browseAnswers.begin());
    return answer;
  }
  void CreateFolder(const std::string& path) override { createdFolders.push_back(path); }
};

class FakeSystem : public SystemService {
 public:
  struct Deletion {
    std::string what;  // "tree", "subkey64" or "value"
    RegistryRoot root;
    std::string key;
    std::string name;
    std::uint32_t view;
  };
  bool wow64 = false;
  unsigned major = 10, minor = 0;
  int guids = 0;
  std::vector<std::string> processes;
  std::map<std::string, int> services;  // "machine|name" -> state
  std::vector<Deletion> deletions;
  std::vector<TopLevelWindow> windows;
  std::vector<std::uintptr_t> closed;
  std::map<std::string, std::int64_t> freeSpace;
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> privateFiles;
  std::vector<std::string> removedPrivateFiles;
  bool privateFails = false;
  struct Run {
    std::string program, arguments, folder;
  };
  std::vector<Run> runs;
  std::vector<int> exitCodes;  // answers of the runs in order; 0 when they run out
  std::vector<std::string> shares;
  std::vector<std::string> grants;
  std::vector<ScheduledTask> tasks;
  std::vector<std::string> deletedTasks;

  bool IsWow64() override { return wow64; }
  unsigned WindowsMajor() override { return major; }
  unsigned WindowsMinor() override { return minor; }
  std::string NewGuid() override {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{00000000-0000-0000-0000-%012X}", ++guids);
    return buf;
  }
  std::vector<std::string> ProcessNames() override { return processes; }
  int ServiceState(const std::string& service, const std::string& machine) override {
    auto it = services.find(machine + "|" + service);
    return it == services.end() ? 0 : it->second;
  }
  void DeleteRegistryTree(RegistryRoot root, const std::string& key, std::uint32_t view) override {
    deletions.push_back({"tree", root, key, "", view});
  }
  void DeleteRegistrySubKey64(RegistryRoot root, const std::string& parent, const std::string& name) override {
    deletions.push_back({"subkey64", root, parent, name, 256});
  }
  void DeleteRegistryValue(RegistryRoot root, const std::string& key, const std::string& value,
                           std::uint32_t view) override {
    deletions.push_back({"value", root, key, value, view});
  }
  std::vector<TopLevelWindow> TopLevelWindows() override { return windows; }
  void PostCancelAndClose(std::uintptr_t window) override { closed.push_back(window); }
  std::string WindowsFolder() override { return "C:\\Windows\\"; }
  int RunHidden(const std::string& program, const std::string& arguments, const std::string& folder) override {
    runs.push_back({program, arguments, folder});
    if (exitCodes.empty()) return 0;
    int code = exitCodes.front();
    exitCodes.erase(exitCodes.begin());
    return code;
  }
  bool CreateShare(const std::string& name, const std::string& path, const std::string& remark, int maxUsers) override {
    shares.push_back("+" + name + "|" + path + "|" + remark + "|" + std::to_string(maxUsers));
    return true;
  }
  bool GrantAccess(SecuredObject kind, const std::string& name, const std::vector<std::string>& accounts,
                   AccessLevel level) override {
    std::string line = std::to_string(static_cast<int>(kind)) + "|" + name + "|" + std::to_string(static_cast<int>(level));
    for (const auto& a : accounts) line += "|" + a;
    grants.push_back(line);
    return true;
  }
  bool ScheduleTask(const ScheduledTask& task) override {
    tasks.push_back(task);
    return true;
  }
  bool DeleteScheduledTask(const std::string& name, const std::string& machine) override {
    deletedTasks.push_back(machine + "|" + name);
    return true;
  }
  bool DeleteShare(const std::string& name) override {
    shares.push_back("-" + name);
    return true;
  }
  std::int64_t FreeDiskSpace(const std::string& root) override {
    auto it = freeSpace.find(root);
    return it == freeSpace.end() ? -1 : it->second;
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  bool WriteFile(const std::string& path, const std::string& bytes) override {
    files[path] = bytes;
    return true;
  }
  std::string CreatePrivateFile(const std::string& bytes) override {
    if (privateFails) return {};
    std::string path = "C:\\Users\\me\\Temp\\private" + std::to_string(privateFiles.size() + 1) + "\\props";
    privateFiles[path] = bytes;
    return path;
  }
  void RemovePrivateFile(const std::string& path) override {
    privateFiles.erase(path);
    removedPrivateFiles.push_back(path);
  }
};

}  // namespace kem::test
