// The destination folder on a POSIX file system, paths in UTF-8 (native builds; the archive
// library has its own Windows implementation).
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "media/sevenzip/extract.h"

namespace kem::sevenzip {

namespace {

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

[[noreturn]] void WriteFailed(const std::string& path) {
  throw ArchiveError(ErrorKind::kWriteError, "Cannot write " + path);
}

// The UTF-8 form the system calls take; a name that has none (an unpaired surrogate)
// cannot be written.
std::string Utf16ToUtf8(const std::u16string& path) {
  try {
    return std::filesystem::path(path).string();
  } catch (const std::exception&) {
    WriteFailed("a name that is not valid UTF-16");
  }
}

void ApplyTime(const std::string& path, const Entry& entry) {
  if (!entry.hasModificationTime || entry.modificationTime < kUnixEpochAsFileTime) return;
  uint64_t t = entry.modificationTime - kUnixEpochAsFileTime;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(t / 10000000);
  times[1].tv_nsec = static_cast<long>((t % 10000000) * 100);
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool IsDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

class LocalFile final : public OutputFile {
 public:
  LocalFile(std::string path, std::FILE* f) : path_(std::move(path)), f_(f) {}
  ~LocalFile() override { Abort(); }
  void Write(const uint8_t* data, size_t size) override {
    if (std::fwrite(data, 1, size, f_) != size) WriteFailed(path_);
  }
  void Commit(const Entry& entry) override {
    std::FILE* f = f_;
    f_ = nullptr;
    if (std::fclose(f) != 0) {
      std::remove(path_.c_str());
      WriteFailed(path_);
    }
    ApplyTime(path_, entry);
    // The read-only attribute becomes a file without write permission.
    if (entry.hasAttributes && (entry.attributes & 1)) {
      struct stat st;
      if (stat(path_.c_str(), &st) == 0) chmod(path_.c_str(), st.st_mode & ~mode_t{S_IWUSR | S_IWGRP | S_IWOTH});
    }
  }
  void Abort() noexcept override {
    if (!f_) return;
    std::fclose(f_);
    f_ = nullptr;
    std::remove(path_.c_str());
  }

 private:
  std::string path_;
  std::FILE* f_;
};

class LocalFolder final : public OutputFolder {
 public:
  char16_t Separator() const override { return u'/'; }
  std::u16string Root(const std::u16string& destination) override {
    std::u16string root = destination;
    while (root.size() > 1 && root.back() == u'/') root.pop_back();
    return root;
  }
  size_t PathLimit(bool) const override { return PATH_MAX - 1; }
  Existing Query(const std::u16string& path) override {
    Existing e;
    struct stat st;
    if (lstat(Utf16ToUtf8(path).c_str(), &st) != 0) return e;
    e.exists = true;
    e.isDirectory = S_ISDIR(st.st_mode);
    e.size = static_cast<uint64_t>(st.st_size);
    e.modificationTime = static_cast<uint64_t>(st.st_mtime) * 10000000 + kUnixEpochAsFileTime;
    return e;
  }
  void CreateDirectories(const std::u16string& path) override {
    std::string p = Utf16ToUtf8(path);
    if (IsDirectory(p.c_str())) return;
    // One level at a time from the top, in one buffer: each separator in turn ends the text.
    for (size_t i = 1; i <= p.size(); ++i) {
      if (i < p.size() && p[i] != '/') continue;
      char kept = p[i];
      p[i] = '\0';
      bool made = mkdir(p.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(p.c_str()));
      p[i] = kept;
      if (!made) WriteFailed(p.substr(0, i));
    }
  }
  std::unique_ptr<OutputFile> Create(const std::u16string& path) override {
    std::string p = Utf16ToUtf8(path);
    // Replace rather than write through: the target may be a link or read-only.
    std::remove(p.c_str());
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) WriteFailed(p);
    return std::make_unique<LocalFile>(p, f);
  }
  void FinishDirectory(const std::u16string& path, const Entry& entry) override { ApplyTime(Utf16ToUtf8(path), entry); }
};

}  // namespace

std::unique_ptr<OutputFolder> LocalOutputFolder() { return std::make_unique<LocalFolder>(); }

}  // namespace kem::sevenzip

#endif
