// Engine-wide state that the interpreter resets per run and that statements of several
// subsystems read and write. Main thread only, except WorkerActive.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/component_tables.h"
#include "engine/installer_state.h"

namespace kem {

// The pseudo-random generator of "Mathematics": multiplier, increment and state, 32-bit
// signed, all 0 when the context is made. It lives as long as the context, across the
// interpreter's per-run reset; the lock keeps a seed and a draw from tearing.
struct RandomGenerator {
  std::mutex Lock;
  std::int32_t Multiplier = 0;
  std::int32_t Increment = 0;
  std::int32_t State = 0;
};

struct EngineState {
  // "System Tray" minimised the setup: its window returns only through the tray icon.
  bool MinimizedToTray = false;
  // The setup's icon is in the notification area: minimising a page then hides it there.
  bool TrayIconVisible = false;
  // "Win32", "x64" or "ia64": the script's 64-bit mode. Anything but "Win32" switches the
  // WOW64 file-system redirection off around the statements that touch files.
  std::string PlatformMode = "Win32";
  // Names of the variables saved with the product's cached data ("Set Variable" with the
  // persistence marker, and names read from an instance data file). Only grows.
  std::vector<std::string> SavedVariables;
  // Set while a statement waits for a worker thread (or refreshes the progress display).
  std::atomic<bool> WorkerActive{false};
  // The non-modal dialog on screen (0: none), mirrored in variable WINDOWHANDLE.
  std::uintptr_t WindowHandleOfNonModal = 0;
  // Keys (statement indexes in decimal) of the dialog displayed last and of a dialog to
  // unbind at the next display.
  std::string LastDisplayedKey;
  std::string PendingUnbindKey;
  // The component tables (components/). Kept for the whole process; a first installation
  // starts them afresh.
  ComponentTables Components;
  // Queued installer properties and the side lists (installer/).
  InstallerState Installer;
  // The access flag added to the registry statements' access rights: 0 on 32-bit
  // Windows, KEY_WOW64_64KEY (256) or KEY_WOW64_32KEY (512) under WOW64.
  std::uint32_t RegistryView = 0;

  // Adds name to SavedVariables unless it is listed already (without regard to case).
  // The generator of "Mathematics".
  RandomGenerator Random;
  void AddSavedVariable(const std::string& name);
  // Back to the values a run starts with (SavedVariables and WorkerActive stay).
  void ResetForRun();
};


}  // namespace kem
