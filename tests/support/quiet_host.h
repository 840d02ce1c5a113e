// A stand-in for every machine service that answers at once, for benchmarks: no windows,
// every file and folder exists, the clock is the real one.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/services.h"

namespace kem::test {

class QuietHost : public UiService,
                  public FileService,
                  public RegistryService,
                  public ProcessService,
                  public ShellService,
                  public NetworkService {
 public:
  void ShowErrorBox(std::uintptr_t, const std::string& text, const std::string&) override {
    std::fprintf(stderr, "error box: %s\n", text.c_str());
  }
  void PumpMessages() override {}
  [[noreturn]] void TerminateProcess(int code) override {
    std::fprintf(stderr, "terminated with %d\n", code);
    std::exit(code);
  }
  std::uint32_t TickCount() override { return 0; }
  std::string RegisteredOwner() override { return "owner"; }
  std::string RegisteredOrganization() override { return "org"; }
  std::string LoopbackHostName() override { return "localhost"; }
  std::int64_t ClockSecond() override {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  std::string ShortDate() override { return "01/02/2024"; }
  std::string LongTime() override { return "10:11:12"; }
  bool IsAdministrator() override { return true; }
  std::string ProgramFilesFolder() override { return "C:\\Program Files\\"; }
  std::string DocumentsFolder() override { return "C:\\Users\\me\\Documents\\"; }
  bool FileExists(const std::string&) override { return true; }
  bool FolderExists(const std::string&) override { return true; }
  bool IsFixedDrive(const std::string&) override { return true; }
  bool CreateEmptyFile(const std::string&) override { return true; }
  bool RemoveFile(const std::string&) override { return true; }
  void RemoveFolderTree(const std::string&) override {}
  void WriteRunOnce(bool, const std::string&, const std::string&) override {}
  void DeleteRunOnce(const std::string&) override {}
  void RequestReboot() override {}
  std::string ExpandEnvironmentName(const std::string& n) override { return n; }
  std::vector<std::string> EnvironmentStrings() override { return {}; }
  std::string CreateTempFileName(const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> ShortPathName(const std::string&) override { return std::nullopt; }
  std::optional<std::string> StoredName(const std::string&) override { return std::nullopt; }
  std::string AnsiUpperCase(const std::string& t) override { return t; }
  std::string AnsiLowerCase(const std::string& t) override { return t; }
  void SetFileSystemRedirectionOff(bool) override {}
};

}  // namespace kem::test
