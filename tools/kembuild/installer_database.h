// The installer database (base name + ".msi") as a list of tables and rows, written with
// libmsi. The builder fills the base tables and the Property rows; the rows that the
// deferred statements switch on are added by further contributors to the same model
// before it is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kembuild/project.h"

namespace kem::builder {

struct DatabaseColumn {
  std::string name;
  std::string type;      // SQL type as libmsi takes it: "CHAR(72)", "CHAR(0)", "SHORT", "LONG", "LONGCHAR"
  bool nullable = false;
  bool key = false;
  bool integer() const { return type == "SHORT" || type == "LONG" || type == "INT"; }
};

// A field: nullopt is a null field; integers are written as decimal texts.
using DatabaseRow = std::vector<std::optional<std::string>>;

struct DatabaseTable {
  std::string name;
  std::vector<DatabaseColumn> columns;
  std::vector<DatabaseRow> rows;
};

struct SummaryInformation {
  std::string title = "Installation Database";
  std::string subject;
  std::string author;
  std::string keywords = "Installer";
  std::string comments;
  std::string templateText = "Intel;1033";
  std::string revisionNumber;  // the package code
  std::string appName = "kembuild";
  std::int32_t codePage = 1252;
  std::int32_t pageCount = 200;   // schema: Windows Installer 2.0
  std::int32_t wordCount = 8;     // uncompressed source with long file names, no elevation asked for
  std::int32_t security = 2;
  // Fixed times keep the database reproducible: 2000-01-01 00:00 UTC as a FILETIME.
  std::uint64_t createdTime = 125911584000000000ull;
  std::uint64_t savedTime = 125911584000000000ull;
};

// One file that a statement installs from the build machine.
struct InstalledFile {
  std::filesystem::path source;  // where the build reads it
  std::string folder;            // subfolder below the destination ("\\" separated, code page), or empty
  std::string name;              // long file name (code page)
  std::uintmax_t size = 0;
};

struct DeferredStatement {
  std::size_t index = 0;   // statement index
  std::string name;        // statement kind
  std::string header;      // command header
  std::string id;          // statement ID
  std::vector<std::string> params;  // as compiled (enumeration names turned into codes)
  std::string file;        // script file and 1-based line, for diagnostics
  std::size_t line = 0;
  std::vector<InstalledFile> files;  // what the statement installs, in installation order
  // In a web build, the media folder its files come from (a block name or "OFFLINE", code
  // page): the installer's source then holds them below that folder. Empty otherwise.
  std::string media;
};

struct InstallerDatabase {
  SummaryInformation summary;
  std::vector<DatabaseTable> tables;

  DatabaseTable* Find(const std::string& name);
  // Appends a row to the named table (which must exist).
  void AddRow(const std::string& table, DatabaseRow row);
};

// The base database of a project: the standard tables (Property, Directory, Feature,
// Component, FeatureComponents, File, Media and the sequence tables) with the product's
// properties and the switch property "A" + header = "FALSE" of every deferred statement.
InstallerDatabase BaseDatabase(const Project& project, const std::vector<DeferredStatement>& deferred);

// Writes the database to path (replacing it). Raises std::runtime_error on failure.
void WriteInstallerDatabase(const InstallerDatabase& db, const std::string& path);

// The Property table of a database file as (name, value) pairs, in table order; for tests
// and tools. Raises std::runtime_error when the file cannot be read.
std::vector<std::pair<std::string, std::string>> ReadPropertyTable(const std::string& path);

// Every row of a table of a database file, each field as text (integers in decimal, null
// fields empty), in the order the database returns them; for tests and tools. Raises
// std::runtime_error when the file or the table cannot be read.
std::vector<std::vector<std::string>> ReadTableRows(const std::string& path, const std::string& table);

// The Word Count of a database file's summary information (how its source is laid out).
std::int32_t ReadSummaryWordCount(const std::string& path);

}  // namespace kem::builder
