// A scripted machine for the command statements: files and folders in memory (with
// links), registry values per view, system facts and started programs, recording what
// the engine asked.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/services/commands.h"

namespace kem::test {

inline bool WildMatch(std::string_view mask, std::string_view name) {
  if (mask == "*" || mask == "*.*") return true;
  if (mask.empty()) return name.empty();
  if (mask[0] == '*') {
    for (std::size_t k = 0; k <= name.size(); ++k)
      if (WildMatch(mask.substr(1), name.substr(k))) return true;
    return false;
  }
  if (name.empty()) return false;
  if (mask[0] != '?' && LowerCase(std::string(1, mask[0])) != LowerCase(std::string(1, name[0]))) return false;
  return WildMatch(mask.substr(1), name.substr(1));
}

class FakeFiles : public CommandFileService {
 public:
  std::map<std::string, std::string> files;  // path -> bytes
  std::set<std::string> folders;             // without a trailing backslash
  std::set<std::string> links;               // folder entries that are links
  std::set<std::string> readOnly, unreadable;
  std::vector<std::string> log;              // deletions, removals, moves, copies
  std::map<std::string, std::array<std::uint16_t, 4>> versions;
  std::map<std::string, std::string> ini;    // "file|section|key" -> value
  std::optional<std::pair<std::uint64_t, std::uint64_t>> space;
  std::size_t writeLimit = SIZE_MAX;         // bytes a replacement takes before it fails
  bool commitFails = false;
  std::set<std::string> failingMoves;        // "from>to"
  std::uint64_t stubSize = 4;
  std::vector<bool> threadRedirection;

  void AddFile(const std::string& path, std::string bytes = {}) {
    files[path] = std::move(bytes);
    AddParents(path);
  }
  void AddFolder(const std::string& path) {
    folders.insert(path);
    AddParents(path);
  }
  void AddParents(const std::string& path) {
    for (auto cut = path.find_last_of('\\'); cut != std::string::npos && cut > 2; cut = path.find_last_of('\\', cut - 1))
      folders.insert(path.substr(0, cut));
  }

  bool FileExists(const std::string& path) override { return files.contains(path); }
  bool FolderExists(const std::string& path) override {
    std::string p = path;
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return folders.contains(p);
  }
  std::function<void()> onList;  // runs at the start of every listing (on the search's thread)
  std::vector<FolderEntry> List(const std::string& folder, const std::string& mask) override {
    if (onList) onList();
    std::vector<FolderEntry> out;
    auto child = [&](const std::string& path) -> std::optional<std::string> {
      if (!path.starts_with(folder) || path.size() == folder.size()) return std::nullopt;
      std::string rest = path.substr(folder.size());
      if (rest.find('\\') != std::string::npos) return std::nullopt;
      return rest;
    };
    for (const auto& f : folders)
      if (auto name = child(f); name && WildMatch(mask, *name)) out.push_back({*name, true, links.contains(f)});
    for (const auto& [f, bytes] : files)
      if (auto name = child(f); name && WildMatch(mask, *name)) out.push_back({*name, false, false});
    return out;
  }
  bool SetNormalAttributes(const std::string& path) override {
    readOnly.erase(path);
    return true;
  }
  bool DeletePath(const std::string& path) override {
    if (readOnly.contains(path) || !files.contains(path)) return false;
    files.erase(path);
    log.push_back("delete " + path);
    return true;
  }
  bool RemoveFolder(const std::string& path) override {
    if (!folders.contains(path)) return false;
    if (!links.contains(path)) {
      for (const auto& f : folders)
        if (f.starts_with(path + "\\")) return false;
      for (const auto& [f, b] : files)
        if (f.starts_with(path + "\\")) return false;
    }
    folders.erase(path);
    links.erase(path);
    log.push_back("rmdir " + path);
    return true;
  }
  std::vector<std::string> removedBelow;  // the top folders RemoveFound was given
  bool RemoveFound(const std::string& top, const std::string& path) override {
    removedBelow.push_back(top);
    if (files.contains(path)) return SetNormalAttributes(path) && DeletePath(path);
    return RemoveFolder(path);
  }
  std::optional<std::pair<std::uint64_t, std::uint64_t>> DiskSpace(const std::string&) override { return space; }
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override {
    auto it = ini.find(file + "|" + section + "|" + key);
    return it == ini.end() ? std::string() : it->second;
  }
  std::optional<std::array<std::uint16_t, 4>> FileVersion(const std::string& path) override {
    auto it = versions.find(path);
    if (it == versions.end()) return std::nullopt;
    return it->second;
  }

  class Reader : public TextLineReader {
   public:
    explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
    Read Next(std::string& line) override {
      if (pos_ >= bytes_.size()) return Read::End;
      std::size_t end = bytes_.find_first_of("\r\n", pos_);
      if (end == std::string::npos) end = bytes_.size();
      line = bytes_.substr(pos_, end - pos_);
      pos_ = end;
      if (pos_ < bytes_.size() && bytes_[pos_] == '\r') ++pos_;
      if (pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
      return Read::Line;
    }

   private:
    std::string bytes_;
    std::size_t pos_ = 0;
  };
  int openReaders = 0;
  std::unique_ptr<TextLineReader> OpenText(const std::string& path) override {
    if (!files.contains(path) || unreadable.contains(path)) return nullptr;
    ++openReaders;
    return std::make_unique<Reader>(files[path]);
  }

  class Replacement : public TextReplacement {
   public:
    Replacement(FakeFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
    bool Write(const std::string& bytes) override {
      if (bytes_.size() + bytes.size() > owner_.writeLimit) return false;
      bytes_ += bytes;
      return true;
    }
    bool Commit() override {
      if (owner_.commitFails) return false;
      owner_.files[path_] = bytes_;
      owner_.readOnly.erase(path_);
      return true;
    }

   private:
    FakeFiles& owner_;
    std::string path_, bytes_;
  };
  std::unique_ptr<TextReplacement> ReplaceText(const std::string& path) override {
    return std::make_unique<Replacement>(*this, path);
  }
  bool MovePath(const std::string& from, const std::string& to) override {
    log.push_back("move " + from + ">" + to);
    if (failingMoves.contains(from + ">" + to) || !files.contains(from) || files.contains(to)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  bool CopyPath(const std::string& from, const std::string& to) override {
    log.push_back("copy " + from + ">" + to);
    if (!files.contains(from)) return false;
    files[to] = files[from];
    return true;
  }
  bool JoinFiles(const std::string& target, const std::string& head, std::uint64_t headBytes,
                 const std::string& tail) override {
    if (!files.contains(head) || !files.contains(tail)) return false;
    files[target] = files[head].substr(0, headBytes) + files[tail];
    return true;
  }
  std::uint64_t StubSize(const std::string&) override { return stubSize; }
  void SetThreadRedirectionOff(bool off) override { threadRedirection.push_back(off); }
};

class FakeRegistry : public RegistryQueryService {
 public:
  // "root|key|view" -> values by name
  std::map<std::string, std::map<std::string, RegistryValue>> keys;
  std::set<std::string> failing;  // value names whose read fails
  std::vector<std::uint32_t> views;

  static std::string Key(RegistryRoot root, const std::string& key, std::uint32_t view) {
    return std::to_string(static_cast<int>(root)) + "|" + key + "|" + std::to_string(view);
  }
  void Put(RegistryRoot root, const std::string& key, const std::string& name, std::uint32_t type, std::string data,
           std::uint32_t view = 0) {
    keys[Key(root, key, view)][name] = RegistryValue{type, std::move(data)};
  }
  RegistryReadResult Read(RegistryRoot root, const std::string& key, const std::string& name, std::uint32_t view,
                          RegistryValue& value) override {
    views.push_back(view);
    auto k = keys.find(Key(root, key, view));
    if (k == keys.end()) return RegistryReadResult::NoKey;
    if (failing.contains(name)) return RegistryReadResult::Failed;
    auto v = k->second.find(name);
    if (v == k->second.end()) return RegistryReadResult::NoValue;
    value = v->second;
    return RegistryReadResult::Ok;
  }
};

class FakeSystemQueries : public SystemQueryService {
 public:
  bool wow64 = false;
  OsVersionInfo version{true, 6, 1, 7601, "Service Pack 1", false};
  std::uint64_t memory = 1024ull << 20;
  int width = 1024, height = 768, bits = 32, dpi = 96;
  std::set<std::uint32_t> groups{545};
  bool elevated = false;
  std::map<int, std::string> shellFolders;
  char cdDrive = 0;

  bool IsWow64() override { return wow64; }
  OsVersionInfo Version() override { return version; }
  std::uint64_t PhysicalMemory() override { return memory; }
  int ScreenWidth() override { return width; }
  int ScreenHeight() override { return height; }
  int BitsPerPixel() override { return bits; }
  int DpiX() override { return dpi; }
  bool InGroup(std::uint32_t rid) override { return groups.contains(rid); }
  bool Elevated() override { return elevated; }
  std::uint16_t SystemLanguage() override { return 1033; }
  std::string LanguageName(std::uint16_t) override { return "English (United States)"; }
  std::string UserName() override { return "me"; }
  std::string ComputerName() override { return "BOX"; }
  std::string UserDomain() override { return "HOME"; }
  bool TabletPc() override { return false; }
  bool MediaCenter() override { return false; }
  bool VmWare() override { return false; }
  bool VirtualPc() override { return false; }
  std::string NativeArchitecture() override { return wow64 ? "AMD64" : "X86"; }
  std::string ShellFolder(int csidl) override {
    auto it = shellFolders.find(csidl);
    return it == shellFolders.end() ? std::string() : it->second;
  }
  std::string SystemFolder() override { return "C:\\windows\\system32"; }
  std::string Wow64SystemFolder() override { return "C:\\windows\\syswow64"; }
  std::string WindowsFolder() override { return "C:\\windows"; }
  char FirstCdDrive() override { return cdDrive; }
  std::string ExpandEnvironment(const std::string& text) override { return text; }
};

class FakePrograms : public ProgramService {
 public:
  struct Start {
    std::string how;  // "shell", "plain", "logon", "shelluser", "detached"
    ProgramStart start;
    std::string user, domain, password;
    std::string folderAtStart;
  };
  std::vector<Start> starts;
  std::uint32_t exitCode = 0;
  bool hangs = false;            // a started program never ends
  bool shellFails = false;
  bool shellWithoutHandle = false;
  std::optional<StartResult> shellUserResult;  // nullopt: preconditions fail
  bool typeLibOk = true, serverOk = true, detachedOk = true;
  std::vector<std::string> registrations;
  std::function<void()> onWait;  // runs in every wait (on the worker's thread)
  std::string current = "C:\\start\\";
  std::vector<std::uint32_t> registrationViews;

  class Program : public RunningProgram {
   public:
    Program(FakePrograms& owner) : owner_(owner) {}
    bool Wait(std::uint32_t ms) override {
      if (owner_.onWait) owner_.onWait();
      if (owner_.hangs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return !owner_.hangs;
    }
    std::uint32_t ExitCode() override { return owner_.hangs ? 259 : owner_.exitCode; }

   private:
    FakePrograms& owner_;
  };
  StartResult Started() {
    StartResult r;
    r.Started = true;
    r.Program = std::make_unique<Program>(*this);
    return r;
  }
  StartResult ShellStart(const ProgramStart& s) override {
    starts.push_back({"shell", s, "", "", "", current});
    if (shellFails) return {};
    if (shellWithoutHandle) return StartResult{nullptr, true, 0};
    return Started();
  }
  StartResult Start(const ProgramStart& s) override {
    starts.push_back({"plain", s, "", "", "", current});
    return Started();
  }
  StartResult StartWithLogon(const ProgramStart& s, const std::string& user, const std::string& domain,
                             const std::string& password) override {
    starts.push_back({"logon", s, user, domain, password, current});
    return Started();
  }
  std::optional<StartResult> StartAsShellUser(const ProgramStart& s) override {
    starts.push_back({"shelluser", s, "", "", "", current});
    if (!shellUserResult) return std::nullopt;
    if (shellUserResult->Code != 0 || !shellUserResult->Started) return StartResult{nullptr, false, shellUserResult->Code};
    return Started();
  }
  bool StartDetached(const std::string& commandLine) override {
    registrations.push_back("exe " + commandLine);
    return detachedOk;
  }
  bool RegisterTypeLibrary(const std::string& path, bool registering) override {
    registrations.push_back(std::string(registering ? "tlb+ " : "tlb- ") + path + " in " + current);
    return typeLibOk;
  }
  bool RegisterServer(const std::string& path, bool registering) override {
    registrations.push_back(std::string(registering ? "dll+ " : "dll- ") + path);
    return serverOk;
  }
  void InitializeOle(bool) override {}
  void SetRegistrationView(std::uint32_t view) override { registrationViews.push_back(view); }
  std::string CurrentFolder() override { return current; }
  bool SetCurrentFolder(const std::string& folder) override {
    current = folder;
    return true;
  }
  void SetThreadRedirectionOff(bool) override {}
};

}  // namespace kem::test
