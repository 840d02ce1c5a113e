// Building a whole setup folder from a project folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kembuild/compile_setup.h"

namespace kem::builder {

inline constexpr const char* kEngineFileName = "kemstub.exe";
inline constexpr const char* kArchiveLibraryName = "kem.lib";

// Where a build looks for the engine when neither --engine-dir nor KEM_ENGINE_DIR names it:
// the share folder that "cmake --install" fills (BIN/../share/kem/engine), then an engine
// folder beside the builder, then the builder's own folder. A builder in a build tree then
// takes the engine of a Windows build tree beside its own (EngineOfBuildTree).
std::vector<std::filesystem::path> DefaultEngineFolders();

struct EngineFiles {
  std::filesystem::path program;  // kemstub.exe
  std::filesystem::path library;  // kem.lib
};

// The engine made by a Windows build tree beside the build tree that holds builderFolder
// (the 32-bit one first, then the newest), or nullopt.
std::optional<EngineFiles> EngineOfBuildTree(const std::filesystem::path& builderFolder);

struct BuildOptions {
  std::filesystem::path projectDir;
  std::filesystem::path outputDir;
  // Folder with kemstub.exe and kem.lib; empty: the environment variable KEM_ENGINE_DIR,
  // then DefaultEngineFolders().
  std::filesystem::path engineDir;
};

struct BuildResult {
  std::filesystem::path setupProgram;  // OUT/base.exe
  std::filesystem::path archive;       // OUT/base.res
  std::filesystem::path database;      // OUT/base.msi
  std::filesystem::path engine;        // the engine program the setup was made from
  std::vector<std::filesystem::path> files;  // every file written, in writing order
  CompiledSetup compiled;
  std::size_t statementsWithoutId = 0;
};

// Loads and compiles the project, then writes the setup program (the engine with the
// setup data appended), the support archive, the installer database, kem.lib and the
// splash picture into the output folder. All outputs are made in a staging folder first
// and moved into place only when everything succeeded: a failed build writes nothing.
// Raises BuildError for problems of the project or the engine, std::runtime_error for
// failures of the tools and the file system.
BuildResult BuildSetup(const BuildOptions& options);

// Writes the IDs that statements lack back into the script files (each before the
// statement's name), the same IDs that a build gives them. Returns how many were written.
// Raises BuildError (and changes nothing) when the project has errors.
std::size_t AssignStatementIds(const std::filesystem::path& projectDir);

}  // namespace kem::builder
