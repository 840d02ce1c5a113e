#include <windows.h>

#include <cstring>
#include <vector>

#include "engine/stub_size.h"
#include "platform/commands/commands_win32.h"
#include "platform/commands/thread_redirection_win32.h"
#include "platform/commands/version_resource_win32.h"
#include "platform/files/own_entries.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"

namespace kem::platform {

namespace {
thread_local int redirectionDepth = 0;
thread_local bool redirected = false;
thread_local PVOID redirectionValue = nullptr;

FARPROC Kernel32(const char* name) {
  HMODULE k = GetModuleHandleA("kernel32.dll");
  return k ? GetProcAddress(k, name) : nullptr;
}
}  // namespace

void SetThreadRedirectionOff(bool off) {
  using DisableFn = BOOL(WINAPI*)(PVOID*);
  using RevertFn = BOOL(WINAPI*)(PVOID);
  if (off) {
    if (redirectionDepth++ != 0) return;
    if (auto fn = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(Kernel32("Wow64DisableWow64FsRedirection"))))
      redirected = fn(&redirectionValue) != 0;
  } else if (redirectionDepth > 0 && --redirectionDepth == 0 && redirected) {
    if (auto fn = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(Kernel32("Wow64RevertWow64FsRedirection"))))
      fn(redirectionValue);
    redirected = false;
  }
}

namespace {

constexpr std::size_t kMaxLine = 16u << 20;

class FileLineReader final : public TextLineReader {
 public:
  explicit FileLineReader(UniqueHandle file) : file_(std::move(file)), buffer_(64 * 1024) {}
  Read Next(std::string& line) override {
    line.clear();
    bool any = false;
    for (;;) {
      if (pos_ == size_) {
        if (eof_) return any ? Read::Line : Read::End;
        DWORD got = 0;
        if (!ReadFile(file_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) return Read::Failed;
        pos_ = 0;
        size_ = got;
        if (got == 0) {
          eof_ = true;
          continue;
        }
      }
      if (skipLf_) {
        skipLf_ = false;
        if (buffer_[pos_] == '\n') {
          ++pos_;
          continue;
        }
      }
      const char* start = buffer_.data() + pos_;
      const char* stop = start;
      const char* end = buffer_.data() + size_;
      while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
      line.append(start, stop);
      any = true;
      if (line.size() > kMaxLine) return Read::Failed;
      pos_ = static_cast<std::size_t>(stop - buffer_.data());
      if (stop < end) {
        skipLf_ = *stop == '\r';
        ++pos_;
        return Read::Line;
      }
    }
  }
  // One buffer's worth at a time: the runs between line breaks are copied whole, with the
  // line ends made CR LF; a line still open at the end of the file is ended too.
  Read NextLines(std::string& out) override {
    for (;;) {
      if (pos_ == size_) {
        if (eof_) return Read::End;
        DWORD got = 0;
        if (!ReadFile(file_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) return Read::Failed;
        pos_ = 0;
        size_ = got;
        if (got == 0) {
          eof_ = true;
          if (!open_) return Read::End;
          open_ = false;
          out += "\r\n";
          return Read::Line;
        }
      }
      if (skipLf_) {
        skipLf_ = false;
        if (buffer_[pos_] == '\n') {
          ++pos_;
          continue;
        }
      }
      break;
    }
    const char* p = buffer_.data() + pos_;
    const char* end = buffer_.data() + size_;
    auto findLf = [&] { return static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))); };
    const char* lf = findLf();  // the next LF; null when the buffer holds no more
    while (p < end) {
      if (lf && lf < p) lf = findLf();
      const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>((lf ? lf : end) - p)));
      const char* stop = cr ? cr : lf ? lf : end;
      openLength_ += static_cast<std::size_t>(stop - p);
      if (openLength_ > kMaxLine) return Read::Failed;
      out.append(p, stop);
      if (stop == end) {
        open_ = true;
        break;
      }
      out += "\r\n";
      open_ = false;
      openLength_ = 0;
      p = stop + 1;
      if (*stop == '\r') {
        if (p == end) skipLf_ = true;
        else if (*p == '\n') ++p;
      }
    }
    pos_ = size_;
    return Read::Line;
  }

 private:
  UniqueHandle file_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, size_ = 0;
  bool eof_ = false, skipLf_ = false;
  bool open_ = false;  // NextLines: a line has begun and not yet ended
  std::size_t openLength_ = 0;
};

class FileReplacement final : public TextReplacement {
 public:
  FileReplacement(std::string target, std::string temp, UniqueHandle file)
      : target_(std::move(target)), temp_(std::move(temp)), file_(std::move(file)) {}
  ~FileReplacement() override {
    if (committed_) return;
    file_.Reset();
    DeleteFileA(temp_.c_str());
  }
  // Callers write line by line: the lines gather in a buffer that goes to the file in
  // pieces of about 1 MB (a system call per line made a 100 MB file slow).
  bool Write(const std::string& bytes) override {
    if (bytes.size() >= kPiece) return Drain() && WriteAll(bytes.data(), bytes.size());
    pending_ += bytes;
    return pending_.size() < kPiece || Drain();
  }
  // The new file is forced to the disk before it takes the old one's place: a crash right
  // after the replacement must find either the old text or the whole new one, never a
  // file whose name was moved before its contents were written.
  bool Commit() override {
    if (!Drain() || !FlushFileBuffers(file_.Get())) return false;
    file_.Reset();
    if (GetFileAttributesA(target_.c_str()) != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    committed_ = true;
    return true;
  }

 private:
  static constexpr std::size_t kPiece = 1u << 20;
  bool Drain() {
    const bool ok = WriteAll(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
  }
  bool WriteAll(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      DWORD wrote = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, kPiece));
      if (!WriteFile(file_.Get(), data + done, chunk, &wrote, nullptr) || wrote == 0) return false;
      done += wrote;
    }
    return true;
  }

  std::string target_, temp_;
  UniqueHandle file_;
  std::string pending_;
  bool committed_ = false;
};

std::string FolderOf(const std::string& path) {
  auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".\\") : path.substr(0, cut + 1);
}

UniqueHandle OpenRead(const std::string& path) {
  return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CopyBytes(HANDLE from, HANDLE to, std::uint64_t limit) {
  std::vector<char> buf(1 << 20);
  while (limit > 0) {
    DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(limit, buf.size()));
    DWORD got = 0;
    if (!ReadFile(from, buf.data(), want, &got, nullptr)) return false;
    if (got == 0) return limit == UINT64_MAX;
    DWORD wrote = 0;
    if (!WriteFile(to, buf.data(), got, &wrote, nullptr) || wrote != got) return false;
    if (limit != UINT64_MAX) limit -= got;
  }
  return true;
}

class Win32CommandFiles final : public CommandFileService {
 public:
  bool FileExists(const std::string& path) override {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool FolderExists(const std::string& path) override {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::vector<FolderEntry> List(const std::string& folder, const std::string& mask) override {
    std::vector<FolderEntry> out;
    WIN32_FIND_DATAA d;
    FindHandle find(FindFirstFileA((folder + mask).c_str(), &d));
    if (!find.Valid()) return out;
    do {
      if (std::strcmp(d.cFileName, ".") == 0 || std::strcmp(d.cFileName, "..") == 0) continue;
      out.push_back({d.cFileName, (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                     (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (FindNextFileA(find.Get(), &d));
    return out;
  }
  bool SetNormalAttributes(const std::string& path) override {
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
  }
  bool DeletePath(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
  bool RemoveFolder(const std::string& path) override { return RemoveDirectoryA(path.c_str()) != 0; }
  bool RemoveFound(const std::string& top, const std::string& path) override {
    if (path.size() <= top.size() || path.compare(0, top.size(), top) != 0) return false;
    if (top != top_) {
      top_ = top;
      // The folder the script named is taken as given, links on its way followed.
      resolvedTop_ = ResolvedTargetPath(WithoutTrailingBackslashW(WideAnsi(top)));
    }
    // Where the folder cannot be named, only links the system marks are removed.
    const std::wstring expected =
        resolvedTop_.empty() ? std::wstring() : resolvedTop_ + L"\\" + WideAnsi(path.substr(top.size()));
    const Removal r = RemoveEntry(WideAnsi(path), expected, false);
    return r == Removal::Removed || r == Removal::LinkRemoved;
  }
  std::optional<std::pair<std::uint64_t, std::uint64_t>> DiskSpace(const std::string& path) override {
    ULARGE_INTEGER free{}, total{};
    if (!GetDiskFreeSpaceExA(path.c_str(), &free, &total, nullptr)) return std::nullopt;
    return std::make_pair(static_cast<std::uint64_t>(free.QuadPart), static_cast<std::uint64_t>(total.QuadPart));
  }
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override {
    std::vector<char> buf(26000, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(), static_cast<DWORD>(buf.size()),
                                       file.c_str());
    return std::string(buf.data(), n);
  }
  std::optional<std::array<std::uint16_t, 4>> FileVersion(const std::string& path) override {
    const std::vector<char> resource = VersionResource(path);
    auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(VersionValue(resource, "\\", sizeof(VS_FIXEDFILEINFO)));
    if (!fixed) return std::nullopt;
    return std::array<std::uint16_t, 4>{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                        HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
  }
  std::unique_ptr<TextLineReader> OpenText(const std::string& path) override {
    UniqueHandle h = OpenRead(path);
    if (!h.Valid()) return nullptr;
    return std::make_unique<FileLineReader>(std::move(h));
  }
  std::unique_ptr<TextReplacement> ReplaceText(const std::string& path) override {
    char temp[MAX_PATH + 16] = {};
    if (!GetTempFileNameA(FolderOf(path).c_str(), "kem", 0, temp)) return nullptr;
    UniqueHandle h(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) {
      DeleteFileA(temp);
      return nullptr;
    }
    return std::make_unique<FileReplacement>(path, temp, std::move(h));
  }
  bool MovePath(const std::string& from, const std::string& to) override { return MoveFileA(from.c_str(), to.c_str()) != 0; }
  bool CopyPath(const std::string& from, const std::string& to) override {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
  }
  bool JoinFiles(const std::string& target, const std::string& head, std::uint64_t headBytes,
                 const std::string& tail) override {
    UniqueHandle a = OpenRead(head), b = OpenRead(tail);
    if (!a.Valid() || !b.Valid()) return false;
    bool ok;
    {
      UniqueHandle out(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!out.Valid()) return false;
      ok = CopyBytes(a.Get(), out.Get(), headBytes) && CopyBytes(b.Get(), out.Get(), UINT64_MAX);
    }
    if (!ok) DeleteFileA(target.c_str());
    return ok;
  }
  std::uint64_t StubSize(const std::string& engine) override {
    UniqueHandle h = OpenRead(engine);
    if (!h.Valid()) return 0;
    std::vector<std::uint8_t> headers(64 * 1024);
    DWORD got = 0;
    if (!ReadFile(h.Get(), headers.data(), static_cast<DWORD>(headers.size()), &got, nullptr)) return 0;
    headers.resize(got);
    try {
      return ComputeStubSize(headers);
    } catch (...) {
      return 0;
    }
  }
  void SetThreadRedirectionOff(bool off) override { platform::SetThreadRedirectionOff(off); }

 private:
  static std::wstring WideAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring r(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), r.data(), n);
    return r;
  }
  std::string top_;
  std::wstring resolvedTop_;
};

}  // namespace

std::vector<char> VersionResource(const std::string& path) {
  static const SystemLibrary version(L"version.dll");
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  auto size = version.Function<SizeFn>("GetFileVersionInfoSizeA");
  auto info = version.Function<InfoFn>("GetFileVersionInfoA");
  if (!size || !info) return {};
  DWORD handle = 0;
  DWORD n = size(path.c_str(), &handle);
  if (n == 0) return {};
  std::vector<char> data(n);
  if (!info(path.c_str(), 0, n, data.data())) return {};
  return data;
}

const void* VersionValue(const std::vector<char>& resource, const char* subBlock, unsigned minBytes) {
  static const SystemLibrary version(L"version.dll");
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  auto query = version.Function<QueryFn>("VerQueryValueA");
  void* value = nullptr;
  UINT len = 0;
  if (resource.empty() || !query || !query(resource.data(), subBlock, &value, &len) || !value || len < minBytes)
    return nullptr;
  return value;
}

std::unique_ptr<CommandFileService> CreateCommandFileService() { return std::make_unique<Win32CommandFiles>(); }

}  // namespace kem::platform
