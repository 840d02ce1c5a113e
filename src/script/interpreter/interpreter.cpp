#include "script/interpreter/interpreter.h"

#include <charconv>
#include <exception>

#include "common/text.h"
#include "launcher/caption.h"
#include "launcher/message_table.h"
#include "launcher/startup_globals.h"
#include "launcher/trace_log.h"
#include "script/eval/condition.h"
#include "script/interpreter/engine_state.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/statement_error.h"
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

// Holds the store's lock over several reads (the lock is recursive). The refresh before
// each statement writes a variable only when it does not hold the value already: the
// same effect as writing it, for a look-up when nothing changed.
class StoreReadLock {
 public:
  StoreReadLock() { Variables().Enter(false); }
  ~StoreReadLock() { Variables().Leave(false); }
  StoreReadLock(const StoreReadLock&) = delete;
  StoreReadLock& operator=(const StoreReadLock&) = delete;
};

}  // namespace

// --- StatementTable -------------------------------------------------------------------

void StatementTable::Add(std::string name, StatementHandler handler) {
  handlers_.insert_or_assign(std::move(name), std::move(handler));
}

const StatementHandler* StatementTable::Find(std::string_view name) const {
  auto it = handlers_.find(name);
  return it == handlers_.end() ? nullptr : &it->second;
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

void DefaultBootstrap(Interpreter& interpreter) {
  const SetupData& data = interpreter.Data();
  ScriptHost& host = interpreter.Host();
  const auto& g = Startup();
  bool admin = host.IsAdministrator();
  SetVar("PRODUCTCODE", data.ProductCode, kOriginBootstrap);
  SetVar("REVISIONCODE", data.RevisionCode, kOriginBootstrap);
  SetVar("DATADIR", g.DataFolder, kOriginBootstrap);
  SetVar("NEEDSUPGRADE", "FALSE", kOriginBootstrap);
  SetVar("MAINTENANCE", "FALSE", kOriginBootstrap);
  std::string base = admin ? WithTrailingBackslash(host.ProgramFilesFolder()) : ParentFolder(host.DocumentsFolder());
  SetVar("TARGETDIR", base + data.ProductTitle + "\\", kOriginBootstrap);
  SetVar("STARTMENU", data.ProductTitle, kOriginBootstrap);
  SetVar("ALLUSERS", BoolText(admin), kOriginBootstrap);
  SetVar("NEWINSTANCE", "FALSE", kOriginBootstrap);
}

// --- Interpreter -----------------------------------------------------------------------

Interpreter::Interpreter(SetupData& data, ScriptHost& host, const StatementTable& statements, InterpreterHooks hooks)
    : data_(data), host_(host), statements_(statements), hooks_(std::move(hooks)) {}

Interpreter::~Interpreter() = default;

bool Interpreter::Silent() const { return Startup().SilentMode; }

std::string Interpreter::Param(std::size_t index, int n) const {
  if (index < paramBlocks_.size() && n >= 0) {
    std::ptrdiff_t block = paramBlocks_[index];
    if (block == HashedStringList::npos) return {};
    std::size_t at = static_cast<std::size_t>(block) + static_cast<std::size_t>(n);
    if (at < data_.ParameterLines.Count()) return data_.ParameterLines[at];
  }
  return GetParam(data_, index, n);  // raises the list-index error
}

std::string Interpreter::FailureText(std::size_t index, std::string_view message) const {
  std::string entry = index < data_.SourceMap.Count() ? data_.SourceMap[index] : std::string();
  auto [file, line] = SourcePosition(entry);
  std::string text = Message(20);
  text += "\r\rSource File: ";
  text += file;
  text += "\rLine Number: ";
  text += std::to_string(line);
  text += "\r\r";
  text += message;
  return text;
}

bool Interpreter::SingleInstance() const {
  return ExpandCompilerVars(data_.CompilerVariables, "#SINGLEINSTANCE#") == "TRUE";
}

std::string Interpreter::SingleInstanceMarker() const {
  return Startup().TempFolder + data_.RevisionCode + ".kem";
}

void Interpreter::Run(const std::function<bool(std::size_t)>& callback, const std::string& databasePath) {
  ScriptDataScope scope(data_);
  databasePath_ = databasePath;
  endRequested_ = false;
  auto& g = Startup();
  const std::size_t count = data_.StatementCount();

  // 1. Per-run state of the other parts; the root folder.
  Trace("    <Variables>");
  Engine().PlatformMode = "Win32";
  Engine().WindowHandleOfNonModal = 0;
  Engine().LastDisplayedKey.clear();
  Engine().PendingUnbindKey.clear();
  SetCommandLineOverrides(false, {});
  if (hooks_.ResetRunState) hooks_.ResetRunState(*this);
  rootFolder_ = g.ProgramFolder;
  if (!rootFolder_.empty() && rootFolder_.back() == '\\') rootFolder_.pop_back();
  Trace("    </Variables>");

  // 2. Validation: a failure ends the process at once.
  Trace("    <CompileScript>");
  paramBlocks_.resize(count);
  for (std::size_t i = 0; i < count; ++i) paramBlocks_[i] = data_.ParameterLines.IndexOf(data_.StatementIds[i]);
  std::vector<std::string> validatorLabels;
  if (auto failure = ValidateScript(data_, validatorLabels, &paramBlocks_)) {
    if (!TraceLogPath().empty()) {
      std::string where;
      if (failure->statementIndex < count) {
        auto [file, line] = SourcePosition(data_.SourceMap.Count() > failure->statementIndex
                                               ? std::string_view(data_.SourceMap[failure->statementIndex])
                                               : std::string_view());
        where = "Statement " + std::to_string(failure->statementIndex) + " (" + file + ", line " +
                std::to_string(line) + "): ";
      } else {
        where = "Script: ";
      }
      Trace("      " + where + failure->message);
    }
    host_.TerminateProcess(kValidationExitCode);
  }
  Trace("    </CompileScript>");

  // 3. A fresh store with the progress channel and the "Pre-Initialization" values.
  ClearVars();
  if (hooks_.ResetComponents) hooks_.ResetComponents(*this);
  FillProgressChannel(std::to_string(host_.TickCount()));
  FillPreInitialization(data_.ProductTitle, host_.IsAdministrator());

  // 4. Bootstrap.
  Trace("    <BootStrap>");
  if (hooks_.Bootstrap)
    hooks_.Bootstrap(*this);
  else
    DefaultBootstrap(*this);
  Trace("    </BootStrap>");
  rootFolder_ += '\\';

  // 5, 6. Control state, statement kinds and the label table.
  state_ = ControlState{};
  Engine().WindowHandleOfNonModal = 0;
  kinds_.assign(count, Kind::None);
  commented_.assign(count, 0);
  handlers_.assign(count, nullptr);
  isPlugin_.assign(count, 0);
  labels_.clear();
  labelIndex_.clear();
  std::unordered_map<std::string_view, bool> pluginNames;
  for (const auto& p : data_.PluginStatements) pluginNames.emplace(p, true);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& name = data_.StatementNames[i];
    commented_[i] = i < data_.CommentFlags.Count() && data_.CommentFlags[i] == "C";
    Kind k = Kind::None;
    if (name == "If") k = Kind::If;
    else if (name == "Else If") k = Kind::ElseIf;
    else if (name == "Else") k = Kind::Else;
    else if (name == "End") k = Kind::End;
    else if (name == "Wizard Loop") k = Kind::WizardLoop;
    else if (name == "Label") k = Kind::Label;
    else if (name == "GoTo Label") k = Kind::GoToLabel;
    else if (name == "Comment") k = Kind::Comment;
    else if (name == "Ignore") k = Kind::Ignore;
    else if (name == "Display Dialog") k = Kind::DisplayDialog;
    kinds_[i] = k;
    handlers_[i] = statements_.Find(name);
    isPlugin_[i] = pluginNames.contains(name);
    if (k == Kind::Label) {
      std::string label = UpperCase(GetParam(i, 1));
      labelIndex_.emplace(label, i);  // the first label of a name wins
      labels_.emplace_back(std::move(label), i);
    }
  }

  // 7. Nothing runs without the database or a patch package beside it.
  if (databasePath.empty() ||
      (!host_.FileExists(databasePath) && !host_.FileExists(ChangeExtension(databasePath, ".msp"))))
    return;

  // 8. Single instance.
  singleInstance_ = SingleInstance();
  if (singleInstance_) {
    std::string marker = SingleInstanceMarker();
    if (host_.FileExists(marker)) return;
    host_.CreateEmptyFile(marker);
  }

  // 9. The "Initialization" variables.
  Trace("    <vrax>");
  state_.programCounter = 0;
  if (hooks_.DefinePredefinedComponent) hooks_.DefinePredefinedComponent(*this);
  InitializationVariables();

  // 10. Other parts' preparation, language.
  if (hooks_.PrepareRun) {
    hooks_.PrepareRun(*this);
  } else {
    SetVar("LANGUAGE", "", kOriginInitialization);
  }
  lastLanguage_ = GetVar("LANGUAGE");

  // 11. Command-line assignments.
  SetCommandLineOverrides(g.SilentMode, g.CommandLineAssignments);
  InjectCommandLineAssignments();

  lastProgressText_ = GetVar("PROGRESSTEXT");
  lastProgress_ = TryTextToInt32(GetVar("PROGRESS")).value_or(0);

  // The statement cycle.
  while (state_.programCounter < count) {
    if (state_.programCounter % kPumpInterval == 0) host_.PumpMessages();
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
        StoreReadLock lock;
        cancelled = Variables().TryGet("VRAX_IsCancelled", scratch_) && IsTrue(scratch_);
        held = Variables().TryGet("ABORT", scratch_) && scratch_ == (cancelled ? "TRUE" : "FALSE");
      }
      if (!held) SetVar("ABORT", cancelled ? "TRUE" : "FALSE", kOriginCancelState);
    }
    if (Engine().WindowHandleOfNonModal != 0) BetweenStatementsProgress();

    if (callback && !callback(index)) {
      ExitScriptStep();
      return;
    }
    try {
      if (isPlugin_[index]) {
        state_.leftWizardLoop = false;
        if (hooks_.PluginStatement) hooks_.PluginStatement(*this, index);
      } else {
        Dispatch(index);
      }
    } catch (const std::exception& e) {
      StatementFailure(index, e.what());
      return;
    }
    if (endRequested_) break;
  }
  EndOfRun();
}

void Interpreter::InitializationVariables() {
  const auto& g = Startup();
  InitializationValues v;
  v.IisHost = host_.LoopbackHostName();
  v.ExeFile = g.ProgramPath;
  v.ExeDir = g.ProgramFolder;
  v.UserName = host_.RegisteredOwner();
  v.UserCompany = host_.RegisteredOrganization();
  v.ProductVersion = data_.ProductVersion;
  v.Silent = g.SilentMode;
  v.Logged = TraceLogPath();
  v.CmdLine = g.CommandTail;
  if (!g.OuterPackagePath.empty()) {
    v.SfxPath = WithTrailingBackslash(FolderPart(g.OuterPackagePath));
    v.SfxFile = FileNamePart(g.OuterPackagePath);
  }
  if (!g.GroupPolicyPath.empty()) v.GpoPath = WithTrailingBackslash(FolderPart(g.GroupPolicyPath));
  v.Title = data_.ProductTitle;
  v.Company = data_.CompanyName;
  lastClockSecond_ = host_.ClockSecond();
  date_ = host_.ShortDate();
  time_ = host_.LongTime();
  v.Date = date_;
  v.Time = time_;
  v.TempDir = g.TempDirVariable;
  v.SupportDir = g.SupportFolder;
  v.MsiFile = databasePath_;
  FillInitialization(v);
}

void Interpreter::RefreshFromVariables() {
  auto& g = Startup();
  auto& vars = Variables();
  std::string& value = scratch_;
  std::string& title = scratch2_;
  bool silent, brandingOff;
  {
    // One hold of the store's lock for the reads.
    StoreReadLock lock;
    if (!vars.TryGet("LOGGED", value)) value.clear();
    if (!vars.TryGet("TITLE", title)) title.clear();
    silent = vars.TryGet("SILENT", scratch3_) && IsTrue(scratch3_);
    brandingOff = vars.TryGet("VRAXLOGO", scratch3_) && scratch3_ == "TRUE";
  }
  if (value != TraceLogPath()) SetTraceLogPath(value);
  if (silent != g.SilentMode) {
    g.SilentMode = silent;
    SetCommandLineOverrides(silent, g.CommandLineAssignments);
  }
  if (title != CaptionTitle()) SetCaptionTitle(title);
  SetBrandingOff(brandingOff);

  if (hooks_.BeforeStatement) hooks_.BeforeStatement(*this);

  // The clock is formatted again only when it has moved on.
  std::int64_t second = host_.ClockSecond();
  if (second != lastClockSecond_) {
    lastClockSecond_ = second;
    date_ = host_.ShortDate();
    time_ = host_.LongTime();
  }
  bool dateHeld, timeHeld, languageDefined;
  {
    StoreReadLock lock;
    dateHeld = vars.TryGet("DATE", scratch3_) && scratch3_ == date_;
    timeHeld = vars.TryGet("TIME", scratch3_) && scratch3_ == time_;
    languageDefined = vars.TryGet("LANGUAGE", value);
  }
  if (!dateHeld) SetVar("DATE", date_, kOriginInitialization);
  if (!timeHeld) SetVar("TIME", time_, kOriginInitialization);
  if (!languageDefined) value.clear();
  if (value != lastLanguage_) {
    lastLanguage_ = value;
    if (hooks_.LanguageChanged) hooks_.LanguageChanged(*this, lastLanguage_);
  }
  // Written back; a defined variable holds the value just read already.
  if (!languageDefined) SetVar("LANGUAGE", lastLanguage_, kOriginInitialization);
}

void Interpreter::SkipToSameLevel(bool stopAtBranches) {
  const std::size_t count = kinds_.size();
  long nesting = 0;
  std::size_t& pc = state_.programCounter;
  for (;;) {
    ++pc;
    if (pc > count) break;  // ran off the end of the script: nothing follows
    const std::size_t i = pc - 1;
    const Kind k = kinds_[i];
    const bool c = commented_[i];
    bool opened = false;
    if ((k == Kind::If || k == Kind::WizardLoop) && !c) {
      ++nesting;
      opened = true;
    }
    if (k == Kind::End && !c) {
      --nesting;
      if (nesting >= 0) opened = true;
    }
    const bool stops = k == Kind::End || (stopAtBranches && (k == Kind::Else || k == Kind::ElseIf));
    if (stops && nesting <= 0 && !opened && !c) break;
  }
}

void Interpreter::BranchSkip() {
  SkipToSameLevel(/*stopAtBranches=*/true);
  std::size_t& pc = state_.programCounter;
  state_.skipToBranch = false;
  if (pc > kinds_.size()) return;
  const Kind stop = kinds_[pc - 1];
  if (stop == Kind::ElseIf && !state_.skipToEnd) {
    --pc;  // fetched again and evaluated as a condition
    state_.evaluateElseIf = true;
  } else if (stop == Kind::End) {
    --pc;  // fetched again: it closes the chain
  }
}

void Interpreter::EndSkip() {
  SkipToSameLevel(/*stopAtBranches=*/false);
  state_.skipToEnd = false;
  if (state_.programCounter <= kinds_.size()) --state_.programCounter;
}

Interpreter::Fetch Interpreter::FetchNext() {
  const std::size_t count = kinds_.size();
  if (state_.programCounter > count) return Fetch::EndOfScript;
  if (state_.inWizardLoop) return WizardMove();
  std::size_t& pc = state_.programCounter;
  do {
    ++pc;
  } while (pc < count && SkippedOnFetch(pc - 1));
  return Fetch::Dispatch;
}

void Interpreter::LeaveWizardLoopForward() {
  const std::size_t count = kinds_.size();
  std::size_t& pc = state_.programCounter;
  while (pc <= count && !(kinds_[pc - 1] == Kind::End && !commented_[pc - 1])) ++pc;
  state_.inWizardLoop = false;
  state_.leftWizardLoop = true;
  if (pc <= count) --pc;  // the "End" is fetched and dispatched next
}

Interpreter::Fetch Interpreter::WizardMove() {
  const std::size_t count = kinds_.size();
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
    const Kind k = kinds_[i];
    if (!commented_[i] && (k == Kind::DisplayDialog || k == Kind::WizardLoop || k == Kind::End)) break;
  }
  const Kind k = kinds_[pc - 1];
  if (k == Kind::End) {
    state_.inWizardLoop = false;
    state_.leftWizardLoop = true;
    --pc;
    return Fetch::NextCycle;
  }
  if (k == Kind::WizardLoop) {
    LeaveWizardLoopForward();
    return pc > count ? Fetch::EndOfScript : Fetch::NextCycle;
  }
  return Fetch::Dispatch;
}

void Interpreter::Dispatch(std::size_t index) {
  switch (kinds_[index]) {
    case Kind::End:
      if (state_.leftWizardLoop) {
        state_.leftWizardLoop = false;
      } else if (state_.openChains > 0) {
        --state_.openChains;
      }
      return;
    case Kind::Else:
      state_.leftWizardLoop = false;
      state_.skipToEnd = true;
      return;
    case Kind::ElseIf: {
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
    case Kind::If:
      state_.leftWizardLoop = false;
      state_.evaluateElseIf = false;
      ++state_.openChains;
      if (!Condition(index)) state_.skipToBranch = true;
      return;
    case Kind::WizardLoop:
      state_.leftWizardLoop = false;
      state_.inWizardLoop = true;
      state_.wizardStep = 1;
      return;
    case Kind::GoToLabel:
      GoToLabel(index);
      return;
    case Kind::Label:
    case Kind::Comment:
    case Kind::Ignore:
      state_.leftWizardLoop = false;
      return;
    default:
      state_.leftWizardLoop = false;
      if (const StatementHandler* h = handlers_[index]) (*h)(*this, index);
      return;
  }
}

bool Interpreter::Condition(std::size_t index) const {
  std::string variable = Param(index, 1);
  std::string value = Param(index, 3);
  if (LanguageSelected()) {
    std::string id = Param(index, 0);
    variable = TranslateParam(variable, id, 1);
    value = TranslateParam(value, id, 2);
  }
  return EvaluateCondition(variable, Param(index, 2), value, Param(index, 4));
}

void Interpreter::GoToLabel(std::size_t index) {
  std::string label = Param(index, 1);
  auto it = labelIndex_.find(UpperCase(label));
  if (it == labelIndex_.end()) throw StatementError("LABEL undefined: " + label);
  const int step = state_.wizardStep;
  state_ = ControlState{};
  state_.programCounter = it->second;  // the "Label" statement is fetched next
  state_.wizardStep = step;
}

void Interpreter::BetweenStatementsProgress() {
  std::string text = GetVar("PROGRESSTEXT");
  std::int64_t position = TryTextToInt32(GetVar("PROGRESS")).value_or(0);
  if (text == lastProgressText_ && position == lastProgress_) return;
  lastProgressText_ = text;
  lastProgress_ = position;
  if (hooks_.WriteProgress) hooks_.WriteProgress(text, position);
  if (!Silent()) host_.PumpMessages();
}

void Interpreter::StatementFailure(std::size_t index, std::string_view message) {
  if (!Silent()) {
    if (hooks_.PromptProgressState) hooks_.PromptProgressState(true, true);
    host_.ShowErrorBox(0, FailureText(index, message), WindowCaption());
  }
  ExitScriptStep();
}

void Interpreter::ExitScriptStep() {
  if (singleInstance_) host_.RemoveFile(SingleInstanceMarker());
  if (hooks_.ExitScript) hooks_.ExitScript(*this);
  Engine().WindowHandleOfNonModal = 0;
  Engine().LastDisplayedKey.clear();
  Engine().PendingUnbindKey.clear();
}

void Interpreter::EndOfRun() {
  Trace("    </vrax>");
  Trace("    <ExitScript>");
  ExitScriptStep();
  Trace("    </ExitScript>");
  RemovableMediaEnding();
}

void Interpreter::RemovableMediaEnding() {
  std::string exeDir = GetVar("EXEDIR");
  if (exeDir.empty() || host_.IsFixedDrive(exeDir) || host_.FolderExists(exeDir)) return;
  auto& g = Startup();
  if (hooks_.WriteInstanceData) hooks_.WriteInstanceData(*this);
  data_.StatementNames.Clear();
  data_.StatementIds.Clear();
  data_.ParameterLines.Clear();
  data_.CommentFlags.Clear();
  data_.StatementMedia.Clear();
  data_.PluginStatements.clear();
  Trace("  </RunScript>");
  Trace("  <Free>");
  Trace("  </Free>");
  Trace("  <CachedSupportDir>");
  if (!g.SupportFolder.empty() && host_.FolderExists(g.SupportFolder)) host_.RemoveFolderTree(g.SupportFolder);
  Trace("  </CachedSupportDir>");
  Trace("  <RemovableMediaPrematureEject>");
  Trace("  </RemovableMediaPrematureEject>");
  Trace("</Vantrel>");
  host_.TerminateProcess(g.ExitCode);
}

}  // namespace kem
