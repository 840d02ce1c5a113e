#include "platform/files/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/files/own_entries.h"
#include "platform/handles.h"

namespace kem::platform {
namespace {

// Whether the byte at pos is the second byte of a double-byte character of the process's
// code page (in code page 932 that byte can be a backslash).
bool IsTrailByte(const std::string& s, std::size_t pos) {
  std::size_t i = 0;
  while (i < pos) i += IsDBCSLeadByte(static_cast<BYTE>(s[i])) ? 2 : 1;
  return i > pos;
}

std::string WithoutTrailingBackslash(const std::string& p) {
  std::string r = p;
  while (r.size() > 3 && r.back() == '\\' && !IsTrailByte(r, r.size() - 1)) r.pop_back();
  return r;
}

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring r(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), r.data(), n);
  return r;
}

// The ANSI form of a wide text, or nothing when the code page cannot hold every character.
// A best-fit replacement ("O" for an omega) names another file, so it counts as lossy, and
// the text must come back unchanged.
std::optional<std::string> ExactAnsi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, &lossy);
  if (n <= 0 || lossy) return std::nullopt;
  std::string r(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), r.data(), n, nullptr,
                      &lossy);
  if (lossy || WideFromAnsi(r) != wide) return std::nullopt;
  return r;
}

std::wstring WithTrailingBackslashW(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path.push_back(L'\\');
  return path;
}

std::wstring WithoutExtendedPrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

// The folder's contents through the wide calls, so that names the code page cannot hold
// (support files are unpacked under their UTF-16 names) and paths longer than MAX_PATH are
// removed as well. `resolved` is the folder's own resolved path. Links are never
// followed: those the system marks as reparse points are removed themselves; an entry that
// resolves to anything but itself (a file link shown as a plain file, where deleting it
// would delete its target) is left alone, as is one that cannot be opened to find out.
// Where the folder's own path could not be resolved (`resolved` empty) no entry can be
// checked, and only the marked links are removed: the rest waits for a later sweep rather
// than risk a target.
void DeleteFolderContentsWide(const std::wstring& folder, const std::wstring& resolved) {
  const std::wstring base = WithTrailingBackslashW(folder);
  WIN32_FIND_DATAW fd;
  FindHandle h(FindFirstFileW(ExtendedPath(base + L"*").c_str(), &fd));
  if (!h.Valid()) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring expected = resolved.empty() ? std::wstring() : resolved + L"\\" + name;
    // A folder is emptied only once it is known to be its own (RemoveEntry checks again
    // before removing it).
    if (isFolder && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !expected.empty() &&
        CheckEntry(base + name, expected) == EntryCheck::Own)
      DeleteFolderContentsWide(base + name, expected);
    RemoveEntry(base + name, expected, isFolder);
  } while (FindNextFileW(h.Get(), &fd));
}

// The same for a folder named by its path, which must itself be a real folder: not a
// link, and resolving to its parent's resolved path and its own stored name.
void DeleteFolderContentsWide(const std::wstring& path) {
  const std::wstring folder = WithoutTrailingBackslashW(path);
  const std::size_t slash = folder.find_last_of(L'\\');
  if (slash == std::wstring::npos) return;
  WIN32_FIND_DATAW fd;
  {
    FindHandle h(FindFirstFileW(ExtendedPath(folder).c_str(), &fd));
    if (!h.Valid()) return;
  }
  if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  const std::wstring parent = ResolvedPath(folder.substr(0, slash + 1));
  const std::wstring resolved = ResolvedPath(folder);
  if (!parent.empty() && !resolved.empty() && !SameResolvedPath(resolved, WithTrailingBackslashW(parent) + fd.cFileName))
    return;
  DeleteFolderContentsWide(folder, resolved);
}

// Three sweeps over the contents (what a sweep could not remove yet may go on the next),
// then the folder itself.
void RemoveTreeWide(const std::wstring& folder) {
  for (int sweep = 0; sweep < 3; ++sweep) DeleteFolderContentsWide(folder);
  RemoveDirectoryW(ExtendedPath(WithoutTrailingBackslashW(folder)).c_str());
}

std::wstring ShortWidePath(const std::wstring& path) {
  DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring r(n, L'\0');
  n = GetShortPathNameW(path.c_str(), r.data(), n);
  if (n == 0 || n >= r.size()) return {};
  r.resize(n);
  return r;
}

// "X:\" or "\\server\share\" of a path.
std::string RootOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "\\";
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    auto server = path.find('\\', 2);
    if (server == std::string::npos) return path + "\\";
    auto share = path.find('\\', server + 1);
    return (share == std::string::npos ? path : path.substr(0, share)) + "\\";
  }
  return path;
}

}  // namespace

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  DWORD a = GetFileAttributesA(WithoutTrailingBackslash(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

FolderClaim ClaimNewFolder(const std::string& path) {
  if (CreateDirectoryA(WithoutTrailingBackslash(path).c_str(), nullptr)) return FolderClaim::Created;
  DWORD e = GetLastError();
  if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) return FolderClaim::Exists;
  return FolderClaim::Failed;
}

namespace {

constexpr wchar_t kLockSuffix[] = L".lock";

// Opens a support folder's lock file without sharing: fails while anyone else has it open.
HANDLE OpenLockExclusive(const std::wstring& lockPath, DWORD disposition) {
  return CreateFileW(ExtendedPath(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Marks an open file for deletion when its handle closes.
void DeleteWhenClosed(HANDLE h) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

// The N of "kem" + N + ".lock" (letters in any case, N from 1 without leading zeros, no
// more digits than a support folder number can have); 0 for any other name.
unsigned SupportLockNumber(const std::wstring& name) {
  constexpr std::size_t prefix = 3, suffix = 5;
  if (name.size() <= prefix + suffix || name.size() > prefix + suffix + 6) return 0;
  if (_wcsnicmp(name.c_str(), L"kem", prefix) != 0 || _wcsicmp(name.c_str() + name.size() - suffix, kLockSuffix) != 0)
    return 0;
  const std::wstring digits = name.substr(prefix, name.size() - prefix - suffix);
  if (digits[0] == L'0') return 0;
  unsigned n = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<unsigned>(c - L'0');
  }
  return n;
}

}  // namespace

SupportFolderLock::~SupportFolderLock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

FolderClaim SupportFolderLock::Claim(const std::string& folder) {
  std::wstring wide = WideFromAnsi(WithoutTrailingBackslash(folder));
  if (wide.empty()) return FolderClaim::Failed;
  if (!CreateDirectoryW(ExtendedPath(wide).c_str(), nullptr)) {
    DWORD e = GetLastError();
    return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS ? FolderClaim::Exists : FolderClaim::Failed;
  }
  // A lock file left by a run that ended before its sweep could delete it is simply
  // taken over; one held by a sweep (or a folder of that name) makes the claim fail.
  HANDLE h = OpenLockExclusive(wide + kLockSuffix, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) {
    RemoveDirectoryW(ExtendedPath(wide).c_str());
    return FolderClaim::Failed;
  }
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = h;
  folder_ = wide;
  return FolderClaim::Created;
}

void SupportFolderLock::Release() {
  if (handle_ == nullptr) return;
  HANDLE h = static_cast<HANDLE>(handle_);
  // While the folder is still there (something kept a file open), the lock file stays so
  // that a later sweep removes the rest.
  if (GetFileAttributesW(ExtendedPath(folder_).c_str()) == INVALID_FILE_ATTRIBUTES) DeleteWhenClosed(h);
  CloseHandle(h);
  handle_ = nullptr;
}

int RemoveStaleSupportFolders(const std::string& tempFolder, int limit) {
  const std::wstring temp = WithTrailingBackslashW(WideFromAnsi(tempFolder));
  if (temp.size() <= 1) return 0;
  std::vector<std::wstring> locks;
  WIN32_FIND_DATAW fd;
  {
    FindHandle h(FindFirstFileW(ExtendedPath(temp + L"kem*.lock").c_str(), &fd));
    if (!h.Valid()) return 0;
    do {
      if (!(fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
          SupportLockNumber(fd.cFileName) != 0)
        locks.push_back(fd.cFileName);
    } while (FindNextFileW(h.Get(), &fd));
  }
  int removed = 0;
  for (const std::wstring& lockName : locks) {
    if (removed >= limit) break;
    const std::wstring lockPath = temp + lockName;
    // Held by a running setup (or by another setup's sweep): not ours to touch.
    UniqueHandle lock(OpenLockExclusive(lockPath, OPEN_EXISTING));
    if (!lock.Valid()) continue;
    // The lock is held for the whole removal, so no setup can claim this number meanwhile.
    const std::wstring folder = lockPath.substr(0, lockPath.size() - (std::size(kLockSuffix) - 1));
    const DWORD attributes = GetFileAttributesW(ExtendedPath(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      // Only a real folder is emptied (the removal checks it is one); a link or a file in
      // its place is removed itself.
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTreeWide(folder);
      } else {
        DeleteFileW(ExtendedPath(folder).c_str());
      }
      if (GetFileAttributesW(ExtendedPath(folder).c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      ++removed;
    }
    DeleteWhenClosed(lock.Get());
  }
  return removed;
}

void EnsureFolder(const std::string& path) {
  std::string p = WithoutTrailingBackslash(path);
  if (p.empty() || FolderExists(p)) return;
  auto slash = p.find_last_of('\\');
  if (slash != std::string::npos && slash > 2) EnsureFolder(p.substr(0, slash));
  CreateDirectoryA(p.c_str(), nullptr);
}

std::uint64_t FileSize(const std::string& path) {
  UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.Valid()) throw std::runtime_error("Unable to open " + path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.Get(), &size)) throw std::runtime_error("Unable to read the size of " + path);
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::string ReadFileFrom(const std::string& path, std::uint64_t offset) {
  UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.Valid()) throw std::runtime_error("Unable to open " + path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.Get(), &size)) throw std::runtime_error("Unable to read the size of " + path);
  std::uint64_t total = static_cast<std::uint64_t>(size.QuadPart);
  if (offset >= total) return {};
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN)) throw std::runtime_error("Unable to read " + path);
  std::string data(static_cast<std::size_t>(total - offset), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(f.Get(), data.data() + done, chunk, &got, nullptr) || got == 0)
      throw std::runtime_error("Unable to read " + path);
    done += got;
  }
  return data;
}

bool CopyFileNormal(const std::string& from, const std::string& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) return false;
  SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  return true;
}

void DeleteFolderContents(const std::string& folder) {
  if (folder.empty()) return;
  DeleteFolderContentsWide(WideFromAnsi(folder));
}

bool RemoveFolder(const std::string& folder) {
  std::wstring wide = WideFromAnsi(folder);
  while (wide.size() > 3 && wide.back() == L'\\') wide.pop_back();
  return RemoveDirectoryW(ExtendedPath(wide).c_str()) != 0;
}

void RemoveFolderTree(const std::string& folder) {
  if (folder.empty() || !FolderExists(folder)) return;
  RemoveTreeWide(WideFromAnsi(folder));
}

namespace {

// Room the support folder needs below the temporary folder in an ANSI path of at most
// MAX_PATH characters: "kem" and a number, a backslash, and an 8.3 file name.
constexpr std::size_t kTempFolderReserve = 24;

std::wstring EnvironmentWide(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(name, value.data(), n);
  if (n == 0 || n >= value.size()) return {};
  value.resize(n);
  return value;
}

std::wstring FullWidePath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return {};
  full.resize(n);
  return full;
}

// The folder the system names for temporary files, ending with a backslash. GetTempPathW
// refuses one longer than MAX_PATH; the same look-up (TMP, TEMP, USERPROFILE) is then
// made here.
std::wstring TempPathWide() {
  DWORD n = GetTempPathW(0, nullptr);
  if (n > 0) {
    std::wstring wide(n, L'\0');
    DWORD got = GetTempPathW(n, wide.data());
    if (got > 0 && got < n) {
      wide.resize(got);
      return WithTrailingBackslashW(wide);
    }
  }
  for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
    std::wstring value = EnvironmentWide(name);
    if (value.empty()) continue;
    std::wstring full = FullWidePath(value);
    if (!full.empty()) return WithTrailingBackslashW(full);
  }
  return {};
}

// The short (8.3) form of an existing folder, at any length.
std::wstring ShortFolderPath(const std::wstring& folder) {
  std::wstring shortPath = WithoutExtendedPrefix(ShortWidePath(ExtendedPath(folder)));
  return shortPath.empty() ? shortPath : WithTrailingBackslashW(shortPath);
}

// A folder the engine can name in ANSI calls: exact, short enough for the support folder
// and its files, and never a drive root.
bool UsableTempFolder(const std::string& ansi) {
  return !ansi.empty() && ansi.size() + kTempFolderReserve <= MAX_PATH && RootOf(ansi) != ansi;
}

// The ANSI form of the folder: the long path when the code page holds it and it is short
// enough, otherwise the short path (the folder is created first when missing).
std::optional<std::string> AnsiFolder(const std::wstring& folder) {
  if (folder.empty()) return std::nullopt;
  if (std::optional<std::string> ansi = ExactAnsi(folder); ansi && UsableTempFolder(*ansi)) return ansi;
  std::wstring shortPath = ShortFolderPath(folder);
  if (shortPath.empty() && CreateDirectoryW(ExtendedPath(folder).c_str(), nullptr)) shortPath = ShortFolderPath(folder);
  if (shortPath.empty()) return std::nullopt;
  std::optional<std::string> ansi = ExactAnsi(shortPath);
  if (!ansi || !UsableTempFolder(*ansi)) return std::nullopt;
  return ansi;
}

}  // namespace

std::string SystemTempFolder() {
  // The wide look-up takes any length and any character; the ANSI form must name the same
  // folder.
  if (std::optional<std::string> ansi = AnsiFolder(TempPathWide())) return *ansi;
  // Last resort: the Windows folder's own temporary folder, created when missing.
  std::vector<wchar_t> windows(MAX_PATH + 1, L'\0');
  UINT w = GetWindowsDirectoryW(windows.data(), static_cast<UINT>(windows.size()));
  if (w == 0 || w >= windows.size()) throw std::runtime_error("No usable temporary folder");
  std::wstring temp = WithTrailingBackslashW(std::wstring(windows.data(), w)) + L"Temp\\";
  CreateDirectoryW(temp.c_str(), nullptr);
  if (std::optional<std::string> ansi = AnsiFolder(temp)) return *ansi;
  throw std::runtime_error("No usable temporary folder");
}

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  DWORD n = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::string full(n, '\0');
  n = GetFullPathNameA(path.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return path;
  full.resize(n);
  return full;
}

namespace {

class Win32FileService final : public FileService {
 public:
  ~Win32FileService() override {
    if (redirectionDepth_ > 0) RevertRedirection();
  }

  bool FileExists(const std::string& path) override { return platform::FileExists(path); }
  bool FolderExists(const std::string& path) override { return platform::FolderExists(path); }
  bool IsFixedDrive(const std::string& path) override { return GetDriveTypeA(RootOf(path).c_str()) == DRIVE_FIXED; }
  bool CreateEmptyFile(const std::string& path) override {
    UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.Valid();
  }
  bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
  void RemoveFolderTree(const std::string& folder) override { platform::RemoveFolderTree(folder); }
  std::string CreateTempFileName(const std::string& folder, const std::string& prefix) override {
    char buf[MAX_PATH + 1] = {};
    if (GetTempFileNameA(folder.c_str(), prefix.c_str(), 0, buf) == 0) return {};
    return buf;
  }
  std::optional<std::string> ShortPathName(const std::string& path) override {
    DWORD n = GetShortPathNameA(path.c_str(), nullptr, 0);
    if (n == 0) return std::nullopt;
    std::vector<char> buf(n + 1, '\0');
    n = GetShortPathNameA(path.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return std::nullopt;
    return std::string(buf.data(), n);
  }
  std::optional<std::string> StoredName(const std::string& path) override {
    // A wildcard would match some other name.
    if (path.find_first_of("*?") != std::string::npos) return std::nullopt;
    WIN32_FIND_DATAA fd;
    FindHandle h(FindFirstFileA(path.c_str(), &fd));
    if (!h.Valid()) return std::nullopt;
    return std::string(fd.cFileName);
  }
  void SetFileSystemRedirectionOff(bool off) override {
    if (off) {
      if (redirectionDepth_++ == 0) DisableRedirection();
    } else if (redirectionDepth_ > 0 && --redirectionDepth_ == 0) {
      RevertRedirection();
    }
  }

 private:
  using DisableFn = BOOL(WINAPI*)(PVOID*);
  using RevertFn = BOOL(WINAPI*)(PVOID);

  static FARPROC Kernel32(const char* name) {
    HMODULE k = GetModuleHandleA("kernel32.dll");
    return k ? GetProcAddress(k, name) : nullptr;
  }
  void DisableRedirection() {
    if (auto fn = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(Kernel32("Wow64DisableWow64FsRedirection"))))
      redirected_ = fn(&oldValue_) != 0;
  }
  void RevertRedirection() {
    if (!redirected_) return;
    if (auto fn = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(Kernel32("Wow64RevertWow64FsRedirection"))))
      fn(oldValue_);
    redirected_ = false;
  }

  int redirectionDepth_ = 0;
  bool redirected_ = false;
  PVOID oldValue_ = nullptr;
};

}  // namespace

std::unique_ptr<FileService> CreateFileService() { return std::make_unique<Win32FileService>(); }

}  // namespace kem::platform
