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
#include <string>
#include <vector>

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

std::string ErrorText(int error);

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();  // a write that fails shows only when the buffer goes out
  if (!out) throw std::runtime_error("cannot write " + path.filename().string() + ": " + ErrorText(errno));
}

std::atomic<pid_t> runningTool{0};

std::string ErrorText(int error) {
  if (error == ENOSPC || error == EDQUOT) return "the disk is full";
  if (error == EFBIG) return "the file is too large for the output's file system";
  return std::strerror(error);
}

}  // namespace

// Copies source to target in pieces, so that a file of any size takes the same small
// buffer; the first failure is reported with what it was (a full disk says so).
void CopyFileInPieces(const fs::path& source, const fs::path& target, const std::string& name) {
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::runtime_error("cannot read " + name + ": " + ErrorText(errno));
  const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    const int error = errno;
    close(in);
    throw std::runtime_error("cannot copy " + name + ": " + ErrorText(error));
  }
  std::vector<char> buffer(1u << 20);
  int error = 0;
  bool reading = false;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      reading = true;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n && !error;) {
      ssize_t w = write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) error = w < 0 ? errno : ENOSPC;
      else done += w;
    }
    if (error) break;
  }
  close(in);
  if (close(out) != 0 && !error) error = errno;
  if (error)
    throw std::runtime_error((reading ? "cannot read " : "cannot copy ") + name + ": " + ErrorText(error));
}

namespace {

// Runs a program with arguments in a working folder; returns its exit status. What the
// program writes to standard error is kept in errors (its last 4 KB), not passed on: the
// builder reports one message of its own.
int Run(const std::vector<std::string>& args, const fs::path& cwd, std::string& errors) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot start " + args[0]);
  pid_t pid = fork();
  if (pid < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    throw std::runtime_error("cannot start " + args[0]);
  }
  if (pid == 0) {
    // The builder blocks the stop signals while it builds; the tool takes them as usual.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    // 7zz's normal output is noise here; its errors go to the builder.
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    dup2(pipeEnds[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  runningTool = pid;
  close(pipeEnds[1]);
  char chunk[4096];
  for (;;) {
    ssize_t n = read(pipeEnds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    errors.append(chunk, static_cast<std::size_t>(n));
    if (errors.size() > 4096) errors.erase(0, errors.size() - 4096);
  }
  close(pipeEnds[0]);
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

// The tool's own words for a failure, on one line: its lines that are not empty, joined.
std::string OneLine(const std::string& text) {
  std::string line;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(at, end - at);
    while (!part.empty() && (part.back() == '\r' || part.back() == ' ')) part.pop_back();
    std::size_t start = part.find_first_not_of(' ');
    if (start != std::string::npos) line += (line.empty() ? "" : "; ") + part.substr(start);
    at = end + 1;
  }
  return line;
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
      CopyFileInPieces(f.source, p, f.name);
    }
    if (chmod(p.c_str(), 0644) != 0) throw std::runtime_error("cannot set the permissions of " + p.string());
    struct timespec times[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
    if (utimensat(AT_FDCWD, p.c_str(), times, 0) != 0)
      throw std::runtime_error("cannot set the time of " + p.string());
    names.push_back(f.name);
  }
  std::sort(names.begin(), names.end());

  const char* tool = std::getenv("KEM_7ZZ");
  std::vector<std::string> args = {tool && *tool ? tool : "7zz", "a", "-t7z", "-m0=LZMA2", "-mx=7", "-md=16m", "-mmt=1",
                                   "-mf=off", "-ms=on", "-mhc=on", "-mtm=on", "-mtc=off", "-mta=off",
                                   "-bd", "-y", fs::absolute(archivePath).string(), "--"};
  args.insert(args.end(), names.begin(), names.end());
  std::string errors;
  int status = Run(args, stage, errors);
  if (status == 127) throw std::runtime_error("cannot run " + args[0] + " (install Debian's 7zip package)");
  if (status != 0 || !fs::is_regular_file(archivePath)) {
    std::error_code ec;
    auto space = fs::space(archivePath.parent_path(), ec);
    if ((!ec && space.available < (1u << 20)) || errors.find("No space left") != std::string::npos)
      throw std::runtime_error("cannot write the support archive: the disk is full");
    const std::string said = OneLine(errors);
    throw std::runtime_error(args[0] + " failed to pack the support archive (exit status " + std::to_string(status) +
                             ")" + (said.empty() ? "" : ": " + said));
  }
}

}  // namespace kem::builder
