// Times a setup program's wizard from outside, as a user sees it: from CreateProcess to
// its first page on screen, and from a click on Next to the next page on screen.
//   page_timer RUNS PROGRAM WINDOW_CLASS FIRST_PAGE_TEXT NEXT_BUTTON_TEXT SECOND_PAGE_TEXT
// A page counts as on screen when a visible top-level window of the process, of the
// class, has a visible child showing the text. Prints each run and the medians in ms.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
  DWORD pid;
  const char* cls;
  const char* text;
  HWND page = nullptr;
  HWND child = nullptr;
};

BOOL CALLBACK FindChild(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  char buf[512] = {};
  GetWindowTextA(h, buf, sizeof(buf));
  if (IsWindowVisible(h) && std::string(buf).find(s->text) != std::string::npos) {
    s->child = h;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindTop(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof(cls));
  if (pid != s->pid || !IsWindowVisible(h) || std::string(cls) != s->cls) return TRUE;
  EnumChildWindows(h, FindChild, lp);
  if (!s->child) return TRUE;
  s->page = h;
  return FALSE;
}

HWND Find(DWORD pid, const char* cls, const char* text, HWND* child = nullptr) {
  Search s{pid, cls, text};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&s));
  if (child) *child = s.child;
  return s.page;
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * c.QuadPart / f.QuadPart;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: page_timer RUNS PROGRAM CLASS FIRST_TEXT NEXT_BUTTON SECOND_TEXT\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<double> launch, next;
  for (int run = 0; run < runs; ++run) {
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string command = std::string("\"") + argv[2] + "\"";
    // Further arguments for the program, from the environment (for example /update).
    if (const char* extra = std::getenv("PAGE_TIMER_ARGS")) command += std::string(" ") + extra;
    const double t0 = Now();
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      std::fprintf(stderr, "cannot start %s\n", argv[2]);
      return 1;
    }
    HWND button = nullptr, page = nullptr;
    double t1 = 0, t3 = 0;
    while (Now() - t0 < 60000 && !(page = Find(pi.dwProcessId, argv[3], argv[4]))) Sleep(1);
    t1 = Now();
    if (page) {
      Search s{pi.dwProcessId, argv[3], argv[5]};
      s.page = page;
      EnumChildWindows(page, FindChild, reinterpret_cast<LPARAM>(&s));
      button = s.child;
    }
    if (!page || !button) {
      std::fprintf(stderr, "run %d: no first page or no Next button\n", run + 1);
      TerminateProcess(pi.hProcess, 1);
      return 1;
    }
    Sleep(300);  // the page settles before the click
    const double t2 = Now();
    PostMessageA(button, BM_CLICK, 0, 0);
    while (Now() - t2 < 60000 && !Find(pi.dwProcessId, argv[3], argv[6])) Sleep(1);
    t3 = Now();
    launch.push_back(t1 - t0);
    next.push_back(t3 - t2);
    std::printf("run %d: first page %.0f ms, next page %.0f ms\n", run + 1, t1 - t0, t3 - t2);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    Sleep(200);
  }
  std::printf("median: first page %.0f ms, next page %.0f ms\n", Median(launch), Median(next));
  return 0;
}
