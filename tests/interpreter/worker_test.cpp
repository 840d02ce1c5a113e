// The progress channel and worker threads, driven by a stand-in statement ("Work") whose
// body each test supplies.
#include <atomic>
#include <future>
#include <thread>

#include "engine/statement_error.h"
#include "script/interpreter/cancellation.h"
#include "script/worker/progress_channel.h"
#include "script/worker/worker.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

using Marks = std::vector<std::string>;

TEST(ProgressChannel, ReportsKeepWhatTheyMarkAsKept) {
  TVariableManager vars;
  WriteProgress(vars, 10, "Copying", 0, 200, 50);
  WriteProgress(vars, 11, "Next file", 0, 0, -1);  // the text only
  EXPECT_EQ(ReadProgress(vars).Text, "Next file");
  EXPECT_EQ(ReadProgress(vars).Max, 200);
  WriteProgress(vars, 12, kKeepProgressText, 1, 100, 75);  // the numbers only
  ProgressReport r = ReadProgress(vars);
  EXPECT_EQ(r.Text, "Next file");
  EXPECT_EQ(std::make_tuple(r.Min, r.Max, r.Position), std::make_tuple(1, 100, 75));
  WriteProgress(vars, 13, kProgressAlive, 0, 0, 0);  // a sign of life
  EXPECT_EQ(ReadProgress(vars).Position, 75);
  EXPECT_EQ(vars.Get("VRAX_LastDelegateTick"), "13");

  const struct {
    std::int64_t min, max, position;
    int percent;
  } cases[] = {{0, 100, 40, 40},     {0, 0, 5, 100},  {10, 5, 7, 100},
               {0, 200, 300, 100},   {0, 100, -3, 0}, {INT64_MIN, INT64_MAX, 0, 50},
               {0, 5000000000LL, 2500000000LL, 50}};
  for (const auto& c : cases)
    EXPECT_EQ(ProgressPercent({"", c.min, c.max, c.position}), c.percent) << c.min << " " << c.max << " " << c.position;
}

class WorkerTest : public ScriptTest {
 protected:
  // Runs a script of one "Work" statement whose body is `work` (a cancel does not end
  // the script: ABORTONERROR is false); the handler's outcome is kept in `outcome`.
  void RunWork(const std::function<void(WorkerReporter&)>& work, WorkerOptions options = {}) {
    prepare = [](SetupData& data) { data.PluginStatements.push_back("Work"); };
    script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
    script.Add("Work");
    Mark("after");
    hooks.PluginStatement = [this, work, options](Interpreter& in, std::size_t) {
      outcome = RunWorker(in, work, options);
      FinishCancellation(in, "Work Action");
    };
    Run();
  }
  WorkerOutcome outcome;
};

// Reports reach the channel; WorkerActive is set only while the worker runs; calls into
// the main thread run there.
TEST_F(WorkerTest, ReportsAndMainThreadCalls) {
  const std::thread::id mainThread = std::this_thread::get_id();
  std::thread::id ranOn;
  bool activeInside = false;
  RunWork([&](WorkerReporter& r) {
    activeInside = Engine().WorkerActive;
    for (int i = 0; i <= 100; i += 10) EXPECT_TRUE(r.Report("Copying " + std::to_string(i), 0, 100, i));
    EXPECT_TRUE(r.OnMainThread([&] { ranOn = std::this_thread::get_id(); }));
  });
  EXPECT_TRUE(activeInside);
  EXPECT_FALSE(Engine().WorkerActive);
  EXPECT_EQ(ranOn, mainThread);
  EXPECT_EQ(GetVar("VRAX_thProgressText"), "Copying 100");
  EXPECT_EQ(GetVar("VRAX_thProgress"), "100");
  EXPECT_FALSE(outcome.Cancelled);
  EXPECT_EQ(marks, (Marks{"after"}));
}

// Reports the page cannot tell apart (same text and range, same moment: the fake clock
// stands still) are coalesced, but none is lost: the waiting side writes the position held
// back before it runs a call of the worker, the worker's end writes the last one, and a
// new text or range is written at once.
TEST_F(WorkerTest, CoalescedReportsStillReachTheChannel) {
  std::string midway, afterNewText;
  RunWork([&](WorkerReporter& r) {
    for (int i = 0; i <= 500; ++i) EXPECT_TRUE(r.Report("Copying", 0, 1000, i));
    EXPECT_TRUE(r.OnMainThread([&] { midway = GetVar("VRAX_thProgress"); }));
    EXPECT_TRUE(r.Report("Registering", 0, 1000, 501));
    EXPECT_TRUE(r.Report("Registering", 0, 2000, 502));
    EXPECT_TRUE(r.OnMainThread([&] { afterNewText = GetVar("VRAX_thProgressText") + " " + GetVar("VRAX_thMax"); }));
    for (int i = 503; i <= 1000; ++i) r.Report("Registering", 0, 2000, i);
  });
  EXPECT_EQ(midway, "500");
  EXPECT_EQ(afterNewText, "Registering 2000");
  EXPECT_EQ(GetVar("VRAX_thProgress"), "1000");
  EXPECT_EQ(GetVar("VRAX_thProgressText"), "Registering");
}

// A cancel reaches the worker as its stop request; the statement then goes on with
// ABORTEDONERROR set (ABORTONERROR is false).
TEST_F(WorkerTest, CancelStopsTheWorker) {
  RunWork([&](WorkerReporter& r) {
    RawSet("VRAX_IsCancelled", "TRUE");  // as the cancel button does
    while (!r.StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(r.Report("late", 0, 100, 1));
  });
  EXPECT_TRUE(outcome.Cancelled);
  EXPECT_FALSE(outcome.Abandoned);
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(marks, (Marks{"after"}));
}

// A worker that ignores the stop request lives on as long as it keeps reporting; once it
// falls silent the watchdog abandons it (never kills it), the statement ends as
// cancelled, and what the worker does afterwards is dropped.
TEST_F(WorkerTest, WatchdogAbandonsASilentWorker) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<std::pair<bool, bool>> afterwards;
  auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration reportedFor{};
  WorkerOptions options;
  options.WatchdogInterval = std::chrono::milliseconds(200);
  RunWork(
      [&, released](WorkerReporter& r) {
        RawSet("VRAX_IsCancelled", "TRUE");
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
        while (std::chrono::steady_clock::now() < until) {
          r.Report(kProgressAlive, 0, 0, 0);
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        reportedFor = std::chrono::steady_clock::now() - start;
        released.wait();  // hangs until the test lets it go
        const bool reported = r.Report("after the watchdog", 0, 100, 99);
        const bool called = r.OnMainThread([] {});
        afterwards.set_value({reported, called});
      },
      options);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(outcome.Abandoned);
  EXPECT_TRUE(outcome.Cancelled);
  EXPECT_GE(waited, reportedFor) << "abandoned while it still reported";
  EXPECT_FALSE(Engine().WorkerActive);
  EXPECT_EQ(marks, (Marks{"after"}));
  release.set_value();
  auto [reported, called] = afterwards.get_future().get();
  EXPECT_FALSE(reported);
  EXPECT_FALSE(called);
  EXPECT_NE(GetVar("VRAX_thProgressText"), "after the watchdog");
}

// The one-shot rule gives up at the first check, reports or not; a failure inside the
// worker fails the statement with its message.
TEST_F(WorkerTest, OneShotWatchdogAndFailures) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> ended;
  WorkerOptions options;
  options.Rule = WatchdogRule::OneShot;
  options.WatchdogInterval = std::chrono::milliseconds(30);
  RunWork(
      [&, released](WorkerReporter& r) {
        RawSet("VRAX_IsCancelled", "TRUE");
        while (released.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) r.Report("busy", 0, 1, 0);
        ended.set_value();
      },
      options);
  EXPECT_TRUE(outcome.Abandoned);
  release.set_value();
  ended.get_future().wait();

  script = ScriptBuilder();
  host.boxes.clear();
  marks.clear();
  RunWork([](WorkerReporter&) { throw StatementError("Disk full"); });
  EXPECT_TRUE(marks.empty());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("Disk full"), std::string::npos) << host.boxes[0].text;
}

}  // namespace
}  // namespace kem::test
