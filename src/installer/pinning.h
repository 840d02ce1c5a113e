// Shortcuts pinned to (or unpinned from) the taskbar and the Start menu around an
// installer session, and their application user model IDs. The shell offers pinning only
// as context-menu verbs with localised names; the names come from the shell's own
// resources in every language the system holds.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/string_list.h"

namespace kem {

class ShortcutPinService;

// An entry "shortcut file|pin flags|target": "7" asks for the taskbar, "X" for the Start
// menu. nullopt for an entry without flags.
struct PinEntry {
  std::string Shortcut;
  std::string Target;
  bool Taskbar = false;
  bool StartMenu = false;
};
std::optional<PinEntry> ParsePinEntry(std::string_view entry);

enum class PinOperation { Pin, Unpin };

// Resources of the shell's verb names.
inline constexpr unsigned kPinToTaskbarText = 5386;
inline constexpr unsigned kUnpinFromTaskbarText = 5387;
inline constexpr unsigned kPinToStartMenuText = 5381;
inline constexpr unsigned kUnpinFromStartMenuText = 5382;

// The verb names, loaded once per run when first needed.
class PinVerbNames {
 public:
  const std::vector<std::string>& Names(ShortcutPinService& shell, unsigned resourceId);

 private:
  std::map<unsigned, std::vector<std::string>> names_;
};

// Whether a verb's name is one of the names, without regard to case, and failing that
// without the "&" of its accelerator.
bool VerbMatches(ShortcutPinService& shell, const std::string& verb, const std::vector<std::string>& names);

struct PinContext {
  ShortcutPinService& Shell;
  PinVerbNames& Names;
  unsigned WindowsMajor = 10;
  unsigned WindowsMinor = 0;
  // Reports each verb looked at (name, verb number, verb count).
  std::function<void(const std::string& verb, int position, int count)> Progress;
};

// Pins or unpins one shortcut. A shortcut without a pin verb whose target has one is
// pinned through its target; the entry that creates in the user's pinned folder is then
// renamed after the shortcut. Only an entry this call created is renamed: a program the
// user pinned before keeps its entry and its name.
void PinOrUnpin(const PinContext& ctx, const std::string& shortcut, const std::string& target, PinOperation operation,
                bool taskbar, bool startMenu);

// The pin step around a session: every shortcut of appIds (pairs shortcut, ID) that exists
// gets its ID; then every entry of the list is unpinned ("before") or pinned ("after").
void RunPinStep(const PinContext& ctx, bool before, const StringList& list, const StringList& appIds);

}  // namespace kem
