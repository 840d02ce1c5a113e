// What the system-change statements leave for the installer session: the queued rows of
// the database's Property table, the recorded switch and parameter properties, the side
// lists of shortcuts and file types, and the instance-transform flags. Plain data owned
// by the engine state; the rules over it live in installer/.
#pragma once

#include <cstdint>
#include <string>

#include "common/string_list.h"

namespace kem {

struct PendingPropertyRows {
  // False until the first row is queued and again after each commit.
  bool Created = false;
  StringList Names;
  StringList Values;
};

struct InstallerState {
  PendingPropertyRows Pending;
  // Alternating name, value, name, value ... of every recorded property; only grows.
  StringList SessionProperties;
  // Triples: folder property ("P" + header + "_1"), short|long shortcut name, description.
  StringList ShortcutTexts;
  // Triples: ProgId as written, translated ProgId, translated description.
  StringList ProgIdTexts;
  // Entries "shortcut file|pin flags|target".
  StringList PinList;
  StringList PreviousPinList;
  // Pairs: shortcut file, application user model ID.
  StringList ShortcutAppIds;
  // Set by "Transform Instance"; ComponentCodesRenewed by the first commit after it.
  bool NewInstancePending = false;
  bool ComponentCodesRenewed = false;
  // The database a commit turned into a new instance; the installer cache keeps it.
  std::string TransformedDatabase;
};

}  // namespace kem
