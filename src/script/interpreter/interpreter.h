// The interpreter: runs the installation script once, from the first statement to the
// last, on the main thread. It prepares the run (validation, predefined variables,
// labels), then repeats one cycle per statement: refresh the values the user interface
// and other threads may have changed, find the next statement (skipping commented-out
// statements and the parts of If chains and wizard loops that must not run) and dispatch
// it to its handler.
//
// Control flow. Exactly one branch of every "If" / "Else If" / "Else" chain runs, nested
// chains included. The interpreter keeps the number of chains it is inside (every "If"
// that is dispatched opens one, the chain's "End" closes it) and remembers when a failed
// condition's skip stopped at an "Else If": that "Else If" is evaluated as a condition,
// while an "Else" or "Else If" that is reached by running off the end of an executed
// branch ends the chain (skip to its "End"). An "Else If" outside every chain is
// evaluated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/engine_context.h"
#include "engine/services.h"
#include "engine/statement_kinds.h"
#include "script/interpreter/run_phases.h"

namespace kem {

class Interpreter;

// A statement handler: receives the interpreter and the statement's index. Failures are
// raised as exceptions (StatementError) carrying the message shown to the user.
using StatementHandler = std::function<void(Interpreter&, std::size_t statementIndex)>;

// Statement kinds to their handlers. The control statements are the interpreter's own
// and never looked up here.
class StatementTable {
 public:
  void Add(StatementKind kind, StatementHandler handler);
  const StatementHandler* Find(StatementKind kind) const;

 private:
  std::array<StatementHandler, kStatementKindCount> handlers_{};
};

// What other subsystems plug into a run. The phases are served by the participants (see
// run_phases.h); the rest are single handlers, every one optional.
struct InterpreterHooks {
  // The participants of the run's phases, in the order they are called.
  RunPhases Phases;
  // Plug-in statement: a statement whose name is listed in PluginStatements.
  std::function<void(Interpreter&, std::size_t statementIndex)> PluginStatement;
  // A click on the tray icon: the page displayed while the setup was minimised to the
  // tray, else the page on screen, comes back. Without it the non-modal page's window is
  // brought back.
  std::function<void(Interpreter&)> RestoreFromTray;

  // The progress display.
  struct Progress {
    // The taskbar state around modal prompts.
    std::function<void(bool prompt, bool error)> PromptState;
    // "Set Variable" of PROGRESS or PROGRESSTEXT: show the text and position (0..100) now.
    std::function<void(const std::string& text, std::int64_t position)> Refresh;
    // Between statements while a non-modal dialog is up and PROGRESS or PROGRESSTEXT
    // changed: write the progress channel (text, 0..100, position).
    std::function<void(const std::string& text, std::int64_t position)> Write;
  } Progress;
};

// Interpreter state of one run (exposed for tests and the dialog statements).
struct ControlState {
  std::size_t programCounter = 0;  // index of the next statement to fetch
  bool skipToBranch = false;       // a condition failed: skip to the chain's next branch
  bool skipToEnd = false;          // an executed branch ended: skip to the chain's "End"
  bool evaluateElseIf = false;     // the skip stopped at an "Else If": evaluate it
  std::size_t openChains = 0;      // If chains the walk is inside
  bool inWizardLoop = false;
  bool leftWizardLoop = false;     // the wizard loop's "End" comes next and is a no-op
  int wizardStep = 0;              // +1 Next, -1 Back, 0 Cancel
};

// The exit code a run ends with when a statement fails while the exit code is still 0:
// installers report a fatal error this way.
inline constexpr int kStatementFailureExitCode = 1603;

class Interpreter {
 public:
  Interpreter(EngineContext& context, Services services, const StatementTable& statements,
              InterpreterHooks hooks = {});
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Runs the script over the context's setup data. callback, when given, receives the
  // statement index before each dispatch; false ends the run (exit-script step only).
  // databasePath is the installer database the script runs with. The process exit code
  // is the context's Startup.ExitCode.
  void Run(const std::function<bool(std::size_t)>& callback, const std::string& databasePath);

  // --- For statement handlers -------------------------------------------------------
  EngineContext& Context() { return ctx_; }
  SetupData& Data() { return ctx_.Data; }
  TVariableManager& Vars() { return ctx_.Vars; }
  const TVariableManager& Vars() const { return ctx_.Vars; }
  const Services& Machine() const { return services_; }
  InterpreterHooks& Hooks() { return hooks_; }
  const ControlState& Control() const { return state_; }
  const std::string& DatabasePath() const { return databasePath_; }
  // The bootstrap phase: the participant that identifies an installed instance, else
  // DefaultBootstrap. "Transform Instance" runs it again for the new instance.
  void Bootstrap();
  // The statement is a plug-in call (its name is listed in PluginStatements).
  bool IsPluginStatement(std::size_t statementIndex) const {
    return statementIndex < isPlugin_.size() && isPlugin_[statementIndex];
  }
  // Ends the statement loop after the current statement; the end-of-run steps follow.
  void EndScript() { endRequested_ = true; }
  bool EndRequested() const { return endRequested_; }
  bool InWizardLoop() const { return state_.inWizardLoop; }
  void SetWizardStep(int step) { state_.wizardStep = step; }
  // GetParam of the statement, with the parameter block looked up once per run.
  std::string Param(std::size_t statementIndex, int n) const;
  // The context's translation of a statement text while a language is selected; the text
  // unchanged otherwise.
  std::string Translated(std::string_view text, std::string_view key, int k) const;
  // A language is selected: variable LANGUAGE (as refreshed before the statement) is not
  // empty.
  bool LanguageSelected() const { return !lastLanguage_.empty(); }
  // The engine runs silently (Startup.SilentMode, refreshed from SILENT).
  bool Silent() const { return ctx_.Startup.SilentMode; }
  // The label table: upper-cased names with the index of their "Label" statement.
  const std::vector<std::pair<std::string, std::size_t>>& Labels() const { return labels_; }
  // The folder of the running engine, with a trailing backslash after the bootstrap.
  const std::string& RootFolder() const { return rootFolder_; }

  // The text of the statement-failure box for the statement (without the caption).
  std::string FailureText(std::size_t statementIndex, std::string_view message) const;

 private:
  enum class Fetch { Dispatch, NextCycle, EndOfScript };
  struct Failure {
    std::size_t index;
    std::string message;
  };

  // The phases of a run. PrepareRun returns false when the run ends before the first
  // statement (no database, another instance running, a statement failure while the
  // label table is read).
  bool PrepareRun();
  void StatementCycle(const std::function<bool(std::size_t)>& callback);
  void EndOfRun();

  void ResolveStatements(std::optional<Failure>& failure);
  void InitializationVariables();
  void RefreshFromVariables();
  // Moves the program counter to the next uncommented "End" (or, with stopAtBranches,
  // "Else" or "Else If") of the current nesting level, or past the end of the script.
  void SkipToSameLevel(bool stopAtBranches);
  void BranchSkip();
  void EndSkip();
  Fetch FetchNext();
  Fetch WizardMove();
  void LeaveWizardLoopForward();
  void Dispatch(std::size_t index);
  bool Condition(std::size_t index) const;
  void GoToLabel(std::size_t index);
  void BetweenStatementsProgress();
  void StatementFailure(std::size_t index, std::string_view message);
  void ExitScriptStep();
  void RemovableMediaEnding();
  // The before-session phase; false when a participant ended the script.
  bool BeforeSession(std::size_t index);
  StatementKind KindOf(std::size_t index) const { return ctx_.Data.Kinds[index]; }
  bool SkippedOnFetch(std::size_t index) const {
    return commented_[index] || KindOf(index) == StatementKind::Ignore;
  }
  bool SingleInstance() const;
  std::string SingleInstanceMarker() const;

  EngineContext& ctx_;
  Services services_;
  const StatementTable& statements_;
  InterpreterHooks hooks_;
  std::string databasePath_;
  std::string rootFolder_;
  bool runEnded_ = false;  // the exit-script step ran

  // Per statement, resolved once before the first statement.
  std::vector<char> commented_;
  std::vector<const StatementHandler*> handlers_;
  std::vector<char> isPlugin_;
  std::vector<std::ptrdiff_t> paramBlocks_;
  std::vector<std::pair<std::string, std::size_t>> labels_;
  std::unordered_map<std::string, std::size_t> labelIndex_;

  ControlState state_;
  bool endRequested_ = false;
  // Cycles of the statement loop; pending window messages are processed every
  // kPumpInterval cycles, whatever the statement indexes.
  std::uint64_t cycles_ = 0;

  // Last values seen by the per-statement refresh.
  std::string lastLanguage_;
  bool languagePending_ = false;  // the language of the start is yet to be loaded
  std::int64_t lastClockSecond_ = -1;
  std::string date_, time_;
  std::string lastProgressText_;
  std::int64_t lastProgress_ = 0;
  bool singleInstance_ = false;
  std::string scratch_, scratch2_, scratch3_;
};

// The value name of the resume entry: the first eight hexadecimal digits of the product
// code (its characters 2 to 9); empty for a code without them.
std::string ResumeEntryName(std::string_view productCode);

// The first-install bootstrap used until the installer cache supplies its own: publishes
// PRODUCTCODE, REVISIONCODE, DATADIR, TARGETDIR (program files folder for an
// administrator, else the folder that holds the user's documents folder, + title + "\"),
// STARTMENU, ALLUSERS, MAINTENANCE, NEEDSUPGRADE and NEWINSTANCE, origin "Bootstrap".
void DefaultBootstrap(Interpreter& interpreter);

// Base name without extension and 1-based line of a SourceMap entry "path*line"; a
// malformed entry gives an empty name or line 1.
std::pair<std::string, long long> SourcePosition(std::string_view entry);

}  // namespace kem
