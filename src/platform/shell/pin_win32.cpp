#include "platform/shell/pin_win32.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>
#include <shobjidl.h>
#include <propsys.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/process/system_library.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

// The identifiers the engine needs, written here rather than linked from a library.
constexpr GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIidShellLinkW = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIidPropertyStore = {0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};
constexpr GUID kIidDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIidNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// System.AppUserModel.ID.
constexpr PROPERTYKEY kAppUserModelId = {{0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

std::wstring Wide(const std::string& text) {
  const std::u16string w = AnsiToUtf16(text, 0);
  return std::wstring(w.begin(), w.end());
}
std::string Narrow(const wchar_t* text) {
  if (!text) return {};
  const std::wstring w(text);
  return Utf16ToAnsi(std::u16string(w.begin(), w.end()), 0);
}

// COM and automation entry points, looked up at run time.
struct Com {
  SystemLibrary ole{L"ole32.dll"};
  SystemLibrary oleaut{L"oleaut32.dll"};
  decltype(&CoInitializeEx) Initialize = ole.Function<decltype(&CoInitializeEx)>("CoInitializeEx");
  decltype(&CoUninitialize) Uninitialize = ole.Function<decltype(&CoUninitialize)>("CoUninitialize");
  decltype(&CoCreateInstance) Create = ole.Function<decltype(&CoCreateInstance)>("CoCreateInstance");
  decltype(&CLSIDFromProgID) ClassOf = ole.Function<decltype(&CLSIDFromProgID)>("CLSIDFromProgID");
  decltype(&CoTaskMemAlloc) Alloc = ole.Function<decltype(&CoTaskMemAlloc)>("CoTaskMemAlloc");
  decltype(&PropVariantClear) ClearProp = ole.Function<decltype(&PropVariantClear)>("PropVariantClear");
  decltype(&SysAllocString) NewString = oleaut.Function<decltype(&SysAllocString)>("SysAllocString");
  decltype(&VariantClear) Clear = oleaut.Function<decltype(&VariantClear)>("VariantClear");
  bool Ready() const {
    return Initialize && Uninitialize && Create && ClassOf && Alloc && ClearProp && NewString && Clear;
  }
};

// COM on the calling thread for the length of a call.
class ComScope {
 public:
  explicit ComScope(Com& com) : com_(com) {
    const HRESULT hr = com_.Initialize(nullptr, COINIT_APARTMENTTHREADED);
    owned_ = hr == S_OK || hr == S_FALSE;
  }
  ~ComScope() {
    if (owned_) com_.Uninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  Com& com_;
  bool owned_ = false;
};

template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  void** Out() { return reinterpret_cast<void**>(&p_); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A late-bound call: a method or property of an automation object.
bool Call(Com& com, IDispatch* object, const wchar_t* name, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(kIidNull, names, 1, LOCALE_USER_DEFAULT, &id))) return false;
  DISPPARAMS params{args, nullptr, count, 0};
  if (result) VariantInit(result);
  (void)com;
  return SUCCEEDED(object->Invoke(id, kIidNull, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr));
}

// The verbs collection of a file through "Shell.Application"; null when any step fails.
bool WithVerbs(Com& com, const std::string& file, const std::function<void(IDispatch* verbs, long count)>& use) {
  const auto slash = file.find_last_of('\\');
  if (slash == std::string::npos) return false;
  CLSID cls{};
  if (FAILED(com.ClassOf(L"Shell.Application", &cls))) return false;
  Ref<IDispatch> shell;
  if (FAILED(com.Create(cls, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, kIidDispatch, shell.Out()))) return false;
  VARIANT arg, folder, item, verbs, count;
  arg.vt = VT_BSTR;
  arg.bstrVal = com.NewString(Wide(file.substr(0, slash)).c_str());
  const bool gotFolder = Call(com, shell.Get(), L"NameSpace", DISPATCH_METHOD, &arg, 1, &folder);
  com.Clear(&arg);
  if (!gotFolder || folder.vt != VT_DISPATCH || !folder.pdispVal) return false;
  arg.vt = VT_BSTR;
  arg.bstrVal = com.NewString(Wide(file.substr(slash + 1)).c_str());
  const bool gotItem = Call(com, folder.pdispVal, L"ParseName", DISPATCH_METHOD, &arg, 1, &item);
  com.Clear(&arg);
  com.Clear(&folder);
  if (!gotItem || item.vt != VT_DISPATCH || !item.pdispVal) return false;
  const bool gotVerbs = Call(com, item.pdispVal, L"Verbs", DISPATCH_METHOD, nullptr, 0, &verbs);
  com.Clear(&item);
  if (!gotVerbs || verbs.vt != VT_DISPATCH || !verbs.pdispVal) return false;
  long n = 0;
  if (Call(com, verbs.pdispVal, L"Count", DISPATCH_PROPERTYGET | DISPATCH_METHOD, nullptr, 0, &count)) {
    if (count.vt == VT_I4) n = count.lVal;
    com.Clear(&count);
  }
  use(verbs.pdispVal, n);
  com.Clear(&verbs);
  return true;
}

// Verb i of the collection (null when it cannot be had) and its name.
bool VerbAt(Com& com, IDispatch* verbs, long i, VARIANT& verb, std::string& name) {
  VARIANT index;
  index.vt = VT_I4;
  index.lVal = i;
  if (!Call(com, verbs, L"Item", DISPATCH_METHOD, &index, 1, &verb) || verb.vt != VT_DISPATCH || !verb.pdispVal)
    return false;
  VARIANT text;
  if (Call(com, verb.pdispVal, L"Name", DISPATCH_PROPERTYGET, nullptr, 0, &text)) {
    if (text.vt == VT_BSTR) name = Narrow(text.bstrVal);
    com.Clear(&text);
  }
  return true;
}

class Win32ShortcutPins final : public ShortcutPinService {
 public:
  bool SetAppUserModelId(const std::string& shortcut, const std::string& appId) override {
    if (!com_.Ready()) return false;
    ComScope scope(com_);
    Ref<IShellLinkW> link;
    if (FAILED(com_.Create(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW, link.Out()))) return false;
    Ref<IPersistFile> file;
    Ref<IPropertyStore> store;
    const std::wstring path = Wide(shortcut);
    if (FAILED(link->QueryInterface(kIidPersistFile, file.Out())) || FAILED(file->Load(path.c_str(), STGM_READWRITE)) ||
        FAILED(link->QueryInterface(kIidPropertyStore, store.Out())))
      return false;
    const std::wstring id = Wide(appId);
    PROPVARIANT value;
    std::memset(&value, 0, sizeof(value));
    value.vt = VT_LPWSTR;
    value.pwszVal = static_cast<LPWSTR>(com_.Alloc((id.size() + 1) * sizeof(wchar_t)));
    if (!value.pwszVal) return false;
    std::memcpy(value.pwszVal, id.c_str(), (id.size() + 1) * sizeof(wchar_t));
    const bool ok = SUCCEEDED(store->SetValue(kAppUserModelId, value)) && SUCCEEDED(store->Commit()) &&
                    SUCCEEDED(file->Save(path.c_str(), TRUE));
    com_.ClearProp(&value);
    return ok;
  }

  std::vector<std::string> Verbs(const std::string& file) override {
    std::vector<std::string> names;
    if (!com_.Ready()) return names;
    ComScope scope(com_);
    WithVerbs(com_, file, [&](IDispatch* verbs, long n) {
      for (long i = 0; i < n; ++i) {
        VARIANT verb;
        std::string name;
        if (VerbAt(com_, verbs, i, verb, name)) com_.Clear(&verb);
        names.push_back(name);
      }
    });
    return names;
  }

  bool RunVerb(const std::string& file, const std::string& wanted) override {
    if (!com_.Ready()) return false;
    ComScope scope(com_);
    bool ran = false;
    WithVerbs(com_, file, [&](IDispatch* verbs, long n) {
      for (long i = 0; i < n && !ran; ++i) {
        VARIANT verb;
        std::string name;
        if (!VerbAt(com_, verbs, i, verb, name)) continue;
        if (name == wanted) ran = Call(com_, verb.pdispVal, L"DoIt", DISPATCH_METHOD, nullptr, 0, nullptr);
        com_.Clear(&verb);
      }
    });
    return ran;
  }

  std::vector<std::string> ShellTexts(unsigned resourceId) override {
    std::vector<std::string> texts;
    wchar_t system[MAX_PATH + 1] = {};
    if (!GetSystemDirectoryW(system, MAX_PATH)) return texts;
    const std::wstring folder = std::wstring(system) + L"\\";
    std::vector<std::wstring> files;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    if (version.dwMajorVersion >= 6) {
      // The language resources: the system folder's own and one per language subfolder.
      files.push_back(folder + L"shell32.dll.mui");
      WIN32_FIND_DATAW found;
      HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          const std::wstring name = found.cFileName;
          if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
            files.push_back(folder + name + L"\\shell32.dll.mui");
        } while (FindNextFileW(find, &found));
        FindClose(find);
      }
    } else {
      files.push_back(folder + L"shell32.dll");
    }
    for (const auto& file : files) {
      if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      // Read as data: nothing of it runs.
      HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
      if (!module) module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
      if (!module) continue;
      wchar_t buffer[512] = {};
      if (LoadStringW(module, resourceId, buffer, 512) > 0) texts.push_back(Narrow(buffer));
      FreeLibrary(module);
    }
    return texts;
  }

  std::string QuickLaunchFolder() override {
    wchar_t value[MAX_PATH + 1] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
      return {};
    const LONG rc = RegQueryValueExW(key, L"AppData", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || !value[0]) return {};
    std::string folder = Narrow(value);
    if (folder.back() != '\\') folder += '\\';
    return folder + "Microsoft\\Internet Explorer\\Quick Launch\\";
  }

  bool FileExists(const std::string& path) override {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool MoveEntry(const std::string& from, const std::string& to) override {
    return MoveFileW(Wide(from).c_str(), Wide(to).c_str()) != 0;
  }
  std::string UpperCase(const std::string& text) override {
    std::wstring w = Wide(text);
    if (!w.empty()) CharUpperBuffW(w.data(), static_cast<DWORD>(w.size()));
    return Narrow(w.c_str());
  }

 private:
  Com com_;
};

}  // namespace

std::unique_ptr<ShortcutPinService> CreateShortcutPinService() { return std::make_unique<Win32ShortcutPins>(); }

}  // namespace kem::platform
