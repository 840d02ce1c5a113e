#include "kembuild/build_setup.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "kembuild/installer_database.h"
#include "kembuild/support_archive.h"
#include "engine/setup_data.h"
#include "engine/stub_size.h"

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
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

// A private folder beside the output folder, removed when the build ends either way.
class StagingFolder {
 public:
  explicit StagingFolder(const fs::path& outputDir) {
    fs::path parent = fs::absolute(outputDir).parent_path();
    fs::create_directories(parent);
    std::string name = "." + outputDir.filename().string() + ".kembuild-" + std::to_string(getpid());
    path_ = parent / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~StagingFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

fs::path EngineFolder(const BuildOptions& o) {
  if (!o.engineDir.empty()) return o.engineDir;
  const char* env = std::getenv("KEM_ENGINE_DIR");
  if (env && *env) return env;
  throw BuildError("", 0, "no engine folder: give --engine-dir DIR or set KEM_ENGINE_DIR to the folder "
                          "that holds kemstub.exe and kem.lib");
}

}  // namespace

BuildResult BuildSetup(const BuildOptions& o) {
  Project project = LoadProject(o.projectDir);
  BuildResult r;
  r.compiled = CompileProject(project);
  for (const auto& s : project.statements) r.statementsWithoutId += s.id.empty() ? 1 : 0;

  const fs::path engineDir = EngineFolder(o);
  const fs::path enginePath = engineDir / kEngineFileName;
  const fs::path libraryPath = engineDir / kArchiveLibraryName;
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
  WriteInstallerDatabase(BaseDatabase(project, r.compiled.deferred), (files / (base + ".msi")).string());
  names.push_back(base + ".msi");
  fs::copy_file(libraryPath, files / kArchiveLibraryName, fs::copy_options::overwrite_existing);
  names.push_back(kArchiveLibraryName);
  if (!project.splash.empty()) {
    fs::copy_file(project.dir / project.splash, files / "setup.bmp", fs::copy_options::overwrite_existing);
    names.push_back("setup.bmp");
  }

  fs::create_directories(o.outputDir);
  for (const auto& n : names) {
    fs::rename(files / n, o.outputDir / n);
    r.files.push_back(o.outputDir / n);
  }
  r.setupProgram = o.outputDir / (base + ".exe");
  r.archive = o.outputDir / (base + ".res");
  r.database = o.outputDir / (base + ".msi");
  return r;
}

}  // namespace kem::builder
