#include "script/interpreter/interpreter.h"

#include <charconv>
#include <exception>

#include "common/text.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/eval/condition.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/predefined_vars.h"
#include "script/store/variable_manager.h"
#include "script/validation/script_validation.h"

namespace kem {
namespace {

constexpr int kValidationExitCode = 314;
constexpr std::size_t kPumpInterval = 314;

// Folder part of a path, up to and including the last backslash or colon.
std::string FolderPart(std::string_view path) {
  auto cut = path.find_last_of("\\:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string FileNamePart(std::string_view path) {
  auto cut = path.find_last_of("\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The folder holding the folder (trailing backslash ignored), with a trailing backslash.
std::string ParentFolder(std::string_view folder) {
  std::string f(folder);
  if (!f.empty() && f.back() == '\\') f.pop_back();
  return FolderPart(f);
}

std::string ChangeExtension(std::string_view path, std::string_view ext) {
  std::string name = FileNamePart(path);
  auto dot = name.find_last_of('.');
  std::string base(path.substr(0, path.size() - name.size()));
  return base + (dot == std::string::npos ? name : name.substr(0, dot)) + std::string(ext);
}

// "Statement N (file, line L): " or "Script: " before a message in the trace log.
std::string TracePosition(const SetupData& data, std::size_t index) {
  if (index >= data.StatementCount()) return "Script: ";
  auto [file, line] = SourcePosition(index < data.SourceMap.Count() ? std::string_view(data.SourceMap[index])
                                                                    : std::string_view());
  return "Statement " + std::to_string(index) + " (" + file + ", line " + std::to_string(line) + "): ";
}

}  // namespace

// --- StatementTable -------------------------------------------------------------------

void StatementTable::Add(StatementKind kind, StatementHandler handler) {
  if (kind == StatementKind::Unknown) return;
  handlers_[static_cast<std::size_t>(kind)] = std::move(handler);
}

const StatementHandler* StatementTable::Find(StatementKind kind) const {
  if (kind == StatementKind::Unknown) return nullptr;
  const StatementHandler& h = handlers_[static_cast<std::size_t>(kind)];
  return h ? &h : nullptr;
}

// --- Helpers ---------------------------------------------------------------------------

std::pair<std::string, long long> SourcePosition(std::string_view entry) {
  auto star = entry.find('*');
  if (star == std::string_view::npos) return {std::string(), 1};
  std::string name = FileNamePart(entry.substr(0, star));
  auto dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  long long line = 0;
  std::string_view digits = entry.substr(star + 1);
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), line);
  if (ec != std::errc() || end != digits.data() + digits.size() || line < 0) line = 0;
  return {name, line + 1};
}

std::string ResumeEntryName(std::string_view productCode) {
  if (productCode.size() < 2) return {};
  return std::string(productCode.substr(1, 8));
}

void DefaultBootstrap(Interpreter& interpreter) {
  const SetupData& data = interpreter.Data();
  TVariableManager& vars = interpreter.Vars();
  const Services& machine = interpreter.Machine();
  const auto& g = interpreter.Context().Startup;
  bool admin = machine.Process.IsAdministrator();
  vars.SetVar("PRODUCTCODE", data.ProductCode, kOriginBootstrap);
  vars.SetVar("REVISIONCODE", data.RevisionCode, kOriginBootstrap);
  vars.SetVar("DATADIR", g.DataFolder, kOriginBootstrap);
  vars.SetVar("NEEDSUPGRADE", "FALSE", kOriginBootstrap);
  vars.SetVar("MAINTENANCE", "FALSE", kOriginBootstrap);
  std::string base = admin ? WithTrailingBackslash(machine.Shell.ProgramFilesFolder())
                           : ParentFolder(machine.Shell.DocumentsFolder());
  vars.SetVar("TARGETDIR", base + data.ProductTitle + "\\", kOriginBootstrap);
  vars.SetVar("STARTMENU", data.ProductTitle, kOriginBootstrap);
  vars.SetVar("ALLUSERS", BoolText(admin), kOriginBootstrap);
  vars.SetVar("NEWINSTANCE", "FALSE", kOriginBootstrap);
}

// --- Interpreter -----------------------------------------------------------------------

Interpreter::Interpreter(EngineContext& context, Services services, const StatementTable& statements,
                         InterpreterHooks hooks)
    : ctx_(context), services_(services), statements_(statements), hooks_(std::move(hooks)) {}

Interpreter::~Interpreter() = default;

std::string Interpreter::Param(std::size_t index, int n) const {
  if (index < paramBlocks_.size() && n >= 0) {
    std::ptrdiff_t block = paramBlocks_[index];
    if (block == HashedStringList::npos) return {};
    std::size_t at = static_cast<std::size_t>(block) + static_cast<std::size_t>(n);
    if (at < ctx_.Data.ParameterLines.Count()) return ctx_.Data.ParameterLines[at];
  }
  return GetParam(ctx_.Data, index, n);  // raises the list-index error
}

std::string Interpreter::Translated(std::string_view text, std::string_view key, int k) const {
  if (!LanguageSelected()) return std::string(text);
  return ctx_.Translate(text, key, k);
}

std::string Interpreter::FailureText(std::size_t index, std::string_view message) const {
  const SetupData& data = ctx_.Data;
  std::string entry = index < data.SourceMap.Count() ? data.SourceMap[index] : std::string();
  auto [file, line] = SourcePosition(entry);
  std::string text = ctx_.Message(20);
  text += "\r\rSource File: ";
  text += file;
  text += "\rLine Number: ";
  text += std::to_string(line);
  text += "\r\r";
  text += message;
  return text;
}

bool Interpreter::SingleInstance() const {
  return ExpandCompilerVars(ctx_.Data.CompilerVariables, "#SINGLEINSTANCE#") == "TRUE";
}

std::string Interpreter::SingleInstanceMarker() const {
  return ctx_.Startup.TempFolder + ctx_.Data.RevisionCode + ".kem";
}

void Interpreter::Run(const std::function<bool(std::size_t)>& callback, const std::string& databasePath) {
  databasePath_ = databasePath;
  endRequested_ = false;
  runEnded_ = false;
  if (PrepareRun()) StatementCycle(callback);
  hooks_.Phases.AfterRun(*this);
}

void Interpreter::Bootstrap() {
  if (!hooks_.Phases.Bootstrap(*this)) DefaultBootstrap(*this);
}

bool Interpreter::BeforeSession(std::size_t index) {
  for (const auto& p : hooks_.Phases.Participants()) {
    p->BeforeSession(*this, index);
    if (endRequested_) return false;
  }
  return true;
}

bool Interpreter::PrepareRun() {
  const SetupData& data = ctx_.Data;
  auto& g = ctx_.Startup;
  TVariableManager& vars = ctx_.Vars;
  const std::size_t count = data.StatementCount();
  if (data.Kinds.size() != count) ResolveStatementKinds(ctx_.Data);

  // Per-run state of the other parts; the root folder.
  ctx_.Trace("    <Variables>");
  ctx_.State.ResetForRun();
  vars.SetCommandLineOverrides(false, {});
  hooks_.Phases.ResetRun(*this);
  rootFolder_ = g.ProgramFolder;
  if (!rootFolder_.empty() && rootFolder_.back() == '\\') rootFolder_.pop_back();
  ctx_.Trace("    </Variables>");

  // Validation: a failure ends the process at once.
  ctx_.Trace("    <CompileScript>");
  paramBlocks_.resize(count);
  for (std::size_t i = 0; i < count; ++i) paramBlocks_[i] = data.ParameterLines.IndexOf(data.StatementIds[i]);
  std::vector<std::string> validatorLabels;
  if (auto failure = ValidateScript(data, validatorLabels, &paramBlocks_)) {
    ctx_.Trace("      " + TracePosition(data, failure->statementIndex) + failure->message);
    // The process ends at once, but not before the support folder of this run is gone.
    if (!g.SupportFolder.empty()) services_.Files.RemoveFolderTree(g.SupportFolder);
    if (g.ReleaseSupportFolder) g.ReleaseSupportFolder();
    services_.Process.TerminateProcess(kValidationExitCode);
  }
  ctx_.Trace("    </CompileScript>");

  // A fresh store with the progress channel and the "Pre-Initialization" values.
  vars.Clear();
  FillProgressChannel(vars, std::to_string(services_.Process.TickCount()));
  FillPreInitialization(vars, data.ProductTitle, services_.Process.IsAdministrator());

  ctx_.Trace("    <BootStrap>");
  Bootstrap();
  ctx_.Trace("    </BootStrap>");
  rootFolder_ += '\\';

  // Control state, statement handlers and the label table.
  state_ = ControlState{};
  ctx_.State.WindowHandleOfNonModal = 0;
  std::optional<Failure> failure;
  ResolveStatements(failure);
  if (failure) {
    // A label whose parameters are cut off fails like a statement: the box, the trace
    // line and the exit code of a failed run.
    StatementFailure(failure->index, failure->message);
    return false;
  }

  // Nothing runs without the database or a patch package beside it.
  if (databasePath_.empty() ||
      (!services_.Files.FileExists(databasePath_) && !services_.Files.FileExists(ChangeExtension(databasePath_, ".msp"))))
    return false;

  singleInstance_ = SingleInstance();
  if (singleInstance_) {
    std::string marker = SingleInstanceMarker();
    if (services_.Files.FileExists(marker)) return false;
    services_.Files.CreateEmptyFile(marker);
  }

  // The "Initialization" variables.
  ctx_.Trace("    <vrax>");
  state_.programCounter = 0;
  InitializationVariables();

  // A resume entry left from an earlier run would start the setup again at the next
  // logon; a "Reboot and Resume" of this run writes it anew.
  if (std::string entry = ResumeEntryName(data.ProductCode); !entry.empty()) services_.Registry.DeleteRunOnce(entry);

  // Other parts' preparation; no language until one is chosen.
  vars.SetVar("LANGUAGE", "", kOriginInitialization);
  hooks_.Phases.PrepareRun(*this);
  lastLanguage_ = vars.Get("LANGUAGE");
  // The language chosen at start is loaded before the first statement.
  languagePending_ = true;

  // Command-line assignments.
  vars.SetCommandLineOverrides(g.SilentMode, g.CommandLineAssignments);
  vars.InjectCommandLineAssignments();

  lastProgressText_ = vars.Get("PROGRESSTEXT");
  lastProgress_ = TryTextToInt32(vars.Get("PROGRESS")).value_or(0);
  return true;
}

void Interpreter::ResolveStatements(std::optional<Failure>& failure) {
  const SetupData& data = ctx_.Data;
  const std::size_t count = data.StatementCount();
  commented_.assign(count, 0);
  handlers_.assign(count, nullptr);
  isPlugin_.assign(count, 0);
  labels_.clear();
  labelIndex_.clear();
  std::unordered_map<std::string_view, bool> pluginNames;
  for (const auto& p : data.PluginStatements) pluginNames.emplace(p, true);
  for (std::size_t i = 0; i < count; ++i) {
    const StatementKind kind = KindOf(i);
    commented_[i] = data.CommentFlags[i] == "C";
    handlers_[i] = statements_.Find(kind);
    isPlugin_[i] = pluginNames.contains(data.StatementNames[i]);
    if (kind != StatementKind::Label) continue;
    std::string label;
    try {
      label = ctx_.Text().UpperCase(Param(i, param::Label::Label));
    } catch (const std::exception& e) {
      if (!failure) failure = Failure{i, e.what()};
      continue;
    }
    labelIndex_.emplace(label, i);  // the first label of a name wins
    labels_.emplace_back(std::move(label), i);
  }
}

void Interpreter::StatementCycle(const std::function<bool(std::size_t)>& callback) {
  const std::size_t count = ctx_.Data.StatementCount();
  TVariableManager& vars = ctx_.Vars;
  // The preparation can end the run before the first statement (a cancelled language choice).
  while (state_.programCounter < count && !endRequested_) {
    if (cycles_++ % kPumpInterval == 0) services_.Ui.PumpMessages();
    RefreshFromVariables();
    if (state_.skipToBranch) BranchSkip();
    if (state_.skipToEnd) EndSkip();
    Fetch f = FetchNext();
    if (f == Fetch::EndOfScript) break;
    if (f == Fetch::NextCycle) continue;
    if (state_.programCounter > count) break;
    const std::size_t index = state_.programCounter - 1;
    if (commented_[index]) continue;

    {
      bool cancelled, held;
      {
        TVariableManager::ReadLock lock(vars);
        cancelled = vars.TryGet("VRAX_IsCancelled", scratch_) && IsTrue(scratch_);
        held = vars.TryGet("ABORT", scratch_) && scratch_ == (cancelled ? "TRUE" : "FALSE");
      }
      if (!held) vars.SetVar("ABORT", cancelled ? "TRUE" : "FALSE", kOriginCancelState);
    }
    if (ctx_.State.WindowHandleOfNonModal != 0) BetweenStatementsProgress();

    if (callback && !callback(index)) {
      ExitScriptStep();
      return;
    }
    try {
      if (isPlugin_[index]) {
        state_.leftWizardLoop = false;
        if (BeforeSession(index) && hooks_.PluginStatement) hooks_.PluginStatement(*this, index);
      } else {
        Dispatch(index);
      }
      hooks_.Phases.AfterStatement(*this, index);
    } catch (const std::exception& e) {
      StatementFailure(index, e.what());
      return;
    }
    if (endRequested_) break;
  }
  EndOfRun();
}

void Interpreter::InitializationVariables() {
  const auto& g = ctx_.Startup;
  const SetupData& data = ctx_.Data;
  InitializationValues v;
  v.IisHost = services_.Network.LoopbackHostName();
  v.ExeFile = g.ProgramPath;
  v.ExeDir = g.ProgramFolder;
  v.UserName = services_.Registry.RegisteredOwner();
  v.UserCompany = services_.Registry.RegisteredOrganization();
  v.ProductVersion = data.ProductVersion;
  v.Silent = g.SilentMode;
  v.Logged = ctx_.Log.Path();
  v.CmdLine = g.CommandTail;
  if (!g.OuterPackagePath.empty()) {
    v.SfxPath = WithTrailingBackslash(FolderPart(g.OuterPackagePath));
    v.SfxFile = FileNamePart(g.OuterPackagePath);
  }
  if (!g.GroupPolicyPath.empty()) v.GpoPath = WithTrailingBackslash(FolderPart(g.GroupPolicyPath));
  v.Title = data.ProductTitle;
  v.Company = data.CompanyName;
  lastClockSecond_ = services_.Shell.ClockSecond();
  date_ = services_.Shell.ShortDate();
  time_ = services_.Shell.LongTime();
  v.Date = date_;
  v.Time = time_;
  v.TempDir = g.TempDirVariable;
  v.SupportDir = g.SupportFolder;
  v.MsiFile = databasePath_;
  FillInitialization(ctx_.Vars, v);
}

void Interpreter::RefreshFromVariables() {
  auto& g = ctx_.Startup;
  TVariableManager& vars = ctx_.Vars;
  std::string& value = scratch_;
  std::string& title = scratch2_;
  bool silent, brandingOff;
  {
    // One hold of the store's lock for the reads.
    TVariableManager::ReadLock lock(vars);
    if (!vars.TryGet("LOGGED", value)) value.clear();
    if (!vars.TryGet("TITLE", title)) title.clear();
    silent = vars.TryGet("SILENT", scratch3_) && IsTrue(scratch3_);
    brandingOff = vars.TryGet("VRAXLOGO", scratch3_) && scratch3_ == "TRUE";
  }
  if (!ctx_.Log.PathIs(value)) ctx_.Log.SetPath(value);
  if (silent != g.SilentMode) {
    g.SilentMode = silent;
    vars.SetCommandLineOverrides(silent, g.CommandLineAssignments);
  }
  if (title != ctx_.Caption.Title()) ctx_.Caption.SetTitle(title);
  ctx_.Caption.SetBrandingOff(brandingOff);

  hooks_.Phases.BeforeStatement(*this);

  // The clock is formatted again only when it has moved on.
  std::int64_t second = services_.Shell.ClockSecond();
  if (second != lastClockSecond_) {
    lastClockSecond_ = second;
    date_ = services_.Shell.ShortDate();
    time_ = services_.Shell.LongTime();
  }
  bool dateHeld, timeHeld, languageDefined;
  {
    TVariableManager::ReadLock lock(vars);
    dateHeld = vars.TryGet("DATE", scratch3_) && scratch3_ == date_;
    timeHeld = vars.TryGet("TIME", scratch3_) && scratch3_ == time_;
    languageDefined = vars.TryGet("LANGUAGE", value);
  }
  if (!dateHeld) vars.SetVar("DATE", date_, kOriginInitialization);
  if (!timeHeld) vars.SetVar("TIME", time_, kOriginInitialization);
  if (!languageDefined) value.clear();
  if (value != lastLanguage_ || (languagePending_ && !value.empty())) {
    languagePending_ = false;
    lastLanguage_ = value;
    hooks_.Phases.LanguageChanged(*this, lastLanguage_);
  }
  // Written back; a defined variable holds the value just read already.
  if (!languageDefined) vars.SetVar("LANGUAGE", lastLanguage_, kOriginInitialization);
}

void Interpreter::SkipToSameLevel(bool stopAtBranches) {
  const std::size_t count = ctx_.Data.StatementCount();
  long nesting = 0;
  std::size_t& pc = state_.programCounter;
  for (;;) {
    ++pc;
    if (pc > count) break;  // ran off the end of the script: nothing follows
    const std::size_t i = pc - 1;
    const StatementKind k = KindOf(i);
    const bool c = commented_[i];
    bool opened = false;
    if ((k == StatementKind::If || k == StatementKind::WizardLoop) && !c) {
      ++nesting;
      opened = true;
    }
    if (k == StatementKind::End && !c) {
      --nesting;
      if (nesting >= 0) opened = true;
    }
    const bool stops = k == StatementKind::End || (stopAtBranches && (k == StatementKind::Else || k == StatementKind::ElseIf));
    if (stops && nesting <= 0 && !opened && !c) break;
  }
}

void Interpreter::BranchSkip() {
  SkipToSameLevel(/*stopAtBranches=*/true);
  std::size_t& pc = state_.programCounter;
  state_.skipToBranch = false;
  if (pc > ctx_.Data.StatementCount()) return;
  const StatementKind stop = KindOf(pc - 1);
  if (stop == StatementKind::ElseIf && !state_.skipToEnd) {
    --pc;  // fetched again and evaluated as a condition
    state_.evaluateElseIf = true;
  } else if (stop == StatementKind::End) {
    --pc;  // fetched again: it closes the chain
  }
}

void Interpreter::EndSkip() {
  SkipToSameLevel(/*stopAtBranches=*/false);
  state_.skipToEnd = false;
  if (state_.programCounter <= ctx_.Data.StatementCount()) --state_.programCounter;
}

Interpreter::Fetch Interpreter::FetchNext() {
  const std::size_t count = ctx_.Data.StatementCount();
  if (state_.programCounter > count) return Fetch::EndOfScript;
  if (state_.inWizardLoop) return WizardMove();
  std::size_t& pc = state_.programCounter;
  do {
    ++pc;
  } while (pc < count && SkippedOnFetch(pc - 1));
  return Fetch::Dispatch;
}

void Interpreter::LeaveWizardLoopForward() {
  const std::size_t count = ctx_.Data.StatementCount();
  std::size_t& pc = state_.programCounter;
  while (pc <= count && !(KindOf(pc - 1) == StatementKind::End && !commented_[pc - 1])) ++pc;
  state_.inWizardLoop = false;
  state_.leftWizardLoop = true;
  if (pc <= count) --pc;  // the "End" is fetched and dispatched next
}

Interpreter::Fetch Interpreter::WizardMove() {
  const std::size_t count = ctx_.Data.StatementCount();
  std::size_t& pc = state_.programCounter;
  if (state_.wizardStep != 1 && state_.wizardStep != -1) {
    if (pc == 0) pc = 1;
    LeaveWizardLoopForward();
    return pc > count ? Fetch::EndOfScript : Fetch::NextCycle;
  }
  for (;;) {
    if (state_.wizardStep < 0 && pc <= 1) return Fetch::EndOfScript;  // no "Wizard Loop" before: cannot happen
    pc += state_.wizardStep;
    if (pc > count) return Fetch::EndOfScript;
    const std::size_t i = pc - 1;
    const StatementKind k = KindOf(i);
    if (!commented_[i] && (k == StatementKind::DisplayDialog || k == StatementKind::WizardLoop || k == StatementKind::End)) break;
  }
  const StatementKind k = KindOf(pc - 1);
  if (k == StatementKind::End) {
    state_.inWizardLoop = false;
    state_.leftWizardLoop = true;
    --pc;
    return Fetch::NextCycle;
  }
  if (k == StatementKind::WizardLoop) {
    LeaveWizardLoopForward();
    return pc > count ? Fetch::EndOfScript : Fetch::NextCycle;
  }
  return Fetch::Dispatch;
}

void Interpreter::Dispatch(std::size_t index) {
  switch (KindOf(index)) {
    case StatementKind::End:
      if (state_.leftWizardLoop) {
        state_.leftWizardLoop = false;
      } else if (state_.openChains > 0) {
        --state_.openChains;
      }
      return;
    case StatementKind::Else:
      state_.leftWizardLoop = false;
      state_.skipToEnd = true;
      return;
    case StatementKind::ElseIf: {
      state_.leftWizardLoop = false;
      bool evaluate = state_.evaluateElseIf || state_.openChains == 0;
      state_.evaluateElseIf = false;
      if (!evaluate) {
        state_.skipToEnd = true;
        return;
      }
      if (!Condition(index)) state_.skipToBranch = true;
      return;
    }
    case StatementKind::If:
      state_.leftWizardLoop = false;
      state_.evaluateElseIf = false;
      ++state_.openChains;
      if (!Condition(index)) state_.skipToBranch = true;
      return;
    case StatementKind::WizardLoop:
      state_.leftWizardLoop = false;
      state_.inWizardLoop = true;
      state_.wizardStep = 1;
      return;
    case StatementKind::GoToLabel:
      GoToLabel(index);
      return;
    case StatementKind::Label:
    case StatementKind::Comment:
    case StatementKind::Ignore:
      state_.leftWizardLoop = false;
      return;
    default:
      state_.leftWizardLoop = false;
      if (const StatementHandler* h = handlers_[index]) {
        if (KindOf(index) == StatementKind::ApplyChanges && !BeforeSession(index)) return;
        (*h)(*this, index);
      }
      return;
  }
}

bool Interpreter::Condition(std::size_t index) const {
  // "If" and "Else If" read the same parameters.
  namespace condition = param::If;
  std::string variable = Param(index, condition::Variable);
  std::string value = Param(index, condition::Value);
  if (LanguageSelected()) {
    std::string id = Param(index, param::Id);
    variable = ctx_.Translate(variable, id, 1);
    value = ctx_.Translate(value, id, 2);
  }
  return EvaluateCondition(ctx_.Vars, variable, Param(index, condition::Operator), value,
                           Param(index, condition::Negate));
}

void Interpreter::GoToLabel(std::size_t index) {
  std::string label = Param(index, param::GoToLabel::Label);
  auto it = labelIndex_.find(ctx_.Text().UpperCase(label));
  if (it == labelIndex_.end()) throw StatementError("LABEL undefined: " + label);
  const int step = state_.wizardStep;
  state_ = ControlState{};
  state_.programCounter = it->second;  // the "Label" statement is fetched next
  state_.wizardStep = step;
}

void Interpreter::BetweenStatementsProgress() {
  std::string text = ctx_.Vars.Get("PROGRESSTEXT");
  std::int64_t position = TryTextToInt32(ctx_.Vars.Get("PROGRESS")).value_or(0);
  if (text == lastProgressText_ && position == lastProgress_) return;
  lastProgressText_ = text;
  lastProgress_ = position;
  if (hooks_.Progress.Write) hooks_.Progress.Write(text, position);
  if (!Silent()) services_.Ui.PumpMessages();
}

void Interpreter::StatementFailure(std::size_t index, std::string_view message) {
  // A failed run never reports success: administrators read the exit code.
  if (ctx_.Startup.ExitCode == 0) ctx_.Startup.ExitCode = kStatementFailureExitCode;
  ctx_.Trace("      " + TracePosition(ctx_.Data, index) + std::string(message));
  if (!Silent()) {
    if (hooks_.Progress.PromptState) hooks_.Progress.PromptState(true, true);
    services_.Ui.ShowErrorBox(0, FailureText(index, message), ctx_.WindowCaption());
  }
  ExitScriptStep();
}

void Interpreter::ExitScriptStep() {
  if (runEnded_) return;
  runEnded_ = true;
  if (singleInstance_) services_.Files.RemoveFile(SingleInstanceMarker());
  hooks_.Phases.ExitScript(*this);
  // The tray icon goes with the run.
  services_.Ui.HideTrayIcon();
  services_.Ui.SetTrayClickHandler({});
  ctx_.State.TrayIconVisible = false;
  ctx_.State.MinimizedToTray = false;
  ctx_.State.WindowHandleOfNonModal = 0;
  ctx_.State.LastDisplayedKey.clear();
  ctx_.State.PendingUnbindKey.clear();
}

void Interpreter::EndOfRun() {
  ctx_.Trace("    </vrax>");
  ctx_.Trace("    <ExitScript>");
  ExitScriptStep();
  ctx_.Trace("    </ExitScript>");
  RemovableMediaEnding();
}

void Interpreter::RemovableMediaEnding() {
  std::string exeDir = ctx_.Vars.Get("EXEDIR");
  if (exeDir.empty() || services_.Files.IsFixedDrive(exeDir) || services_.Files.FolderExists(exeDir)) return;
  auto& g = ctx_.Startup;
  SetupData& data = ctx_.Data;
  hooks_.Phases.WriteInstanceData(*this);
  data.StatementNames.Clear();
  data.StatementIds.Clear();
  data.ParameterLines.Clear();
  data.CommentFlags.Clear();
  data.StatementMedia.Clear();
  data.PluginStatements.clear();
  data.Kinds.clear();
  ctx_.Trace("  </RunScript>");
  ctx_.Trace("  <Free>");
  ctx_.Trace("  </Free>");
  ctx_.Trace("  <CachedSupportDir>");
  if (!g.SupportFolder.empty() && services_.Files.FolderExists(g.SupportFolder))
    services_.Files.RemoveFolderTree(g.SupportFolder);
  if (g.ReleaseSupportFolder) g.ReleaseSupportFolder();
  ctx_.Trace("  </CachedSupportDir>");
  ctx_.Trace("  <RemovableMediaPrematureEject>");
  ctx_.Trace("  </RemovableMediaPrematureEject>");
  ctx_.Trace("</Vantrel>");
  services_.Process.TerminateProcess(g.ExitCode);
}

}  // namespace kem
