#include "platform/win_system.h"

#include <windows.h>

#include "launcher/trace_log.h"

namespace kem::platform {

void InitProcess() {
  SetFileApisToANSI();
  SetTraceConverter(&AnsiToUtf16);
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

void RegisterProgramCompatibility(const std::string& programFileName, const std::string& programPath) {
  OsVersion v = WindowsVersion();
  if (v.Major > 6 || (v.Major == 6 && v.Minor != 0)) {
    HKEY key = nullptr;
    std::string sub = "Applications\\" + programFileName;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, sub.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      RegSetValueExA(key, "IsHostApp", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
      RegCloseKey(key);
    }
  } else if (v.Major == 6 && v.Minor == 0) {
    HKEY key = nullptr;
    const char* sub = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sub, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      DWORD data = 32;
      RegSetValueExA(key, programPath.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
      RegCloseKey(key);
    }
  }
}

void RestrictToFirstProcessor() {
  using Fn = BOOL(WINAPI*)(HANDLE, DWORD_PTR);
  if (HMODULE k = GetModuleHandleA("kernel32.dll")) {
    if (auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, "SetProcessAffinityMask"))))
      fn(GetCurrentProcess(), 1);
  }
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

std::string SystemTempFolder() {
  char buf[260] = {};
  DWORD n = GetTempPathA(sizeof(buf), buf);
  std::string r(buf, n > sizeof(buf) ? 0 : n);
  if (r.empty() || r.back() != '\\') r.push_back('\\');
  return r;
}

std::string RawCommandLine() { return GetCommandLineA(); }

std::u16string AnsiToUtf16(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string r(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(r.data()), n);
  return r;
}

void ShowErrorBox(void* owner, const std::string& text, const std::string& caption) {
  MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TerminateProcessNow(int exitCode) {
  ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace kem::platform
