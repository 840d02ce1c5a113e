#include <windows.h>
#include <winioctl.h>

#include <mutex>
#include <string>

#include "platform/commands/thread_redirection_win32.h"
#include "platform/files/own_entries.h"
#include "platform/media/media_win32.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

std::wstring AsWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

class Win32MediaFiles : public MediaFileService {
 public:
  explicit Win32MediaFiles(std::uint32_t codePage) : codePage_(codePage) {}

  bool FileExists(const std::string& path) override { return FileExistsWide(Widen(path)); }
  bool FolderExists(const std::string& path) override {
    const DWORD a = GetFileAttributesW(W(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  std::vector<MediaEntry> List(const std::string& folder) override {
    std::vector<MediaEntry> out;
    WIN32_FIND_DATAW d{};
    HANDLE find = FindFirstFileW((W(folder) + L"*").c_str(), &d);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
      const std::u16string name(reinterpret_cast<const char16_t*>(d.cFileName));
      if (name == u"." || name == u"..") continue;
      MediaEntry entry;
      entry.Folder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.Link = (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (CodePageHolds(name, codePage_)) {
        entry.Name = Utf16ToAnsi(name, codePage_);
      } else {
        // Addressed by the short form; the long name travels in UTF-16.
        const std::u16string shortName(reinterpret_cast<const char16_t*>(d.cAlternateFileName));
        entry.Name = Utf16ToAnsi(shortName.empty() ? name : shortName, codePage_);
        entry.WideName = name;
      }
      out.push_back(std::move(entry));
    } while (FindNextFileW(find, &d));
    FindClose(find);
    return out;
  }

  bool CreateFolders(const std::string& folder) override { return CreateFoldersWide(Widen(folder)); }

  bool SetNormalAttributes(const std::string& path) override { return SetNormalAttributesWide(Widen(path)); }

  bool CreateEmptyFile(const std::string& path) override {
    HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }

  bool RemoveFile(const std::string& path) override { return RemoveFileWide(Widen(path)); }
  bool RemoveFolder(const std::string& path) override { return RemoveDirectoryW(W(path).c_str()) != 0; }
  bool MoveTo(const std::string& from, const std::string& to) override { return MoveToWide(Widen(from), Widen(to)); }
  bool CopyTo(const std::string& from, const std::string& to, bool failIfExists) override {
    return CopyToWide(Widen(from), Widen(to), failIfExists);
  }

  std::optional<std::uint64_t> FileSize(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  bool SetCompressed(const std::string& path) override {
    std::wstring p = W(path);
    while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(h, FSCTL_SET_COMPRESSION, &format, sizeof(format), nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    return ok != 0;
  }

  std::string CreateUniqueFolder(const std::string& parent, const std::string& prefix) override {
    const std::wstring base = W(parent) + W(prefix);
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
    for (int attempt = 0; attempt < 1000; ++attempt) {
      char hex[16];
      wsprintfA(hex, "%08lX", static_cast<unsigned long>(seed + static_cast<DWORD>(attempt) * 7919u));
      const std::wstring name = base + std::wstring(hex, hex + 8);
      if (CreateDirectoryW(name.c_str(), nullptr)) return parent + prefix + hex + "\\";
      if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
  }

  bool OwnPath(const std::u16string& root, const std::u16string& path) override {
    std::lock_guard<std::mutex> lock(checkerLock_);
    const std::wstring wideRoot = WithoutTrailingBackslashW(AsWide(root));
    // The root is named again whenever it changes or could not be named before (it may have
    // been made since).
    if (wideRoot != checker_.Root() || !checker_.Named()) checker_.Reset(wideRoot);
    return checker_.Check(AsWide(path));
  }

  void SetThreadRedirectionOff(bool off) override { platform::SetThreadRedirectionOff(off); }

  std::u16string Widen(const std::string& path) override { return AnsiToUtf16(path, codePage_); }
  bool FileExistsWide(const std::u16string& path) override {
    const DWORD a = GetFileAttributesW(AsWide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  bool CreateFoldersWide(const std::u16string& folder) override {
    std::wstring path = AsWide(folder);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.empty()) return false;
    const auto isFolder = [](DWORD a) { return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0; };
    if (isFolder(GetFileAttributesW(path.c_str()))) return true;  // the usual case: one call
    // Every level from the root down; the existing ones fail harmlessly.
    for (std::size_t i = 0; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
        const std::wstring part = path.substr(0, i);
        if (part.empty() || part.back() == L':' || part == L"\\" || part == L"\\\\") continue;
        CreateDirectoryW(part.c_str(), nullptr);
      }
    }
    return isFolder(GetFileAttributesW(path.c_str()));
  }
  bool MoveToWide(const std::u16string& from, const std::u16string& to) override {
    return MoveFileExW(AsWide(from).c_str(), AsWide(to).c_str(), MOVEFILE_COPY_ALLOWED) != 0;
  }
  bool CopyToWide(const std::u16string& from, const std::u16string& to, bool failIfExists) override {
    return CopyFileW(AsWide(from).c_str(), AsWide(to).c_str(), failIfExists ? TRUE : FALSE) != 0;
  }
  bool SetNormalAttributesWide(const std::u16string& path) override {
    return SetFileAttributesW(AsWide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
  }
  bool RemoveFileWide(const std::u16string& path) override { return DeleteFileW(AsWide(path).c_str()) != 0; }

 private:
  std::wstring W(const std::string& path) { return AsWide(Widen(path)); }

  std::uint32_t codePage_;
  std::mutex checkerLock_;
  OwnPathChecker checker_;
};

}  // namespace

std::unique_ptr<MediaFileService> CreateMediaFileService(std::uint32_t codePage) {
  return std::make_unique<Win32MediaFiles>(codePage);
}

}  // namespace kem::platform
