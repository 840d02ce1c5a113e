#include "installer/plugin_calls.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "engine/engine_context.h"
#include "engine/services/plugins.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/cancellation.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/store/variable_manager.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

constexpr std::uint32_t kKeyWow64_64 = 256;
constexpr std::uint32_t kKeyWow64_32 = 512;

std::string_view FileNamePart(std::string_view path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The one library that keeps the redirection on Windows 7 and later: it runs the system's
// own installer, which must see the real system folder.
bool KeepsRedirection(const std::string& library, SystemService& system, const TextRules& rules) {
  if (!rules.SameText(FileNamePart(library), "mMSIExec.dll")) return false;
  const unsigned major = system.WindowsMajor();
  return major > 6 || (major == 6 && system.WindowsMinor() >= 1);
}

// The redirection switch and the registry view for the call, undone when it ends.
class PluginMachineView {
 public:
  PluginMachineView(Interpreter& in, SystemService& system, bool active) : engine_(in.Context().State) {
    if (!active) return;
    wow64_ = system.IsWow64();
    engine_.RegistryView = wow64_ ? (engine_.PlatformMode != "Win32" ? kKeyWow64_64 : kKeyWow64_32) : 0;
    redirection_.emplace(engine_, in.Machine().Files);
    active_ = true;
  }
  ~PluginMachineView() {
    if (active_) engine_.RegistryView = wow64_ ? kKeyWow64_32 : 0;
  }
  PluginMachineView(const PluginMachineView&) = delete;
  PluginMachineView& operator=(const PluginMachineView&) = delete;

 private:
  EngineState& engine_;
  bool wow64_ = false;
  bool active_ = false;
  std::optional<RedirectionGuard> redirection_;
};

void ReportMissingLibrary(Interpreter& in, const std::string& library) {
  EngineContext& ctx = in.Context();
  ctx.Trace("      Plug-in library not found: " + library);
  // A silent run shows nothing: there is nobody to answer the box.
  if (in.Silent()) return;
  auto& prompt = in.Hooks().Progress.PromptState;
  if (prompt) prompt(true, false);
  in.Machine().Ui.ShowErrorBox(ctx.State.WindowHandleOfNonModal, std::string(kPluginMissingMessage),
                               ctx.WindowCaption());
  if (prompt) prompt(false, false);
}

// The longest a silent run waits for a plug-in, in seconds, from VRAX_PLUGIN_TIMEOUT
// (kDefaultPluginTimeoutSeconds when unset or not a number; 0 or less: no limit).
std::chrono::milliseconds PluginDeadline(TVariableManager& vars) {
  const std::string text = vars.Get(kPluginTimeoutVariable);
  long long seconds = kDefaultPluginTimeoutSeconds;
  if (!text.empty()) {
    char* end = nullptr;
    const long long given = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() && *end == '\0') seconds = given;
  }
  if (seconds <= 0) return std::chrono::milliseconds(0);
  constexpr long long kLongest = 30LL * 24 * 3600;  // a month: no overflow below
  return std::chrono::seconds(std::min(seconds, kLongest));
}

// What the worker leaves behind; shared so that an abandoned call can still write it.
struct PluginJob {
  PluginCall Call;
  PluginCallResult Result;
  bool Done = false;
};

}  // namespace

std::string PluginLibraryPath(Interpreter& in, std::size_t i) {
  const SetupData& data = in.Data();
  const StartupValues& startup = in.Context().Startup;
  const std::string parameter = in.Param(i, param::PluginStatement::Library);
  const std::string entry = i < data.StatementMedia.Count() ? data.StatementMedia[i] : std::string();
  if (entry.empty()) return startup.SupportFolder + std::string(FileNamePart(parameter));
  if (data.MediaMode == 2) {
    // A web build's media come into the download cache, which is the data folder then.
    std::string cached = in.Vars().Get("DATADIR") + entry + parameter;
    if (in.Machine().Files.FileExists(cached)) return cached;
  }
  return startup.ProgramDataFolder + entry + parameter;
}

void RunPluginStatement(Interpreter& in, std::size_t i, PluginServices services) {
  EngineContext& ctx = in.Context();
  TVariableManager& vars = in.Vars();
  const std::string library = PluginLibraryPath(in, i);
  if (!in.Machine().Files.FileExists(library)) {
    ReportMissingLibrary(in, library);
    return;
  }

  auto job = std::make_shared<PluginJob>();
  job->Call.LibraryPath = library;
  job->Call.Variables = vars.Export();
  job->Call.Parameter = in.Param(i, param::PluginStatement::Parameter);
  job->Call.Window = ctx.State.WindowHandleOfNonModal;

  WorkerOutcome outcome;
  WorkerOptions options;
  {
    PluginMachineView view(in, services.System, !KeepsRedirection(library, services.System, ctx.Text()));
    std::shared_ptr<PluginHost> host = services.Host;
    // Nobody can cancel a silent run: its plug-in call gets a deadline.
    if (in.Silent()) options.Deadline = PluginDeadline(vars);
    outcome = RunWorker(in, [host, job](WorkerReporter& reporter) {
      PluginCallResult result = host->Call(job->Call, [&reporter](std::int32_t percent, const char* text) {
        // A report without a text changes nothing on screen.
        if (!text) return !reporter.StopRequested();
        return reporter.Report(text, 1, 100, percent);
      });
      job->Result = std::move(result);
      job->Done = true;
    }, options);
  }

  if (outcome.TimedOut) {
    // The statement fails: the store stays as it was, and the run goes on as after a cancel.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(options.Deadline).count();
    ctx.Trace("      Plug-in " + library + ": no answer within " + std::to_string(seconds) + " s (" +
              std::string(kPluginTimeoutVariable) + ") in a silent run; " +
              (outcome.Abandoned ? "left running" : "stopped"));
    vars.SetVar("VRAX_IsCancelled", "TRUE", "Plug-In Watchdog");
    FinishCancellation(in, "Cancel at Plug-In Time");
    return;
  }

  PluginCallResult result;
  if (outcome.Abandoned) {
    result.Failure = "no answer after the cancel; left running";
  } else {
    result = job->Result;
  }
  ctx.Trace("      Plug-in " + library + ": " + std::to_string(result.Code) +
            (result.Code == -1 && !result.Failure.empty() ? " (" + result.Failure + ")" : std::string()));
  // A failed call hands back the store as it was sent.
  std::string text = result.Code == -1 ? job->Call.Variables : std::move(result.Result);

  if (outcome.Cancelled) {
    // The result was made from the store as it was before the cancel: the cancel's state
    // stays whatever the result says.
    const std::string cancelled = vars.Get("VRAX_IsCancelled");
    if (FinishCancellation(in, "Cancel at Plug-In Time")) return;
    if (!text.empty()) {
      const std::string abort = vars.Get("ABORT");
      const std::string aborted = vars.Get("ABORTEDONERROR");
      vars.Import(text);
      vars.Set("VRAX_IsCancelled", cancelled);
      vars.Set("ABORT", abort);
      vars.Set("ABORTEDONERROR", aborted);
      return;
    }
  }
  if (text.empty()) {
    if (IsTrue(vars.Get("ABORTONERROR"))) throw StatementError(ctx.Messages.Get(19));
    return;
  }
  vars.Import(text);
}

void AddPluginHooks(InterpreterHooks& hooks, PluginServices services) {
  hooks.PluginStatement = [services](Interpreter& in, std::size_t i) { RunPluginStatement(in, i, services); };
}

}  // namespace kem
