#include "platform/installer/installer_win32.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdlib>
#include <optional>
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

 private:
  MsiLibrary msi_;
};

}  // namespace

std::unique_ptr<InstallerService> CreateInstallerService() { return std::make_unique<Win32InstallerService>(); }

}  // namespace kem::platform
