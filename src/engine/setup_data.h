// The setup data: the compiled script and the product's tables, appended as CR LF text
// lines after the engine's executable image. 25 items in a fixed order: 12 lists ended
// by a line "$" and 13 single lines.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/string_list.h"
#include "engine/statement_kinds.h"

namespace kem {

class SetupDataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SetupData {
  HashedStringList StatementNames;    // 1  one per statement
  HashedStringList StatementIds;      // 2  one per statement
  HashedStringList ParameterLines;    // 3  ID line + parameter lines per statement with parameters
  HashedStringList CommentFlags;      // 4  "C" or empty, one per statement
  std::string ProductCode;            // 5
  std::string ProductTitle;           // 6
  StringList PluginStatements;        // 7
  std::string CompanyName;            // 8
  std::string ContactName;            // 9
  std::string HelpLinkUrl;            // 10
  std::string UpdateInfoUrl;          // 11
  std::string ProductComments;        // 12
  std::string ProductVersion;         // 13
  StringList WebBlockSources;         // 14 pairs: block name, scrambled password
  HashedStringList StatementMedia;    // 15 one per statement
  std::int64_t MediaMode = 0;         // 16
  StringList ComponentSizes;          // 17 pairs: name, size
  std::string RevisionCode;           // 18
  HashedStringList MediaFileMap;      // 19 triples
  bool SelectLanguageAtStart = false; // 20 exactly "TRUE"
  std::string DefaultLanguage;        // 21
  HashedStringList CommandHeaders;    // 22 pairs: header, statement index
  HashedStringList CompilerVariables; // 23 pairs: name, value
  std::uint32_t CodePage = 0;         // 24
  HashedStringList SourceMap;         // 25 "path*line", one per statement

  // Kept unchanged for the whole run, even when an installed instance replaces ProductTitle.
  std::string CompiledTitle;
  // The kind of each statement, resolved from StatementNames when the data is read.
  std::vector<StatementKind> Kinds;

  std::size_t StatementCount() const noexcept { return StatementNames.Count(); }
};

// Reads the setup data text. Stops at the end of the data: a block that ends before all
// 25 items, a list without its terminator, a malformed number or per-statement lists of
// unequal length raise SetupDataError with a message that says which item is wrong.
// Resolves the statement kinds.
SetupData ReadSetupData(std::string_view bytes);

// Writes the setup data text. Checks the invariants the reader relies on (equal
// per-statement list lengths, unique IDs, whole pairs and triples, no entry that is "$"
// or holds a line break) and raises SetupDataError when one is broken. A parameter line
// that is exactly "$" is written as "$DOLLAR$".
std::string WriteSetupData(const SetupData& data);

// Fills data.Kinds from data.StatementNames (for data assembled in memory).
void ResolveStatementKinds(SetupData& data);

// Parameter n of the statement with the given ID (n counts from 1; n = 0 yields the ID
// line itself); empty when the ID has no parameter block or the list ends first.
std::string LookUpParameter(const HashedStringList& parameterLines, std::string_view id, int n);

// The command header of the statement with the given index, empty when it has none.
std::string LookUpCommandHeader(const HashedStringList& headers, std::size_t statementIndex);

// The size of the named component (0 when unknown or malformed).
std::uint64_t LookUpComponentSize(const StringList& sizes, std::string_view name);

// The scrambled password of a web media block, empty when unknown.
std::string LookUpWebBlockPassword(const StringList& sources, std::string_view block);

}  // namespace kem
