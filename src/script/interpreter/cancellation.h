// The protocol that every statement waiting for a worker thread follows: keep the main
// thread's windows alive while waiting, pass the user's cancel on to the worker, and
// afterwards decide between ending the script and carrying on with ABORTEDONERROR set.
#pragma once

#include <functional>
#include <string_view>

namespace kem {

class Interpreter;

inline constexpr std::string_view kSetupCancelledMessage = "Setup cancelled";

// What the waiting statement supplies.
struct WorkerWait {
  // True once the worker has finished.
  std::function<bool()> Finished;
  // One step of the wait: handle one window message (silent false) or wait for the
  // worker (silent true).
  std::function<void(bool silent)> WaitOnce;
  // Asks the worker to terminate.
  std::function<void()> RequestTerminate;
  // Starts the statement's watchdog timer.
  std::function<void()> StartWatchdog;
};

// Waits until the worker has finished. When VRAX_IsCancelled becomes true,
// VRAX_LastDelegateTick is copied into VRAX_LastActiveTick, the worker is asked to
// terminate and the watchdog is started (once).
void WaitForWorker(Interpreter& interpreter, const WorkerWait& wait);

// After the wait. When VRAX_IsCancelled is true: unless ABORTEDONERROR is true already,
// "Setup cancelled" is shown (not in silent mode) with the error icon, owned by the
// non-modal dialog on screen; then, when ABORTONERROR is true, the script ends (returns
// true, EndScript requested); otherwise ABORTEDONERROR becomes "TRUE" with the
// statement's origin label and the statement goes on (returns false).
bool FinishCancellation(Interpreter& interpreter, std::string_view originLabel);

}  // namespace kem
