#include "media/sevenzip/extract.h"

#include <algorithm>
#include <unordered_map>

#include "common/text.h"

namespace kem::sevenzip {

namespace {

constexpr uint64_t kProgressStep = 4ull << 20;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper = UpperCase(base);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* d : kDevices)
    if (upper == d) return true;
  if (upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT"))) {
    unsigned char n = static_cast<unsigned char>(upper[3]);
    // Digits, and the superscript digits 1 to 3 of the Latin code pages.
    if ((n >= '0' && n <= '9') || n == 0xB9 || n == 0xB2 || n == 0xB3) return true;
  }
  return false;
}

// Splits a name into its components; a single trailing separator (folder entries) is allowed.
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> parts;
  if (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsSeparator(name[i])) {
      parts.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::string NormalName(std::string_view name) {
  std::string r(name);
  std::replace(r.begin(), r.end(), '/', '\\');
  while (!r.empty() && r.back() == '\\') r.pop_back();
  return UpperCase(r);
}

class Extraction final : public ExtractSink {
 public:
  Extraction(Archive& archive, OutputFolder& folder, const ExtractRequest& request)
      : archive_(archive), folder_(folder), request_(request), entries_(archive.Entries()) {}

  void Run() {
    Select();
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!wanted_[i]) continue;
      if (!IsSafeEntryName(entries_[i].name))
        throw ArchiveError(ErrorKind::kUnsafeName, "Unsafe entry name: " + entries_[i].name);
      if (!entries_[i].isDirectory) {
        total_ += entries_[i].size;
        ++fileCount_;
      }
      ++entryCount_;
    }
    if (!request_.destination.empty()) folder_.CreateDirectories(request_.destination);
    // Folders first, then empty files, then the files with data in archive order.
    std::vector<size_t> folders;
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (!wanted_[i] || !e.isDirectory) continue;
      if (!request_.withoutFolders) {
        folder_.CreateDirectories(Target(e));
        folders.push_back(i);
      }
      EntryDone();
    }
    std::vector<bool> withData(entries_.size(), false);
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (!wanted_[i] || e.isDirectory) continue;
      if (e.hasStream) {
        withData[i] = true;
        continue;
      }
      if (BeginEntry(i)) EndEntry(i);
    }
    try {
      archive_.Extract(withData, *this);
    } catch (...) {
      if (current_) current_->Abort();
      throw;
    }
    if (request_.progress && fileCount_ > 0) request_.progress(lastName_, total_, total_);
    // Folder times last, deepest first, since writing into a folder changes its time.
    std::sort(folders.begin(), folders.end(),
              [&](size_t a, size_t b) { return entries_[a].name.size() > entries_[b].name.size(); });
    for (size_t i : folders) folder_.FinishDirectory(Target(entries_[i]), entries_[i]);
  }

  bool BeginEntry(size_t index) override {
    const Entry& e = entries_[index];
    lastName_ = e.name;
    Progress(e.name);
    std::string target = Target(e);
    std::string parent = ParentOf(target);
    if (!parent.empty()) folder_.CreateDirectories(parent);
    OutputFolder::Existing existing = folder_.Query(target);
    if (existing.isDirectory) throw ArchiveError(ErrorKind::kWriteError, "A folder is in the way of " + target);
    if (existing.exists && !Replace(target, e, existing)) {
      done_ += e.size;
      EntryDone();
      return false;
    }
    current_ = folder_.Create(target);
    sinceProgress_ = 0;
    return true;
  }

  void Data(const uint8_t* data, size_t size) override {
    current_->Write(data, size);
    done_ += size;
    sinceProgress_ += size;
    if (sinceProgress_ >= kProgressStep) {
      sinceProgress_ = 0;
      Progress(lastName_);
    }
  }

  void EndEntry(size_t index) override {
    std::unique_ptr<OutputFile> file = std::move(current_);
    file->Commit(entries_[index]);
    EntryDone();
  }

 private:
  void Select() {
    wanted_.assign(entries_.size(), false);
    if (!request_.selection) {
      for (size_t i = 0; i < entries_.size(); ++i) wanted_[i] = !entries_[i].isAnti;
      return;
    }
    std::unordered_multimap<std::string, size_t> byName;
    for (size_t i = 0; i < entries_.size(); ++i)
      if (!entries_[i].isAnti) byName.emplace(NormalName(entries_[i].name), i);
    for (const std::string& name : *request_.selection) {
      auto [first, last] = byName.equal_range(NormalName(name));
      if (first == last) throw ArchiveError(ErrorKind::kSelection, "Not in the archive: " + name);
      for (auto it = first; it != last; ++it) wanted_[it->second] = true;
    }
  }

  std::string Target(const Entry& e) const {
    std::vector<std::string_view> parts = Components(e.name);
    std::string path = request_.destination;
    if (!path.empty() && !IsSeparator(path.back())) path.push_back(folder_.Separator());
    if (request_.withoutFolders) return path + std::string(parts.back());
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i > 0) path.push_back(folder_.Separator());
      path += parts[i];
    }
    return path;
  }

  std::string ParentOf(const std::string& path) const {
    size_t pos = path.find_last_of("\\/");
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
  }

  bool Replace(const std::string& target, const Entry& e, const OutputFolder::Existing& existing) {
    if (overwriteAll_) return true;
    if (skipAll_) return false;
    if (!request_.overwrite) return true;
    switch (request_.overwrite(target, e, existing)) {
      case OverwriteAnswer::kSkip: return false;
      case OverwriteAnswer::kOverwrite: return true;
      case OverwriteAnswer::kSkipAll: skipAll_ = true; return false;
      case OverwriteAnswer::kOverwriteAll: overwriteAll_ = true; return true;
      default: throw ArchiveError(ErrorKind::kCancelled, "Extraction cancelled");
    }
  }

  void Progress(const std::string& name) {
    if (request_.progress && !request_.progress(name, done_, total_))
      throw ArchiveError(ErrorKind::kCancelled, "Extraction cancelled");
  }

  void EntryDone() {
    ++entriesDone_;
    if (request_.entryProgress && !request_.entryProgress(entriesDone_, entryCount_))
      throw ArchiveError(ErrorKind::kCancelled, "Extraction cancelled");
  }

  Archive& archive_;
  OutputFolder& folder_;
  const ExtractRequest& request_;
  const std::vector<Entry>& entries_;
  std::vector<bool> wanted_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  uint64_t sinceProgress_ = 0;
  uint32_t fileCount_ = 0;
  uint32_t entryCount_ = 0;
  uint32_t entriesDone_ = 0;
  bool overwriteAll_ = false;
  bool skipAll_ = false;
  std::string lastName_;
  std::unique_ptr<OutputFile> current_;
};

}  // namespace

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return false;
  }
  for (std::string_view part : Components(name)) {
    std::string_view trimmed = part;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.remove_suffix(1);
    if (trimmed.empty()) return false;
    if (IsDeviceName(part)) return false;
  }
  return true;
}

void ExtractToFolder(Archive& archive, OutputFolder& folder, const ExtractRequest& request) {
  Extraction(archive, folder, request).Run();
}

}  // namespace kem::sevenzip
