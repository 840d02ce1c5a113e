// Long statements (downloads, extraction, file searches, program runs, plug-in calls, the
// installer session) do their work on a thread of their own while the main thread waits
// and keeps the windows alive. The worker never touches a window: it reports through the
// progress channel, asks the main thread to run what must run there, and watches for the
// stop request that a cancel sends it.
//
// A worker that ignores the stop request and stops reporting is abandoned after the
// watchdog's interval, never killed: a killed thread may hold the variable store's lock or
// the heap's, and the engine would hang on it. An abandoned worker's later reports and
// main-thread calls are dropped; its thread runs on until it ends by itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace kem {

class Interpreter;
struct WorkerShared;

// What the worker's body holds: its side of the conversation with the main thread.
class WorkerReporter {
 public:
  explicit WorkerReporter(std::shared_ptr<WorkerShared> shared) : shared_(std::move(shared)) {}
  // A progress report (see WriteProgress); false once the worker should stop. A report
  // that only moves the position shortly after the last one written is held back and
  // reaches the channel a little later (the page shows it once a second anyway).
  bool Report(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t position);
  // The cancel reached the worker: it should end as soon as it can.
  bool StopRequested() const;
  // Runs the call on the main thread (between two of its window messages) and returns
  // when it has run. Returns false without running it once the worker is abandoned.
  bool OnMainThread(const std::function<void()>& call);

 private:
  std::shared_ptr<WorkerShared> shared_;
};

// How the watchdog treats a worker after a cancel: Tick gives it another interval for
// every report it made in the last one; OneShot abandons it at the first.
enum class WatchdogRule { Tick, OneShot };

struct WorkerOptions {
  WatchdogRule Rule = WatchdogRule::Tick;
  std::chrono::milliseconds WatchdogInterval{5000};
  // When not zero, the longest the worker may take: past it the worker is asked to stop
  // and abandoned one watchdog interval later unless it has ended by then, whatever it
  // reports meanwhile.
  std::chrono::milliseconds Deadline{0};
};

struct WorkerOutcome {
  bool Abandoned = false;  // the watchdog gave up on the worker after a cancel
  bool Cancelled = false;  // VRAX_IsCancelled was true when the wait ended
  bool TimedOut = false;   // the deadline passed before the worker ended
};

// Runs body on a new thread and waits for it: WorkerActive is set meanwhile, a cancel is
// passed on as the stop request and starts the watchdog. The body's exceptions are caught
// on its thread and raised again here.
WorkerOutcome RunWorker(Interpreter& interpreter, const std::function<void(WorkerReporter&)>& body,
                        const WorkerOptions& options = {});

}  // namespace kem
