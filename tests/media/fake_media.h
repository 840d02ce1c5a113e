// An in-memory disk for media copying and extraction, an archive extractor over it and a
// scripted retry question.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "media/block_media.h"

namespace kem::test {

// UTF-8 <-> UTF-16 for the two-byte characters the tests use.
inline std::u16string Utf8To16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80 || i + 1 == s.size()) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F)));
    }
  }
  return out;
}
inline std::string Utf16To8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}
// Names with bytes past ASCII stand for names the code page cannot spell.
inline bool Spellable(const std::string& name) {
  for (unsigned char c : name)
    if (c >= 0x80) return false;
  return true;
}

// Files by full path (names the code page cannot spell in UTF-8), folders with a trailing
// backslash. Thread-safe: the worker and the test's main thread both use it.
class FakeMediaFiles : public MediaFileService {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> links;       // folder links (trailing backslash): listed, never entered
  // Links the file system shows as plain entries (files, or folders with a trailing
  // backslash): listed and entered like their own, but anything written there lands elsewhere.
  std::set<std::string> foreign;
  std::set<std::string> readOnly;
  std::map<std::string, std::string> shortNames;  // full path -> short name of its last element
  std::set<std::string> failMoveTo;  // moves to these targets fail
  std::set<std::string> failCopyTo;  // copies to these targets fail
  bool failAllMoves = false;
  std::vector<std::string> log;      // "move a -> b", "copy a -> b", "delete a", "compress a", "redirect on|off"
  std::vector<std::thread::id> redirectionThreads;
  std::function<void(const std::string& from, const std::string& to)> beforeMove;
  int uniqueFolders = 0;

  // Back to an empty disk.
  void Reset() {
    std::lock_guard<std::recursive_mutex> lock(m);
    files.clear();
    folders.clear();
    links.clear();
    foreign.clear();
    readOnly.clear();
    shortNames.clear();
    failMoveTo.clear();
    failCopyTo.clear();
    failAllMoves = false;
    log.clear();
    redirectionThreads.clear();
    beforeMove = nullptr;
    uniqueFolders = 0;
  }

  void AddFile(const std::string& path, const std::string& content = "x") {
    std::lock_guard<std::recursive_mutex> lock(m);
    files[path] = content;
    for (auto cut = path.find('\\', 3); cut != std::string::npos; cut = path.find('\\', cut + 1))
      folders.insert(path.substr(0, cut + 1));
  }
  std::vector<std::string> FilesUnder(const std::string& folder) {
    std::lock_guard<std::recursive_mutex> lock(m);
    std::vector<std::string> out;
    for (const auto& [path, content] : files)
      if (path.rfind(folder, 0) == 0) out.push_back(path.substr(folder.size()));
    return out;
  }

  bool FileExists(const std::string& path) override { return Find(path) != nullptr; }
  bool FolderExists(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    return folders.count(Folder(path)) != 0;
  }
  std::vector<MediaEntry> List(const std::string& folderPath) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string folder = Resolve(Folder(folderPath));
    std::vector<MediaEntry> out;
    if (!folders.count(folder) || links.count(folder)) return out;
    for (const auto& f : folders) {
      if (f.size() <= folder.size() || f.rfind(folder, 0) != 0) continue;
      const std::string rest = f.substr(folder.size(), f.size() - folder.size() - 1);
      if (rest.find('\\') != std::string::npos) continue;
      MediaEntry e;
      if (Spellable(rest)) {
        e.Name = rest;
      } else {
        e.Name = shortNames.count(f.substr(0, f.size() - 1)) ? shortNames[f.substr(0, f.size() - 1)] : "?";
        e.WideName = Utf8To16(rest);
      }
      e.Folder = true;
      e.Link = links.count(f) != 0;
      out.push_back(e);
    }
    for (const auto& [path, content] : files) {
      if (path.rfind(folder, 0) != 0) continue;
      const std::string rest = path.substr(folder.size());
      if (rest.find('\\') != std::string::npos) continue;
      MediaEntry e;
      if (Spellable(rest)) {
        e.Name = rest;
      } else {
        e.Name = shortNames.count(path) ? shortNames[path] : std::string("?");
        e.WideName = Utf8To16(rest);
      }
      out.push_back(e);
    }
    return out;
  }
  bool CreateFolders(const std::string& folderPath) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string folder = Resolve(Folder(folderPath));
    for (auto cut = folder.find('\\', 3); cut != std::string::npos; cut = folder.find('\\', cut + 1))
      folders.insert(folder.substr(0, cut + 1));
    return true;
  }
  bool SetNormalAttributes(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    readOnly.erase(path);
    return true;
  }
  bool CreateEmptyFile(const std::string& path) override {
    AddFile(path, "");
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string* key = Key(path);
    if (!key || readOnly.count(*key)) return false;
    log.push_back("delete " + *key);
    files.erase(*key);
    return true;
  }
  bool RemoveFolder(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string folder = Folder(path);
    if (!folders.count(folder)) return false;
    if (!links.count(folder)) {
      for (const auto& [p, c] : files)
        if (p.rfind(folder, 0) == 0) return false;
      for (const auto& f : folders)
        if (f != folder && f.rfind(folder, 0) == 0) return false;
    } else {
      links.erase(folder);
    }
    folders.erase(folder);
    return true;
  }
  bool MoveTo(const std::string& from, const std::string& to) override {
    if (beforeMove) beforeMove(from, to);
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string* key = Key(from);
    if (!key || failAllMoves || failMoveTo.count(to) || files.count(to) || !folders.count(Parent(to))) return false;
    log.push_back("move " + *key + " -> " + to);
    files[to] = files[*key];
    files.erase(*key);
    return true;
  }
  bool CopyTo(const std::string& from, const std::string& to, bool failIfExists) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string* key = Key(from);
    if (!key || failCopyTo.count(to) || !folders.count(Parent(to))) return false;
    if (files.count(to) && (failIfExists || readOnly.count(to))) return false;
    log.push_back("copy " + *key + " -> " + to);
    files[to] = files[*key];
    return true;
  }
  std::optional<std::uint64_t> FileSize(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string* key = Key(path);
    if (!key) return std::nullopt;
    return files[*key].size();
  }
  bool SetCompressed(const std::string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    log.push_back("compress " + path);
    return true;
  }
  std::string CreateUniqueFolder(const std::string& parent, const std::string& prefix) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string folder = Folder(parent) + prefix + std::to_string(++uniqueFolders) + "\\";
    folders.insert(folder);
    return folder;
  }
  void SetThreadRedirectionOff(bool off) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    log.push_back(off ? "redirect off" : "redirect on");
    redirectionThreads.push_back(std::this_thread::get_id());
  }
  bool OwnPath(const std::u16string& root, const std::u16string& path) override {
    std::lock_guard<std::recursive_mutex> lock(m);
    const std::string top = Utf16To8(root), target = Utf16To8(path);
    if (target.rfind(top, 0) != 0) return false;
    for (auto cut = target.find('\\', top.size()); cut != std::string::npos; cut = target.find('\\', cut + 1)) {
      const std::string level = target.substr(0, cut + 1);
      if (level.size() > top.size() && (links.count(level) || foreign.count(level))) return false;
    }
    return !foreign.count(target) && !links.count(target);
  }
  std::u16string Widen(const std::string& path) override { return Utf8To16(path); }
  bool FileExistsWide(const std::u16string& path) override { return FileExists(Utf16To8(path)); }
  bool CreateFoldersWide(const std::u16string& folder) override { return CreateFolders(Utf16To8(folder)); }
  bool MoveToWide(const std::u16string& from, const std::u16string& to) override {
    return MoveTo(Utf16To8(from), Utf16To8(to));
  }
  bool CopyToWide(const std::u16string& from, const std::u16string& to, bool failIfExists) override {
    return CopyTo(Utf16To8(from), Utf16To8(to), failIfExists);
  }
  bool SetNormalAttributesWide(const std::u16string& path) override { return SetNormalAttributes(Utf16To8(path)); }
  bool RemoveFileWide(const std::u16string& path) override { return RemoveFile(Utf16To8(path)); }

  std::recursive_mutex m;

 private:
  static std::string Folder(const std::string& path) {
    return !path.empty() && path.back() == '\\' ? path : path + "\\";
  }
  static std::string Parent(const std::string& path) {
    const auto cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  }
  // The path in the entries' own names: each element given by its short name is replaced.
  std::string Resolve(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    while (start < path.size()) {
      auto cut = path.find('\\', start);
      const bool last = cut == std::string::npos;
      const std::string element = path.substr(start, last ? std::string::npos : cut - start);
      std::string own = element;
      for (const auto& [full, shortName] : shortNames)
        if (shortName == element && Parent(full) == out) own = full.substr(out.size());
      out += own;
      if (last) break;
      out += "\\";
      start = cut + 1;
    }
    return out;
  }
  // The file's key: the path in the entries' own names.
  const std::string* Key(const std::string& path) {
    auto it = files.find(Resolve(path));
    return it == files.end() ? nullptr : &it->first;
  }
  const std::string* Find(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(m);
    return Key(path);
  }
};

// Archives as lists of (entry path, content) with a password; extraction writes into the
// fake disk, reporting each entry's bytes.
class FakeArchives : public ArchiveExtractor {
 public:
  struct Archive {
    std::string Password;
    std::vector<std::pair<std::string, std::string>> Entries;
  };
  explicit FakeArchives(FakeMediaFiles& files) : files_(files) {}
  std::map<std::string, Archive> archives;
  // Called after each entry; may change the world (a cancel, a failure).
  std::function<void(int entry)> afterEntry;
  std::vector<std::string> calls;  // "archive|password|destination|overwrite|arrangement"
  std::vector<std::thread::id> threads;
  std::uint64_t reportedTotal = 0;  // when set, the total bytes reported

  bool Extract(const std::string& archivePath, const std::string& password, const std::string& destination,
               bool overwrite, bool arrangement, const Progress& progress, std::string& errorText) override {
    calls.push_back(archivePath + "|" + password + "|" + destination + "|" + (overwrite ? "1" : "0") + "|" +
                    (arrangement ? "1" : "0"));
    threads.push_back(std::this_thread::get_id());
    auto it = archives.find(archivePath);
    if (it == archives.end() || !files_.FileExists(archivePath)) {
      errorText = "The archive file was not found";
      return false;
    }
    if (it->second.Password != password) {
      errorText = "The archive cannot be opened: unsupported archive or incorrect password";
      return false;
    }
    std::uint64_t total = 0, done = 0;
    for (const auto& [name, content] : it->second.Entries) total += content.size();
    if (reportedTotal) total = reportedTotal;
    int n = 0;
    for (const auto& [name, content] : it->second.Entries) {
      if (!progress(name, done, total)) {
        errorText = "#1006";
        return false;
      }
      std::string path = arrangement ? name : name.substr(name.find_last_of('\\') + 1);
      files_.CreateFolders(destination + (path.find('\\') == std::string::npos ? std::string()
                                                                                 : path.substr(0, path.find_last_of('\\') + 1)));
      if (files_.FileExists(destination + path) && !overwrite) continue;
      files_.AddFile(destination + path, content);
      done += content.size();
      if (afterEntry) afterEntry(++n);
    }
    if (!progress(it->second.Entries.empty() ? std::string() : it->second.Entries.back().first,
                  reportedTotal ? reportedTotal : done, total)) {
      errorText = "#1006";
      return false;
    }
    return true;
  }

 private:
  FakeMediaFiles& files_;
};

// The retry question answered from a list; Cancel when it runs out.
class FakeRetryPrompt : public ExtractRetryPrompt {
 public:
  struct Answer {
    ExtractRetryChoice Choice;
    bool TimedOut = false;
  };
  std::deque<Answer> answers;
  std::vector<std::string> texts;  // caption of each question asked
  std::function<void()> onAsk;

  ExtractRetryChoice Ask(std::uintptr_t, const std::function<std::string(int)>& message, bool& timedOut) override {
    texts.push_back(message(33));
    if (onAsk) onAsk();
    timedOut = false;
    if (answers.empty()) return ExtractRetryChoice::Cancel;
    Answer a = answers.front();
    answers.pop_front();
    timedOut = a.TimedOut;
    return a.Choice;
  }
};

}  // namespace kem::test
