// Times one Windows program under Wine up to the moment a file appears (or, without one, to
// its end): starts the command line, polls for the file every 2 ms and reads the process's
// peak working set meanwhile. With "stop" the process is ended once the file is there
// (what it would do afterwards is not measured); otherwise the timer waits for its end.
// Prints "ms=N peak_mb=M code=C". A run that takes more than 30 minutes fails.
//   media_timer.exe "COMMAND" [FILE [stop]]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: media_timer COMMAND [FILE [stop]]\n");
    return 2;
  }
  const char* marker = argc > 2 && argv[2][0] ? argv[2] : nullptr;
  const bool stop = argc > 3 && std::strcmp(argv[3], "stop") == 0;
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = argv[1];
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot start: %s\n", argv[1]);
    return 1;
  }
  SIZE_T largest = 0;
  const auto readPeak = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof(counters)))
      largest = std::max(largest, std::max(counters.PeakWorkingSetSize, counters.WorkingSetSize));
  };
  auto end = start;
  bool ended = false, seen = false;
  for (int pass = 0;; ++pass) {
    ended = WaitForSingleObject(pi.hProcess, 2) == WAIT_OBJECT_0;
    end = std::chrono::steady_clock::now();
    if (marker && GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES) {
      seen = true;
      break;
    }
    if (ended || end - start > std::chrono::minutes(30)) break;
    if (pass % 10 == 0) readPeak();
  }
  if (!ended) readPeak();
  if (seen && !ended && !stop) {
    WaitForSingleObject(pi.hProcess, 30 * 60 * 1000);
    ended = true;
  }
  DWORD code = 0;
  if (!ended || (stop && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 10000);
    code = stop && seen ? 0 : 1;
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (marker && !seen) {
    std::fprintf(stderr, "%s did not appear (exit code %lu)\n", marker, static_cast<unsigned long>(code));
    return 1;
  }
  std::printf("ms=%.0f peak_mb=%.1f code=%lu\n", std::chrono::duration<double, std::milli>(end - start).count(),
              largest / 1048576.0, static_cast<unsigned long>(code));
  return 0;
}
