#include "installer/session_statements.h"

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "engine/engine_context.h"
#include "engine/services/installer.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "installer/installer_cache.h"
#include "installer/pinning.h"
#include "installer/properties.h"
#include "installer/property_commit.h"
#include "installer/property_file.h"
#include "installer/session.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"
#include "script/worker/progress_channel.h"
#include "script/worker/worker.h"

namespace kem {

struct SessionRunState {
  std::string StartProductCode;
  InstallerUiState Ui;
  PinVerbNames VerbNames;
  unsigned RetryIntervalMs = kRetryIntervalMs;
};

std::shared_ptr<SessionRunState> NewSessionRunState() { return std::make_shared<SessionRunState>(); }

void SetSessionTiming(SessionRunState& state, SessionTiming timing) { state.RetryIntervalMs = timing.RetryIntervalMs; }

namespace {

constexpr const char* kInstallerText = "Windows Installer";
// Summary information properties.
constexpr unsigned kTemplate = 7;
constexpr unsigned kWordCount = 15;
// Uncompressed files under long names, no elevation needed.
constexpr int kWordCountValue = 8;

std::string WithBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// What the session's worker takes along and leaves behind; shared so that a worker the
// watchdog abandoned can still finish with it.
struct SessionJob {
  SessionMode Mode = SessionMode::Install;
  std::string Package;
  std::string ProductCode;
  std::string CommandLine;
  std::string LogPath;  // empty: no trace log
  SessionFolders Folders;
  bool Silent = false;
  std::string Title;
  std::uintptr_t Owner = 0;
  std::string Messages[4];  // "Fatal Error", "Error", "Warning", "Out of Disk Space"
  unsigned RetryIntervalMs = kRetryIntervalMs;
  std::unique_ptr<PropertyFile> File;  // removed with the job
  ShortcutPinService* Pins = nullptr;
  unsigned WindowsMajor = 0, WindowsMinor = 0;

  bool Ran = false;
  bool Failed = false;
  bool Reboot = false;
  unsigned LastCode = 0;
  std::string ErrorText;
};

// The package's platform: the Template summary property's part before ";" follows the
// 64-bit mode, and the components' 64-bit bit with it.
void AdaptPlatform(InstallerDatabase& db, const std::string& mode) {
  const std::string tmpl = db.GetSummaryString(kTemplate);
  const auto semicolon = tmpl.find(';');
  std::string platform = tmpl.substr(0, semicolon);
  const std::string languages = semicolon == std::string::npos ? std::string() : tmpl.substr(semicolon + 1);
  const std::string wanted = mode == "x64" ? "x64" : mode == "ia64" ? "Intel64" : "Intel";
  const bool changed = platform != wanted;
  platform = wanted;
  db.SetSummaryString(kTemplate, platform + ";" + languages);
  db.Commit();
  if (changed) {
    db.SetComponents64Bit(mode != "Win32");
    db.Commit();
  }
}

// Shortcut names and file-type descriptions in the selected language, each list in one
// change of the database.
void ApplyTextPatch(EngineContext& ctx, InstallerService& installer, const std::string& package) {
  const InstallerState& st = ctx.State.Installer;
  auto quoted = [](const std::string& s) {
    std::string q;
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q;
  };
  if (auto db = installer.OpenDatabase(package, ctx.Data.CodePage)) {
    for (std::size_t i = 0; i + 2 < st.ShortcutTexts.size(); i += 3) {
      const std::string where = " WHERE `Directory_`='" + quoted(st.ShortcutTexts[i]) + "'";
      db->Execute("UPDATE `Shortcut` SET `Name`='" + quoted(st.ShortcutTexts[i + 1]) + "'" + where);
      db->Execute("UPDATE `Shortcut` SET `Description`='" + quoted(st.ShortcutTexts[i + 2]) + "'" + where);
    }
    db->Commit();
  }
  if (auto db = installer.OpenDatabase(package, ctx.Data.CodePage)) {
    for (std::size_t i = 0; i + 2 < st.ProgIdTexts.size(); i += 3) {
      const std::string where = " WHERE `ProgId`='" + quoted(st.ProgIdTexts[i]) + "'";
      db->Execute("UPDATE `ProgId` SET `Description`='" + quoted(st.ProgIdTexts[i + 2]) + "'" + where);
      db->Execute("UPDATE `ProgId` SET `ProgId`='" + quoted(st.ProgIdTexts[i + 1]) + "'" + where);
    }
    db->Commit();
  }
}

// The session header in the trace log, before the installer's own lines. Secret values
// stay out of it, as everywhere else in the log.
void WriteSessionHeader(Interpreter& in, const SessionJob& job, const std::string& variables,
                        const std::string& properties) {
  EngineContext& ctx = in.Context();
  auto& shell = in.Machine().Shell;
  ctx.Trace("=== " + ctx.WindowCaption() + ": Applying Changes @" + shell.ShortDate() + " " + shell.LongTime() +
            " ===");
  ctx.Trace("");
  auto section = [&](const std::string& title, const std::string& text) {
    ctx.Trace(title);
    ctx.Trace(text);
    ctx.Trace("");
  };
  section("*** Variables ***", CommaText(MaskSecretValues(SplitCommaText(variables))));
  section("*** Properties ***", CommaText(MaskSecretValues(SplitCommaText(properties))));
  section("*** MSI Database ***", job.Package);
  section("*** GUID ***", job.ProductCode);
  section("*** Data Directory ***", job.Folders.DataFolder);
  section("*** Media Directory ***", job.Folders.MediaFolder);
  section("*** MSI Directory ***", job.Folders.MsiFolder);
  ctx.Trace("");
}

// The session on its worker: the installer called for the mode, again while another
// installation runs, every message answered by the engine's own interface.
// The pin step on the main thread: app IDs, then unpin ("before") or pin ("after").
void PinStep(WorkerReporter& reporter, SessionJob& job, PinVerbNames& names, Interpreter& in, bool before,
             bool previousList) {
  if (!job.Pins) return;
  reporter.OnMainThread([&] {
    const InstallerState& st = in.Context().State.Installer;
    PinContext ctx{*job.Pins, names, job.WindowsMajor, job.WindowsMinor, {}};
    ctx.Progress = [&in](const std::string& verb, int position, int count) {
      WriteProgress(in.Vars(), in.Machine().Process.TickCount(), verb, 0, count, position);
      in.Machine().Ui.PumpMessages();
    };
    RunPinStep(ctx, before, previousList ? st.PreviousPinList : st.PinList, st.ShortcutAppIds);
  });
}

void RunSessionBody(WorkerReporter& reporter, SessionJob& job, InstallerService& installer, SessionRunState& run,
                    Interpreter& in) {
  InstallerUiState& ui = run.Ui;
  if (reporter.StopRequested()) return;  // cancelled before the session: nothing runs
  installer.RemoveTempPackages(UpperAscii(job.ProductCode));
  if (!job.LogPath.empty()) installer.EnableLog(job.LogPath);

  InstallerUiCalls calls;
  calls.Silent = job.Silent;
  calls.Message = [&job](int n) {
    switch (n) {
      case 43: return job.Messages[0];
      case 44: return job.Messages[1];
      case 45: return job.Messages[2];
      default: return job.Messages[3];
    }
  };
  calls.Ask = [&reporter, &job, &in](const InstallerBox& box) {
    int answer = 0;
    reporter.OnMainThread([&] {
      auto& prompt = in.Hooks().Progress.PromptState;
      if (prompt) prompt(true, box.ErrorState);
      answer = in.Machine().Ui.AskUser(job.Owner, box.Text, job.Title, box.Style);
      if (prompt) prompt(false, false);
    });
    return answer;
  };
  calls.Report = [&reporter](const InstallerProgress& p) {
    return reporter.Report(p.ActionText, p.Minimum, p.Total, p.Completed);
  };
  const InstallerMessageHandler handler = [&ui, &calls](unsigned type, unsigned flags, const std::string& text) {
    return AnswerInstallerMessage(ui, calls, type, flags, text);
  };

  if (job.Mode == SessionMode::Removal)
    installer.RegisterRemovalSources(PackedProductCode(job.ProductCode), job.Folders.MsiFolder,
                                     job.Folders.DataFolder, job.Folders.MediaFolder);
  job.Ran = true;
  unsigned code = 0;
  if (job.Mode == SessionMode::Patch) {
    installer.AddPatchSource(job.ProductCode, job.Folders.SourceFolder);
    PinStep(reporter, job, run.VerbNames, in, true, true);
    code = installer.ApplyPatch(job.Package, job.CommandLine, handler);
  } else {
    PinStep(reporter, job, run.VerbNames, in, true, true);
    std::string dots;
    for (;;) {
      code = installer.InstallProduct(job.Package, job.CommandLine, handler);
      if (code != kAnotherInstallation) break;
      dots = NextRetryDots(dots);
      reporter.Report(kInstallerText + dots, 0, 100, 100);
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(job.RetryIntervalMs);
      while (std::chrono::steady_clock::now() < until && !reporter.StopRequested())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (reporter.StopRequested()) break;
    }
  }
  job.LastCode = code;
  const CodeOutcome outcome = OutcomeOfReturnCode(code);
  // After a success the shortcuts of this run are pinned; after a failed removal the
  // ones it unpinned come back.
  if (!outcome.Failed && job.Mode != SessionMode::Removal) PinStep(reporter, job, run.VerbNames, in, false, false);
  else if (outcome.Failed && job.Mode == SessionMode::Removal) PinStep(reporter, job, run.VerbNames, in, false, true);
  job.Failed = outcome.Failed;
  job.Reboot = outcome.Reboot;
  if (outcome.Failed) job.ErrorText = TrimReturnCodeText(installer.ReturnCodeText(code));
}

void SetResult(Interpreter& in, const std::string& param, const std::string& value, const std::string& statement) {
  if (param.empty()) return;
  TVariableManager& vars = in.Vars();
  EnsureResultVariable(vars, VarNameOrText(param), statement);
  vars.SetVarChecked(VarNameOrText(param), value, ActionLabel(statement));
}

void ApplySession(Interpreter& in, std::size_t i, bool patch, SessionServices services,
                  const std::shared_ptr<SessionRunState>& state) {
  EngineContext& ctx = in.Context();
  TVariableManager& vars = in.Vars();
  InstallerService& installer = services.Installer;
  const std::string statement = patch ? "Apply Patch" : "Apply Changes";
  const std::string origin = ActionLabel(statement);
  const std::string resultParam =
      patch ? in.Param(i, param::ApplyPatch::Result) : in.Param(i, param::ApplyChanges::Result);
  const bool installFlag = !patch && IsTrue(vars.Expand(in.Param(i, param::ApplyChanges::Install)));
  const bool removeFlag = !patch && !installFlag && IsTrue(vars.Expand(in.Param(i, param::ApplyChanges::Remove)));

  // Where the sources lie: beside the previous installation, or where the user says.
  const bool allUsers = IsTrue(vars.Get("ALLUSERS"));
  std::string previous = SourceFolderOfUninstallString(installer.UninstallString(allUsers, vars.Get("TITLE")));
  if (!ctx.Startup.DataPathOverride.empty()) previous = WithBackslash(ctx.Startup.DataPathOverride);
  SourceSearch search;
  search.Marker = state->StartProductCode.empty() ? ctx.Data.ProductCode : state->StartProductCode;
  search.DataFolder = vars.Get("DATADIR");
  search.PreviousSource = previous;
  search.PatchBuild = ctx.Data.MediaMode == 3;
  search.MayAsk = (IsTrue(vars.Get("MAINTENANCE")) || patch) && ctx.Data.MediaMode != 2 && (patch || installFlag);
  search.Silent = in.Silent();
  SourceSearchResult sources = FindSetupSources(search, in.Machine().Files, [&]() {
    auto& prompt = in.Hooks().Progress.PromptState;
    if (prompt) prompt(true, false);
    auto chosen = installer.BrowseForFolder(ctx.State.WindowHandleOfNonModal, ctx.Message(17));
    if (prompt) prompt(false, false);
    return chosen;
  });
  // A removal reads no sources: the installer keeps what it needs to take a product away.
  if (!sources.Found && !removeFlag) {
    vars.SetVarChecked("LASTERROR", ctx.Message(18), "Apply Changes Action");
    SetResult(in, resultParam, "CANCEL", statement);
    return;
  }
  if (sources.DataFolder != WithBackslash(search.DataFolder)) {
    vars.Set("DATADIR", sources.DataFolder);
    ctx.Startup.ProgramDataFolder = sources.DataFolder;
  }
  RecordProperty(ctx.State.Installer, "MSINTEMP", vars.Get("TEMPDIR"));

  // The session's inputs.
  auto job = std::make_shared<SessionJob>();
  job->Mode = patch ? SessionMode::Patch : (installFlag || !removeFlag) ? SessionMode::Install : SessionMode::Removal;
  const bool advertise = !patch && !installFlag && !removeFlag;
  std::string msi = in.DatabasePath();
  job->Package = msi;
  std::string sourceFolder = sources.PreviousSource;
  if (patch) {
    sourceFolder = sources.DataFolder;
    const auto dot = msi.find_last_of('.');
    job->Package = (dot == std::string::npos ? msi : msi.substr(0, dot)) + ".msp";
  } else if (in.LanguageSelected()) {
    ApplyTextPatch(ctx, installer, msi);
  }
  job->ProductCode = ctx.Data.ProductCode;
  job->Owner = ctx.State.WindowHandleOfNonModal;
  job->RetryIntervalMs = state->RetryIntervalMs;
  job->Pins = services.Pins;
  job->WindowsMajor = services.System.WindowsMajor();
  job->WindowsMinor = services.System.WindowsMinor();
  for (int k = 0; k < 4; ++k) job->Messages[k] = ctx.Message(k == 3 ? 48 : 43 + k);

  auto& process = in.Machine().Process;
  WriteProgress(vars, process.TickCount(), "", 0, 0, -1);
  WriteProgress(vars, process.TickCount(), kInstallerText, 0, 100, 0);
  job->Folders = ComputeSessionFolders(
      in.Machine().Files, [&](const std::string& f) { installer.CreateFolder(f); }, job->Package, sources.DataFolder,
      sourceFolder, patch);

  const std::string variables = vars.Export();
  const std::string properties = CommaText(ctx.State.Installer.SessionProperties);
  PropertyFileSettings settings;
  settings.Removal = job->Mode == SessionMode::Removal;
  settings.Patch = patch;
  settings.DataFolder = job->Folders.DataFolder;
  settings.MediaFolder = job->Folders.MediaFolder;
  settings.SourceFolder = job->Folders.SourceFolder;
  settings.SessionProperties = ctx.State.Installer.SessionProperties;
  settings.Variables = SplitCommaText(variables);
  FileService& files = in.Machine().Files;
  SessionInputs inputs = PrepareSessionInputs(ctx, installer, services.System, settings, msi, [&files](const std::string& p) {
    return files.FileExists(p) || files.FolderExists(p);
  });
  job->File = std::move(inputs.File);
  job->Silent = inputs.Silent;
  job->Title = inputs.Title;
  WriteProgress(vars, process.TickCount(), kInstallerText, 0, 100, 100);

  // A missing installer (library or function) fails the session with its text.
  std::string thrown;
  bool installed = false;
  try {
    // The package follows the 64-bit mode and says it needs no elevation and holds its
    // files uncompressed. A patch stays as it is: its template lists the products it
    // applies to (an installer that opens it as a database would have them overwritten).
    if (!patch)
      if (auto db = installer.OpenDatabase(job->Package, ctx.Data.CodePage)) {
        AdaptPlatform(*db, ctx.State.PlatformMode);
        db->SetSummaryInteger(kWordCount, kWordCountValue);
        db->Commit();
      }
    installed = installer.QueryProductState(job->ProductCode) == 5;
  } catch (const StatementError& e) {
    thrown = e.what();
  }

  CommandLineInputs cl;
  cl.Mode = job->Mode;
  cl.Advertise = advertise;
  cl.Installed = installed;
  cl.AdvertisedBefore = services.Product && services.Product->AdvertisedBefore(in);
  cl.AllUsers = vars.Get("ALLUSERS") == "TRUE";
  cl.DisableRollback = vars.Get("VRAX_DISABLE_ROLLBACK") == "TRUE";
  cl.DisableRestartManager = vars.Get("VRAX_DISABLE_VISTA_RESTART_MANAGER") == "TRUE";
  cl.TargetFolder = ExpandPath(vars, vars.Get("TARGETDIR"));
  cl.Folders = job->Folders;
  job->CommandLine = BuildSessionCommandLine(cl);

  if (ctx.Log.Enabled()) {
    job->LogPath = ctx.Log.Path();
    WriteSessionHeader(in, *job, variables, properties);
  }
  ctx.Trace("      Installer command line: " + job->CommandLine);

  // The session. A worker that ignores the cancel and falls silent is left behind; the
  // installer's rollback reports as it goes, so the watchdog waits long between reports.
  WorkerOptions options;
  options.WatchdogInterval = std::chrono::milliseconds(120000);
  std::shared_ptr<SessionRunState> keep = state;
  InstallerService* service = &installer;
  WorkerOutcome outcome;
  if (thrown.empty()) {
    try {
      outcome = RunWorker(
          in,
          [job, keep, service, &in](WorkerReporter& reporter) { RunSessionBody(reporter, *job, *service, *keep, in); },
          options);
    } catch (const std::exception& e) {
      // The session's thread ended early (the installer's library or a function
      // missing): the session failed with the error's text.
      thrown = e.what();
    }
  }

  int result;
  std::string errorText;
  if (!thrown.empty()) {
    result = -1;
    errorText = thrown;
  } else if (outcome.Abandoned) {
    result = -1;
    errorText = "The installer did not answer the cancel; it was left running.";
  } else {
    bool failed = job->Failed;
    errorText = job->ErrorText;
    if (failed && errorText.empty()) errorText = SessionFailureText(keep->Ui.LastError, ctx.Message(19));
    // A cancel that kept the installer from running leaves nothing installed: that is a
    // cancelled session, not a completed one.
    result = job->Ran ? SessionOutcome(outcome.Cancelled, failed, job->Reboot) : 0;
  }
  if (!outcome.Abandoned) job->File.reset();  // the property file goes with the session
  ctx.Trace("      Installer session: " + std::string(SessionResultText(result)) + " (" +
            std::to_string(job->LastCode) + ")");

  if (!errorText.empty()) vars.SetVarChecked("LASTERROR", errorText, origin);
  if (!resultParam.empty()) {
    if (result == 2) vars.SetVarChecked("REBOOTCOMPUTER", "TRUE", origin);
    SetResult(in, resultParam, std::string(SessionResultText(result)), statement);
  }
  ctx.Startup.ExitCode = SessionExitCode(result, job->LastCode);
  if ((result == 1 || result == 2) && !patch && services.Product) services.Product->AfterSession(in, job->Mode, advertise);
}

}  // namespace

void RegisterSessionStatements(StatementTable& table, SessionServices services,
                               std::shared_ptr<SessionRunState> state) {
  table.Add(StatementKind::ApplyChanges,
            [services, state](Interpreter& in, std::size_t i) { ApplySession(in, i, false, services, state); });
  table.Add(StatementKind::ApplyPatch,
            [services, state](Interpreter& in, std::size_t i) { ApplySession(in, i, true, services, state); });
}

namespace {

// The product code the run started with, which a new instance's session compares with.
class SessionPhases : public RunParticipant {
 public:
  explicit SessionPhases(std::shared_ptr<SessionRunState> state) : state_(std::move(state)) {}
  void ResetRun(Interpreter& in) override { state_->StartProductCode = in.Data().ProductCode; }

 private:
  std::shared_ptr<SessionRunState> state_;
};

}  // namespace

void AddSessionHooks(InterpreterHooks& hooks, std::shared_ptr<SessionRunState> state) {
  hooks.Phases.Add(std::make_shared<SessionPhases>(std::move(state)));
}

}  // namespace kem
