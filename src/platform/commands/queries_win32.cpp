#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "platform/commands/commands_win32.h"
#include "platform/commands/version_resource_win32.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/registry/registry_root_win32.h"
#include "platform/shell/shell.h"

namespace kem::platform {
namespace {

constexpr DWORD kMaxValueBytes = 64u << 20;

class Win32RegistryQueries final : public RegistryQueryService {
 public:
  RegistryReadResult Read(RegistryRoot root, const std::string& key, const std::string& name, std::uint32_t view,
                          RegistryValue& value) override {
    RegistryKey k;
    if (RegOpenKeyExA(RootKey(root), key.c_str(), 0, KEY_READ | view, k.Receive()) != ERROR_SUCCESS)
      return RegistryReadResult::NoKey;
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(k.Get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) return RegistryReadResult::NoValue;
    if (r != ERROR_SUCCESS) return RegistryReadResult::Failed;
    // A value that grows between the two calls is read again with the larger size.
    for (int attempt = 0; attempt < 8; ++attempt) {
      if (size > kMaxValueBytes) return RegistryReadResult::Failed;
      std::vector<char> data(size + 2, '\0');
      DWORD got = size;
      r = RegQueryValueExA(k.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
      if (r == ERROR_MORE_DATA) {
        size = std::max<DWORD>(got, size * 2 + 16);
        continue;
      }
      if (r == ERROR_FILE_NOT_FOUND) return RegistryReadResult::NoValue;
      if (r != ERROR_SUCCESS) return RegistryReadResult::Failed;
      value.Type = type;
      value.Data.assign(data.data(), std::min<DWORD>(got, size));
      return RegistryReadResult::Ok;
    }
    return RegistryReadResult::Failed;
  }
};

std::string RegistryText(HKEY root, const char* key, const char* name) {
  RegistryKey k;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, k.Receive()) != ERROR_SUCCESS) return {};
  char buf[512] = {};
  DWORD size = sizeof(buf) - 1, type = 0;
  if (RegQueryValueExA(k.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  return std::string(buf);
}

std::string WithoutSlash(std::string s) {
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

class Win32SystemQueries final : public SystemQueryService {
 public:
  bool IsWow64() override {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow = FALSE;
    return fn && fn(GetCurrentProcess(), &wow) && wow;
  }
  OsVersionInfo Version() override {
    OSVERSIONINFOEXA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    OsVersionInfo out;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) {
      v = {};
      v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
      if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) return out;
    }
    out.Nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
    out.Major = v.dwMajorVersion;
    out.Minor = v.dwMinorVersion;
    out.Build = v.dwBuildNumber;
    out.ServicePack = v.szCSDVersion;
    out.Server = out.Nt && v.wProductType != 0 && v.wProductType != VER_NT_WORKSTATION;
    return out;
  }
  std::uint64_t PhysicalMemory() override {
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof(m);
    return GlobalMemoryStatusEx(&m) ? m.ullTotalPhys : 0;
  }
  int ScreenWidth() override { return GetSystemMetrics(SM_CXSCREEN); }
  int ScreenHeight() override { return GetSystemMetrics(SM_CYSCREEN); }
  int BitsPerPixel() override { return DeviceCaps(BITSPIXEL); }
  int DpiX() override { return DeviceCaps(LOGPIXELSX); }
  bool InGroup(std::uint32_t rid) override {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SidHolder sid;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, sid.Receive())) return false;
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, sid.Get(), &member) && member;
  }
  bool Elevated() override {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    TOKEN_ELEVATION e{};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &e, sizeof(e), &size) && e.TokenIsElevated;
  }
  std::uint16_t SystemLanguage() override {
    const std::vector<char> resource = VersionResource(SystemFolder() + "\\winver.exe");
    auto* translation = static_cast<const WORD*>(VersionValue(resource, "\\VarFileInfo\\Translation", 4));
    return translation ? translation[0] : 0;
  }
  std::string LanguageName(std::uint16_t language) override {
    char buf[128] = {};
    if (!GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_SLANGUAGE, buf, sizeof(buf))) return {};
    return buf;
  }
  std::string UserName() override {
    char buf[257] = {};
    DWORD n = sizeof(buf);
    return GetUserNameA(buf, &n) ? std::string(buf) : std::string();
  }
  std::string ComputerName() override {
    char buf[MAX_COMPUTERNAME_LENGTH + 2] = {};
    DWORD n = sizeof(buf);
    return GetComputerNameA(buf, &n) ? std::string(buf) : std::string();
  }
  std::string UserDomain() override {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return {};
    std::vector<char> user(512);
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &size)) return {};
    char name[256] = {}, domain[256] = {};
    DWORD nameSize = sizeof(name), domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, name, &nameSize, domain,
                           &domainSize, &use))
      return {};
    return domain;
  }
  bool TabletPc() override { return GetSystemMetrics(86) != 0; }
  bool MediaCenter() override { return GetSystemMetrics(87) != 0; }
  bool VmWare() override { return Bios().find("VMware") != std::string::npos; }
  bool VirtualPc() override { return Bios().find("Virtual Machine") != std::string::npos; }
  std::string NativeArchitecture() override {
    using Fn = void(WINAPI*)(LPSYSTEM_INFO);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo")));
    if (!fn) return "X86";
    SYSTEM_INFO si{};
    fn(&si);
    switch (si.wProcessorArchitecture) {
      case PROCESSOR_ARCHITECTURE_INTEL: return "X86";
      case PROCESSOR_ARCHITECTURE_IA64: return "IA64";
      case PROCESSOR_ARCHITECTURE_AMD64: return "AMD64";
    }
    return "UNKNOWN";
  }
  std::string ShellFolder(int csidl) override { return WithoutSlash(platform::ShellFolder(csidl)); }
  std::string SystemFolder() override {
    char buf[MAX_PATH] = {};
    return WithoutSlash(std::string(buf, GetSystemDirectoryA(buf, MAX_PATH)));
  }
  std::string Wow64SystemFolder() override {
    using Fn = UINT(WINAPI*)(LPSTR, UINT);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA")));
    char buf[MAX_PATH] = {};
    UINT n = fn ? fn(buf, MAX_PATH) : 0;
    return n ? WithoutSlash(std::string(buf, n)) : SystemFolder();
  }
  std::string WindowsFolder() override {
    char buf[MAX_PATH] = {};
    return WithoutSlash(std::string(buf, GetWindowsDirectoryA(buf, MAX_PATH)));
  }
  char FirstCdDrive() override {
    DWORD drives = GetLogicalDrives();
    for (char c = 'A'; c <= 'Z'; ++c) {
      if (!(drives & (1u << (c - 'A')))) continue;
      const char root[] = {c, ':', '\\', 0};
      if (GetDriveTypeA(root) == DRIVE_CDROM) return c;
    }
    return 0;
  }
  std::string ExpandEnvironment(const std::string& text) override {
    DWORD n = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (n == 0) return text;
    std::vector<char> buf(n + 1, '\0');
    n = ExpandEnvironmentStringsA(text.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    return n == 0 || n > buf.size() ? text : std::string(buf.data());
  }

 private:
  static int DeviceCaps(int index) {
    HDC dc = GetDC(nullptr);
    if (!dc) return 0;
    int v = GetDeviceCaps(dc, index);
    ReleaseDC(nullptr, dc);
    return v;
  }
  static std::string Bios() {
    const char* key = "HARDWARE\\DESCRIPTION\\System\\BIOS";
    return RegistryText(HKEY_LOCAL_MACHINE, key, "SystemManufacturer") + "|" +
           RegistryText(HKEY_LOCAL_MACHINE, key, "SystemProductName");
  }
};

}  // namespace

std::unique_ptr<RegistryQueryService> CreateRegistryQueryService() { return std::make_unique<Win32RegistryQueries>(); }
std::unique_ptr<SystemQueryService> CreateSystemQueryService() { return std::make_unique<Win32SystemQueries>(); }

}  // namespace kem::platform
