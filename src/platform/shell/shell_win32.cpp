#include "platform/shell/shell.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/process/system_library.h"

namespace kem::platform {

std::string ShellFolder(int csidl) {
  static const SystemLibrary shell(L"shell32.dll");
  using FolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  auto folderPath = shell.Function<FolderPathFn>("SHGetFolderPathA");
  char buf[MAX_PATH] = {};
  if (!folderPath || FAILED(folderPath(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  std::string r(buf);
  if (!r.empty() && r.back() != '\\') r.push_back('\\');
  return r;
}

namespace {

class Win32ShellService final : public ShellService {
 public:
  std::string ProgramFilesFolder() override { return ShellFolder(CSIDL_PROGRAM_FILES); }
  std::string DocumentsFolder() override { return ShellFolder(CSIDL_PERSONAL); }
  std::string ExpandEnvironmentName(const std::string& name) override {
    std::string text = "%" + name + "%";
    DWORD n = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (n == 0) return text;
    std::vector<char> buf(n + 1, '\0');
    n = ExpandEnvironmentStringsA(text.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
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
};

}  // namespace

std::unique_ptr<ShellService> CreateShellService() { return std::make_unique<Win32ShellService>(); }

}  // namespace kem::platform
