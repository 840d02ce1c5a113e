// Times the removal of an installed product under Wine, by each of the REMOVE command lines
// in turn, so that a change in the machine's load falls on all of them alike. Every removal
// follows an installation by INSTALL (untimed; it must end with exit code 0 and leave the
// product installed); one untimed installation and removal by the first REMOVE comes first,
// for the caches. The removal is started with CreateProcess and timed until it ends. A REMOVE
// of "@registered" stands for the QuietUninstallString of the product's entry TITLE in the
// list of installed programs (all users first, then the user's), read after each
// installation. Prints each run's wall time, exit code, whether the product is gone and how
// many of the files below its InstallLocation are left, and per command line the median and
// the largest peak working set of the removing process:
//   median of @registered: 4200 ms, peak working set 31.7 MB
// A round that fails, or a command that has not ended after 30 minutes, ends the
// measurement with exit code 1.
//   removal_timer.exe RUNS TITLE PRODUCT-CODE "INSTALL" "REMOVE"...
#include <windows.h>
#include <msi.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
  double Ms = 0;
  SIZE_T Peak = 0;
  DWORD Code = 0;
};

bool Run(const std::string& command, Result& r) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = command;
  const auto start = Clock::now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // The working set is read while the process runs: once it has ended, Wine may no longer
  // tell it.
  const auto readPeak = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof(counters)))
      r.Peak = std::max(r.Peak, std::max(counters.PeakWorkingSetSize, counters.WorkingSetSize));
  };
  bool ended = false;
  for (;;) {
    ended = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    r.Ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ended || r.Ms > 30 * 60 * 1000.0) break;
    readPeak();
  }
  readPeak();
  if (!ended) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, &r.Code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ended;
}

// A value of the product's entry in the list of installed programs.
std::string Registered(const std::string& title, const char* name) {
  const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + title;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    char value[4096];
    DWORD size = sizeof(value);
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS) return value;
  }
  return {};
}

// How many files are below folder.
int FilesBelow(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += FilesBelow(folder + "\\" + data.cFileName);
    else
      ++count;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

bool Installed(const std::string& code) { return MsiQueryProductStateA(code.c_str()) == INSTALLSTATE_DEFAULT; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: removal_timer RUNS TITLE PRODUCT-CODE INSTALL REMOVE...\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  const std::string title = argv[2], code = argv[3], install = argv[4];
  const std::vector<std::string> removals(argv + 5, argv + argc);
  std::vector<std::vector<double>> times(removals.size());
  std::vector<SIZE_T> largest(removals.size());
  // Round 0 is the untimed warm-up of every removal; the timed rounds take them in turn.
  for (int round = 0; round <= runs; ++round) {
    for (std::size_t k = 0; k < removals.size(); ++k) {
      Result setup;
      if (!Run(install, setup) || setup.Code != 0 || !Installed(code)) {
        std::fprintf(stderr, "the installation failed (exit code %lu)\n", static_cast<unsigned long>(setup.Code));
        return 1;
      }
      std::string target = Registered(title, "InstallLocation");
      while (!target.empty() && target.back() == '\\') target.pop_back();
      const int installed = target.empty() ? 0 : FilesBelow(target);
      const std::string remove = removals[k] == "@registered" ? Registered(title, "QuietUninstallString") : removals[k];
      if (remove.empty()) {
        std::fprintf(stderr, "no QuietUninstallString registered for %s\n", title.c_str());
        return 1;
      }
      Result removal;
      if (!Run(remove, removal)) {
        std::fprintf(stderr, "did not start or did not end: %s\n", remove.c_str());
        return 1;
      }
      const bool gone = !Installed(code);
      const int left = target.empty() ? 0 : FilesBelow(target);
      if (round == 0)
        std::printf("warm-up, %s: %.0f ms, %s (%s)\n", removals[k].c_str(), removal.Ms,
                    gone ? "removed" : "STILL INSTALLED", remove.c_str());
      else
        std::printf("run %d, %s: %.0f ms, exit code %lu, %s, %d of %d files left in %s\n", round, removals[k].c_str(),
                    removal.Ms, static_cast<unsigned long>(removal.Code), gone ? "removed" : "STILL INSTALLED", left,
                    installed, target.c_str());
      std::fflush(stdout);
      if (!gone) return 1;
      if (round == 0) continue;
      times[k].push_back(removal.Ms);
      largest[k] = std::max(largest[k], removal.Peak);
    }
  }
  for (std::size_t k = 0; k < removals.size(); ++k) {
    std::sort(times[k].begin(), times[k].end());
    std::printf("median of %s: %.0f ms, peak working set %.1f MB\n", removals[k].c_str(), times[k][times[k].size() / 2],
                largest[k] / 1048576.0);
  }
  return 0;
}
