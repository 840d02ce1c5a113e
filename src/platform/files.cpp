#include "platform/files.h"

#include <windows.h>

#include <stdexcept>

namespace kem::platform {
namespace {

std::string WithoutTrailingBackslash(const std::string& p) {
  std::string r = p;
  while (r.size() > 3 && r.back() == '\\') r.pop_back();
  return r;
}

struct FileHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit FileHandle(HANDLE handle) : h(handle) {}
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
};

}  // namespace

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  DWORD a = GetFileAttributesA(WithoutTrailingBackslash(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ClaimNewFolder(const std::string& path) {
  if (CreateDirectoryA(WithoutTrailingBackslash(path).c_str(), nullptr)) return true;
  DWORD e = GetLastError();
  if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) return false;
  throw std::runtime_error("Unable to create folder " + path);
}

void EnsureFolder(const std::string& path) {
  std::string p = WithoutTrailingBackslash(path);
  if (p.empty() || FolderExists(p)) return;
  auto slash = p.find_last_of('\\');
  if (slash != std::string::npos && slash > 2) EnsureFolder(p.substr(0, slash));
  CreateDirectoryA(p.c_str(), nullptr);
}

std::uint64_t FileSize(const std::string& path) {
  FileHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (f.h == INVALID_HANDLE_VALUE) throw std::runtime_error("Unable to open " + path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.h, &size)) throw std::runtime_error("Unable to read the size of " + path);
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::string ReadFileFrom(const std::string& path, std::uint64_t offset) {
  FileHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (f.h == INVALID_HANDLE_VALUE) throw std::runtime_error("Unable to open " + path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.h, &size)) throw std::runtime_error("Unable to read the size of " + path);
  std::uint64_t total = static_cast<std::uint64_t>(size.QuadPart);
  if (offset >= total) return {};
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(f.h, at, nullptr, FILE_BEGIN)) throw std::runtime_error("Unable to read " + path);
  std::string data(static_cast<std::size_t>(total - offset), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(f.h, data.data() + done, chunk, &got, nullptr) || got == 0)
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
  std::string base = folder;
  if (base.empty()) return;
  if (base.back() != '\\') base.push_back('\\');
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((base + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    std::string full = base + name;
    SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder link is removed itself, never followed.
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteFolderContents(full);
      RemoveDirectoryA(full.c_str());
    } else {
      DeleteFileA(full.c_str());
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}

bool RemoveFolder(const std::string& folder) { return RemoveDirectoryA(WithoutTrailingBackslash(folder).c_str()) != 0; }

}  // namespace kem::platform
