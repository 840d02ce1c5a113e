#include "platform/files/own_entries.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/handles.h"

namespace kem::platform {
namespace {

bool Marked(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DWORD AttributesOf(const std::wstring& path) { return GetFileAttributesW(ExtendedPath(path).c_str()); }

// The long form of the last part of a path that may be spelled with a short (8.3) name;
// empty when it has none other.
std::wstring LongLastPart(const std::wstring& path) {
  const std::wstring full = ExtendedPath(path);
  DWORD n = GetLongPathNameW(full.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring r(n, L'\0');
  n = GetLongPathNameW(full.c_str(), r.data(), n);
  if (n == 0 || n >= r.size()) return {};
  r.resize(n);
  const std::size_t cut = r.find_last_of(L'\\');
  return cut == std::wstring::npos ? r : r.substr(cut + 1);
}

std::wstring LastPart(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L'\\');
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// Whether an entry that exists and is not marked resolves to `expected`, or, spelled with
// a short name, to its folder's resolved path and its long name.
bool ResolvesToItself(const std::wstring& path, const std::wstring& expected) {
  const std::wstring resolved = ResolvedPath(path);
  if (resolved.empty()) return false;
  if (SameResolvedPath(resolved, expected)) return true;
  if (LastPart(path).find(L'~') == std::wstring::npos) return false;
  const std::wstring longName = LongLastPart(path);
  const std::size_t cut = expected.find_last_of(L'\\');
  return !longName.empty() && cut != std::wstring::npos &&
         SameResolvedPath(resolved, expected.substr(0, cut + 1) + longName);
}

}  // namespace

std::wstring ExtendedPath(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

std::wstring WithoutTrailingBackslashW(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool SameResolvedPath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The name is read with NtQueryObject rather than GetFinalPathNameByHandleW, which some
// systems cannot give for paths longer than MAX_PATH; every comparison takes both sides
// from here, so the form of the name (a device path) does not matter.
std::wstring ResolvedNameOf(void* handle) {
  using QueryObjectFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const QueryObjectFn query = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<QueryObjectFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")))
                 : nullptr;
  }();
  if (query == nullptr || handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  // The answer is a counted string (length and capacity in bytes, then the pointer to the
  // characters, which follow it in the same buffer).
  struct CountedName {
    USHORT length;
    USHORT capacity;
    const wchar_t* text;
  };
  constexpr int kObjectNameInformation = 1;
  std::vector<std::uint64_t> buffer(1024);  // 8 KB, aligned; a name has at most 32,767 characters
  ULONG needed = 0;
  LONG status = query(handle, kObjectNameInformation, buffer.data(),
                      static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)), &needed);
  if (status < 0 && needed > buffer.size() * sizeof(std::uint64_t) && needed <= 70000) {
    buffer.resize(needed / sizeof(std::uint64_t) + 1);
    status = query(handle, kObjectNameInformation, buffer.data(),
                   static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)), &needed);
  }
  if (status < 0) return {};
  const auto* name = reinterpret_cast<const CountedName*>(buffer.data());
  if (name->text == nullptr || name->length == 0) return {};
  return WithoutTrailingBackslashW(std::wstring(name->text, name->length / sizeof(wchar_t)));
}

std::wstring ResolvedPath(const std::wstring& path) {
  UniqueHandle h(CreateFileW(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return {};
  return ResolvedNameOf(h.Get());
}

std::wstring ResolvedTargetPath(const std::wstring& path) {
  UniqueHandle h(CreateFileW(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return {};
  return ResolvedNameOf(h.Get());
}

EntryCheck CheckEntry(const std::wstring& path, const std::wstring& expected) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? EntryCheck::Missing : EntryCheck::Unknown;
  }
  if (Marked(attributes)) return EntryCheck::Link;
  if (expected.empty()) return EntryCheck::Unknown;
  if (ResolvedPath(path).empty()) return EntryCheck::Unknown;
  return ResolvesToItself(path, expected) ? EntryCheck::Own : EntryCheck::Link;
}

Removal RemoveEntry(const std::wstring& path, const std::wstring& expected, bool folder) {
  const std::wstring full = ExtendedPath(path);
  // The entry's own attributes, read now: a link put in place of a file or folder since it
  // was listed is removed itself, never followed.
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Removal::Failed;
  const bool isFolder = folder || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (Marked(attributes)) {
    const bool gone = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(full.c_str()) : DeleteFileW(full.c_str());
    return gone ? Removal::LinkRemoved : Removal::Failed;
  }
  if (expected.empty() || !ResolvesToItself(path, expected)) return Removal::LeftAlone;
  // Attributes are changed only where they stop the removal.
  if (isFolder) {
    if (RemoveDirectoryW(full.c_str())) return Removal::Removed;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return Removal::Failed;
    SetFileAttributesW(full.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (RemoveDirectoryW(full.c_str())) return Removal::Removed;
    SetFileAttributesW(full.c_str(), attributes);
    return Removal::Failed;
  }
  if (DeleteFileW(full.c_str())) return Removal::Removed;
  if (!(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN))) return Removal::Failed;
  SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(full.c_str()) ? Removal::Removed : Removal::Failed;
}

bool OwnPathChecker::Reset(const std::wstring& root) {
  root_ = WithoutTrailingBackslashW(root);
  resolvedRoot_ = ResolvedTargetPath(root_);
  lastGood_.clear();
  return !resolvedRoot_.empty();
}

std::wstring OwnPathChecker::Expected(const std::wstring& path) const {
  std::wstring rest = WithoutTrailingBackslashW(path).substr(root_.size());
  if (!rest.empty() && rest[0] != L'\\') rest.insert(rest.begin(), L'\\');  // below a drive's root
  return resolvedRoot_ + rest;
}

bool OwnPathChecker::Check(const std::wstring& given, std::wstring* offender) {
  const std::wstring path = WithoutTrailingBackslashW(given);
  auto fail = [&](const std::wstring& level) {
    if (offender) *offender = level;
    return false;
  };
  if (path.size() < root_.size() || !SameResolvedPath(path.substr(0, root_.size()), root_) ||
      (path.size() > root_.size() && path[root_.size()] != L'\\' && root_.back() != L'\\'))
    return fail(path);
  // The levels below the root, from the top; those of the folder found its own by the last
  // check are not asked again.
  std::size_t start = root_.size();
  if (!lastGood_.empty() && path.size() >= lastGood_.size() &&
      SameResolvedPath(path.substr(0, lastGood_.size()), lastGood_) &&
      (path.size() == lastGood_.size() || path[lastGood_.size()] == L'\\'))
    start = lastGood_.size();
  std::wstring good = start == root_.size() ? std::wstring() : lastGood_;
  for (std::size_t end = start; end < path.size();) {
    std::size_t next = path.find(L'\\', end + 1);
    if (next == std::wstring::npos) next = path.size();
    const std::wstring level = path.substr(0, next);
    end = next;
    if (level.size() <= root_.size()) continue;
    const DWORD attributes = AttributesOf(level);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) break;  // the rest is still to be made
      return fail(level);
    }
    if (Marked(attributes)) return fail(level);
    // Where the root could not be named, only marked links can be seen.
    if (!resolvedRoot_.empty() && !ResolvesToItself(level, Expected(level))) return fail(level);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) good = level;
  }
  lastGood_ = good;
  return true;
}

}  // namespace kem::platform
