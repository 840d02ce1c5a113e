#include "platform/installer/installer_win32.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <shlobj.h>

#include <cstdlib>
#include <optional>
#include <vector>
#include <utility>

#include "engine/statement_error.h"
#include "platform/process/system_library.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

using QueryProductStateFn = INSTALLSTATE(WINAPI*)(LPCSTR);
using OpenDatabaseFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIHANDLE*);
using OpenViewFn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, MSIHANDLE*);
using ViewExecuteFn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE);
using ViewFetchFn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE*);
using ViewModifyFn = UINT(WINAPI*)(MSIHANDLE, MSIMODIFY, MSIHANDLE);
using ViewCloseFn = UINT(WINAPI*)(MSIHANDLE);
using RecordSetStringFn = UINT(WINAPI*)(MSIHANDLE, UINT, LPCWSTR);
using CloseHandleFn = UINT(WINAPI*)(MSIHANDLE);
using CommitFn = UINT(WINAPI*)(MSIHANDLE);
using SummaryInformationFn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, UINT, MSIHANDLE*);
using SummarySetFn = UINT(WINAPI*)(MSIHANDLE, UINT, UINT, INT, FILETIME*, LPCWSTR);
using SummaryPersistFn = UINT(WINAPI*)(MSIHANDLE);
using ExportFn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, LPCWSTR, LPCWSTR);
using SummaryGetFn = UINT(WINAPI*)(MSIHANDLE, UINT, UINT*, INT*, FILETIME*, LPWSTR, DWORD*);
using RecordGetIntegerFn = int(WINAPI*)(MSIHANDLE, UINT);
using RecordSetIntegerFn = UINT(WINAPI*)(MSIHANDLE, UINT, int);
using EnableLogFn = UINT(WINAPI*)(DWORD, LPCWSTR, DWORD);
using SetInternalUiFn = INSTALLUILEVEL(WINAPI*)(INSTALLUILEVEL, HWND*);
using SetExternalUiFn = INSTALLUI_HANDLERW(WINAPI*)(INSTALLUI_HANDLERW, DWORD, LPVOID);
using InstallProductFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR);
using ApplyPatchFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, INSTALLTYPE, LPCWSTR);
using AddSourceFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPCWSTR);
using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOW);
using PathFromIdListFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPWSTR);
using CoTaskMemFreeFn = void(WINAPI*)(LPVOID);

constexpr UINT kVtI4 = 3;
// Every message type from fatal exit to extra debug information but files-in-use.
constexpr DWORD kLogModes = 16351;
// Append, and flush each line.
constexpr DWORD kLogAttributes = 3;
// Every message type from fatal exit to show dialog but files-in-use.
constexpr DWORD kMessageFilter = 32735;
// No user interface, but source resolution.
constexpr INSTALLUILEVEL kUiLevel = static_cast<INSTALLUILEVEL>(258);
constexpr DWORD kComponent64Bit = 256;

constexpr UINT kVtLpstr = 30;

// msi.dll and the entry points the engine uses, resolved once.
class MsiLibrary {
 public:
  template <typename Fn>
  Fn Get(const char* name) {
    if (!library_) library_.emplace(L"msi.dll");
    if (!*library_) throw StatementError("Library not found: msi.dll");
    Fn fn = library_->Function<Fn>(name);
    if (!fn) throw StatementError(std::string("Function not found: msi.dll.") + name);
    return fn;
  }

 private:
  std::optional<SystemLibrary> library_;  // loaded on first use
};

// An installer handle closed when it goes out of scope.
class MsiHandle {
 public:
  MsiHandle(MsiLibrary& msi) : msi_(msi) {}
  ~MsiHandle() { Reset(); }
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  MSIHANDLE Get() const { return h_; }
  MSIHANDLE* Receive() {
    Reset();
    return &h_;
  }
  void Reset() {
    if (h_) msi_.Get<CloseHandleFn>("MsiCloseHandle")(h_);
    h_ = 0;
  }

 private:
  MsiLibrary& msi_;
  MSIHANDLE h_ = 0;
};

std::wstring Wide(std::string_view text, std::uint32_t codePage) {
  std::u16string w = AnsiToUtf16(text, codePage);
  return std::wstring(w.begin(), w.end());
}

class Win32InstallerDatabase final : public InstallerDatabase {
 public:
  Win32InstallerDatabase(MsiLibrary& msi, std::uint32_t codePage) : msi_(msi), db_(msi), codePage_(codePage) {}

  bool Open(const std::string& path) {
    auto open = msi_.Get<OpenDatabaseFn>("MsiOpenDatabaseW");
    if (open(Wide(path, codePage_).c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_TRANSACT), db_.Receive()) != ERROR_SUCCESS) return false;
    databaseCodePage_ = ReadDatabaseCodePage();
    return true;
  }

  bool Execute(const std::string& sql) override {
    MsiHandle view(msi_);
    if (msi_.Get<OpenViewFn>("MsiDatabaseOpenViewW")(db_.Get(), Wide(sql, codePage_).c_str(), view.Receive()) !=
        ERROR_SUCCESS)
      return false;
    UINT rc = msi_.Get<ViewExecuteFn>("MsiViewExecute")(view.Get(), 0);
    msi_.Get<ViewCloseFn>("MsiViewClose")(view.Get());
    return rc == ERROR_SUCCESS;
  }

  bool RenewComponentIds(const std::function<std::string()>& newCode) override {
    MsiHandle view(msi_);
    if (msi_.Get<OpenViewFn>("MsiDatabaseOpenViewW")(db_.Get(), L"SELECT `ComponentId` FROM `Component`",
                                                      view.Receive()) != ERROR_SUCCESS ||
        msi_.Get<ViewExecuteFn>("MsiViewExecute")(view.Get(), 0) != ERROR_SUCCESS)
      return false;
    auto fetch = msi_.Get<ViewFetchFn>("MsiViewFetch");
    auto set = msi_.Get<RecordSetStringFn>("MsiRecordSetStringW");
    auto modify = msi_.Get<ViewModifyFn>("MsiViewModify");
    bool ok = true;
    for (;;) {
      MsiHandle record(msi_);
      if (fetch(view.Get(), record.Receive()) != ERROR_SUCCESS) break;
      ok = set(record.Get(), 1, Wide(newCode(), codePage_).c_str()) == ERROR_SUCCESS &&
           modify(view.Get(), MSIMODIFY_UPDATE, record.Get()) == ERROR_SUCCESS && ok;
    }
    msi_.Get<ViewCloseFn>("MsiViewClose")(view.Get());
    return ok;
  }

  bool SetSummaryString(unsigned property, const std::string& value) override {
    MsiHandle info(msi_);
    if (msi_.Get<SummaryInformationFn>("MsiGetSummaryInformationW")(db_.Get(), nullptr, 20, info.Receive()) !=
        ERROR_SUCCESS)
      return false;
    if (msi_.Get<SummarySetFn>("MsiSummaryInfoSetPropertyW")(info.Get(), property, kVtLpstr, 0, nullptr,
                                                             Wide(value, codePage_).c_str()) != ERROR_SUCCESS)
      return false;
    return msi_.Get<SummaryPersistFn>("MsiSummaryInfoPersist")(info.Get()) == ERROR_SUCCESS;
  }

  std::string GetSummaryString(unsigned property) override {
    MsiHandle info(msi_);
    if (msi_.Get<SummaryInformationFn>("MsiGetSummaryInformationW")(db_.Get(), nullptr, 20, info.Receive()) !=
        ERROR_SUCCESS)
      return {};
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    wchar_t buffer[1024] = {};
    DWORD size = 1024;
    if (msi_.Get<SummaryGetFn>("MsiSummaryInfoGetPropertyW")(info.Get(), property, &type, &number, &time, buffer,
                                                             &size) != ERROR_SUCCESS ||
        type != kVtLpstr)
      return {};
    const std::wstring w(buffer);
    return Utf16ToAnsi(std::u16string(w.begin(), w.end()), codePage_);
  }

  bool SetSummaryInteger(unsigned property, int value) override {
    MsiHandle info(msi_);
    if (msi_.Get<SummaryInformationFn>("MsiGetSummaryInformationW")(db_.Get(), nullptr, 20, info.Receive()) !=
        ERROR_SUCCESS)
      return false;
    if (msi_.Get<SummarySetFn>("MsiSummaryInfoSetPropertyW")(info.Get(), property, kVtI4, value, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return false;
    return msi_.Get<SummaryPersistFn>("MsiSummaryInfoPersist")(info.Get()) == ERROR_SUCCESS;
  }

  bool SetComponents64Bit(bool on) override {
    MsiHandle view(msi_);
    if (msi_.Get<OpenViewFn>("MsiDatabaseOpenViewW")(db_.Get(), L"SELECT `Attributes` FROM `Component`",
                                                      view.Receive()) != ERROR_SUCCESS ||
        msi_.Get<ViewExecuteFn>("MsiViewExecute")(view.Get(), 0) != ERROR_SUCCESS)
      return false;
    auto fetch = msi_.Get<ViewFetchFn>("MsiViewFetch");
    auto get = msi_.Get<RecordGetIntegerFn>("MsiRecordGetInteger");
    auto set = msi_.Get<RecordSetIntegerFn>("MsiRecordSetInteger");
    auto modify = msi_.Get<ViewModifyFn>("MsiViewModify");
    bool ok = true;
    for (;;) {
      MsiHandle record(msi_);
      if (fetch(view.Get(), record.Receive()) != ERROR_SUCCESS) break;
      int attributes = get(record.Get(), 1);
      if (attributes == MSI_NULL_INTEGER) attributes = 0;
      attributes = on ? (attributes | kComponent64Bit) : (attributes & ~static_cast<int>(kComponent64Bit));
      ok = set(record.Get(), 1, attributes) == ERROR_SUCCESS &&
           modify(view.Get(), MSIMODIFY_UPDATE, record.Get()) == ERROR_SUCCESS && ok;
    }
    msi_.Get<ViewCloseFn>("MsiViewClose")(view.Get());
    return ok;
  }

  bool CanHold(const std::string& text) override {
    return CodePageHolds(AnsiToUtf16(text, codePage_), databaseCodePage_);
  }

  bool Commit() override { return msi_.Get<CommitFn>("MsiDatabaseCommit")(db_.Get()) == ERROR_SUCCESS; }

 private:
  // The database's code page from its exported _ForceCodepage table; 0 (neutral, or
  // unknown) stores texts in the process's ANSI code page.
  std::uint32_t ReadDatabaseCodePage() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t file[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"kcp", 0, file)) return 0;
    std::wstring name(file);
    std::wstring base = name.substr(name.find_last_of(L'\\') + 1);
    std::uint32_t codePage = 0;
    if (msi_.Get<ExportFn>("MsiDatabaseExportW")(db_.Get(), L"_ForceCodepage", folder, base.c_str()) ==
        ERROR_SUCCESS) {
      HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        char buf[256] = {};
        DWORD got = 0;
        ReadFile(h, buf, sizeof(buf) - 1, &got, nullptr);
        CloseHandle(h);
        // Two empty lines, then "<code page>\t_ForceCodepage".
        const std::string text(buf, got);
        std::size_t line = 0;
        for (int i = 0; i < 2 && line != std::string::npos; ++i) {
          line = text.find('\n', line);
          if (line != std::string::npos) ++line;
        }
        if (line != std::string::npos)
          codePage = static_cast<std::uint32_t>(std::strtoul(text.c_str() + line, nullptr, 10));
      }
    }
    DeleteFileW(file);
    return codePage;
  }

  MsiLibrary& msi_;
  MsiHandle db_;
  std::uint32_t codePage_;
  std::uint32_t databaseCodePage_ = 0;
};

class Win32InstallerService final : public InstallerService {
 public:
  int QueryProductState(const std::string& productCode) override {
    return msi_.Get<QueryProductStateFn>("MsiQueryProductStateA")(productCode.c_str());
  }
  std::unique_ptr<InstallerDatabase> OpenDatabase(const std::string& path, std::uint32_t textCodePage) override {
    auto db = std::make_unique<Win32InstallerDatabase>(msi_, textCodePage);
    if (!db->Open(path)) return nullptr;
    return db;
  }

  void RemoveTempPackages(const std::string& productCode) override {
    msi_.Get<InstallProductFn>("MsiInstallProductW");  // a missing installer raises here
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\TempPackages", 0,
                      KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
      return;
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD size = sizeof(name);
      if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it)
      if (it->find(productCode) != std::string::npos) RegDeleteValueA(key, it->c_str());
    RegCloseKey(key);
  }

  void EnableLog(const std::string& path) override {
    msi_.Get<EnableLogFn>("MsiEnableLogW")(kLogModes, Wide(path, 0).c_str(), kLogAttributes);
  }

  unsigned InstallProduct(const std::string& package, const std::string& commandLine,
                          const InstallerMessageHandler& handler) override {
    auto install = msi_.Get<InstallProductFn>("MsiInstallProductW");
    ExternalUi ui(msi_, handler);
    return install(Wide(package, 0).c_str(), Wide(commandLine, 0).c_str());
  }

  unsigned ApplyPatch(const std::string& package, const std::string& commandLine,
                      const InstallerMessageHandler& handler) override {
    auto apply = msi_.Get<ApplyPatchFn>("MsiApplyPatchW");
    ExternalUi ui(msi_, handler);
    return apply(Wide(package, 0).c_str(), nullptr, INSTALLTYPE_DEFAULT, Wide(commandLine, 0).c_str());
  }

  void AddPatchSource(const std::string& productCode, const std::string& folder) override {
    auto add = msi_.Get<AddSourceFn>("MsiSourceListAddSourceW");
    const std::wstring product = Wide(productCode, 0);
    const std::wstring source = Wide(folder, 0);
    add(product.c_str(), nullptr, 0, source.c_str());
    const std::wstring user = CurrentUserAccount();
    if (!user.empty()) add(product.c_str(), user.c_str(), 0, source.c_str());
  }

  void RegisterRemovalSources(const std::string& packedCode, const std::string& msiFolder,
                              const std::string& dataFolder, const std::string& mediaFolder) override {
    if (packedCode.empty()) return;
    const std::pair<HKEY, std::string> places[] = {
        {HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Installer\\Products\\" + packedCode},
        {HKEY_CLASSES_ROOT, "Installer\\Products\\" + packedCode}};
    for (const auto& [root, base] : places) {
      if (HKEY k = OpenKey(root, base + "\\SourceList")) {
        std::string last = ReadString(k, "LastUsedSource");
        const auto semicolon = last.find_last_of(';');
        last = semicolon == std::string::npos ? std::string() : last.substr(0, semicolon + 1);
        WriteExpandString(k, "LastUsedSource", last + msiFolder);
        RegCloseKey(k);
      }
      if (HKEY k = OpenKey(root, base + "\\SourceList\\Media")) {
        if (RegQueryValueExA(k, "MediaPackage", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
          WriteExpandString(k, "MediaPackage", mediaFolder);
        RegCloseKey(k);
      }
      if (HKEY k = OpenKey(root, base + "\\SourceList\\Net")) {
        unsigned long largest = 0;
        for (DWORD i = 0;; ++i) {
          char name[256];
          DWORD size = sizeof(name);
          if (RegEnumValueA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
          char* end = nullptr;
          const unsigned long n = std::strtoul(name, &end, 10);
          if (size > 0 && *end == '\0' && n > largest) largest = n;
        }
        WriteExpandString(k, std::to_string(largest + 1), msiFolder);
        WriteExpandString(k, std::to_string(largest + 2), dataFolder);
        RegCloseKey(k);
      }
    }
  }

  std::string ReturnCodeText(unsigned code) override {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (!n || !buffer) return {};
    const std::u16string text(buffer, buffer + n);
    LocalFree(buffer);
    return Utf16ToAnsi(text, 0);
  }

  std::string UninstallString(bool machine, const std::string& title) override {
    HKEY key = nullptr;
    const std::wstring path = Wide("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title, 0);
    if (RegOpenKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return {};
    std::wstring value(4096, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key, L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
    return Utf16ToAnsi(std::u16string(value.begin(), value.end()), 0);
  }

  std::optional<std::string> BrowseForFolder(std::uintptr_t owner, const std::string& prompt) override {
    SystemLibrary shell(L"shell32.dll");
    SystemLibrary ole(L"ole32.dll");
    if (!shell || !ole) return std::nullopt;
    auto browse = shell.Function<BrowseFn>("SHBrowseForFolderW");
    auto path = shell.Function<PathFromIdListFn>("SHGetPathFromIDListW");
    auto release = ole.Function<CoTaskMemFreeFn>("CoTaskMemFree");
    if (!browse || !path || !release) return std::nullopt;
    const std::wstring title = Wide(prompt, 0);
    BROWSEINFOW info{};
    info.hwndOwner = reinterpret_cast<HWND>(owner);
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST list = browse(&info);
    if (!list) return std::nullopt;
    wchar_t chosen[MAX_PATH + 1] = {};
    const BOOL ok = path(list, chosen);
    release(list);
    if (!ok || !chosen[0]) return std::nullopt;
    const std::wstring w(chosen);
    return Utf16ToAnsi(std::u16string(w.begin(), w.end()), 0);
  }

  void CreateFolder(const std::string& path) override {
    std::wstring w = Wide(path, 0);
    for (std::size_t at = 3; at <= w.size(); ++at)
      if (at == w.size() || w[at] == L'\\') CreateDirectoryW(w.substr(0, at).c_str(), nullptr);
  }

 private:
  // The engine's external user interface for one installer call: the installer's own
  // dialogs stay hidden, every message goes to the handler. Undone when the call ends.
  class ExternalUi {
   public:
    ExternalUi(MsiLibrary& msi, const InstallerMessageHandler& handler) : msi_(msi), handler_(handler) {
      msi_.Get<SetInternalUiFn>("MsiSetInternalUI")(kUiLevel, nullptr);
      msi_.Get<SetExternalUiFn>("MsiSetExternalUIW")(&ExternalUi::Answer, kMessageFilter, this);
    }
    ~ExternalUi() { msi_.Get<SetExternalUiFn>("MsiSetExternalUIW")(nullptr, 0, nullptr); }
    ExternalUi(const ExternalUi&) = delete;
    ExternalUi& operator=(const ExternalUi&) = delete;

   private:
    static INT CALLBACK Answer(LPVOID context, UINT code, LPCWSTR message) {
      auto* self = static_cast<ExternalUi*>(context);
      if (!self->handler_) return 0;
      std::string text;
      if (message) {
        const std::wstring w(message);
        text = Utf16ToAnsi(std::u16string(w.begin(), w.end()), 0);
      }
      try {
        return self->handler_(code >> 24, code & 0xFFFFFF, text);
      } catch (...) {
        return IDCANCEL;  // nothing may escape into the installer
      }
    }
    MsiLibrary& msi_;
    const InstallerMessageHandler& handler_;
  };

  static HKEY OpenKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return nullptr;
    return key;
  }
  static std::string ReadString(HKEY key, const char* name) {
    char buffer[4096] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
      return {};
    return std::string(buffer);
  }
  static void WriteExpandString(HKEY key, const std::string& name, const std::string& value) {
    RegSetValueExA(key, name.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  // DOMAIN\\user of the process's token; empty on any error.
  static std::wstring CurrentUserAccount() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    char buffer[512];
    DWORD size = 0;
    std::wstring account;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
      wchar_t name[256], domain[256];
      DWORD nameSize = 256, domainSize = 256;
      SID_NAME_USE use;
      if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domain,
                            &domainSize, &use))
        account = std::wstring(domain) + L"\\" + name;
    }
    CloseHandle(token);
    return account;
  }

  MsiLibrary msi_;
};

}  // namespace

std::unique_ptr<InstallerService> CreateInstallerService() { return std::make_unique<Win32InstallerService>(); }

}  // namespace kem::platform
