// The instance data file: the text that keeps an installed instance's component tables,
// target folders, saved variables and 64-bit mode, written into the installer cache after
// an installation and by "Save Feature Selections", read by maintenance runs and "Load
// Feature Selections".
//
// ANSI text, CR LF lines: six lists each ended by a line "$" (component names, their
// states, deleted, hidden, choice entries, size pairs), then TARGETDIR, ALLUSERS,
// STARTMENU and the short form of the data folder, then name/value pairs to the end: the
// saved variables (line breaks as "$NEWLINE$"), "VRAX64WOW" with the 64-bit mode and
// "OVERRIDECACHE" with that variable's value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "components/components.h"

namespace kem {

class EngineContext;

// The whole file from the current tables and variables. dataFolderLine is item 10 (empty
// in a feature-selection file).
std::string WriteInstanceData(const EngineContext& ctx, std::string_view dataFolderLine);

// Applies a file's text to the run: the component lists by mode, TARGETDIR, ALLUSERS and
// STARTMENU, the saved variables (listed in SavedVariables), the 64-bit mode. Returns item
// 10 (the saved data folder; nothing in a merge), or nullopt when the text ends before
// its four single lines (nothing is applied then).
std::optional<std::string> ReadInstanceData(EngineContext& ctx, std::string_view text, ComponentListsRead mode);

}  // namespace kem
