#include "engine/engine_state.h"

#include <algorithm>

#include "common/text.h"

namespace kem {

void EngineState::AddSavedVariable(const std::string& name) {
  if (std::none_of(SavedVariables.begin(), SavedVariables.end(),
                   [&](const std::string& s) { return SameText(s, name); }))
    SavedVariables.push_back(name);
}

void EngineState::ResetForRun() {
  PlatformMode = "Win32";
  MinimizedToTray = false;
  TrayIconVisible = false;
  WindowHandleOfNonModal = 0;
  LastDisplayedKey.clear();
  PendingUnbindKey.clear();
}

}  // namespace kem
