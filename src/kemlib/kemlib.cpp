// kem.lib: the archive library beside the engine. Reads 7z archives through the portable
// reader and writes through the Windows ANSI file functions; names are converted with the
// process ANSI code page.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"
#include "platform/archive/archive_library.h"

namespace {

using namespace kem::sevenzip;
namespace codes = kem::archive_codes;

std::atomic<int32_t> g_lastError{0};

int32_t CodeOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNotFound: return codes::kNotFound;
    case ErrorKind::kSelection: return codes::kBadSelection;
    case ErrorKind::kUnsupported: return codes::kUnsupported;
    case ErrorKind::kUnsafeName: return codes::kUnsafeName;
    case ErrorKind::kDataError: return codes::kDataError;
    case ErrorKind::kCancelled: return codes::kCancelled;
    case ErrorKind::kWriteError: return codes::kWriteError;
    case ErrorKind::kLimit: return codes::kLimit;
    case ErrorKind::kReadError: return codes::kReadError;
  }
  return codes::kInternal;
}

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
  explicit WinInputFile(const char* path) {
    handle_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
          e == ERROR_BAD_NETPATH || e == ERROR_INVALID_DRIVE)
        throw ArchiveError(ErrorKind::kNotFound, "The archive file was not found");
      throw ArchiveError(ErrorKind::kReadError, "The archive file cannot be opened");
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) {
      CloseHandle(handle_);
      throw ArchiveError(ErrorKind::kReadError, "The archive file cannot be read");
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
  }
  ~WinInputFile() override { CloseHandle(handle_); }
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset >= size_) return 0;
    if (offset != position_) {
      LARGE_INTEGER to;
      to.QuadPart = static_cast<LONGLONG>(offset);
      if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)) throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
    }
    size_t total = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (total < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(handle_, out + total, chunk, &got, nullptr)) {
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
  HANDLE handle_ = INVALID_HANDLE_VALUE;
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

[[noreturn]] void WriteFailed(const std::string& path) {
  throw ArchiveError(ErrorKind::kWriteError, "Cannot write " + path);
}

class WinOutputFile final : public OutputFile {
 public:
  WinOutputFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~WinOutputFile() override { Abort(); }
  void Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, data, chunk, &written, nullptr) || written != chunk) WriteFailed(path_);
      data += chunk;
      size -= chunk;
    }
  }
  void Commit(const Entry& entry) override {
    if (entry.hasModificationTime) {
      FILETIME ft = AsFileTime(entry.modificationTime);
      SetFileTime(handle_, nullptr, nullptr, &ft);
    }
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) {
      DeleteFileA(path_.c_str());
      WriteFailed(path_);
    }
    if (entry.hasAttributes && (entry.attributes & kKeptAttributes) != 0)
      SetFileAttributesA(path_.c_str(), entry.attributes & kKeptAttributes);
  }
  void Abort() noexcept override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    DeleteFileA(path_.c_str());
  }

 private:
  std::string path_;
  HANDLE handle_;
};

class WinOutputFolder final : public OutputFolder {
 public:
  char Separator() const override { return '\\'; }
  Existing Query(const std::string& path) override {
    Existing e;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return e;
    e.exists = true;
    e.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    e.modificationTime = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    return e;
  }
  void CreateDirectories(const std::string& path) override {
    std::string p = path;
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    if (p.empty() || (p.size() == 2 && p[1] == ':')) return;
    DWORD a = GetFileAttributesA(p.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
      if (a & FILE_ATTRIBUTE_DIRECTORY) return;
      WriteFailed(p);
    }
    size_t pos = p.find_last_of("\\/");
    if (pos != std::string::npos && pos > 0) CreateDirectories(p.substr(0, pos));
    if (!CreateDirectoryA(p.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) WriteFailed(p);
  }
  std::unique_ptr<OutputFile> Create(const std::string& path) override {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) WriteFailed(path);
    return std::make_unique<WinOutputFile>(path, h);
  }
  void FinishDirectory(const std::string& path, const Entry& entry) override {
    if (entry.hasModificationTime) {
      HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        FILETIME ft = AsFileTime(entry.modificationTime);
        SetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
      }
    }
    if (entry.hasAttributes && (entry.attributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY))
      SetFileAttributesA(path.c_str(), entry.attributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY);
  }
};

// The password: the given text, else the callback, asked at most once per call.
PasswordProvider MakePasswordProvider(const char* password, ArchivePasswordCallback callback) {
  std::string given = password ? password : "";
  return [given, callback]() -> std::optional<std::string> {
    if (!given.empty()) return given;
    if (!callback) return std::nullopt;
    std::vector<char> buffer(kArchivePasswordBufferSize, '\0');
    if (callback(buffer.data()) == 0) return std::nullopt;
    buffer.back() = '\0';
    return std::string(buffer.data());
  };
}

ReaderOptions AnsiOptions() {
  ReaderOptions options;
  options.nameConverter = ToAnsi;
  options.passwordConverter = FromAnsi;
  // A 32-bit process: keep decoder allocations well inside the address space.
  options.maxDictionarySize = 1024ull << 20;
  return options;
}

template <typename F>
int32_t Guarded(F&& body, int32_t failure) {
  try {
    return body();
  } catch (const ArchiveError& e) {
    g_lastError = CodeOf(e.kind());
  } catch (const std::bad_alloc&) {
    g_lastError = codes::kLimit;
  } catch (...) {
    g_lastError = codes::kInternal;
  }
  return failure;
}

struct ListHandle {
  std::unique_ptr<Archive> archive;
  std::vector<ArchiveListEntry> entries;
};

}  // namespace

extern "C" {

int32_t __stdcall ExtractArchive(const char* archivePath, int32_t mode, const char* destinationFolder,
                                                       const TSZW_TARGETFILES* selection, int32_t withoutFolders,
                                                       const char* password, ArchivePasswordCallback passwordCallback,
                                                       ArchiveProgressCallback progress,
                                                       ArchiveEntryProgressCallback entryProgress,
                                                       ArchiveOverwriteCallback overwrite) {
  return Guarded(
      [&]() -> int32_t {
        if (!archivePath || !*archivePath) throw ArchiveError(ErrorKind::kNotFound, "No archive");
        if (!destinationFolder || (selection && selection->count > 0 && !selection->names) ||
            (selection && selection->count < 0)) {
          g_lastError = codes::kBadArgument;
          return 0;
        }
        Archive archive(std::make_unique<WinInputFile>(archivePath), MakePasswordProvider(password, passwordCallback),
                        AnsiOptions());
        ExtractRequest request;
        request.destination = destinationFolder;
        request.withoutFolders = withoutFolders != 0;
        if (selection) {
          request.selection.emplace();
          for (int32_t i = 0; i < selection->count; ++i) {
            if (!selection->names[i]) {
              g_lastError = codes::kBadArgument;
              return 0;
            }
            request.selection->push_back(selection->names[i]);
          }
        }
        if (progress)
          request.progress = [progress](const std::string& name, uint64_t done, uint64_t total) {
            return progress(name.c_str(), static_cast<uint32_t>(done), static_cast<uint32_t>(done >> 32),
                            static_cast<uint32_t>(total), static_cast<uint32_t>(total >> 32)) != 0;
          };
        if (entryProgress)
          request.entryProgress = [entryProgress](uint32_t done, uint32_t total) { return entryProgress(done, total) != 0; };
        if (overwrite) {
          const std::vector<Entry>* entries = &archive.Entries();
          request.overwrite = [overwrite, entries](const std::string& path, const Entry& e,
                                                   const OutputFolder::Existing& existing) {
            uint32_t index = static_cast<uint32_t>(&e - entries->data());
            int32_t answer = overwrite(path.c_str(), static_cast<uint32_t>(existing.size),
                                       static_cast<uint32_t>(existing.size >> 32),
                                       static_cast<uint32_t>(existing.modificationTime),
                                       static_cast<uint32_t>(existing.modificationTime >> 32),
                                       static_cast<uint32_t>(e.size), static_cast<uint32_t>(e.size >> 32),
                                       static_cast<uint32_t>(e.modificationTime),
                                       static_cast<uint32_t>(e.modificationTime >> 32), index);
            if (answer < 0 || answer > 4) return OverwriteAnswer::kCancel;
            return static_cast<OverwriteAnswer>(answer);
          };
        }
        WinOutputFolder folder;
        ExtractToFolder(archive, folder, request);
        return 1;
      },
      0);
}

intptr_t __stdcall OpenListArchive(const char* archivePath, int32_t reserved1,
                                                         ArchivePasswordCallback passwordCallback, int32_t reserved2,
                                                         int32_t reserved3, int32_t reserved4, const char* password,
                                                         ArchiveListEntry** entries, int32_t* count) {
  intptr_t result = 0;
  Guarded(
      [&]() -> int32_t {
        if (entries) *entries = nullptr;
        if (count) *count = 0;
        if (!archivePath || !*archivePath) throw ArchiveError(ErrorKind::kNotFound, "No archive");
        if (!entries || !count) {
          g_lastError = codes::kBadArgument;
          return 0;
        }
        auto list = std::make_unique<ListHandle>();
        list->archive = std::make_unique<Archive>(std::make_unique<WinInputFile>(archivePath),
                                                  MakePasswordProvider(password, passwordCallback), AnsiOptions());
        const std::vector<Entry>& all = list->archive->Entries();
        list->entries.reserve(all.size());
        for (size_t i = 0; i < all.size(); ++i) {
          const Entry& e = all[i];
          if (e.isAnti) continue;
          ArchiveListEntry item{};
          item.name = e.name.c_str();
          item.index = static_cast<uint32_t>(i);
          item.size = e.size;
          item.packedSize = e.packedSize;
          item.crc = e.crc;
          item.flags = (e.isDirectory ? 1u : 0u) | (e.hasCrc ? 2u : 0u) | (e.encrypted ? 4u : 0u);
          item.modificationTime = e.modificationTime;
          item.attributes = e.hasAttributes ? e.attributes : (e.isDirectory ? FILE_ATTRIBUTE_DIRECTORY : 0);
          list->entries.push_back(item);
        }
        *entries = list->entries.data();
        *count = static_cast<int32_t>(list->entries.size());
        result = reinterpret_cast<intptr_t>(list.release());
        return 1;
      },
      0);
  return result;
}

void __stdcall CloseListArchive(intptr_t handle) {
  delete reinterpret_cast<ListHandle*>(handle);
}

int32_t __stdcall GetLastArchiveError(int32_t) { return g_lastError; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
