#include "support/engine_runner.h"

#include <gtest/gtest.h>

#include <cstring>
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

RunResult RunEngine(const std::string& exe, const std::string& args, DWORD timeoutMs, const std::string& tempFolder,
                    const std::function<void(DWORD)>& whileRunning) {
  std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
  std::string env;
  if (!tempFolder.empty()) {
    // The parent's environment with TEMP and TMP replaced.
    LPCH block = GetEnvironmentStringsA();
    for (LPCH p = block; *p; p += strlen(p) + 1) {
      std::string var = p;
      if (_strnicmp(var.c_str(), "TEMP=", 5) == 0 || _strnicmp(var.c_str(), "TMP=", 4) == 0) continue;
      env += var;
      env.push_back('\0');
    }
    FreeEnvironmentStringsA(block);
    env += "TEMP=" + tempFolder;
    env.push_back('\0');
    env += "TMP=" + tempFolder;
    env.push_back('\0');
    env.push_back('\0');
  }
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string dir = exe.substr(0, exe.find_last_of('\\'));
  if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, env.empty() ? nullptr : env.data(),
                      dir.c_str(), &si, &pi))
    throw std::runtime_error("cannot start " + exe);
  RunResult r;
  r.ProcessId = pi.dwProcessId;
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD w = WaitForSingleObject(pi.hProcess, 50);
    if (w == WAIT_OBJECT_0) break;
    if (GetTickCount() - start > timeoutMs) {
      r.TimedOut = true;
      TerminateProcess(pi.hProcess, 999);
      WaitForSingleObject(pi.hProcess, 5000);
      break;
    }
    if (whileRunning) whileRunning(pi.dwProcessId);
  }
  GetExitCodeProcess(pi.hProcess, &r.ExitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return r;
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

}  // namespace kem::test
