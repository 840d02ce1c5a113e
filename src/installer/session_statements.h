// "Apply Changes" and "Apply Patch": one installer session over the setup's database (or
// the patch beside it) on a worker thread, while the pages show its progress.
//
// Before the session the queued Property rows and the property file are written, the
// database is adapted to the 64-bit mode and marked as an uncompressed package that needs
// no elevation. The session's outcome lands in the result variable ("COMPLETE",
// "REBOOT", "CANCEL", "ERROR"), its error text in LASTERROR, and, unless the script
// ends with an exit code of its own, in the process exit code (0, 3010, 1602, 1603,
// 1618).
#pragma once

#include <memory>

namespace kem {

class InstalledProduct;
class InstallerService;
class ShortcutPinService;
class SystemService;
class StatementTable;
struct InterpreterHooks;
struct SessionRunState;

struct SessionServices {
  InstallerService& Installer;
  SystemService& System;
  // Pins the shortcuts around the session; none: nothing is pinned.
  ShortcutPinService* Pins = nullptr;
  // The installer cache and the uninstall registration; none: nothing is cached.
  InstalledProduct* Product = nullptr;
};

// The state the sessions of a run share (the installer's progress as its messages
// describe it, the product code the setup started with).
std::shared_ptr<SessionRunState> NewSessionRunState();

void RegisterSessionStatements(StatementTable& table, SessionServices services,
                               std::shared_ptr<SessionRunState> state);
// Remembers the product code the setup data carries before the first statement (the
// sources' marker file is named after it, whatever an instance transform makes of it).
void AddSessionHooks(InterpreterHooks& hooks, std::shared_ptr<SessionRunState> state);

// Options of the session's worker (tests shorten the wait between two attempts while
// another installation runs).
struct SessionTiming {
  unsigned RetryIntervalMs;
};
void SetSessionTiming(SessionRunState& state, SessionTiming timing);

}  // namespace kem
