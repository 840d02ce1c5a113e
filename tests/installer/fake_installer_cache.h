// A stand-in for the installer cache's machine: a registry of two roots in memory, file
// contents kept beside the fixture host's file and folder sets (so both views agree),
// and a record of what was moved, protected and scheduled.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/services/installer_cache.h"
#include "support/script_fixture.h"

namespace kem::test {

class FakeInstallerCache : public InstallerCacheService {
 public:
  explicit FakeInstallerCache(FakeHost& host) : host_(host) {}

  // (machine, key) -> name -> value; DWORDs are kept as "dword:N".
  std::map<std::pair<bool, std::string>, std::map<std::string, std::string>> registry;
  std::map<std::string, std::string> contents;
  std::set<std::string> links, foreignOwned, protectedFolders, hidden, unprotectable;
  std::map<std::string, bool> compression;
  std::vector<std::string> restartDeletions, moves;
  std::set<std::string> busy;  // files in use: a tree removal leaves them and their folder
  std::map<std::string, std::string> packageCodes;
  std::string commonAppData = "C:\\ProgramData\\", localAppData = "C:\\Users\\me\\AppData\\Local\\";

  // Places a file (its folder too).
  void Put(const std::string& path, const std::string& bytes) {
    contents[path] = bytes;
    host_.files.insert(path);
    host_.folders.insert(path.substr(0, path.find_last_of('\\') + 1));
  }
  std::string Value(bool machine, const std::string& key, const std::string& name) const {
    auto k = registry.find({machine, key});
    if (k == registry.end()) return "<no key>";
    auto v = k->second.find(name);
    return v == k->second.end() ? "<none>" : v->second;
  }

  bool KeyExists(bool machine, const std::string& key) override { return registry.contains({machine, key}); }
  std::optional<std::string> ReadString(bool machine, const std::string& key, const std::string& name) override {
    auto k = registry.find({machine, key});
    if (k == registry.end()) return std::nullopt;
    auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
  }
  bool WriteString(bool machine, const std::string& key, const std::string& name, const std::string& value) override {
    registry[{machine, key}][name] = value;
    return true;
  }
  bool WriteDword(bool machine, const std::string& key, const std::string& name, std::uint32_t value) override {
    registry[{machine, key}][name] = "dword:" + std::to_string(value);
    return true;
  }
  void DeleteKey(bool machine, const std::string& key) override { registry.erase({machine, key}); }
  std::string CommonAppDataFolder() override { return commonAppData; }
  std::string LocalAppDataFolder() override { return localAppData; }
  std::string RoamingAppDataFolder() override { return "C:\\Users\\me\\AppData\\Roaming\\"; }
  std::string DesktopFolder() override { return "C:\\Users\\me\\Desktop\\"; }
  bool CreateFolders(const std::string& folder, std::vector<std::string>& created) override {
    if (folder.rfind("Q:", 0) == 0) return false;  // a drive that refuses
    std::string f = folder.back() == '\\' ? folder : folder + "\\";
    std::vector<std::string> made;
    for (std::size_t p = f.find('\\', 3); p != std::string::npos; p = f.find('\\', p + 1)) {
      std::string part = f.substr(0, p + 1);
      if (host_.folders.insert(part).second) made.push_back(part);
    }
    created.insert(created.end(), made.begin(), made.end());
    return true;
  }
  bool RemoveEmptyFolder(const std::string& folder) override {
    std::string f = folder.back() == '\\' ? folder : folder + "\\";
    for (const auto& p : host_.files)
      if (p.rfind(f, 0) == 0) return false;
    for (const auto& p : host_.folders)
      if (p != f && p.rfind(f, 0) == 0) return false;
    return host_.folders.erase(f) > 0 || links.erase(folder) > 0;
  }
  bool ProtectFolder(const std::string& folder) override {
    if (unprotectable.contains(folder)) return false;
    protectedFolders.insert(folder);
    return true;
  }
  bool CreateProtectedFolder(const std::string& folder) override {
    if (unprotectable.contains(folder)) return false;
    std::vector<std::string> created;
    CreateFolders(folder, created);
    protectedFolders.insert(folder);
    return true;
  }
  bool OwnedByAdministrators(const std::string& folder) override { return !foreignOwned.contains(folder); }
  bool IsLink(const std::string& path) override { return links.contains(path); }
  void SetCompression(const std::string& folder, bool on) override { compression[folder] = on; }
  void SetHidden(const std::string& folder) override { hidden.insert(folder); }
  bool CopyOver(const std::string& from, const std::string& to) override {
    Put(to, contents.contains(from) ? contents[from] : "copy of " + from);
    return true;
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    if (!host_.files.contains(path)) return std::nullopt;
    return contents[path];
  }
  bool WriteReplacing(const std::string& path, const std::string& bytes) override {
    Put(path, bytes);
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    contents.erase(path);
    return host_.files.erase(path) > 0;
  }
  std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) override {
    std::vector<std::string> names;
    const std::string suffix = pattern == "*" ? "" : pattern.substr(1);
    for (const auto& p : host_.files) {
      if (p.rfind(folder, 0) != 0) continue;
      std::string name = p.substr(folder.size());
      if (name.find('\\') != std::string::npos) continue;
      if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> ListFolders(const std::string& folder) override {
    std::vector<std::string> names;
    for (const auto& p : host_.folders) {
      if (p.size() <= folder.size() || p.rfind(folder, 0) != 0) continue;
      std::string rest = p.substr(folder.size());
      if (rest.find('\\') == rest.size() - 1) names.push_back(rest.substr(0, rest.size() - 1));
    }
    return names;
  }
  void RemoveTree(const std::string& folder) override {
    bool kept = false;
    for (auto it = host_.files.begin(); it != host_.files.end();) {
      if (it->rfind(folder, 0) == 0 && !busy.contains(*it)) {
        contents.erase(*it);
        it = host_.files.erase(it);
      } else {
        kept = kept || it->rfind(folder, 0) == 0;
        ++it;
      }
    }
    if (kept) return;
    for (auto it = host_.folders.begin(); it != host_.folders.end();)
      it = it->rfind(folder, 0) == 0 ? host_.folders.erase(it) : std::next(it);
  }
  bool MoveFolder(const std::string& from, const std::string& to) override {
    moves.push_back(from + " -> " + to);
    const std::string f = from + "\\", t = to + "\\";
    std::set<std::string> files, folders;
    for (const auto& p : host_.files) files.insert(p.rfind(f, 0) == 0 ? t + p.substr(f.size()) : p);
    for (const auto& p : host_.folders) folders.insert(p.rfind(f, 0) == 0 ? t + p.substr(f.size()) : p);
    host_.files = std::move(files);
    host_.folders = std::move(folders);
    return true;
  }
  void DeleteAtRestart(const std::string& path) override { restartDeletions.push_back(path); }
  std::string ShortPath(const std::string& path) override { return path; }
  std::string ProductPackageCode(const std::string& productCode) override {
    auto it = packageCodes.find(productCode);
    return it == packageCodes.end() ? std::string() : it->second;
  }

 private:
  FakeHost& host_;
};

}  // namespace kem::test
