#include "kembuild/build_setup.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <thread>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "kembuild/check_project.h"
#include "kembuild/installer_database.h"
#include "kembuild/installer_rows.h"
#include "kembuild/support_archive.h"
#include "kembuild/web_blocks.h"
#include "kembuild/code_page.h"
#include "engine/setup_data.h"
#include "engine/stub_size.h"
#include "common/text.h"

namespace fs = std::filesystem;

namespace kem::builder {
namespace {

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteBytes(const fs::path& p, const std::string& a, const std::string& b = {}) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(a.data(), static_cast<std::streamsize>(a.size()));
  out.write(b.data(), static_cast<std::streamsize>(b.size()));
  out.close();
  if (!out) {
    const int e = errno;
    throw std::runtime_error("cannot write " + p.filename().string() +
                             (e == ENOSPC ? ": the disk is full" : e ? std::string(": ") + std::strerror(e) : ""));
  }
}

// While a build runs, SIGINT, SIGTERM and SIGHUP are taken by a thread of their own: it
// first holds the building thread where it is (so that it neither writes into the staging
// folder nor removes it at the same time), stops the packing tool, removes the staging
// folder and then ends the process with the signal, so that a stopped build leaves nothing
// behind.
class SignalCleanup {
 public:
  explicit SignalCleanup(const fs::path& staging) : staging_(staging), builder_(pthread_self()) {
    struct sigaction hold {};
    hold.sa_handler = &HoldHere;
    sigemptyset(&hold.sa_mask);
    sigaction(kHoldSignal, &hold, &previousHold_);
    sigset_t set = Signals();
    sigaddset(&set, SIGUSR2);  // the stop request of the destructor
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
    thread_ = std::thread([this, set] {
      int sig = 0;
      while (sigwait(&set, &sig) != 0) {
      }
      if (sig == SIGUSR2) return;
      held_ = false;
      pthread_kill(builder_, kHoldSignal);
      for (int i = 0; i < 200 && !held_; ++i) usleep(10000);  // a signal interrupts any wait
      if (long child = RunningToolProcess(); child > 0) kill(static_cast<pid_t>(child), SIGKILL);
      std::error_code ec;
      fs::remove_all(staging_, ec);
      signal(sig, SIG_DFL);
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, sig);
      pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
      raise(sig);
      _exit(128 + sig);
    });
  }
  ~SignalCleanup() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    sigaction(kHoldSignal, &previousHold_, nullptr);
  }
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;

  static sigset_t Signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
  }

 private:
  static constexpr int kHoldSignal = SIGUSR1;
  static inline std::atomic<bool> held_{false};
  static void HoldHere(int) {
    held_ = true;
    for (;;) pause();  // the process ends from the cleanup thread
  }

  fs::path staging_;
  pthread_t builder_;
  sigset_t previous_{};
  struct sigaction previousHold_ {};
  std::thread thread_;
};

// A private folder beside the output folder, removed when the build ends either way.
class StagingFolder {
 public:
  explicit StagingFolder(const fs::path& outputDir) {
    fs::path parent = fs::absolute(outputDir).parent_path();
    fs::create_directories(parent);
    std::string name = "." + outputDir.filename().string() + ".kembuild-" + std::to_string(getpid());
    path_ = parent / name;
    fs::remove_all(path_);
    cleanup_.emplace(path_);
    fs::create_directories(path_);
  }
  ~StagingFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  std::optional<SignalCleanup> cleanup_;
};

// The folder of the running program.
fs::path OwnFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

bool HoldsEngine(const fs::path& dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / kEngineFileName, ec) && fs::is_regular_file(dir / kArchiveLibraryName, ec);
}

// The machine field of a PE image's file header, or 0 when the file is none.
unsigned PeMachine(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char dos[0x40] = {};
  if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  const std::uint32_t at = dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 | static_cast<std::uint32_t>(dos[0x3F]) << 24;
  unsigned char header[6] = {};
  if (!in.seekg(at) || !in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
  if (header[0] != 'P' || header[1] != 'E' || header[2] || header[3]) return 0;
  return header[4] | header[5] << 8;
}

// The engine that a build tree beside the builder's own made: the builder of a native
// build tree (the folder holding CMakeCache.txt) looks through that tree's sibling folders
// for kemstub.exe and kem.lib, either side by side (a folder the engine was copied into)
// or where a Windows build tree makes them (src/launcher/, src/kemlib/). The 32-bit engine,
// which setups ship, goes before a 64-bit one; among equals the newest engine wins.
std::optional<EngineFiles> EngineOfBuildTree(const fs::path& builderFolder) {
  std::error_code ec;
  fs::path tree;
  for (fs::path up = builderFolder; !up.empty() && tree.empty(); up = up.parent_path()) {
    if (fs::is_regular_file(up / "CMakeCache.txt", ec)) tree = up;
    if (up == up.parent_path()) break;
  }
  if (tree.empty()) return std::nullopt;
  std::vector<EngineFiles> found;
  for (const auto& entry : fs::directory_iterator(tree.parent_path(), ec)) {
    if (!entry.is_directory(ec) || entry.path() == tree) continue;
    for (EngineFiles f : {EngineFiles{entry.path() / kEngineFileName, entry.path() / kArchiveLibraryName},
                          EngineFiles{entry.path() / "src" / "launcher" / kEngineFileName,
                                      entry.path() / "src" / "kemlib" / kArchiveLibraryName}})
      if (fs::is_regular_file(f.program, ec) && fs::is_regular_file(f.library, ec) && PeMachine(f.program))
        found.push_back(f);
  }
  auto rank = [](const EngineFiles& f) {
    std::error_code e;
    return std::make_pair(PeMachine(f.program) == 0x14C, fs::last_write_time(f.program, e));
  };
  auto best = std::max_element(found.begin(), found.end(),
                               [&](const EngineFiles& a, const EngineFiles& b) { return rank(a) < rank(b); });
  if (best == found.end()) return std::nullopt;
  return *best;
}

// --engine-dir, KEM_ENGINE_DIR, the installed layout (bin/../share/kem/engine, where
// "cmake --install" puts the engine beside the builder), then the build tree's.
EngineFiles EngineOf(const BuildOptions& o) {
  auto in = [](const fs::path& dir) { return EngineFiles{dir / kEngineFileName, dir / kArchiveLibraryName}; };
  if (!o.engineDir.empty()) return in(o.engineDir);
  const char* env = std::getenv("KEM_ENGINE_DIR");
  if (env && *env) return in(env);
  for (const fs::path& candidate : DefaultEngineFolders())
    if (HoldsEngine(candidate)) return in(candidate);
  const fs::path own = OwnFolder();
  if (auto built = own.empty() ? std::nullopt : EngineOfBuildTree(own)) return *built;
  std::string looked;
  for (const fs::path& candidate : DefaultEngineFolders()) looked += "\n  " + candidate.string();
  if (!own.empty()) looked += "\n  the Windows build trees beside the builder's own build tree";
  throw BuildError("", 0, "cannot find the engine (kemstub.exe and kem.lib): give --engine-dir DIR or set "
                          "KEM_ENGINE_DIR; looked in" + looked);
}

// Whether inner is folder or lies inside it (both made absolute, links resolved as far as
// they exist).
bool IsWithin(const fs::path& inner, const fs::path& folder) {
  std::error_code ec;
  fs::path a = fs::weakly_canonical(fs::absolute(inner), ec);
  fs::path b = fs::weakly_canonical(fs::absolute(folder), ec);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty() && std::next(bi) == b.end()) break;  // trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

void CheckOutputFolder(const BuildOptions& o) {
  std::error_code ec;
  if (fs::exists(o.outputDir, ec) && !fs::is_directory(o.outputDir, ec))
    throw BuildError("", 0, "the output folder " + o.outputDir.string() + " is a file; name a folder with -o");
  // The nearest part of the path that exists must be a folder for the rest to be made.
  for (fs::path up = fs::absolute(o.outputDir).parent_path(); !up.empty(); up = up.parent_path()) {
    if (fs::exists(up, ec)) {
      if (!fs::is_directory(up, ec))
        throw BuildError("", 0, "the output folder " + o.outputDir.string() + " cannot be made: " + up.string() +
                                    " is a file");
      break;
    }
    if (up == up.parent_path()) break;
  }
  if (IsWithin(o.outputDir, o.projectDir))
    throw BuildError("", 0, "the output folder " + o.outputDir.string() +
                                " lies inside the project folder; choose a folder outside it");
  if (IsWithin(o.projectDir, o.outputDir))
    throw BuildError("", 0, "the output folder " + o.outputDir.string() +
                                " holds the project folder; choose a folder outside it");
}

}  // namespace

std::vector<fs::path> DefaultEngineFolders() {
  const fs::path own = OwnFolder();
  if (own.empty()) return {};
  return {own.parent_path() / "share" / "kem" / "engine", own / "engine", own};
}

BuildResult BuildSetup(const BuildOptions& o) {
  CheckOutputFolder(o);
  // Every problem of the project in one go: its errors first, then its warnings.
  ProjectCheck checked = CheckProject(o.projectDir);
  if (!checked.errors.empty()) {
    std::vector<Diagnostic> all = std::move(checked.errors);
    all.insert(all.end(), checked.warnings.begin(), checked.warnings.end());
    throw BuildError(std::move(all));
  }
  const Project& project = checked.project;
  for (const auto& folder : project.sourceFolders)
    if (IsWithin(o.outputDir, folder) || IsWithin(folder, o.outputDir))
      throw BuildError("", 0, "the output folder " + o.outputDir.string() + " overlaps the source folder " +
                                  folder.string() + "; choose a folder outside it");
  BuildResult r;
  r.compiled = std::move(checked.compiled);
  for (const auto& s : project.statements) r.statementsWithoutId += s.id.empty() ? 1 : 0;

  const EngineFiles engineFiles = EngineOf(o);
  const fs::path& enginePath = engineFiles.program;
  const fs::path& libraryPath = engineFiles.library;
  r.engine = enginePath;
  std::error_code ec;
  if (!fs::is_regular_file(enginePath, ec)) throw BuildError("", 0, "engine not found: " + enginePath.string());
  if (!fs::is_regular_file(libraryPath, ec))
    throw BuildError("", 0, "archive library not found: " + libraryPath.string());
  const std::string engine = ReadBytes(enginePath);
  // The engine finds its setup data right after its image: an engine file that already
  // carries data (say, a built setup given by mistake) would hide the new data.
  try {
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(engine.data()), engine.size());
    if (StubSizeOfFile(bytes) != engine.size())
      throw BuildError("", 0, enginePath.string() + " already carries data after its image; give the plain engine");
  } catch (const SetupDataError& e) {
    throw BuildError("", 0, enginePath.string() + " is not a usable engine: " + e.what());
  }

  const std::string base = project.baseName;
  StagingFolder stage(o.outputDir);
  const fs::path files = stage.path() / "out";
  fs::create_directories(files);
  std::vector<std::string> names;

  WriteBytes(files / (base + ".exe"), engine, r.compiled.setupDataText);
  names.push_back(base + ".exe");
  WriteSupportArchive(r.compiled.supportFiles, files / (base + ".res"), stage.path());
  names.push_back(base + ".res");
  InstallerDatabase db = BaseDatabase(project, r.compiled.deferred);
  const std::vector<DataFileCopy> copies = AddStatementRows(db, project, r.compiled.deferred);
  WriteInstallerDatabase(db, (files / (base + ".msi")).string());
  names.push_back(base + ".msi");
  // The installer's source: the installed files below data/, uncompressed with long names,
  // and the source marker file named after the product code.
  const fs::path data = files / kDataFolderName;
  fs::create_directories(data);
  // In a web build the files of each block travel in data/BLOCK.7zip (for the web server);
  // the others lie below data/OFFLINE/.
  std::map<std::string, std::vector<BlockArchiveFile>> blockFiles;  // upper-cased block -> files
  for (const auto& c : copies) {
    if (!c.media.empty() && !SameText(c.media, kOfflineMedia)) {
      blockFiles[UpperCase(c.media)].push_back({c.source, c.path});
      continue;
    }
    const fs::path to = data / fs::path(c.path);
    fs::create_directories(to.parent_path());
    CopyFileInPieces(c.source, to, c.path);
  }
  const CodePage codePage(project.codePage);
  for (const auto& block : r.compiled.webBlocks) {
    const std::string fileName = codePage.ToUtf8(block) + kBlockArchiveExtension;
    WriteBlockArchive(blockFiles[UpperCase(block)], Utf8ToUtf16(codePage.ToUtf8(BlockPasswordOf(project, block))),
                      data / fileName, stage.path());
  }
  WriteBytes(data / project.productCode, "");
  // A web build installs from its cache folder, which the setup fills from data/: the
  // offline data from OFFLINE/, and what lies in mergemod/ into the folder itself. The
  // source marker goes that way, so the installation finds its sources there.
  if (project.mediaMode == 2) {
    fs::create_directories(data / "mergemod");
    WriteBytes(data / "mergemod" / project.productCode, "");
  }
  names.push_back(kDataFolderName);
  CopyFileInPieces(libraryPath, files / kArchiveLibraryName, kArchiveLibraryName);
  names.push_back(kArchiveLibraryName);
  if (!project.splash.empty()) {
    CopyFileInPieces(project.dir / project.splash, files / "setup.bmp", "setup.bmp");
    names.push_back("setup.bmp");
  }

  // Everything is there before anything moves, so that a failed build never leaves part
  // of a setup in the output folder.
  for (const auto& n : names)
    if (!fs::exists(files / n)) throw std::runtime_error("cannot write " + n);
  fs::create_directories(o.outputDir);
  for (const auto& n : names) {
    if (n == kDataFolderName) fs::remove_all(o.outputDir / n);
    fs::rename(files / n, o.outputDir / n);
    r.files.push_back(o.outputDir / n);
  }
  r.setupProgram = o.outputDir / (base + ".exe");
  r.archive = o.outputDir / (base + ".res");
  r.database = o.outputDir / (base + ".msi");
  return r;
}

}  // namespace kem::builder
