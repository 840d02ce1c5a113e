// kem.lib's Windows entry file: the exports, DllMain, and the system side of the library
// (the archive file, the destination folder through the wide file calls, the process code
// page). The calls' own work is portable and lives in library.cpp.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kemlib/library.h"
#include "kemlib/archive_library.h"
#include "platform/files/own_entries.h"

namespace {

using namespace kem::sevenzip;

// Owns a kernel handle (file or folder); closes it on every path out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool Valid() const noexcept { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const noexcept { return h_; }
  HANDLE Release() noexcept { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  // False when the system reports a failure on closing (for a written file: data lost).
  bool Close() noexcept {
    if (!Valid()) return true;
    return CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE h_;
};

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

class WinInputFile final : public InputFile {
 public:
  explicit WinInputFile(const std::u16string& path)
      : handle_(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr)) {
    if (!handle_.Valid()) {
      DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
          e == ERROR_BAD_NETPATH || e == ERROR_INVALID_DRIVE)
        throw ArchiveError(ErrorKind::kNotFound, "The archive file was not found");
      throw ArchiveError(ErrorKind::kReadError, "The archive file cannot be opened");
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.Get(), &size)) throw ArchiveError(ErrorKind::kReadError, "The archive file cannot be read");
    size_ = static_cast<uint64_t>(size.QuadPart);
  }
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset >= size_) return 0;
    if (offset != position_) {
      LARGE_INTEGER to;
      to.QuadPart = static_cast<LONGLONG>(offset);
      if (!SetFilePointerEx(handle_.Get(), to, nullptr, FILE_BEGIN))
        throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
    }
    size_t total = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (total < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(handle_.Get(), out + total, chunk, &got, nullptr)) {
        position_ = ~uint64_t{0};
        throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
      }
      if (got == 0) break;
      total += got;
    }
    position_ = offset + total;
    return total;
  }

 private:
  FileHandle handle_;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};

FILETIME AsFileTime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

// Attributes worth restoring; the rest belong to the file system.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

[[noreturn]] void WriteFailed(const std::u16string& path) {
  throw ArchiveError(ErrorKind::kWriteError, "Cannot write " + ToAnsi(path));
}

// A link (or an entry reached through one) where the extraction would write.
[[noreturn]] void LinkInTheWay(const std::wstring& path) {
  throw ArchiveError(ErrorKind::kWriteError,
                     "A link is in the way of " + ToAnsi(std::u16string(path.begin(), path.end())));
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

class WinOutputFile final : public OutputFile {
 public:
  WinOutputFile(std::u16string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~WinOutputFile() override { Abort(); }
  void Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_.Get(), data, chunk, &written, nullptr) || written != chunk) WriteFailed(path_);
      data += chunk;
      size -= chunk;
    }
  }
  void Commit(const Entry& entry) override {
    if (entry.hasModificationTime) {
      FILETIME ft = AsFileTime(entry.modificationTime);
      SetFileTime(handle_.Get(), nullptr, nullptr, &ft);
    }
    if (!handle_.Close()) {
      DeleteFileW(W(path_));
      WriteFailed(path_);
    }
    if (entry.hasAttributes && (entry.attributes & kKeptAttributes) != 0)
      SetFileAttributesW(W(path_), entry.attributes & kKeptAttributes);
  }
  void Abort() noexcept override {
    if (!handle_.Valid()) return;
    handle_.Close();
    DeleteFileW(W(path_));
  }

 private:
  std::u16string path_;
  FileHandle handle_;
};

// The destination through the wide calls, with plain (not "\\?\") paths: every path the
// extraction builds is checked against their length limit first, so the system never gets
// one to shorten or misread.
class WinOutputFolder final : public OutputFolder {
 public:
  char16_t Separator() const override { return u'\\'; }

  std::u16string Root(const std::u16string& destination) override {
    std::u16string given = destination.empty() ? u"." : destination;
    if (given.size() >= MAX_PATH) WriteFailed(given);
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(W(given), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) WriteFailed(given);
    std::u16string root(reinterpret_cast<const char16_t*>(full), n);
    // Keep "C:\" and "\\server\share\" whole; drop the separator after a folder.
    while (root.size() > 3 && root.back() == u'\\' && root[root.size() - 2] != u'\\') root.pop_back();
    root_ = root;
    checker_.Reset(Wide(root_));
    return root;
  }

  // MAX_PATH with its terminating zero; a folder also keeps room for an 8.3 file name.
  size_t PathLimit(bool directory) const override { return directory ? MAX_PATH - 13 : MAX_PATH - 1; }

  Existing Query(const std::u16string& path) override {
    Existing e;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return e;
    e.exists = true;
    e.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    e.modificationTime = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    return e;
  }

  // Below the destination nothing is ever reached through a link: every level that exists
  // must be a folder of its own (not a junction or symbolic link, and resolving to where
  // its name says), before and after the missing ones are made. The destination itself is
  // taken as the caller named it.
  void CreateDirectories(const std::u16string& path) override {
    const bool below = path.size() > root_.size();
    if (below) CheckOwn(path);
    MakeDirectories(path);
    if (below) {
      CheckOwn(path);
    } else {
      checker_.Reset(Wide(root_));  // the destination exists now and can be named
    }
  }

  void MakeDirectories(const std::u16string& path) {
    // One buffer; each separator in turn ends the text. Back from the full path to the
    // deepest folder that exists, then forward, creating each missing level.
    std::u16string p = path;
    while (p.size() > 1 && p.back() == u'\\') p.pop_back();
    std::vector<size_t> ends;
    for (size_t i = 1; i < p.size(); ++i)
      if (p[i] == u'\\' && p[i - 1] != u'\\') ends.push_back(i);
    ends.push_back(p.size());
    size_t k = ends.size();
    while (k > 0) {
      size_t end = ends[k - 1];
      char16_t kept = std::exchange(p[end], u'\0');
      DWORD a = GetFileAttributesW(W(p));
      p[end] = kept;
      if (a != INVALID_FILE_ATTRIBUTES) {
        if (!(a & FILE_ATTRIBUTE_DIRECTORY)) WriteFailed(p.substr(0, end));
        break;
      }
      --k;
    }
    for (; k < ends.size(); ++k) {
      size_t end = ends[k];
      char16_t kept = std::exchange(p[end], u'\0');
      bool made = CreateDirectoryW(W(p), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
      p[end] = kept;
      if (!made) WriteFailed(p.substr(0, end));
    }
  }

  // The file is opened without following a link and without cutting it short, checked to
  // be the entry it names, and only then emptied: a link in its place (also one that the
  // file system shows as a plain file) is refused with the target untouched.
  std::unique_ptr<OutputFile> Create(const std::u16string& path) override {
    CheckOwn(path);
    DWORD a = GetFileAttributesW(W(path));
    if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
      SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
    FileHandle h(CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.Valid()) WriteFailed(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.Get(), &info)) WriteFailed(path);
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) LinkInTheWay(Wide(path));
    const std::wstring opened = kem::platform::ResolvedNameOf(h.Get());
    if (checker_.Named() &&
        (opened.empty() || !kem::platform::SameResolvedPath(opened, checker_.Expected(Wide(path)))))
      LinkInTheWay(Wide(path));
    if (!SetEndOfFile(h.Get())) WriteFailed(path);
    return std::make_unique<WinOutputFile>(path, h.Release());
  }

  void FinishDirectory(const std::u16string& path, const Entry& entry) override {
    if (!checker_.Check(Wide(path))) return;  // a link put there since: left as it is
    if (entry.hasModificationTime) {
      FileHandle h(CreateFileW(W(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr));
      if (h.Valid()) {
        FILETIME ft = AsFileTime(entry.modificationTime);
        SetFileTime(h.Get(), nullptr, nullptr, &ft);
      }
    }
    if (entry.hasAttributes && (entry.attributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY))
      SetFileAttributesW(W(path), entry.attributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY);
  }

 private:
  void CheckOwn(const std::u16string& path) {
    std::wstring offender;
    if (!checker_.Check(Wide(path), &offender)) LinkInTheWay(offender);
  }

  std::u16string root_;
  kem::platform::OwnPathChecker checker_;
};

class WinHost final : public kem::kemlib::LibraryHost {
 public:
  std::string ToAnsi(std::u16string_view text) override { return ::ToAnsi(text); }
  std::u16string FromAnsi(std::string_view text) override { return ::FromAnsi(text); }
  std::unique_ptr<InputFile> OpenArchive(const std::u16string& path) override {
    return std::make_unique<WinInputFile>(path);
  }
  std::unique_ptr<OutputFolder> Destination() override { return std::make_unique<WinOutputFolder>(); }
};

WinHost g_host;

}  // namespace

extern "C" {

int32_t __stdcall ExtractArchive(const char* archivePath, int32_t, const char* destinationFolder,
                                 const TSZW_TARGETFILES* selection, int32_t withoutFolders, const char* password,
                                 ArchivePasswordCallback passwordCallback, ArchiveProgressCallback progress,
                                 ArchiveEntryProgressCallback entryProgress, ArchiveOverwriteCallback overwrite) {
  return kem::kemlib::Extract(g_host, archivePath, destinationFolder, selection, withoutFolders, password,
                              passwordCallback, progress, entryProgress, overwrite);
}

intptr_t __stdcall OpenListArchive(const char* archivePath, int32_t, ArchivePasswordCallback passwordCallback, int32_t,
                                   int32_t, int32_t, const char* password, ArchiveListEntry** entries, int32_t* count) {
  return kem::kemlib::OpenList(g_host, archivePath, passwordCallback, password, entries, count);
}

void __stdcall CloseListArchive(intptr_t handle) { kem::kemlib::CloseList(handle); }

int32_t __stdcall GetLastArchiveError(int32_t) { return kem::kemlib::LastError(); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
