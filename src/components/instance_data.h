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

// The lines of an instance data file or one of its companions (CR LF or LF breaks; no
// line after a final break), and a text of lines each ended by CR LF.
StringList SplitFileLines(std::string_view text);
std::string JoinFileLines(const StringList& lines);

// The whole file from the current tables and variables. dataFolderLine is item 10 (empty
// in a feature-selection file).
std::string WriteInstanceData(const EngineContext& ctx, std::string_view dataFolderLine);

// Applies a file's text to the run: the component lists by mode, TARGETDIR, ALLUSERS and
// STARTMENU, the saved variables (listed in SavedVariables), the 64-bit mode. Returns item
// 10 (the saved data folder; nothing in a merge), or nullopt when the text ends before
// its four single lines (nothing is applied then).
std::optional<std::string> ReadInstanceData(EngineContext& ctx, std::string_view text, ComponentListsRead mode);

// Why a text cannot be an instance data file that this engine wrote: cut off before its
// lists and single lines end, lists of names and states of unequal length, a state other
// than "TRUE" or "FALSE", an odd size list or a size that is not a number, a name without
// its value, a NUL byte, or a last line without its line break (a file cut off while it
// was written). nullopt when the text is sound.
std::optional<std::string> InstanceDataDamage(std::string_view text);

// The instance data of a run that installed nothing: the old file's six lists and four
// single lines as they are, then the current saved variables, the 64-bit mode and
// OVERRIDECACHE. nullopt when the old text ends before its single lines do.
std::optional<std::string> UpdateInstanceData(const EngineContext& ctx, std::string_view oldText);

}  // namespace kem
