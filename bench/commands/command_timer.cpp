// Times the file, registry and program statements' peers under Wine, and the engine's runs.
// Every mode runs its work RUNS times and prints each run and the median in ms:
//   command_timer.exe time RUNS "COMMAND" ["RESET"]
//                                                starts COMMAND with CreateProcess and waits
//                                                for it (each time after RESET, untimed, when
//                                                given); also prints its exit code and the
//                                                largest peak working set
//   command_timer.exe find RUNS FOLDER            lists every file below FOLDER with
//                                                FindFirstFileA/FindNextFileA, keeping the paths
//   command_timer.exe copy RUNS FROM TO           CopyFileA FROM to TO (replacing TO)
//   command_timer.exe registry RUNS COUNT KEY NAME
//                                                COUNT times RegOpenKeyExA, RegQueryValueExA and
//                                                RegCloseKey of the value NAME in HKCU\KEY
// A failure (a command that does not start or end within 30 minutes, a copy or a registry read
// that fails) ends the measurement with exit code 1.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool RunCommand(const std::string& command, double* ms, SIZE_T* peak, DWORD* code) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = command;
  const auto start = Clock::now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // The peak working set is read while the process runs: once it has ended, Wine may no
  // longer tell it.
  const auto readPeak = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof(counters)))
      *peak = std::max(*peak, std::max(counters.PeakWorkingSetSize, counters.WorkingSetSize));
  };
  bool ended = false;
  for (;;) {
    ended = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    *ms = MsSince(start);
    if (ended || *ms > 30 * 60 * 1000.0) break;
    readPeak();
  }
  readPeak();
  if (!ended) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ended;
}

// Depth first, as a setup's file search goes: the paths of all files, not of the folders.
void FindFiles(const std::string& folder, std::vector<std::string>& out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    std::string path = folder + "\\" + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      FindFiles(path, out);
    else
      out.push_back(std::move(path));
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

// Runs one measured piece of work RUNS times; work returns false when it failed and may
// print a detail of its run after the time.
int Measure(int runs, const std::function<bool(std::string&)>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    std::string detail;
    const auto start = Clock::now();
    const bool ok = work(detail);
    const double ms = MsSince(start);
    if (!ok) {
      std::fprintf(stderr, "run %d failed%s%s\n", i + 1, detail.empty() ? "" : ": ", detail.c_str());
      return 1;
    }
    std::printf("run %d: %.0f ms%s%s\n", i + 1, ms, detail.empty() ? "" : ", ", detail.c_str());
    times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  std::printf("median: %.0f ms\n", times[times.size() / 2]);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: command_timer time RUNS COMMAND [RESET] | find RUNS FOLDER | copy RUNS FROM TO |"
               " registry RUNS COUNT KEY NAME\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string mode = argv[1];
  const int runs = std::max(1, std::atoi(argv[2]));

  if (mode == "time") {
    const std::string command = argv[3];
    std::vector<double> times;
    SIZE_T largest = 0;
    for (int i = 0; i < runs; ++i) {
      double ms = 0;
      SIZE_T peak = 0;
      DWORD code = 0;
      if (argc > 4) {
        double unused = 0;
        SIZE_T unusedPeak = 0;
        DWORD resetCode = 0;
        if (!RunCommand(argv[4], &unused, &unusedPeak, &resetCode)) {
          std::fprintf(stderr, "did not start or did not end: %s\n", argv[4]);
          return 1;
        }
      }
      if (!RunCommand(command, &ms, &peak, &code)) {
        std::fprintf(stderr, "did not start or did not end: %s\n", command.c_str());
        return 1;
      }
      std::printf("run %d: %.0f ms, exit code %lu\n", i + 1, ms, static_cast<unsigned long>(code));
      times.push_back(ms);
      largest = std::max(largest, peak);
    }
    std::sort(times.begin(), times.end());
    std::printf("median: %.0f ms, peak working set %.1f MB\n", times[times.size() / 2], largest / 1048576.0);
    return 0;
  }
  if (mode == "find") {
    const std::string folder = argv[3];
    return Measure(runs, [&](std::string& detail) {
      std::vector<std::string> found;
      FindFiles(folder, found);
      detail = std::to_string(found.size()) + " files";
      return !found.empty();
    });
  }
  if (mode == "copy" && argc >= 5) {
    return Measure(runs, [&](std::string& detail) {
      if (CopyFileA(argv[3], argv[4], FALSE)) return true;
      detail = "error " + std::to_string(GetLastError());
      return false;
    });
  }
  if (mode == "registry" && argc >= 6) {
    const int count = std::max(1, std::atoi(argv[3]));
    const char* key = argv[4];
    const char* name = argv[5];
    return Measure(runs, [&](std::string& detail) {
      for (int n = 0; n < count; ++n) {
        HKEY opened;
        LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened);
        if (rc != ERROR_SUCCESS) {
          detail = "open error " + std::to_string(rc);
          return false;
        }
        char value[1024];
        DWORD size = sizeof(value);
        DWORD type = 0;
        rc = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(opened);
        if (rc != ERROR_SUCCESS) {
          detail = "read error " + std::to_string(rc);
          return false;
        }
      }
      detail = std::to_string(count) + " reads";
      return true;
    });
  }
  return Usage();
}
