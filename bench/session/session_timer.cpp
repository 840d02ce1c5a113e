// Times a Windows program under Wine: runs the command line RUNS times (each after the
// reset command, when one is given), prints each run's wall time and exit code, the median
// and the largest peak working set of the timed process. A run that has not ended after
// 30 minutes is ended and the measurement fails.
//   session_timer.exe RUNS "COMMAND" ["RESET COMMAND"]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool Run(const std::string& command, double* ms, SIZE_T* peak, DWORD* code) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = command;
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // The peak working set is read while the process runs: once it has ended, Wine may no
  // longer tell it.
  SIZE_T largest = 0;
  const auto readPeak = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof(counters)))
      largest = std::max(largest, std::max(counters.PeakWorkingSetSize, counters.WorkingSetSize));
  };
  bool ended = false;
  auto end = start;
  for (;;) {
    ended = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    end = std::chrono::steady_clock::now();
    if (ended || end - start > std::chrono::minutes(30)) break;
    readPeak();
  }
  if (!ended) {
    TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return false;
  }
  readPeak();
  if (ms) *ms = std::chrono::duration<double, std::milli>(end - start).count();
  if (peak) *peak = largest;
  if (code) GetExitCodeProcess(pi.hProcess, code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: session_timer RUNS COMMAND [RESET]\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  std::vector<double> times;
  SIZE_T largest = 0;
  for (int i = 0; i < runs; ++i) {
    if (argc > 3) Run(argv[3], nullptr, nullptr, nullptr);
    double ms = 0;
    SIZE_T peak = 0;
    DWORD code = 0;
    if (!Run(argv[2], &ms, &peak, &code)) {
      std::fprintf(stderr, "did not start or did not end: %s\n", argv[2]);
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
