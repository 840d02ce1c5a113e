// Starts a setup and, from its first page on screen until it ends, asks the page for an
// answer (WM_NULL through SendMessageTimeout) every 10 ms: how long the user interface
// thread made us wait at worst. Prints the probes, the longest and mean answer times and
// the run's length, all in ms.
//   ui_probe PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

struct Search {
  DWORD pid;
  HWND page = nullptr;
};

BOOL CALLBACK FindPage(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof(cls));
  if (pid != s->pid || !IsWindowVisible(h) || std::string(cls) != "TPoolTemplate") return TRUE;
  s->page = h;
  return FALSE;
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_probe PROGRAM\n");
    return 2;
  }
  std::string command = std::string("\"") + argv[1] + "\"";
  for (int i = 2; i < argc; ++i) command += std::string(" ") + argv[i];
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const double start = Now();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot start %s\n", argv[1]);
    return 2;
  }
  int probes = 0;
  double longest = 0, total = 0, longestAt = 0, first = 0, firstAt = 0;
  HWND page = nullptr;
  while (WaitForSingleObject(pi.hProcess, 10) == WAIT_TIMEOUT) {
    if (!page || !IsWindow(page) || !IsWindowVisible(page)) {
      Search s{pi.dwProcessId};
      EnumWindows(FindPage, reinterpret_cast<LPARAM>(&s));
      page = s.page;
      continue;
    }
    DWORD_PTR result = 0;
    const double t0 = Now();
    SendMessageTimeoutA(page, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    const double waited = Now() - t0;
    ++probes;
    if (probes == 1) {
      first = waited;
      firstAt = t0 - start;
      continue;
    }
    total += waited;
    if (waited > longest) {
      longest = waited;
      longestAt = t0 - start;
    }
  }
  const double run = Now() - start;
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  // The first answer is reported apart: it includes what the system does for a window's
  // first message from another process.
  std::printf("probes %d, first answer %.1f ms (at %.0f ms), then longest %.1f ms (at %.0f ms), mean %.2f ms, "
              "run %.0f ms, exit code %lu\n",
              probes, first, firstAt, longest, longestAt, probes > 1 ? total / (probes - 1) : 0.0, run,
              static_cast<unsigned long>(code));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
