// The destination folder on a POSIX file system (native builds; the archive library has
// its own Windows implementation).
#if !defined(_WIN32)

#include <sys/stat.h>
#include <fcntl.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "media/sevenzip/extract.h"

namespace kem::sevenzip {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

[[noreturn]] void WriteFailed(const std::string& path) {
  throw ArchiveError(ErrorKind::kWriteError, "Cannot write " + path);
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
      std::error_code ec;
      fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove, ec);
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
  char Separator() const override { return '/'; }
  Existing Query(const std::string& path) override {
    Existing e;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return e;
    e.exists = true;
    e.isDirectory = S_ISDIR(st.st_mode);
    e.size = static_cast<uint64_t>(st.st_size);
    e.modificationTime = static_cast<uint64_t>(st.st_mtime) * 10000000 + kUnixEpochAsFileTime;
    return e;
  }
  void CreateDirectories(const std::string& path) override {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path)) WriteFailed(path);
  }
  std::unique_ptr<OutputFile> Create(const std::string& path) override {
    // Replace rather than write through: the target may be a link or read-only.
    std::remove(path.c_str());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) WriteFailed(path);
    return std::make_unique<LocalFile>(path, f);
  }
  void FinishDirectory(const std::string& path, const Entry& entry) override { ApplyTime(path, entry); }
};

}  // namespace

std::unique_ptr<OutputFolder> LocalOutputFolder() { return std::make_unique<LocalFolder>(); }

}  // namespace kem::sevenzip

#endif
