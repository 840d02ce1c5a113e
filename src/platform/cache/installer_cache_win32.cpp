#include "platform/cache/installer_cache_win32.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/shell/shell.h"

namespace kem::platform {
namespace {

HKEY Root(bool machine) { return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring r(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), r.data(), n);
  return r;
}

std::string WithoutBackslash(std::string path) {
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}


// A security descriptor allocated by the system (LocalFree).
struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() {
    if (p) LocalFree(p);
  }
};

// The user of the process's token.
bool IsProcessUser(PSID sid) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size ? size : 1);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return false;
  return EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid) != FALSE;
}

// The system and the administrators change a cache folder, everyone else reads; nothing
// is inherited from above.
bool ProtectedDescriptor(LocalMemory& sd) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(
             L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
             reinterpret_cast<PSECURITY_DESCRIPTOR*>(&sd.p), nullptr) != FALSE;
}

class Win32InstallerCacheService final : public InstallerCacheService {
 public:
  bool KeyExists(bool machine, const std::string& key) override {
    RegistryKey k;
    return RegOpenKeyExA(Root(machine), key.c_str(), 0, KEY_READ, k.Receive()) == ERROR_SUCCESS;
  }

  std::optional<std::string> ReadString(bool machine, const std::string& key, const std::string& name) override {
    RegistryKey k;
    if (RegOpenKeyExA(Root(machine), key.c_str(), 0, KEY_READ, k.Receive()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    const char* value = name.empty() ? nullptr : name.c_str();
    if (RegQueryValueExA(k.Get(), value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return std::nullopt;
    std::string data(size + 1, '\0');
    if (RegQueryValueExA(k.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
      return std::nullopt;
    data.resize(size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
  }

  bool WriteString(bool machine, const std::string& key, const std::string& name, const std::string& value) override {
    RegistryKey k;
    if (RegCreateKeyExA(Root(machine), key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Receive(), nullptr) !=
        ERROR_SUCCESS)
      return false;
    return RegSetValueExA(k.Get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1)) ==
           ERROR_SUCCESS;
  }

  bool WriteDword(bool machine, const std::string& key, const std::string& name, std::uint32_t value) override {
    RegistryKey k;
    if (RegCreateKeyExA(Root(machine), key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Receive(), nullptr) !=
        ERROR_SUCCESS)
      return false;
    DWORD v = value;
    return RegSetValueExA(k.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
           ERROR_SUCCESS;
  }

  void DeleteKey(bool machine, const std::string& key) override {
    const auto cut = key.find_last_of('\\');
    if (cut == std::string::npos) return;
    RegistryKey parent;
    if (RegOpenKeyExA(Root(machine), key.substr(0, cut).c_str(), 0, KEY_READ | KEY_WRITE, parent.Receive()) !=
        ERROR_SUCCESS)
      return;
    RegDeleteTreeA(parent.Get(), key.substr(cut + 1).c_str());
    RegDeleteKeyA(parent.Get(), key.substr(cut + 1).c_str());
  }

  std::string CommonAppDataFolder() override { return ShellFolder(CSIDL_COMMON_APPDATA); }
  std::string LocalAppDataFolder() override { return ShellFolder(CSIDL_LOCAL_APPDATA); }
  std::string RoamingAppDataFolder() override { return ShellFolder(CSIDL_APPDATA); }
  std::string DesktopFolder() override { return ShellFolder(CSIDL_DESKTOPDIRECTORY); }

  bool CreateFolders(const std::string& folder, std::vector<std::string>& created) override {
    const std::string path = WithoutBackslash(folder);
    if (path.empty()) return false;
    std::vector<std::string> missing;
    std::string p = path;
    while (!p.empty() && !FolderExists(p)) {
      missing.push_back(p);
      const auto cut = p.find_last_of('\\');
      if (cut == std::string::npos || cut < 2) break;
      p = p.substr(0, cut);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (CreateDirectoryA(it->c_str(), nullptr))
        created.push_back(*it + "\\");
      else if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    }
    return FolderExists(path);
  }

  bool RemoveEmptyFolder(const std::string& folder) override {
    return RemoveDirectoryA(WithoutBackslash(folder).c_str()) != FALSE;
  }

  bool ProtectFolder(const std::string& folder) override {
    LocalMemory sd;
    if (!ProtectedDescriptor(sd)) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd.p, &present, &dacl, &defaulted)) return false;
    std::wstring path = Wide(WithoutBackslash(folder));
    return SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr) == ERROR_SUCCESS;
  }

  bool CreateProtectedFolder(const std::string& folder) override {
    const std::string path = WithoutBackslash(folder);
    const auto cut = path.find_last_of('\\');
    std::vector<std::string> created;
    if (cut == std::string::npos || !CreateFolders(path.substr(0, cut), created)) return false;
    LocalMemory sd;
    if (!ProtectedDescriptor(sd)) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, sd.p, FALSE};
    return CreateDirectoryA(path.c_str(), &attributes) != FALSE;
  }

  bool OwnedByAdministrators(const std::string& folder) override {
    PSID owner = nullptr;
    LocalMemory sd;
    std::wstring path = Wide(WithoutBackslash(folder));
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(&sd.p)) != ERROR_SUCCESS ||
        !owner)
      return false;
    // The administrators, the system, or the (elevated) account running this setup.
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid) ||
           IsProcessUser(owner);
  }

  bool IsLink(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(WithoutBackslash(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  void SetCompression(const std::string& folder, bool on) override {
    UniqueHandle h(CreateFileA(WithoutBackslash(folder).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.Valid()) return;
    USHORT format = on ? COMPRESSION_FORMAT_LZNT1 : COMPRESSION_FORMAT_NONE;
    DWORD returned = 0;
    DeviceIoControl(h.Get(), FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned, nullptr);
  }

  void SetHidden(const std::string& folder) override {
    const std::string path = WithoutBackslash(folder);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
  }

  bool CopyOver(const std::string& from, const std::string& to) override {
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    return CopyFileNormal(from, to);
  }

  std::optional<std::string> ReadFile(const std::string& path) override {
    if (!FileExists(path)) return std::nullopt;
    try {
      return ReadFileFrom(path, 0);
    } catch (...) {
      return std::nullopt;
    }
  }

  bool WriteReplacing(const std::string& path, const std::string& bytes) override {
    const std::string temp = path + ".new";
    {
      UniqueHandle h(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
      if (!h.Valid()) return false;
      DWORD written = 0;
      if (!bytes.empty() && (!WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                             written != bytes.size())) {
        h.Reset();
        DeleteFileA(temp.c_str());
        return false;
      }
      FlushFileBuffers(h.Get());
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      DeleteFileA(temp.c_str());
      return false;
    }
    return true;
  }

  bool RemoveFile(const std::string& path) override {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
  }

  std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) override {
    return List(folder, pattern, false);
  }
  std::vector<std::string> ListFolders(const std::string& folder) override { return List(folder, "*", true); }

  void RemoveTree(const std::string& folder) override { RemoveFolderTree(folder); }

  bool MoveFolder(const std::string& from, const std::string& to) override {
    return MoveFileExA(WithoutBackslash(from).c_str(), WithoutBackslash(to).c_str(), 0) != FALSE;
  }

  void DeleteAtRestart(const std::string& path) override {
    MoveFileExA(WithoutBackslash(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }

  std::string ShortPath(const std::string& path) override {
    char buf[MAX_PATH * 2] = {};
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : path;
  }

  std::string ProductPackageCode(const std::string& productCode) override {
    static const SystemLibrary msi(L"msi.dll");
    using ProductInfoFn = UINT(WINAPI*)(LPCSTR, LPCSTR, LPSTR, LPDWORD);
    auto info = msi.Function<ProductInfoFn>("MsiGetProductInfoA");
    if (!info) return {};
    char buf[64] = {};
    DWORD size = sizeof buf;
    if (info(productCode.c_str(), "PackageCode", buf, &size) != ERROR_SUCCESS) return {};
    return std::string(buf, size);
  }

 private:
  static std::vector<std::string> List(const std::string& folder, const std::string& pattern, bool folders) {
    std::vector<std::string> names;
    std::string base = folder;
    if (!base.empty() && base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA fd;
    FindHandle h(FindFirstFileA((base + pattern).c_str(), &fd));
    if (!h.Valid()) return names;
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      const bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isFolder == folders) names.push_back(name);
    } while (FindNextFileA(h.Get(), &fd));
    return names;
  }
};

}  // namespace

std::unique_ptr<InstallerCacheService> CreateInstallerCacheService() {
  return std::make_unique<Win32InstallerCacheService>();
}

}  // namespace kem::platform
