#include "kembuild/support_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kem::builder {
namespace {

// 2000-01-01 00:00:00 UTC: every packed file carries this time.
constexpr time_t kFixedTime = 946684800;

std::uint32_t Crc32(const unsigned char* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c ^ 0xFFFFFFFFu;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::atomic<pid_t> runningTool{0};

// Runs a program with arguments in a working folder; returns its exit status.
int Run(const std::vector<std::string>& args, const fs::path& cwd) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start " + args[0]);
  if (pid == 0) {
    // The builder blocks the stop signals while it builds; the tool takes them as usual.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    // 7zz's normal output is noise here; its errors still reach standard error.
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  runningTool = pid;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      runningTool = 0;
      throw std::runtime_error("lost track of " + args[0]);
    }
  }
  runningTool = 0;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128;
}

}  // namespace

long RunningToolProcess() noexcept { return runningTool.load(); }

std::string EmptySevenZipArchive() {
  // Signature, version 0.4, start header CRC, then the start header: next header offset,
  // size and CRC, all zero.
  std::array<unsigned char, 32> b{};
  const unsigned char sig[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
  std::memcpy(b.data(), sig, sizeof sig);
  std::uint32_t crc = Crc32(b.data() + 12, 20);
  for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<unsigned char>(crc >> (8 * i));
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void WriteSupportArchive(const std::vector<ArchiveEntry>& files, const fs::path& archivePath, const fs::path& workDir) {
  fs::remove(archivePath);
  if (files.empty()) {
    WriteFile(archivePath, EmptySevenZipArchive());
    return;
  }
  const fs::path stage = workDir / "support";
  fs::create_directories(stage);
  std::vector<std::string> names;
  for (const auto& f : files) {
    const fs::path p = stage / f.name;
    if (f.source.empty()) {
      WriteFile(p, f.bytes);
    } else {
      std::error_code ec;
      fs::copy_file(f.source, p, fs::copy_options::overwrite_existing, ec);
      if (ec)
        throw std::runtime_error("cannot copy " + f.name + (ec == std::errc::no_space_on_device ? ": the disk is full"
                                                                                                  : ": " + ec.message()));
    }
    if (chmod(p.c_str(), 0644) != 0) throw std::runtime_error("cannot set the permissions of " + p.string());
    struct timespec times[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
    if (utimensat(AT_FDCWD, p.c_str(), times, 0) != 0)
      throw std::runtime_error("cannot set the time of " + p.string());
    names.push_back(f.name);
  }
  std::sort(names.begin(), names.end());

  const char* tool = std::getenv("KEM_7ZZ");
  std::vector<std::string> args = {tool && *tool ? tool : "7zz", "a", "-t7z", "-m0=LZMA2", "-mx=7", "-mmt=1",
                                   "-mf=off", "-ms=on", "-mhc=on", "-mtm=on", "-mtc=off", "-mta=off",
                                   "-bd", "-y", fs::absolute(archivePath).string(), "--"};
  args.insert(args.end(), names.begin(), names.end());
  int status = Run(args, stage);
  if (status == 127) throw std::runtime_error("cannot run " + args[0] + " (install Debian's 7zip package)");
  if (status != 0 || !fs::is_regular_file(archivePath)) {
    std::error_code ec;
    auto space = fs::space(archivePath.parent_path(), ec);
    if (!ec && space.available < (1u << 20))
      throw std::runtime_error("cannot write the support archive: the disk is full");
  }
  if (status != 0 || !fs::is_regular_file(archivePath))
    throw std::runtime_error(args[0] + " failed to pack the support archive (exit status " + std::to_string(status) + ")");
}

}  // namespace kem::builder
