#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <vector>

#include "platform/commands/commands_win32.h"
#include "platform/commands/thread_redirection_win32.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

class Win32Program final : public RunningProgram {
 public:
  explicit Win32Program(HANDLE process) : process_(process) {}
  bool Wait(std::uint32_t ms) override { return WaitForSingleObject(process_.Get(), ms) != WAIT_TIMEOUT; }
  std::uint32_t ExitCode() override {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

 private:
  UniqueHandle process_;
};

StartResult Started(HANDLE process) {
  StartResult r;
  r.Started = true;
  if (process) r.Program = std::make_unique<Win32Program>(process);
  return r;
}

StartResult Failed(int code) {
  StartResult r;
  r.Code = code;
  return r;
}

std::wstring Wide(const std::string& text) {
  std::u16string w = AnsiToUtf16(text);
  return std::wstring(w.begin(), w.end());
}

// The block of name=value strings, each ended by a zero, and a zero after the last.
template <class Char>
std::vector<Char> Block(const std::vector<std::string>& lines) {
  std::vector<Char> block;
  for (const auto& line : lines) {
    if constexpr (sizeof(Char) == 1) {
      block.insert(block.end(), line.begin(), line.end());
    } else {
      std::wstring w = Wide(line);
      block.insert(block.end(), w.begin(), w.end());
    }
    block.push_back(0);
  }
  if (block.empty()) block.push_back(0);
  block.push_back(0);
  return block;
}

template <class Info>
Info Startup(int show) {
  Info si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(show);
  return si;
}

DWORD Integrity(HANDLE token) {
  std::vector<char> buf(256);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buf.data(), static_cast<DWORD>(buf.size()), &size)) return 0;
  auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data());
  PUCHAR count = GetSidSubAuthorityCount(label->Label.Sid);
  return *GetSidSubAuthority(label->Label.Sid, *count - 1u);
}

bool EnablePrivilege(const char* name) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) return false;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid)) return false;
  return AdjustTokenPrivileges(token.Get(), FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
}

constexpr const char* kRemovedPrivileges[] = {
    "SeCreateGlobalPrivilege",        "SeBackupPrivilege",         "SeCreatePagefilePrivilege",
    "SeCreateSymbolicLinkPrivilege",  "SeDebugPrivilege",          "SeImpersonatePrivilege",
    "SeIncreaseBasePriorityPrivilege", "SeIncreaseQuotaPrivilege", "SeLoadDriverPrivilege",
    "SeManageVolumePrivilege",        "SeProfileSingleProcessPrivilege", "SeRemoteShutdownPrivilege",
    "SeRestorePrivilege",             "SeSecurityPrivilege",       "SeSystemEnvironmentPrivilege",
    "SeSystemProfilePrivilege",       "SeSystemtimePrivilege",     "SeTakeOwnershipPrivilege"};

class Win32Programs final : public ProgramService {
 public:
  StartResult ShellStart(const ProgramStart& start) override {
    for (const char* verb : {"open", static_cast<const char*>(nullptr)}) {
      SHELLEXECUTEINFOA info{};
      info.cbSize = sizeof(info);
      info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
      info.lpVerb = verb;
      info.lpFile = start.Program.c_str();
      info.lpParameters = start.Parameters.c_str();
      info.lpDirectory = start.Folder.empty() ? nullptr : start.Folder.c_str();
      info.nShow = start.Show;
      if (ShellExecuteExA(&info)) return Started(info.hProcess);
    }
    return {};
  }
  StartResult Start(const ProgramStart& start) override {
    std::vector<char> commandLine(start.CommandLine.begin(), start.CommandLine.end());
    commandLine.push_back('\0');
    std::vector<char> env;
    if (start.Environment) env = Block<char>(*start.Environment);
    auto si = Startup<STARTUPINFOA>(start.Show);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                        start.Environment ? env.data() : nullptr, start.Folder.empty() ? nullptr : start.Folder.c_str(),
                        &si, &pi))
      return Failed(-11);
    CloseHandle(pi.hThread);
    return Started(pi.hProcess);
  }
  StartResult StartWithLogon(const ProgramStart& start, const std::string& user, const std::string& domain,
                             const std::string& password) override {
    using Fn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                             LPPROCESS_INFORMATION);
    auto fn = Advapi<Fn>("CreateProcessWithLogonW");
    if (!fn) return Failed(-1);
    std::wstring commandLine = Wide(start.CommandLine);
    std::vector<wchar_t> env;
    if (start.Environment) env = Block<wchar_t>(*start.Environment);
    std::wstring folder = Wide(start.Folder);
    auto si = Startup<STARTUPINFOW>(start.Show);
    PROCESS_INFORMATION pi{};
    std::wstring secret = Wide(password);
    BOOL ok = fn(Wide(user).c_str(), Wide(domain).c_str(), secret.c_str(), LOGON_WITH_PROFILE, nullptr,
                 commandLine.data(), CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT,
                 start.Environment ? env.data() : nullptr, folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    SecureZeroMemory(secret.data(), secret.size() * sizeof(wchar_t));
    if (!ok) return Failed(-11);
    CloseHandle(pi.hThread);
    return Started(pi.hProcess);
  }
  std::optional<StartResult> StartAsShellUser(const ProgramStart& start) override {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    if (!GetVersionExA(&v) || v.dwMajorVersion < 6) return std::nullopt;
    UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Receive()) || Integrity(own.Get()) < 0x3000)
      return std::nullopt;
    HWND shellWindow = FindWindowA("Progman", nullptr);
    DWORD shellPid = 0;
    if (!shellWindow || !GetWindowThreadProcessId(shellWindow, &shellPid) || !shellPid) return std::nullopt;
    {
      UniqueHandle probe(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid));
      UniqueHandle probeToken;
      if (!probe.Valid() || !OpenProcessToken(probe.Get(), TOKEN_QUERY, probeToken.Receive()) ||
          Integrity(probeToken.Get()) != 0x2000)
        return std::nullopt;
    }
    if (!EnablePrivilege("SeDebugPrivilege")) return std::nullopt;

    UniqueHandle shell(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid));
    if (!shell.Valid()) return Failed(-7);
    UniqueHandle shellToken;
    if (!OpenProcessToken(shell.Get(), TOKEN_DUPLICATE, shellToken.Receive())) return Failed(-8);
    UniqueHandle token;
    if (!DuplicateTokenEx(shellToken.Get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                          token.Receive()))
      return Failed(-9);
    std::vector<LUID_AND_ATTRIBUTES> removed;
    for (const char* name : kRemovedPrivileges) {
      LUID luid;
      if (LookupPrivilegeValueA(nullptr, name, &luid)) removed.push_back({luid, SE_PRIVILEGE_REMOVED});
    }
    std::vector<char> buf(sizeof(TOKEN_PRIVILEGES) + removed.size() * sizeof(LUID_AND_ATTRIBUTES));
    auto* tp = reinterpret_cast<TOKEN_PRIVILEGES*>(buf.data());
    tp->PrivilegeCount = static_cast<DWORD>(removed.size());
    for (std::size_t k = 0; k < removed.size(); ++k) tp->Privileges[k] = removed[k];
    if (!AdjustTokenPrivileges(token.Get(), FALSE, tp, 0, nullptr, nullptr)) return Failed(-10);

    using Fn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                             LPPROCESS_INFORMATION);
    auto fn = Advapi<Fn>("CreateProcessWithTokenW");
    if (!fn) return Failed(0);
    std::wstring commandLine = Wide(start.CommandLine);
    std::vector<wchar_t> env;
    if (start.Environment) env = Block<wchar_t>(*start.Environment);
    auto si = Startup<STARTUPINFOW>(start.Show);
    PROCESS_INFORMATION pi{};
    if (!fn(token.Get(), 0, nullptr, commandLine.data(), CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT,
            start.Environment ? env.data() : nullptr, nullptr, &si, &pi))
      return Failed(-11);
    CloseHandle(pi.hThread);
    return Started(pi.hProcess);
  }
  bool StartDetached(const std::string& commandLine) override {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
  }
  bool RegisterTypeLibrary(const std::string& path, bool registering) override {
    static const SystemLibrary oleaut(L"oleaut32.dll");
    using LoadFn = HRESULT(WINAPI*)(LPCOLESTR, ITypeLib**);
    using RegisterFn = HRESULT(WINAPI*)(ITypeLib*, LPCOLESTR, LPCOLESTR);
    using UnregisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    using FreeFn = void(WINAPI*)(BSTR);
    auto load = oleaut.Function<LoadFn>("LoadTypeLib");
    auto free = oleaut.Function<FreeFn>("SysFreeString");
    if (!load || !free) return false;
    ITypeLib* lib = nullptr;
    std::wstring file = Wide(path);
    if (FAILED(load(file.c_str(), &lib)) || !lib) return false;
    bool ok = false;
    if (registering) {
      auto reg = oleaut.Function<RegisterFn>("RegisterTypeLib");
      BSTR help = nullptr;
      std::wstring helpFolder;
      if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, nullptr, nullptr, &help)) && help) {
        helpFolder = help;
        free(help);
        helpFolder = helpFolder.substr(0, helpFolder.find_last_of(L'\\') == std::wstring::npos
                                              ? 0
                                              : helpFolder.find_last_of(L'\\') + 1);
      }
      ok = reg && SUCCEEDED(reg(lib, file.c_str(), helpFolder.empty() ? nullptr : helpFolder.c_str()));
    } else {
      auto unreg = oleaut.Function<UnregisterFn>("UnRegisterTypeLib");
      TLIBATTR* attr = nullptr;
      if (unreg && SUCCEEDED(lib->GetLibAttr(&attr)) && attr) {
        ok = SUCCEEDED(unreg(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind));
        lib->ReleaseTLibAttr(attr);
      }
    }
    lib->Release();
    return ok;
  }
  bool RegisterServer(const std::string& path, bool registering) override {
    Library library(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return false;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(library.Get(), registering ? "DllRegisterServer" : "DllUnregisterServer")));
    return fn && fn() == S_OK;
  }
  void InitializeOle(bool on) override {
    static const SystemLibrary ole(L"ole32.dll");
    using InitFn = HRESULT(WINAPI*)(LPVOID);
    using UninitFn = void(WINAPI*)();
    if (on) {
      auto init = ole.Function<InitFn>("OleInitialize");
      oleInitialized_ = init && SUCCEEDED(init(nullptr));
    } else if (oleInitialized_) {
      if (auto uninit = ole.Function<UninitFn>("OleUninitialize")) uninit();
      oleInitialized_ = false;
    }
  }
  // Registrations run in the library's own code, which writes to the view of its own
  // process: there is nothing for the engine to switch.
  void SetRegistrationView(std::uint32_t) override {}
  std::string CurrentFolder() override {
    char buf[MAX_PATH + 1] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(buf), buf);
    return std::string(buf, n <= MAX_PATH ? n : 0);
  }
  bool SetCurrentFolder(const std::string& folder) override { return SetCurrentDirectoryA(folder.c_str()) != 0; }
  void SetThreadRedirectionOff(bool off) override { platform::SetThreadRedirectionOff(off); }

 private:
  template <class Fn>
  static Fn Advapi(const char* name) {
    HMODULE a = GetModuleHandleA("advapi32.dll");
    return a ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(a, name))) : nullptr;
  }
  bool oleInitialized_ = false;
};

}  // namespace

std::unique_ptr<ProgramService> CreateProgramService() { return std::make_unique<Win32Programs>(); }

}  // namespace kem::platform
