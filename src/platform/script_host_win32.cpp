#include "platform/script_host_win32.h"

#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/win_system.h"
#include "script/statement_error.h"

namespace kem::platform {
namespace {

bool DefaultRestart(unsigned flags, unsigned long reason) { return ExitWindowsEx(flags, reason) != 0; }

RestartFn g_restart = &DefaultRestart;

std::string RegistryString(HKEY root, const char* subKey, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string result;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buf(size + 1, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) == ERROR_SUCCESS)
      result.assign(buf.data());
  }
  RegCloseKey(key);
  return result;
}

const char* CurrentVersionKey() {
  return IsWindowsNT() ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\" : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
}

std::string ShellFolder(int csidl) {
  char buf[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  std::string r(buf);
  if (!r.empty() && r.back() != '\\') r.push_back('\\');
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

class Win32ScriptHost final : public ScriptHost {
 public:
  ~Win32ScriptHost() override {
    if (redirectionDepth_ > 0) RevertRedirection();
  }

  void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) override {
    platform::ShowErrorBox(reinterpret_cast<void*>(owner), text, caption);
  }
  void PumpMessages() override { platform::PumpMessages(); }
  [[noreturn]] void TerminateProcess(int exitCode) override {
    TerminateProcessNow(exitCode);
    ::TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    for (;;) Sleep(INFINITE);
  }
  std::uint32_t TickCount() override { return GetTickCount(); }

  std::string RegisteredOwner() override {
    return RegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey(), "RegisteredOwner");
  }
  std::string RegisteredOrganization() override {
    return RegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey(), "RegisteredOrganization");
  }
  std::string LoopbackHostName() override {
    std::string name;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
      in_addr loopback{};
      loopback.s_addr = htonl(INADDR_LOOPBACK);
      if (hostent* h = gethostbyaddr(reinterpret_cast<const char*>(&loopback), sizeof(loopback), AF_INET))
        if (h->h_name) name = h->h_name;
      WSACleanup();
    }
    if (name.empty()) {
      char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
      DWORD n = sizeof(buf);
      if (GetComputerNameA(buf, &n)) name.assign(buf, n);
    }
    return name;
  }
  std::int64_t ClockSecond() override {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<std::int64_t>(u.QuadPart / 10000000ull);
  }
  std::string ShortDate() override {
    char buf[256] = {};
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buf, sizeof(buf));
    return n > 0 ? std::string(buf) : std::string();
  }
  std::string LongTime() override {
    char buf[256] = {};
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buf, sizeof(buf));
    return n > 0 ? std::string(buf) : std::string();
  }
  bool IsAdministrator() override {
    if (!IsWindowsNT()) return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
      return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
    FreeSid(admins);
    if (!member) return false;
    if (WindowsVersion().Major < 6) return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
  }
  std::string ProgramFilesFolder() override { return ShellFolder(CSIDL_PROGRAM_FILES); }
  std::string DocumentsFolder() override { return ShellFolder(CSIDL_PERSONAL); }

  bool FileExists(const std::string& path) override { return platform::FileExists(path); }
  bool FolderExists(const std::string& path) override { return platform::FolderExists(path); }
  bool IsFixedDrive(const std::string& path) override { return GetDriveTypeA(RootOf(path).c_str()) == DRIVE_FIXED; }
  bool CreateEmptyFile(const std::string& path) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }
  bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
  void RemoveFolderTree(const std::string& folder) override {
    for (int i = 0; i < 3; ++i) DeleteFolderContents(folder);
    RemoveFolder(folder);
  }

  void WriteRunOnce(bool allUsers, const std::string& valueName, const std::string& command) override {
    HKEY key = nullptr;
    const char* sub = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";
    if (RegCreateKeyExA(allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, sub, 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
      throw StatementError("Failed to create key " + std::string(sub));
    LONG rc = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw StatementError("Failed to set data for '" + valueName + "'");
  }
  void RequestReboot() override {
    if (IsWindowsNT()) {
      HANDLE token = nullptr;
      if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES tp{};
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
          tp.PrivilegeCount = 1;
          tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
          AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
        }
        CloseHandle(token);
      }
    }
    g_restart(EWX_REBOOT, 0);
  }

  std::string ExpandEnvironmentName(const std::string& name) override {
    std::string text = "%" + name + "%";
    std::vector<char> buf(266240, '\0');
    DWORD n = ExpandEnvironmentStringsA(text.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n > buf.size()) return text;
    return std::string(buf.data());
  }
  std::vector<std::string> EnvironmentStrings() override {
    std::vector<std::string> list;
    LPCH block = GetEnvironmentStringsA();
    if (!block) return list;
    for (const char* p = block; *p; p += std::strlen(p) + 1) list.emplace_back(p);
    FreeEnvironmentStringsA(block);
    return list;
  }
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
    HANDLE h = FindFirstFileA(path.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(h);
    return std::string(fd.cFileName);
  }
  std::string AnsiUpperCase(const std::string& text) override {
    std::string r = text;
    if (!r.empty()) CharUpperBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
  }
  std::string AnsiLowerCase(const std::string& text) override {
    std::string r = text;
    if (!r.empty()) CharLowerBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
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

std::unique_ptr<ScriptHost> CreateScriptHost() { return std::make_unique<Win32ScriptHost>(); }

void SetRestartFunction(RestartFn fn) { g_restart = fn ? fn : &DefaultRestart; }

}  // namespace kem::platform
