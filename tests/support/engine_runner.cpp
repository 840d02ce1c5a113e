#include "support/engine_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kem::test {

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

EngineFiles& Files() {
  static EngineFiles files;
  return files;
}

void ParseEngineFiles(int argc, char** argv) {
  if (argc > 1) Files().Engine = WindowsPath(argv[1]);
  if (argc > 2 && std::string(argv[2]) != "-") Files().Library = WindowsPath(argv[2]);
  if (argc > 3) Files().Archive = WindowsPath(argv[3]);
}

void ParseEngineFilesFromTestArguments() {
  std::vector<std::string> args = ::testing::internal::GetArgvs();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  ParseEngineFiles(static_cast<int>(argv.size()), argv.data());
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Beside(const std::string& name) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path = self;
  return path.substr(0, path.find_last_of('\\') + 1) + name;
}

void RemoveTree(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string n = fd.cFileName;
      if (n != "." && n != "..") RemoveTree(path + "\\" + n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(path.c_str());
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring r(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), r.data(), n);
  return r;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string r(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), r.data(), n, nullptr, nullptr);
  return r;
}

namespace {

std::wstring Extended(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.rfind(L"\\\\", 0) == 0) return path;
  return L"\\\\?\\" + path;
}

}  // namespace

bool PathExistsW(const std::wstring& path) {
  return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTreeW(const std::wstring& path) {
  const std::wstring p = Extended(path);
  DWORD a = GetFileAttributesW(p.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(p.c_str());
    return;
  }
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Extended(path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring n = fd.cFileName;
      if (n != L"." && n != L"..") RemoveTreeW(path + L"\\" + n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(p.c_str());
}

void MakeFolderW(const std::wstring& path) {
  auto slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2 && !PathExistsW(path.substr(0, slash))) MakeFolderW(path.substr(0, slash));
  CreateDirectoryW(Extended(path).c_str(), nullptr);
}

void WriteFileW(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + Narrow(path));
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::wstring ShortPathW(const std::wstring& path) {
  const std::wstring p = Extended(path);
  DWORD n = GetShortPathNameW(p.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring r(n, L'\0');
  n = GetShortPathNameW(p.c_str(), r.data(), n);
  if (n == 0 || n >= r.size()) return {};
  r.resize(n);
  if (r.rfind(L"\\\\?\\", 0) == 0) r.erase(0, 4);
  return r;
}

namespace {

void CollectEntries(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Extended(folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring n = fd.cFileName;
    if (n == L"." || n == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(prefix + n + L"\\");
      CollectEntries(folder + L"\\" + n, prefix + n + L"\\", out);
    } else {
      out.push_back(prefix + n);
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

}  // namespace

std::vector<std::wstring> FolderEntriesW(const std::wstring& folder) {
  std::vector<std::wstring> entries;
  CollectEntries(folder, L"", entries);
  std::sort(entries.begin(), entries.end());
  return entries;
}

void MakeFolder(const std::string& path) {
  auto slash = path.find_last_of('\\');
  if (slash != std::string::npos && slash > 2 && !PathExists(path.substr(0, slash))) MakeFolder(path.substr(0, slash));
  CreateDirectoryA(path.c_str(), nullptr);
}

std::string ComposeSetup(const std::string& dir, const std::string& baseName, const SetupData& data,
                         const SetupOptions& o) {
  RemoveTree(dir);
  MakeFolder(dir);
  const std::string base = dir + "\\" + baseName;
  std::string exe = ReadFileBytes(Files().Engine);
  if (exe.empty()) throw std::runtime_error("engine not found: " + Files().Engine);
  if (o.WithData) exe += o.RawData.empty() ? WriteSetupData(data) : o.RawData;
  WriteFileBytes(base + ".exe", exe);
  if (!Files().Library.empty()) CopyFileA(Files().Library.c_str(), (dir + "\\kem.lib").c_str(), FALSE);
  if (o.WithArchive) {
    if (!o.ArchiveBytes.empty())
      WriteFileBytes(base + ".res", o.ArchiveBytes);
    else
      CopyFileA(Files().Archive.c_str(), (base + ".res").c_str(), FALSE);
  }
  // The launcher only checks for and copies the database; any content serves here.
  if (o.WithMsi) WriteFileBytes(base + ".msi", "test database");
  if (o.WithMsp) WriteFileBytes(base + ".msp", "test patch");
  return base + ".exe";
}

namespace {

// The test's environment block with the given variables replaced or added.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
  std::wstring block;
  LPWCH own = GetEnvironmentStringsW();
  for (LPWCH p = own; *p; p += wcslen(p) + 1) {
    std::wstring var = p;
    bool replaced = false;
    for (const auto& [name, value] : changes)
      if (var.size() > name.size() && var[name.size()] == L'=' && _wcsnicmp(var.c_str(), name.c_str(), name.size()) == 0)
        replaced = true;
    if (replaced) continue;
    block += var;
    block.push_back(L'\0');
  }
  FreeEnvironmentStringsW(own);
  for (const auto& [name, value] : changes) {
    block += name + L"=" + value;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

EngineProcess::EngineProcess(const std::string& exe, const std::string& args, const StartOptions& o) {
  std::wstring cmd = L"\"" + Widen(exe) + L"\"" + (args.empty() ? L"" : L" " + Widen(args));
  std::vector<std::pair<std::wstring, std::wstring>> changes = o.Environment;
  if (!o.TempFolder.empty()) {
    changes.emplace_back(L"TEMP", o.TempFolder);
    changes.emplace_back(L"TMP", o.TempFolder);
  }
  std::wstring env;
  if (!changes.empty()) env = EnvironmentBlock(changes);
  std::wstring dir = Widen(o.WorkingFolder.empty() ? exe.substr(0, exe.find_last_of('\\')) : o.WorkingFolder);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(Widen(exe).c_str(), cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      env.empty() ? nullptr : env.data(), dir.c_str(), &si, &pi))
    throw std::runtime_error("cannot start " + exe);
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  id_ = pi.dwProcessId;
}

EngineProcess::~EngineProcess() {
  if (Running()) {
    TerminateProcess(process_, 999);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool EngineProcess::Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

RunResult EngineProcess::Wait(DWORD timeoutMs, const std::function<void(DWORD)>& whileRunning) {
  RunResult r;
  r.ProcessId = id_;
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD w = WaitForSingleObject(process_, 50);
    if (w == WAIT_OBJECT_0) break;
    if (GetTickCount() - start > timeoutMs) {
      r.TimedOut = true;
      TerminateProcess(process_, 999);
      WaitForSingleObject(process_, 5000);
      break;
    }
    if (whileRunning) whileRunning(id_);
  }
  GetExitCodeProcess(process_, &r.ExitCode);
  return r;
}

RunResult RunEngine(const std::string& exe, const std::string& args, const StartOptions& options, DWORD timeoutMs,
                    const std::function<void(DWORD)>& whileRunning) {
  EngineProcess process(exe, args, options);
  return process.Wait(timeoutMs, whileRunning);
}

RunResult RunEngine(const std::string& exe, const std::string& args, DWORD timeoutMs, const std::string& tempFolder,
                    const std::function<void(DWORD)>& whileRunning) {
  StartOptions options;
  options.TempFolder = Widen(tempFolder);
  return RunEngine(exe, args, options, timeoutMs, whileRunning);
}

void AddWaitForFile(ScriptBuilder& script, const std::string& folder, const std::string& name) {
  std::string lower = name, upper = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  script.Add("Label", {"WaitForRelease"});
  script.Add("Set Variable", {"RELEASE", folder + "\\" + lower});
  script.Add("Convert Path", {"RELEASE", "FALSE"});
  script.Add("If", {"RELEASE", "1", upper, "TRUE"});
  script.Add("GoTo Label", {"WaitForRelease"});
  script.Add("End");
}

void AddExitWithSupportFolderNumber(ScriptBuilder& script, const std::string& supportFile) {
  if (!supportFile.empty()) {
    std::string upper = supportFile;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    script.Add("Set Variable", {"OWNFILE", "$SUPPORTDIR$" + upper});
    script.Add("Convert Path", {"OWNFILE", "FALSE"});
    script.Add("If", {"OWNFILE", "1", supportFile, "TRUE"});
    script.Add("Terminate with Exit Code", {"99"});
    script.Add("End");
  }
  script.Add("Set Variable", {"NUMBER", "$SUPPORTDIR$"});
  script.Add("Replace String", {"NUMBER", "$TEMPDIR$kem", "", "FALSE", "FALSE"});
  script.Add("Replace String", {"NUMBER", "\\", "", "FALSE", "TRUE"});
  script.Add("Mathematics", {"$NUMBER$", "100", "0", "CODE"});
  script.Add("Terminate with Exit Code", {"$CODE$"});
}

std::string ReadTraceLog(const std::string& path) {
  std::string raw = ReadFileBytes(path);
  std::string out;
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
    unsigned c = static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8;
    out.push_back(c < 256 ? static_cast<char>(c) : '?');
  }
  return out;
}

namespace {
struct FindBox {
  DWORD pid;
  HWND found;
  std::string cls = "#32770";
};
BOOL CALLBACK FindBoxProc(HWND h, LPARAM l) {
  auto* f = reinterpret_cast<FindBox*>(l);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof(cls));
  if (pid == f->pid && IsWindowVisible(h) && f->cls == cls) {
    f->found = h;
    return FALSE;
  }
  return TRUE;
}
BOOL CALLBACK CollectText(HWND h, LPARAM l) {
  auto* s = reinterpret_cast<std::string*>(l);
  char buf[1024] = {};
  GetWindowTextA(h, buf, sizeof(buf));
  if (buf[0]) {
    if (!s->empty()) s->push_back('\n');
    *s += buf;
  }
  return TRUE;
}
}  // namespace

HWND FindMessageBox(DWORD pid) {
  FindBox f{pid, nullptr};
  EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

HWND FindProcessWindow(DWORD pid, const std::string& className) {
  FindBox f{pid, nullptr, className};
  EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

std::string ChildTexts(HWND window) {
  std::string s;
  EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&s));
  return s;
}

std::string WindowText(HWND window) {
  char buf[1024] = {};
  GetWindowTextA(window, buf, sizeof(buf));
  return buf;
}

void SaveWindowBitmap(HWND window, const std::string& path, int settleMs) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  if (settleMs > 0) Sleep(static_cast<DWORD>(settleMs));
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  const int stride = ((w * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
  fh.bfSize = fh.bfOffBits + stride * h;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&fh), sizeof(fh));
  out.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(bi.bmiHeader));
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * h);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

// Runs a program of the host system (under Wine; false elsewhere) on the host's names of
// the given paths: `program path...`. The host program takes its arguments as they are,
// without a shell's quoting (the test's paths hold no blanks).
bool RunHostProgram(const std::string& program, const std::vector<std::wstring>& paths) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return false;
  std::string command = program;
  for (const std::wstring& path : paths) {
    char* name = unixName(path.c_str());
    if (name == nullptr) return false;
    command += std::string(" ") + name;
    HeapFree(GetProcessHeap(), 0, name);
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // Under Wine the wait on a host program's handle may fail at once: callers wait for the
  // program's effect themselves.
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

// Makes a symbolic link at `link` to `target` (a folder when `folder`): through the system
// call where it works; where it does not (Wine accepts the call but makes nothing), through
// the host's own link program, which is what someone with access to the temporary folder
// would use there. False when neither can make it.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder) {
  CreateSymbolicLinkW(link.c_str(), target.c_str(), folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  if (!RunHostProgram("/bin/ln -s", {target, link})) return false;
  for (int i = 0; i < 200; ++i, Sleep(50))
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return false;
}

// Removes links made by MakeLink through the host's own program, and waits until they are gone.
void RemoveLinks(const std::vector<std::wstring>& links) {
  RunHostProgram("/bin/rm -f", links);
  for (const std::wstring& link : links)
    for (int i = 0; i < 200 && GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

}  // namespace kem::test
