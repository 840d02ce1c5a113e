// The file and text-file statements: existence, disk space, recursive deletion, the file
// search, settings-file values, text files read line by line or written through a new
// file, and file versions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_state.h"

namespace kem {

class StatementTable;

// The file search: folder\mask, entries of subfolders before the subfolder itself, the
// top folder's own files last. Links are listed, never entered. visitFolder runs for every
// folder searched, foundFile for every file listed; stop ends the search early.
struct SearchCallbacks {
  std::function<void()> VisitFolder;
  std::function<void(const std::string&)> FoundFile;
  std::function<bool()> Stop;
};
std::vector<std::string> SearchFiles(CommandFileService& files, std::string_view pattern, bool subfolders,
                                     bool folders, const SearchCallbacks& callbacks = {});

// Entries joined with "|"; an entry holding a blank, control character, double quote or
// "|" is enclosed in double quotes with inner quotes doubled.
std::string JoinSearchResult(const std::vector<std::string>& entries);

// The folder of a deletion pattern when it is safe to empty: a full path (drive or
// server share) below the root. Empty otherwise.
std::string SafeDeletionFolder(std::string_view pattern);

void RegisterFileStatements(StatementTable& table, CommandFileService& files, std::shared_ptr<CommandState> state);

}  // namespace kem
