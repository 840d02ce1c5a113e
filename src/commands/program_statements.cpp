#include "commands/program_statements.h"

#include <atomic>

#include "commands/command_state.h"
#include "common/text.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/cancellation.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"
#include "script/worker/progress_channel.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

constexpr int kSwHide = 0, kSwShowNormal = 1, kSwShowMinimized = 2, kSwMaximize = 3, kSwShowMinNoActive = 7,
              kSwShow = 5;
constexpr std::uint32_t kPollMs = 100;

std::string FolderOf(const std::string& path) {
  auto cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Param through ExpandVars, then ExpandPath.
std::string TextParam(Interpreter& in, std::size_t i, int n) { return ExpandPath(in.Vars(), in.Vars().Expand(in.Param(i, n))); }

// The engine's current folder changed for the scope (nothing for an empty folder).
class FolderScope {
 public:
  FolderScope(ProgramService& programs, const std::string& folder) : programs_(programs) {
    if (folder.empty()) return;
    saved_ = programs_.CurrentFolder();
    changed_ = programs_.SetCurrentFolder(folder);
  }
  ~FolderScope() {
    if (changed_) programs_.SetCurrentFolder(saved_);
  }
  FolderScope(const FolderScope&) = delete;
  FolderScope& operator=(const FolderScope&) = delete;

 private:
  ProgramService& programs_;
  std::string saved_;
  bool changed_ = false;
};

// Waits for the program on the worker until it ends or the cancel reaches the worker.
int WaitForProgram(RunningProgram& program, bool wait, WorkerReporter& reporter) {
  if (!wait) return static_cast<int>(program.ExitCode());
  while (!program.Wait(kPollMs))
    if (reporter.StopRequested()) return kCancelledRunCode;
  return static_cast<int>(program.ExitCode());
}

// Runs start on a worker under the cancellation protocol; the program's result, or -314
// after a cancel.
int RunOnWorker(Interpreter& in, ProgramService& programs, std::string_view cancelLabel,
                const std::function<int(WorkerReporter&)>& start) {
  TVariableManager& vars = in.Vars();
  WriteProgress(vars, in.Machine().Process.TickCount(), vars.Get("PROGRESSTEXT"), 0, 100,
                TryTextToInt64(vars.Get("PROGRESS")).value_or(0));
  const bool mode64 = Mode64(in);
  int result = 0;
  WorkerOutcome outcome = RunWorker(in, [&](WorkerReporter& reporter) {
    ThreadRedirectionScope redirection(mode64, programs);
    result = start(reporter);
  });
  if (outcome.Cancelled || outcome.Abandoned) result = kCancelledRunCode;
  FinishCancellation(in, cancelLabel);
  return result;
}

void StoreResult(Interpreter& in, const std::string& rawName, int result, std::string_view statement) {
  if (rawName.empty()) return;
  EnsureResultVariable(in.Vars(), rawName, statement);
  in.Vars().SetVar(UpperCase(rawName), std::to_string(result), ActionLabel(statement));
}

int ShellRun(Interpreter& in, ProgramService& programs, const ProgramStart& start, bool wait, std::string_view label) {
  return RunOnWorker(in, programs, label, [&](WorkerReporter& reporter) {
    StartResult started = programs.ShellStart(start);
    if (!started.Started) return -1;
    // The shell started something without a process to wait for.
    if (!started.Program) return 0;
    return WaitForProgram(*started.Program, wait, reporter);
  });
}

void RunProgram(Interpreter& in, std::size_t i, ProgramService& programs) {
  constexpr std::string_view kName = "Run Program";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  ProgramStart start;
  start.Program = TextParam(in, i, param::RunProgram::Program);
  start.Parameters = TextParam(in, i, param::RunProgram::Arguments);
  start.Folder = FolderOf(start.Program);
  start.Show = IsTrue(in.Param(i, param::RunProgram::Hidden)) ? kSwHide : kSwShow;
  int result;
  {
    FolderScope folder(programs, start.Folder);
    result = ShellRun(in, programs, start, IsTrue(in.Param(i, param::RunProgram::Wait)), "Cancel at Run-Program Time");
  }
  StoreResult(in, in.Param(i, param::RunProgram::Result), result, kName);
}

void RunProgramAs(Interpreter& in, std::size_t i, ProgramService& programs, SystemQueryService& system) {
  constexpr std::string_view kName = "Run Program As";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  const std::string program = TextParam(in, i, param::RunProgramAs::Program);
  const std::string folder = TextParam(in, i, param::RunProgramAs::Folder);
  const std::string parameters = TextParam(in, i, param::RunProgramAs::Arguments);
  const std::int32_t show = TextToInt32(in.Param(i, param::RunProgramAs::Show));
  const std::string user = TextParam(in, i, param::RunProgramAs::User);
  const bool asShellUser = in.Param(i, param::RunProgramAs::User) == "$VRAX_UAC$" || user == "$VRAX_UAC$";
  const bool wait = IsTrue(in.Param(i, param::RunProgramAs::Wait));
  int result = -11;
  if (program.find('"') == std::string::npos) {
    ProgramStart start;
    start.CommandLine = "\"" + program + "\" " + parameters;
    start.Environment = EnvironmentLines(in.Vars().Expand(in.Param(i, param::RunProgramAs::Environment)));
    FolderScope current(programs, folder);
    const bool nt = system.Version().Nt;
    result = RunOnWorker(in, programs, "Cancel at Run-As Time", [&](WorkerReporter& reporter) {
      StartResult started;
      bool done = false;
      if (asShellUser) {
        start.Show = ShowModeOf(show, false);
        if (auto r = programs.StartAsShellUser(start)) {
          started = std::move(*r);
          done = true;
        }
      } else if (!user.empty() && nt) {
        start.Show = ShowModeOf(show, false);
        // The password goes to the logon call only: never into a message or the trace.
        started = programs.StartWithLogon(start, user, TextParam(in, i, param::RunProgramAs::Domain),
                                          TextParam(in, i, param::RunProgramAs::Password));
        done = true;
      }
      if (!done) {
        start.Show = ShowModeOf(show, true);
        started = programs.Start(start);
      }
      if (!started.Program) return started.Code;
      return WaitForProgram(*started.Program, wait, reporter);
    });
  }
  StoreResult(in, in.Param(i, param::RunProgramAs::Result), result, kName);
}

void RunLightModeSetup(Interpreter& in, std::size_t i, ProgramService& programs, CommandFileService& files) {
  constexpr std::string_view kName = "Run Light Mode Setup";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  const std::string path = TextParam(in, i, param::RunLightModeSetup::Setup);
  const std::string built = path + ".to";
  const std::string kept = path + ".nox";
  const std::string& engine = in.Context().Startup.ProgramPath;
  int result = -1;
  const std::uint64_t stub = files.StubSize(engine);
  if (stub > 0 && files.JoinFiles(built, engine, stub, path)) {
    if (!files.MovePath(path, kept)) {
      files.DeletePath(built);
    } else if (!files.MovePath(built, path)) {
      files.MovePath(kept, path);
      files.DeletePath(built);
    } else {
      // kem.lib beside the built setup: copied there only when none is there already,
      // and only a copy made here is removed afterwards.
      const std::string library = FolderOf(path) + "kem.lib";
      const bool copied = !files.FileExists(library) && files.CopyPath(FolderOf(engine) + "kem.lib", library);
      ProgramStart start;
      start.Program = path;
      start.Parameters = TextParam(in, i, param::RunLightModeSetup::Arguments);
      start.Folder = FolderOf(path);
      start.Show = kSwShow;
      {
        FolderScope folder(programs, start.Folder);
        result = ShellRun(in, programs, start, IsTrue(in.Param(i, param::RunLightModeSetup::Wait)),
                          "Cancel at Light-Mode Time");
      }
      if (copied) files.DeletePath(library);
      files.DeletePath(path);
      files.MovePath(kept, path);
    }
  }
  StoreResult(in, in.Param(i, param::RunLightModeSetup::Result), result, kName);
}

void RegisterLibrary(Interpreter& in, std::size_t i, ProgramService& programs, SystemQueryService& system) {
  constexpr std::string_view kName = "Register Library";
  const std::string file = PathParam(in, i, param::RegisterLibrary::File);
  const bool registering = IsTrue(in.Param(i, param::RegisterLibrary::Register));
  const bool wow64 = system.IsWow64();
  programs.SetRegistrationView(wow64 ? (Mode64(in) ? kViewWow64_64 : kViewWow64_32) : 0);
  bool ok = false;
  try {
    programs.InitializeOle(true);
    FolderScope folder(programs, FolderOf(file));
    const std::string upper = UpperCase(file);
    if (upper.ends_with(".TLB")) {
      ok = programs.RegisterTypeLibrary(file, registering);
    } else if (upper.ends_with(".EXE")) {
      // Quoted: an unquoted "C:\Program Files\a.exe" may start "C:\Program.exe".
      ok = programs.StartDetached("\"" + file + "\"" + (registering ? " /regserver" : " /unregserver"));
    } else {
      ok = programs.RegisterServer(file, registering);
    }
  } catch (...) {
    ok = false;
  }
  programs.InitializeOle(false);
  programs.SetRegistrationView(wow64 ? kViewWow64_32 : 0);
  const std::string var = in.Param(i, param::RegisterLibrary::Result);
  if (var.empty()) return;
  EnsureResultVariable(in.Vars(), var, kName);
  in.Vars().SetVar(UpperCase(var), BoolText(ok), ActionLabel(kName));
}

}  // namespace

std::optional<std::vector<std::string>> EnvironmentLines(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

int ShowModeOf(int code, bool plain) {
  switch (code) {
    case 0: return kSwShow;
    case 1: return kSwHide;
    case 2: return kSwMaximize;
    case 3: return kSwShowMinimized;
    case 4: return kSwShowMinNoActive;
  }
  return plain ? kSwHide : kSwShowNormal;
}

void RegisterProgramStatements(StatementTable& table, ProgramService& programs, CommandFileService& files,
                               SystemQueryService& system) {
  using K = StatementKind;
  ProgramService* p = &programs;
  CommandFileService* f = &files;
  SystemQueryService* s = &system;
  table.Add(K::RunProgram, [p](Interpreter& in, std::size_t i) { RunProgram(in, i, *p); });
  table.Add(K::RunProgramAs, [p, s](Interpreter& in, std::size_t i) { RunProgramAs(in, i, *p, *s); });
  table.Add(K::RunLightModeSetup, [p, f](Interpreter& in, std::size_t i) { RunLightModeSetup(in, i, *p, *f); });
  table.Add(K::RegisterLibrary, [p, s](Interpreter& in, std::size_t i) { RegisterLibrary(in, i, *p, *s); });
}

}  // namespace kem
