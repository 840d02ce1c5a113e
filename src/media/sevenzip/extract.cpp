#include "media/sevenzip/extract.h"

#include <algorithm>
#include <unordered_map>

namespace kem::sevenzip {

namespace {

constexpr uint64_t kProgressStep = 4ull << 20;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// The upper-case form Windows file names compare by, for the letters of the common
// single-byte code pages (Latin, Greek, Cyrillic) and the full-width Latin letters; other
// characters stay as they are.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
    return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  switch (c) {
    case 0xFF: return 0x178;
    case 0x153: return 0x152;
    case 0x161: return 0x160;
    case 0x17E: return 0x17D;
    default: return c;
  }
}

// The key two names share when they address the same file: separators unified, trailing
// separators dropped, letter case folded.
std::u16string NameKey(std::u16string_view name) {
  while (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  std::u16string key(name);
  for (char16_t& c : key) c = c == u'/' ? u'\\' : FoldCase(c);
  return key;
}

std::u16string_view LastComponent(std::u16string_view name) {
  while (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  size_t i = name.size();
  while (i > 0 && !IsSeparator(name[i - 1])) --i;
  return name.substr(i);
}

// Calls f(component) for each component of the name (a single trailing separator ends the
// last one); stops early and returns false when f does.
template <typename F>
bool ForEachComponent(std::u16string_view name, F&& f) {
  if (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsSeparator(name[i])) {
      if (!f(name.substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  return true;
}

bool IsDeviceName(std::u16string_view component) {
  std::u16string_view base = component.substr(0, component.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  if (base.size() > 7) return false;
  std::u16string upper(base);
  for (char16_t& c : upper) c = AsciiUpper(c);
  static const char16_t* const kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
  for (const char16_t* d : kDevices)
    if (upper == d) return true;
  if (upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT"))) {
    char16_t n = upper[3];
    // Digits, and the superscript digits 1 to 3.
    if ((n >= u'0' && n <= u'9') || n == 0xB9 || n == 0xB2 || n == 0xB3) return true;
  }
  return false;
}

// A component's own check, also applied at every join.
bool IsSafeComponent(std::u16string_view part) {
  std::u16string_view trimmed = part;
  while (!trimmed.empty() && (trimmed.back() == u'.' || trimmed.back() == u' ')) trimmed.remove_suffix(1);
  return !trimmed.empty() && !IsDeviceName(part);
}

[[noreturn]] void PathTooLong(const std::string& what) {
  throw ArchiveError(ErrorKind::kWriteError, "The path is too long: " + what);
}

class Extraction final : public ExtractSink {
 public:
  Extraction(Archive& archive, OutputFolder& folder, const ExtractRequest& request)
      : archive_(archive), folder_(folder), request_(request), entries_(archive.Entries()), sep_(folder.Separator()) {
    toCaller_ = request.toCallerText ? request.toCallerText : NameConverter(Utf16ToWindows1252);
    fromCaller_ = request.fromCallerText ? request.fromCallerText : PasswordConverter(Windows1252ToUtf16);
  }

  void Run() {
    Select();
    for (size_t i = 0; i < entries_.size(); ++i)
      if (wanted_[i] && !IsSafeEntryName(entries_[i].wideName))
        throw ArchiveError(ErrorKind::kUnsafeName, "Unsafe entry name: " + entries_[i].name);
    root_ = folder_.Root(request_.destination);
    if (root_.empty() || root_.size() > folder_.PathLimit(true)) PathTooLong(toCaller_(root_));
    rootEndsInSeparator_ = IsSeparator(root_.back());
    // Every target is joined once before anything is written, so that a path over the
    // limit fails the call with the destination untouched.
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!wanted_[i]) continue;
      const Entry& e = entries_[i];
      if (!e.isDirectory || !request_.withoutFolders) Target(e);
      if (!e.isDirectory) {
        total_ += e.size;
        ++fileCount_;
      }
      ++entryCount_;
    }
    folder_.CreateDirectories(root_);
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
              [&](size_t a, size_t b) { return entries_[a].wideName.size() > entries_[b].wideName.size(); });
    for (size_t i : folders) folder_.FinishDirectory(Target(entries_[i]), entries_[i]);
  }

  bool BeginEntry(size_t index) override {
    const Entry& e = entries_[index];
    lastName_ = e.name;
    Progress(e.name);
    std::u16string target = Target(e);
    size_t cut = target.rfind(sep_);
    if (cut != std::u16string::npos && cut > root_.size()) {
      std::u16string_view parent(target.data(), cut);
      if (parent != madeFolder_) {
        madeFolder_.assign(parent);
        folder_.CreateDirectories(madeFolder_);
      }
    }
    OutputFolder::Existing existing = folder_.Query(target);
    if (existing.isDirectory) throw ArchiveError(ErrorKind::kWriteError, "A folder is in the way of " + e.name);
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
  // The wanted entries: the selection (one hash look-up per entry and per selected name),
  // then, of the entries that land on the same target, only the last.
  void Select() {
    wanted_.assign(entries_.size(), false);
    if (!request_.selection) {
      for (size_t i = 0; i < entries_.size(); ++i) wanted_[i] = !entries_[i].isAnti;
    } else {
      // Selected names and listed names compare in UTF-16, where a double-byte character
      // cannot be mistaken for a separator or a letter.
      std::unordered_map<std::u16string, const std::string*> unmatched;
      for (const std::string& name : *request_.selection) unmatched.emplace(NameKey(fromCaller_(name)), &name);
      std::unordered_map<std::u16string, bool> chosen;
      for (auto& [key, name] : unmatched) chosen.emplace(key, false);
      for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].isAnti) continue;
        auto it = chosen.find(NameKey(fromCaller_(entries_[i].name)));
        if (it == chosen.end()) continue;
        wanted_[i] = true;
        it->second = true;
      }
      for (auto& [key, found] : chosen)
        if (!found) throw ArchiveError(ErrorKind::kSelection, "Not in the archive: " + *unmatched[key]);
    }
    std::unordered_map<std::u16string, size_t> last;
    for (size_t i = 0; i < entries_.size(); ++i)
      if (Competes(i)) last[TargetKey(entries_[i])] = i;
    for (size_t i = 0; i < entries_.size(); ++i)
      if (Competes(i) && last[TargetKey(entries_[i])] != i) wanted_[i] = false;
  }

  // Folders are not written without the folder arrangement, so they take no target.
  bool Competes(size_t i) const { return wanted_[i] && !(request_.withoutFolders && entries_[i].isDirectory); }

  std::u16string TargetKey(const Entry& e) const {
    return NameKey(request_.withoutFolders ? LastComponent(e.wideName) : std::u16string_view(e.wideName));
  }

  // The destination path of an entry. Each join checks the component and the length, and
  // the result must still lie below the root.
  std::u16string Target(const Entry& e) const {
    const size_t limit = folder_.PathLimit(e.isDirectory);
    std::u16string path = root_;
    auto join = [&](std::u16string_view part) {
      if (!IsSafeComponent(part) || part == u"." || part == u".." ||
          std::any_of(part.begin(), part.end(), IsSeparator))
        throw ArchiveError(ErrorKind::kUnsafeName, "Unsafe entry name: " + e.name);
      if (path.size() + 1 + part.size() > limit) PathTooLong(e.name);
      if (!IsSeparator(path.back())) path.push_back(sep_);
      path.append(part);
      return true;
    };
    if (request_.withoutFolders)
      join(LastComponent(e.wideName));
    else
      ForEachComponent(e.wideName, join);
    if (path.size() <= root_.size() || path.compare(0, root_.size(), root_) != 0 ||
        (!rootEndsInSeparator_ && path[root_.size()] != sep_))
      throw ArchiveError(ErrorKind::kUnsafeName, "Unsafe entry name: " + e.name);
    return path;
  }

  bool Replace(const std::u16string& target, const Entry& e, const OutputFolder::Existing& existing) {
    if (overwriteAll_) return true;
    if (skipAll_) return false;
    if (!request_.overwrite) return true;
    switch (request_.overwrite(toCaller_(target), e, existing)) {
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
  const char16_t sep_;
  NameConverter toCaller_;
  PasswordConverter fromCaller_;
  std::u16string root_;
  bool rootEndsInSeparator_ = false;
  std::u16string madeFolder_;  // the last parent folder made sure of
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

bool IsSafeEntryName(std::u16string_view name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  for (char16_t c : name)
    if (c < 0x20 || c == u':' || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
      return false;
  size_t depth = 0;
  return ForEachComponent(name, [&](std::u16string_view part) { return ++depth <= kMaxNameDepth && IsSafeComponent(part); });
}

void ExtractToFolder(Archive& archive, OutputFolder& folder, const ExtractRequest& request) {
  Extraction(archive, folder, request).Run();
}

}  // namespace kem::sevenzip
