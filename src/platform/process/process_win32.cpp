#include "platform/process/process.h"

#include <windows.h>

#include <string>
#include <utility>

#include "platform/handles.h"
#include "platform/process/system_library.h"

namespace kem::platform {
namespace {

FARPROC Kernel32Function(const char* name) {
  HMODULE k = GetModuleHandleA("kernel32.dll");
  return k ? GetProcAddress(k, name) : nullptr;
}

}  // namespace

SystemLibrary::SystemLibrary(const wchar_t* fileName) {
  wchar_t folder[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return;
  std::wstring path(folder, n);
  if (path.back() != L'\\') path.push_back(L'\\');
  path += fileName;
  // A full path with the altered search order: the library's own imports come from its
  // folder too, also where the default search folders cannot be set.
  library_ = Library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void InitProcess() {
  // Libraries that system code loads by name later (shell extensions, theming, the
  // installer library) come from the system folder only: a DLL planted beside the setup
  // or in the current folder is never loaded.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
  SetFileApisToANSI();
}

OsVersion WindowsVersion() {
  // GetVersionEx reports the version the program is manifested for; the kernel's own
  // RtlGetVersion tells the truth.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OsVersion v;
  if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
    auto fn = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (fn && fn(&info) == 0) {
      v.Major = info.dwMajorVersion;
      v.Minor = info.dwMinorVersion;
      return v;
    }
  }
  DWORD raw = GetVersion();
  v.Major = LOBYTE(LOWORD(raw));
  v.Minor = HIBYTE(LOWORD(raw));
  return v;
}

bool IsWindowsNT() { return (GetVersion() & 0x80000000u) == 0; }

void RestrictToFirstProcessor() {
  using Fn = BOOL(WINAPI*)(HANDLE, DWORD_PTR);
  if (auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Kernel32Function("SetProcessAffinityMask"))))
    fn(GetCurrentProcess(), 1);
}

std::string ProgramPath() {
  char buf[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
  std::string path(buf, n);
  if (IsWindowsNT() && path.find('?') != std::string::npos) {
    wchar_t wide[32768] = {};
    DWORD wn = GetModuleFileNameW(nullptr, wide, 32768);
    wchar_t shortName[32768] = {};
    if (wn && GetShortPathNameW(wide, shortName, 32768)) {
      char ansi[MAX_PATH * 2] = {};
      int an = WideCharToMultiByte(CP_ACP, 0, shortName, -1, ansi, sizeof(ansi), nullptr, nullptr);
      if (an > 0) path.assign(ansi);
    }
  }
  return path;
}

std::span<const std::uint8_t> OwnImageHeaders() {
  auto base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleA(nullptr));
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  return {base, nt->OptionalHeader.SizeOfHeaders};
}

std::string RawCommandLine() { return GetCommandLineA(); }

void TerminateProcessNow(int exitCode) {
  ExitProcess(static_cast<UINT>(exitCode));
}

namespace {

class Win32ProcessService final : public ProcessService {
 public:
  explicit Win32ProcessService(RestartFn restart) : restart_(std::move(restart)) {}
  [[noreturn]] void TerminateProcess(int exitCode) override {
    TerminateProcessNow(exitCode);
  }
  std::uint32_t TickCount() override { return GetTickCount(); }
  bool IsAdministrator() override {
    if (!IsWindowsNT()) return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SidHolder admins;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  admins.Receive()))
      return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, admins.Get(), &member)) member = FALSE;
    if (!member) return false;
    if (WindowsVersion().Major < 6) return true;
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
  }
  void RequestReboot() override {
    if (IsWindowsNT()) {
      UniqueHandle token;
      if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) {
        TOKEN_PRIVILEGES tp{};
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
          tp.PrivilegeCount = 1;
          tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
          AdjustTokenPrivileges(token.Get(), FALSE, &tp, 0, nullptr, nullptr);
        }
      }
    }
    if (restart_)
      restart_(EWX_REBOOT, 0);
    else
      ExitWindowsEx(EWX_REBOOT, 0);
  }

 private:
  RestartFn restart_;
};

}  // namespace

std::unique_ptr<ProcessService> CreateProcessService(RestartFn restart) {
  return std::make_unique<Win32ProcessService>(std::move(restart));
}

}  // namespace kem::platform
