#include "platform/system/system_win32.h"

#include <windows.h>
#include <aclapi.h>
#include <mstask.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "platform/handles.h"
#include "platform/process/process.h"
#include "platform/process/system_library.h"
#include "platform/registry/registry_root_win32.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

template <typename Fn>
Fn Kernel32(const char* name) {
  HMODULE k = GetModuleHandleA("kernel32.dll");
  return k ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, name))) : nullptr;
}

template <typename Fn>
Fn Advapi32(const char* name) {
  HMODULE a = GetModuleHandleA("advapi32.dll");
  return a ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(a, name))) : nullptr;
}

// A service manager or service handle.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
  ~ServiceHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE Get() const { return h_; }

 private:
  SC_HANDLE h_;
};

// Deletes the sub-keys of key (opened with the view), depth first, then name below parent.
void DeleteTreeByHand(HKEY parent, const std::string& name, REGSAM view) {
  {
    RegistryKey key;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE | view, key.Receive()) != ERROR_SUCCESS) return;
    for (;;) {
      char child[256];
      DWORD size = sizeof(child);
      if (RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::string before(child, size);
      DeleteTreeByHand(key.Get(), before, view);
      size = sizeof(child);
      // A sub-key that cannot be removed would be found again for ever.
      if (RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
          std::string(child, size) == before)
        break;
    }
  }
  RegDeleteKeyA(parent, name.c_str());
}

std::string RandomName(const std::string& prefix) {
  SystemLibrary ole32(L"ole32.dll");
  auto create = ole32.Function<HRESULT(WINAPI*)(GUID*)>("CoCreateGuid");
  GUID g{};
  if (!create || create(&g) != S_OK) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", prefix.c_str(),
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

// "D:P(A;OICI;FA;;;<sid>)": full access for the current user alone, nothing inherited.
std::string OwnerOnlyDescriptor() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return {};
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buf(size ? size : 1);
  if (!GetTokenInformation(token.Get(), TokenUser, buf.data(), size, &size)) return {};
  char* sid = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) return {};
  std::string sddl = std::string("D:P(A;OICI;FA;;;") + sid + ")";
  LocalFree(sid);
  return sddl;
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM p) {
  auto& list = *reinterpret_cast<std::vector<TopLevelWindow>*>(p);
  char title[1024] = {}, cls[256] = {};
  GetWindowTextA(w, title, sizeof title);
  GetClassNameA(w, cls, sizeof cls);
  list.push_back({reinterpret_cast<std::uintptr_t>(w), title, cls});
  return TRUE;
}

std::wstring Wide(const std::string& text) {
  std::u16string w = AnsiToUtf16(text);
  return std::wstring(w.begin(), w.end());
}

// The Task Scheduler 1.0 through ole32, loaded at run time.
const GUID kClsidTaskScheduler = {0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidTaskScheduler = {0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kClsidTask = {0x148BD520, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidTask = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

template <typename T>
struct ComRelease {
  T* p = nullptr;
  ~ComRelease() {
    if (p) p->Release();
  }
};

class TaskScheduler {
 public:
  TaskScheduler() : ole32_(L"ole32.dll") {
    auto init = ole32_.Function<HRESULT(WINAPI*)(LPVOID, DWORD)>("CoInitializeEx");
    auto create = ole32_.Function<HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)>("CoCreateInstance");
    if (!init || !create) return;
    HRESULT hr = init(nullptr, COINIT_APARTMENTTHREADED);
    initialized_ = SUCCEEDED(hr);
    void* p = nullptr;
    if (SUCCEEDED(create(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskScheduler, &p)))
      scheduler_.p = static_cast<ITaskScheduler*>(p);
  }
  ~TaskScheduler() {
    if (scheduler_.p) scheduler_.p->Release();
    scheduler_.p = nullptr;
    if (initialized_)
      if (auto uninit = ole32_.Function<void(WINAPI*)()>("CoUninitialize")) uninit();
  }
  ITaskScheduler* Get(const std::string& machine) {
    if (!scheduler_.p) return nullptr;
    if (!machine.empty() && FAILED(scheduler_.p->SetTargetComputer(Wide(machine).c_str()))) return nullptr;
    return scheduler_.p;
  }

 private:
  SystemLibrary ole32_;
  bool initialized_ = false;
  ComRelease<ITaskScheduler> scheduler_;
};

class Win32SystemService final : public SystemService {
 public:
  bool IsWow64() override {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = Kernel32<Fn>("IsWow64Process");
    BOOL wow = FALSE;
    return fn && fn(GetCurrentProcess(), &wow) && wow;
  }
  unsigned WindowsMajor() override { return WindowsVersion().Major; }
  unsigned WindowsMinor() override { return WindowsVersion().Minor; }

  std::string NewGuid() override {
    SystemLibrary ole32(L"ole32.dll");
    auto create = ole32.Function<HRESULT(WINAPI*)(GUID*)>("CoCreateGuid");
    GUID g{};
    if (!create || create(&g) != S_OK) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
  }

  std::vector<std::string> ProcessNames() override {
    std::vector<std::string> names;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return names;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
      names.emplace_back(entry.szExeFile);
    return names;
  }

  int ServiceState(const std::string& service, const std::string& machine) override {
    ServiceHandle manager(OpenSCManagerA(machine.empty() ? nullptr : machine.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get()) return 0;
    ServiceHandle svc(OpenServiceA(manager.Get(), service.c_str(), SERVICE_QUERY_STATUS));
    if (!svc.Get()) return 0;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(svc.Get(), &status)) return 0;
    return static_cast<int>(status.dwCurrentState);
  }

  void DeleteRegistryTree(RegistryRoot root, const std::string& key, std::uint32_t view) override {
    if (key.empty()) return;  // never the root itself
    auto cut = key.find_last_of('\\');
    RegistryKey parentKey;
    HKEY parent = RootKey(root);
    std::string name = key;
    if (cut != std::string::npos) {
      if (RegOpenKeyExA(parent, key.substr(0, cut).c_str(), 0, KEY_READ | KEY_WRITE | view, parentKey.Receive()) !=
          ERROR_SUCCESS)
        return;
      parent = parentKey.Get();
      name = key.substr(cut + 1);
    }
    DeleteTreeByHand(parent, name, view);
  }

  void DeleteRegistrySubKey64(RegistryRoot root, const std::string& parent, const std::string& name) override {
    RegistryKey key;
    if (RegOpenKeyExA(RootKey(root), parent.c_str(), 0, KEY_WRITE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
      return;
    using Fn = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);
    if (auto deleteEx = Advapi32<Fn>("RegDeleteKeyExA"))
      deleteEx(key.Get(), name.c_str(), KEY_WOW64_64KEY, 0);
    else
      RegDeleteKeyA(key.Get(), name.c_str());
  }

  void DeleteRegistryValue(RegistryRoot root, const std::string& key, const std::string& value,
                           std::uint32_t view) override {
    RegistryKey k;
    if (RegOpenKeyExA(RootKey(root), key.c_str(), 0, KEY_READ | KEY_WRITE | view, k.Receive()) != ERROR_SUCCESS)
      return;
    RegDeleteValueA(k.Get(), value.c_str());
  }

  std::vector<TopLevelWindow> TopLevelWindows() override {
    std::vector<TopLevelWindow> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
  }

  void PostCancelAndClose(std::uintptr_t window) override {
    HWND w = reinterpret_cast<HWND>(window);
    PostMessageA(w, WM_CANCELMODE, 0, 0);
    PostMessageA(w, WM_CLOSE, 0, 0);
  }

  std::string WindowsFolder() override {
    char buf[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryA(buf, MAX_PATH + 1);
    std::string folder(buf, n <= MAX_PATH ? n : 0);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
  }

  int RunHidden(const std::string& program, const std::string& arguments, const std::string& folder) override {
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) return -1;
    std::string command = "\"" + program + "\" " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
      return -1;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code)) return -1;
    return static_cast<int>(code);
  }

  bool CreateShare(const std::string& name, const std::string& path, const std::string& remark,
                   int maxUsers) override {
    struct ShareInfo2 {  // SHARE_INFO_2
      LPWSTR netname;
      DWORD type;
      LPWSTR remark;
      DWORD permissions;
      DWORD maxUses;
      DWORD currentUses;
      LPWSTR path;
      LPWSTR password;
    };
    using Fn = DWORD(WINAPI*)(LPWSTR, DWORD, LPBYTE, LPDWORD);
    SystemLibrary netapi(L"netapi32.dll");
    auto add = netapi.Function<Fn>("NetShareAdd");
    if (!add) return false;
    std::wstring n = Wide(name), p = Wide(path), r = Wide(remark);
    ShareInfo2 info{n.data(), 0 /* STYPE_DISKTREE */, r.data(), 0, static_cast<DWORD>(maxUsers), 0, p.data(), nullptr};
    DWORD bad = 0;
    return add(nullptr, 2, reinterpret_cast<LPBYTE>(&info), &bad) == 0;
  }

  bool GrantAccess(SecuredObject kind, const std::string& name, const std::vector<std::string>& accounts,
                   AccessLevel level) override {
    SE_OBJECT_TYPE type = kind == SecuredObject::RegistryKey ? SE_REGISTRY_KEY
                          : kind == SecuredObject::Share     ? SE_LMSHARE
                                                             : SE_FILE_OBJECT;
    DWORD rights;
    if (kind == SecuredObject::RegistryKey)
      rights = level == AccessLevel::Full ? KEY_ALL_ACCESS : level == AccessLevel::Modify ? KEY_READ | KEY_WRITE | DELETE : KEY_READ;
    else
      rights = level == AccessLevel::Full     ? GENERIC_ALL
               : level == AccessLevel::Modify ? GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | DELETE
                                              : GENERIC_READ | GENERIC_EXECUTE;
    bool container = kind == SecuredObject::RegistryKey;
    if (kind == SecuredObject::FileOrFolder) {
      DWORD attributes = GetFileAttributesA(name.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return false;
      container = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    std::vector<PSID> sids;
    std::vector<EXPLICIT_ACCESS_A> entries;
    for (const auto& text : accounts) {
      PSID sid = nullptr;
      if (!ConvertStringSidToSidA(text.c_str(), &sid)) continue;
      sids.push_back(sid);
      EXPLICIT_ACCESS_A e{};
      e.grfAccessPermissions = rights;
      e.grfAccessMode = GRANT_ACCESS;
      e.grfInheritance = container ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
      e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
      e.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
      e.Trustee.ptstrName = static_cast<LPSTR>(sid);
      entries.push_back(e);
    }
    bool ok = false;
    PACL oldAcl = nullptr, newAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::string object = name;
    if (!entries.empty() &&
        GetNamedSecurityInfoA(object.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl, nullptr,
                              &descriptor) == ERROR_SUCCESS &&
        SetEntriesInAclA(static_cast<ULONG>(entries.size()), entries.data(), oldAcl, &newAcl) == ERROR_SUCCESS)
      ok = SetNamedSecurityInfoA(object.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl, nullptr) ==
           ERROR_SUCCESS;
    if (newAcl) LocalFree(newAcl);
    if (descriptor) LocalFree(descriptor);
    for (PSID sid : sids) LocalFree(sid);
    return ok;
  }

  bool ScheduleTask(const ScheduledTask& t) override {
    TaskScheduler scheduler;
    ITaskScheduler* s = scheduler.Get(t.Machine);
    if (!s) return false;
    std::wstring name = Wide(t.Name);
    ComRelease<ITask> task;
    void* p = nullptr;
    if (FAILED(s->Activate(name.c_str(), kIidTask, reinterpret_cast<IUnknown**>(&p)))) {
      p = nullptr;
      if (FAILED(s->NewWorkItem(name.c_str(), kClsidTask, kIidTask, reinterpret_cast<IUnknown**>(&p)))) return false;
    }
    task.p = static_cast<ITask*>(p);
    if (FAILED(task.p->SetApplicationName(Wide(t.Program).c_str())) ||
        FAILED(task.p->SetParameters(Wide(t.Arguments).c_str())) ||
        FAILED(task.p->SetWorkingDirectory(Wide(t.WorkingFolder).c_str())) || FAILED(task.p->SetFlags(t.Flags)))
      return false;
    if (t.HasStart) {
      ComRelease<ITaskTrigger> trigger;
      WORD index = 0;
      if (FAILED(task.p->CreateTrigger(&index, &trigger.p))) return false;
      TASK_TRIGGER tt{};
      tt.cbTriggerSize = sizeof(tt);
      tt.wBeginYear = static_cast<WORD>(t.Year);
      tt.wBeginMonth = static_cast<WORD>(t.Month);
      tt.wBeginDay = static_cast<WORD>(t.Day);
      tt.wStartHour = static_cast<WORD>(t.Hour);
      tt.wStartMinute = static_cast<WORD>(t.Minute);
      tt.TriggerType = TASK_TIME_TRIGGER_ONCE;
      if (FAILED(trigger.p->SetTrigger(&tt))) return false;
    }
    ComRelease<IPersistFile> file;
    void* pf = nullptr;
    if (FAILED(task.p->QueryInterface(kIidPersistFile, &pf))) return false;
    file.p = static_cast<IPersistFile*>(pf);
    return SUCCEEDED(file.p->Save(nullptr, TRUE));
  }

  bool DeleteScheduledTask(const std::string& name, const std::string& machine) override {
    TaskScheduler scheduler;
    ITaskScheduler* s = scheduler.Get(machine);
    return s && SUCCEEDED(s->Delete(Wide(name).c_str()));
  }

  bool DeleteShare(const std::string& name) override {
    using Fn = DWORD(WINAPI*)(LPWSTR, LPWSTR, DWORD);
    SystemLibrary netapi(L"netapi32.dll");
    auto del = netapi.Function<Fn>("NetShareDel");
    std::wstring n = Wide(name);
    return del && del(nullptr, n.data(), 0) == 0;
  }

  std::int64_t FreeDiskSpace(const std::string& root) override {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free)) return -1;
    return static_cast<std::int64_t>(available.QuadPart);
  }

  std::optional<std::string> ReadFile(const std::string& path) override {
    UniqueHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.Valid()) return std::nullopt;
    std::string bytes;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(h.Get(), buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
    return bytes;
  }

  bool WriteFile(const std::string& path, const std::string& bytes) override {
    return WriteNew(path, bytes, CREATE_ALWAYS);
  }

  std::string CreatePrivateFile(const std::string& bytes) override {
    char temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(MAX_PATH + 1, temp);
    std::string sddl = OwnerOnlyDescriptor();
    std::string folderName = RandomName("kemp");
    if (n == 0 || n > MAX_PATH || sddl.empty() || folderName.empty()) return {};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
      return {};
    SECURITY_ATTRIBUTES sa{sizeof(sa), descriptor, FALSE};
    std::string folder = std::string(temp, n);
    if (folder.back() != '\\') folder += '\\';
    folder += folderName;
    // CreateDirectory fails when the name exists already: nobody can have put it there first.
    BOOL created = CreateDirectoryA(folder.c_str(), &sa);
    LocalFree(descriptor);
    if (!created) return {};
    std::string path = folder + "\\" + RandomName("p");
    if (!WriteNew(path, bytes, CREATE_NEW)) {
      DeleteFileA(path.c_str());
      RemoveDirectoryA(folder.c_str());
      return {};
    }
    return path;
  }

  void RemovePrivateFile(const std::string& path) override {
    DeleteFileA(path.c_str());
    auto cut = path.find_last_of('\\');
    if (cut != std::string::npos) RemoveDirectoryA(path.substr(0, cut).c_str());
  }

 private:
  static bool WriteNew(const std::string& path, const std::string& bytes, DWORD disposition) {
    UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return false;
    DWORD written = 0;
    return ::WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
};

}  // namespace

std::unique_ptr<SystemService> CreateSystemService() { return std::make_unique<Win32SystemService>(); }

}  // namespace kem::platform
