// From a loaded project to the setup data and the contents of the support archive.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kembuild/installer_database.h"
#include "kembuild/project.h"
#include "kembuild/translations.h"
#include "engine/setup_data.h"

namespace kem::builder {

struct ArchiveEntry {
  std::string name;   // file name in the support folder
  std::string bytes;  // the contents, unless source is set
  // A support file listed in the manifest: packed straight from here, never held whole in
  // memory (support files may be large).
  std::filesystem::path source;
};

// The entry's contents (read from its source when it has one).
std::string EntryBytes(const ArchiveEntry& entry);

struct CompiledSetup {
  SetupData data;
  std::string setupDataText;               // the bytes appended to the engine
  std::vector<ArchiveEntry> supportFiles;  // sorted by name
  std::vector<DeferredStatement> deferred; // statements with a command header, in script order
  std::vector<Diagnostic> warnings;        // doubts found by the checks, in script order
  std::vector<DialogText> dialogTexts;     // the dialogs' translatable texts
  std::vector<std::string> webBlocks;      // web build: the blocks, each written as BLOCK.7zip
};

// The ID of every statement, in script order: the ID written in the source, or for a
// statement without one an ID derived from the product code, the script file and the
// line, so the same source always gets the same IDs. Raises BuildError on duplicates.
std::vector<std::string> ResolveStatementIds(const Project& project);

// The ID that a statement without one gets (also what "assign-ids" writes).
std::string DerivedStatementId(const Project& project, const ScriptStatement& s, int attempt = 0);

// Every parameter block is padded with empty parameters to at least this many. The engine
// reads parameter n of a statement as the n-th line after its ID line, whatever the
// length of the block: a short block would hand the next statement's lines to a
// statement that reads more parameters than the author wrote.
inline constexpr std::size_t kParameterBlockMinimum = 16;

// What the 32-bit engine can load: it holds the setup data and every statement's
// parameter block in memory at once, beside the lists built from them. Larger projects
// are refused rather than built into a setup that runs out of memory at its start.
inline constexpr std::size_t kMaxStatements = 200000;
inline constexpr std::size_t kMaxSetupDataBytes = 64u << 20;

// Statement kinds whose work the installer database carries: they get a command header.
bool IsDeferredStatement(std::string_view name);

// Checks the script and builds every item of the setup data, the support files and the
// list of deferred statements. Runs the engine's own script validation when it is part of
// this build. Raises BuildError with file:line for every problem found; with problems
// given, appends them there instead and returns what was built (without the setup data
// text when there were errors).
CompiledSetup CompileProject(const Project& project, std::vector<Diagnostic>* problems = nullptr);

}  // namespace kem::builder
