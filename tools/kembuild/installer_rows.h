// The installer rows behind the deferred statements. Every such statement owns the rows
// that carry out its work (components, files, registry values, shortcuts, ...), named
// after its command header H:
//
//   - its components are installed only while the switch property "A" + H is "TRUE"
//     (Component.Condition  A<H>="TRUE");
//   - the values the script computes at run time come from the parameter properties
//     "P" + H + "_" + n: a folder is a Directory row named after the property (the
//     installer takes a directory's target from the property of its name), a text is the
//     formatted text [P<H>_n].
//
// docs/installer-rows.md lists the rows of each statement.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kembuild/installer_database.h"
#include "kembuild/project.h"

namespace kem::builder {

// The folder below the output folder that holds the installed files as the installer's
// uncompressed source (long names), and the source marker file named after the product code.
inline constexpr const char* kDataFolderName = "data";

// Reads what the deferred statements need from the build machine and checks what the
// database cannot express: resolves the files of "Install Files" (and the statements that
// install a file) into statement.files. Problems go to errors with the statement's line.
void ResolveDeferredStatements(const Project& project, std::vector<DeferredStatement>& statements,
                               std::vector<Diagnostic>& errors);

// A file to copy into the data folder: source on the build machine, path below data/
// ("/" separated, UTF-8).
struct DataFileCopy {
  std::filesystem::path source;
  std::string path;
  std::string media;  // the statement's media folder (code page); empty outside web builds
};

// Where a statement's file lies below the data folder (the installer's source): the media
// folder (in a web build), the command header, the folder below the destination and the
// name, "\\" separated, in the code page.
std::string DataPathOf(const DeferredStatement& statement, const InstalledFile& file);

// Adds the tables the statements' rows need and every statement's rows to db, and returns
// the files to lay out below the data folder, in order. The statements must have been
// resolved.
std::vector<DataFileCopy> AddStatementRows(InstallerDatabase& db, const Project& project,
                                           const std::vector<DeferredStatement>& statements);

// The short half of a short|long file name pair: the name itself when it is a valid short
// name, else the first letters, "~" and a number, and the extension's first three letters.
// used holds the short names already taken in the same folder (upper case).
std::string ShortFileName(const std::string& longName, std::vector<std::string>& used);

// Text that the installer's formatting leaves as it is: "[" and "]" become [\[] and [\]].
std::string FormattedLiteral(const std::string& text);

}  // namespace kem::builder
