#include "script/worker/worker.h"

#include <atomic>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "script/interpreter/cancellation.h"
#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"
#include "script/worker/progress_channel.h"

namespace kem {

// Shared by the worker's thread and the waiting main thread; outlives either (an
// abandoned worker keeps its copy).
struct WorkerShared {
  WorkerShared(TVariableManager& vars, UiService& ui, ProcessService& process) : Vars(vars), Ui(ui), Process(process) {}
  TVariableManager& Vars;
  UiService& Ui;
  ProcessService& Process;
  std::atomic<bool> Finished{false};
  std::atomic<bool> Abandoned{false};
  std::atomic<bool> StopRequested{false};
  std::atomic<std::uint64_t> Reports{0};  // reports made so far, for the watchdog
  std::exception_ptr Failure;  // written by the worker before Finished
  std::mutex CallsLock;
  std::deque<std::packaged_task<void()>> Calls;  // main-thread calls waiting to run

  // Reports the screen cannot tell apart are coalesced: the page reads the channel once a
  // second, so a report with the text and range of the one written last, within
  // kCoalesceMs of it, only leaves its position here. The next written report, the
  // waiting side (every pass) or the worker's end writes the position held back.
  static constexpr std::uint32_t kCoalesceMs = 15;
  std::mutex WriteLock;  // the fields below, and one channel write at a time
  bool HasWritten = false;
  std::string WrittenText;
  std::int64_t WrittenMin = 0, WrittenMax = 0;
  std::uint32_t WrittenTick = 0;
  bool HeldBack = false;
  std::int64_t HeldPosition = 0;

  void Write(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t position) {
    const std::uint32_t tick = Process.TickCount();
    std::lock_guard<std::mutex> lock(WriteLock);
    const bool plain = position != -1 && text != kKeepProgressText && text != kProgressAlive;
    if (plain && HasWritten && tick - WrittenTick < kCoalesceMs && min == WrittenMin && max == WrittenMax &&
        text == WrittenText) {
      HeldBack = true;
      HeldPosition = position;
      return;
    }
    WriteProgress(Vars, tick, text, min, max, position);
    HeldBack = false;
    HasWritten = plain;
    if (plain) {
      WrittenText.assign(text);
      WrittenMin = min;
      WrittenMax = max;
      WrittenTick = tick;
    }
  }

  // The position held back reaches the channel.
  void WriteHeldBack() {
    std::lock_guard<std::mutex> lock(WriteLock);
    if (!HeldBack) return;
    HeldBack = false;
    WrittenTick = Process.TickCount();
    WriteProgress(Vars, WrittenTick, WrittenText, WrittenMin, WrittenMax, HeldPosition);
  }

  // Runs the waiting main-thread calls; from the main thread only.
  void RunCalls() {
    for (;;) {
      std::packaged_task<void()> call;
      {
        std::lock_guard<std::mutex> lock(CallsLock);
        if (Calls.empty()) return;
        call = std::move(Calls.front());
        Calls.pop_front();
      }
      call();
    }
  }
};

bool WorkerReporter::Report(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t position) {
  if (shared_->Abandoned) return false;
  shared_->Write(text, min, max, position);
  ++shared_->Reports;
  return !shared_->StopRequested;
}

bool WorkerReporter::StopRequested() const { return shared_->StopRequested || shared_->Abandoned; }

bool WorkerReporter::OnMainThread(const std::function<void()>& call) {
  std::future<void> done;
  {
    std::lock_guard<std::mutex> lock(shared_->CallsLock);
    if (shared_->Abandoned) return false;
    std::packaged_task<void()> task(call);
    done = task.get_future();
    shared_->Calls.push_back(std::move(task));
  }
  shared_->Ui.WakeMainThread();
  // The main thread runs the call, or drops it (a broken promise) when it gives up on
  // this worker.
  try {
    done.get();
  } catch (const std::future_error&) {
    return false;
  }
  return true;
}

namespace {

// WorkerActive for as long as the wait lasts, also when it ends by an exception.
class ActiveFlag {
 public:
  explicit ActiveFlag(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~ActiveFlag() { flag_ = false; }
  ActiveFlag(const ActiveFlag&) = delete;
  ActiveFlag& operator=(const ActiveFlag&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

WorkerOutcome RunWorker(Interpreter& interpreter, const std::function<void(WorkerReporter&)>& body,
                        const WorkerOptions& options) {
  const Services& machine = interpreter.Machine();
  TVariableManager& vars = interpreter.Vars();
  auto shared = std::make_shared<WorkerShared>(vars, machine.Ui, machine.Process);
  ActiveFlag active(interpreter.Context().State.WorkerActive);
  // A cancel that came before the statement reaches the worker before its first step
  // (the wait below would pass it on only after the worker had started).
  if (IsTrue(vars.Get("VRAX_IsCancelled"))) shared->StopRequested = true;

  std::thread thread([shared, body] {
    WorkerReporter reporter(shared);
    try {
      body(reporter);
    } catch (...) {
      shared->Failure = std::current_exception();
    }
    if (!shared->Abandoned) shared->WriteHeldBack();
    shared->Finished = true;
    // Nobody waits for an abandoned worker any more (and its services may be gone).
    if (!shared->Abandoned) shared->Ui.WakeMainThread();
  });

  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  bool timedOut = false;
  bool watching = false;
  Clock::time_point nextCheck;
  std::uint64_t reportsSeen = 0;
  WorkerWait wait;
  wait.Finished = [&] { return shared->Finished || shared->Abandoned; };
  wait.RequestTerminate = [&] { shared->StopRequested = true; };
  wait.StartWatchdog = [&] {
    watching = true;
    reportsSeen = shared->Reports;
    nextCheck = Clock::now() + options.WatchdogInterval;
  };
  wait.WaitOnce = [&](bool silent) {
    shared->WriteHeldBack();
    shared->RunCalls();
    if (shared->Finished) return;
    machine.Ui.WaitForWake(silent, 50);
    shared->WriteHeldBack();
    shared->RunCalls();
    if (options.Deadline.count() > 0 && !timedOut && !shared->Finished && Clock::now() - started >= options.Deadline) {
      // Past the deadline: the stop request, then one interval to end by itself.
      timedOut = true;
      shared->StopRequested = true;
      watching = true;
      nextCheck = Clock::now() + options.WatchdogInterval;
      return;
    }
    if (!watching || Clock::now() < nextCheck) return;
    // The watchdog: a worker that reported since the last check gets another interval.
    // Reports are counted rather than told apart by their tick: two in the same
    // millisecond are still two.
    const std::uint64_t reports = shared->Reports;
    if (options.Rule == WatchdogRule::Tick && !timedOut && reports != reportsSeen) {
      reportsSeen = reports;
      vars.Set("VRAX_LastActiveTick", vars.Get("VRAX_LastDelegateTick"));
      nextCheck = Clock::now() + options.WatchdogInterval;
      return;
    }
    std::lock_guard<std::mutex> lock(shared->CallsLock);
    shared->Abandoned = true;
    shared->Calls.clear();  // waiting callers see a broken promise
  };
  WaitForWorker(interpreter, wait);

  WorkerOutcome outcome;
  outcome.Abandoned = shared->Abandoned && !shared->Finished;
  outcome.Cancelled = IsTrue(vars.Get("VRAX_IsCancelled"));
  outcome.TimedOut = timedOut;
  if (outcome.Abandoned) {
    thread.detach();
    return outcome;
  }
  thread.join();
  if (shared->Failure) std::rethrow_exception(shared->Failure);
  return outcome;
}

}  // namespace kem
