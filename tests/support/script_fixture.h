// A scripted stand-in for Windows and a fixture that runs scripts built in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "components/component_statements.h"
#include "engine/engine_context.h"
#include "engine/services.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "engine/statement_error.h"
#include "script/statements/dialog_statements.h"
#include "script/statements/message_statements.h"
#include "script/statements/variable_statements.h"
#include "script/store/variable_manager.h"
#include "script/termination/termination.h"
#include "installer/fake_installer.h"
#include "installer/system_change_statements.h"
#include "support/phase_functions.h"
#include "support/script_builder.h"

namespace kem::test {

// Thrown by FakeHost::TerminateProcess in place of ending the test process.
struct ProcessTerminated {
  int exitCode;
};

// One stand-in for every machine service, recording what the engine asked of it.
class FakeHost : public UiService,
                 public FileService,
                 public RegistryService,
                 public ProcessService,
                 public ShellService,
                 public NetworkService {
 public:
  struct Box {
    std::uintptr_t owner;
    std::string text;
    std::string caption;
  };
  struct RunOnce {
    bool allUsers;
    std::string name;
    std::string command;
  };

  std::vector<Box> boxes;
  int pumps = 0;
  std::vector<RunOnce> runOnce;
  std::vector<std::string> runOnceDeleted;
  bool runOnceFails = false;
  int reboots = 0;
  std::set<std::string> files;
  std::set<std::string> folders;
  bool fixedDrive = true;
  bool admin = true;
  std::int64_t clock = 1000;
  int dateFormats = 0;
  std::map<std::string, std::string> environment;
  std::map<std::string, std::string> shortNames;
  std::map<std::string, std::string> storedNames;  // full path -> name on disk
  std::vector<bool> redirection;                   // every switch, in order
  std::vector<std::string> removedTrees;
  int tempFiles = 0;

  void ShowErrorBox(std::uintptr_t owner, const std::string& text, const std::string& caption) override {
    boxes.push_back({owner, text, caption});
  }
  void PumpMessages() override { ++pumps; }
  // Message boxes and the notification area: each call recorded as one line; the boxes
  // take their answers from `answers` (0, no box, when it runs out).
  std::vector<std::string> shown;
  std::vector<int> answers;
  std::function<void()> trayClick;
  std::function<void()> balloonEnded;
  int AskUser(std::uintptr_t owner, const std::string& text, const std::string& caption, unsigned style) override {
    shown.push_back("box " + std::to_string(owner) + " " + caption + "|" + text + "|" + std::to_string(style));
    if (answers.empty()) return 0;
    int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  bool trayAvailable = true;
  bool ShowTrayIcon(const std::string& hint) override {
    shown.push_back("tray " + hint);
    return trayAvailable;
  }
  void HideTrayIcon() override { shown.push_back("tray off"); }
  void SetTrayClickHandler(std::function<void()> handler) override { trayClick = std::move(handler); }
  void ShowBalloon(const std::string& title, const std::string& text, int icon, unsigned timeoutMs,
                   std::function<void()> ended) override {
    shown.push_back("balloon " + title + "|" + text + "|" + std::to_string(icon) + "|" + std::to_string(timeoutMs));
    balloonEnded = std::move(ended);
  }
  void SetTaskbarOverlay(std::uintptr_t window, bool on, const std::string& description) override {
    shown.push_back("overlay " + std::to_string(window) + (on ? " on " : " off ") + description);
  }
  void HideWindow(std::uintptr_t window) override { shown.push_back("hide " + std::to_string(window)); }
  void BringWindowBack(std::uintptr_t window, bool restore) override {
    shown.push_back("back " + std::to_string(window) + (restore ? " restored" : ""));
  }
  [[noreturn]] void TerminateProcess(int exitCode) override { throw ProcessTerminated{exitCode}; }
  std::uint32_t TickCount() override { return 4242; }
  std::string RegisteredOwner() override { return "Owner"; }
  std::string RegisteredOrganization() override { return "Organisation"; }
  std::string LoopbackHostName() override { return "host"; }
  std::int64_t ClockSecond() override { return clock; }
  std::string ShortDate() override {
    ++dateFormats;
    return "date" + std::to_string(clock);
  }
  std::string LongTime() override { return "time" + std::to_string(clock); }
  bool IsAdministrator() override { return admin; }
  std::string ProgramFilesFolder() override { return "C:\\Program Files\\"; }
  std::string DocumentsFolder() override { return "C:\\Users\\me\\Documents\\"; }
  bool FileExists(const std::string& path) override { return files.contains(path); }
  bool FolderExists(const std::string& path) override { return folders.contains(path); }
  bool IsFixedDrive(const std::string&) override { return fixedDrive; }
  bool CreateEmptyFile(const std::string& path) override {
    files.insert(path);
    return true;
  }
  bool RemoveFile(const std::string& path) override { return files.erase(path) > 0; }
  void RemoveFolderTree(const std::string& folder) override { removedTrees.push_back(folder); }
  void WriteRunOnce(bool allUsers, const std::string& name, const std::string& command) override {
    if (runOnceFails) throw StatementError("Failed to set data for '" + name + "'");
    runOnce.push_back({allUsers, name, command});
  }
  void DeleteRunOnce(const std::string& name) override { runOnceDeleted.push_back(name); }
  void RequestReboot() override { ++reboots; }
  std::string ExpandEnvironmentName(const std::string& name) override {
    auto it = environment.find(name);
    return it == environment.end() ? "%" + name + "%" : it->second;
  }
  std::vector<std::string> EnvironmentStrings() override {
    std::vector<std::string> r;
    for (const auto& [k, v] : environment) r.push_back(k + "=" + v);
    return r;
  }
  std::string CreateTempFileName(const std::string& folder, const std::string& prefix) override {
    std::string path = folder + prefix + std::to_string(++tempFiles) + ".tmp";
    files.insert(path);
    return path;
  }
  std::optional<std::string> ShortPathName(const std::string& path) override {
    auto it = shortNames.find(path);
    if (it == shortNames.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> StoredName(const std::string& path) override {
    auto it = storedNames.find(path);
    if (it == storedNames.end()) return std::nullopt;
    return it->second;
  }
  std::string AnsiUpperCase(const std::string& text) override { return UpperCase(text); }
  std::string AnsiLowerCase(const std::string& text) override { return LowerCase(text); }
  void SetFileSystemRedirectionOff(bool off) override { redirection.push_back(off); }

  Services AsServices() { return Services{*this, *this, *this, *this, *this, *this}; }
};

inline constexpr const char* kDatabase = "C:\\Temp\\kem1\\setup.msi";

// Runs scripts built in memory, each test with a context of its own. Statement "Mark"
// records its parameter 1 in marks; "Set 64 Bit Mode" (test stand-in) sets the 64-bit
// mode to parameter 1. The script starts with two assignments: T = 1 and F = 0, so If T /
// If F give true / false.
class ScriptTest : public ::testing::Test {
 public:
  static constexpr std::size_t kPrelude = 2;

  void SetUp() override {
    auto& g = ctx.Startup;
    g.ProgramPath = "C:\\App\\setup.exe";
    g.ProgramFolder = "C:\\App\\";
    g.BaseName = "setup";
    g.TempFolder = "C:\\Temp\\";
    g.TempDirVariable = "C:\\Temp\\";
    g.SupportFolder = "C:\\Temp\\kem1\\";
    g.DataFolder = "C:\\App\\data\\";
    host.files.insert(kDatabase);
    host.folders.insert("C:\\App\\");
    NewScript();
  }

  // Short ways to the run's context for the tests.
  StartupValues& Startup() { return ctx.Startup; }
  EngineState& Engine() { return ctx.State; }
  std::string GetVar(std::string_view name) const { return ctx.Vars.Get(name); }
  bool VarExists(std::string_view name) const { return ctx.Vars.Exists(name); }
  void SetVar(std::string_view name, std::string_view value, std::string_view origin) {
    ctx.Vars.SetVar(name, value, origin);
  }
  void RawSet(std::string_view name, std::string_view value) { ctx.Vars.Set(name, value); }
  void SetTraceLogPath(std::string path) { ctx.Log.SetPath(std::move(path)); }
  std::string TraceLogPath() const { return ctx.Log.Path(); }
  std::string WindowCaption() const { return ctx.WindowCaption(); }

  // Starts a fresh script with the prelude; forgets what earlier runs recorded.
  void NewScript() {
    script = ScriptBuilder();
    script.Add("Set Variable", {"T", "1"});
    script.Add("Set Variable", {"F", "0"});
    marks.clear();
    shownDialogs.clear();
    dialogResults.clear();
    host.boxes.clear();
  }


  // Statement helpers.
  std::size_t If(const std::string& var, bool commented = false) {
    return script.Add("If", {var, "0", "1", "FALSE"}, commented);
  }
  std::size_t ElseIf(const std::string& var) { return script.Add("Else If", {var, "0", "1", "FALSE"}); }
  std::size_t Else() { return script.Add("Else"); }
  std::size_t End(bool commented = false) { return script.Add("End", {}, commented); }
  std::size_t Mark(const std::string& what, bool commented = false) { return script.Add("Mark", {what}, commented); }
  std::size_t Dialog(const std::string& name, const std::string& condition = "", const std::string& skipWhen = "") {
    return script.Add("Display Dialog", {name, "WIZARD", "TRUE", condition, "TRUE", skipWhen});
  }

  // The statements only these tests know run as plug-in statements of the script:
  // "Mark" records its parameter 1 in marks, "Set 64 Bit Mode" sets the 64-bit mode.
  void Run(const std::string& database = kDatabase) {
    ctx.Data = script.Build();
    if (prepare) prepare(ctx.Data);
    ctx.Data.PluginStatements.push_back("Mark");
    if (standIn64BitMode) ctx.Data.PluginStatements.push_back("Set 64 Bit Mode");
    StatementTable table;
    RegisterVariableStatements(table);
    RegisterTerminationStatements(table);
    RegisterMessageStatements(table);
    RegisterComponentStatements(table);
    RegisterSystemChangeStatements(table, SystemChangeServices{installer, machine, fetchMedia});
    RegisterDialogStatements(table, [this](Interpreter& in, const std::string& key, bool modal, std::string& custom) {
      shownDialogs.push_back(key);
      if (dialogResults.empty()) return SilentDialogPresenter(in, key, modal, custom);
      std::uintptr_t r = dialogResults.front();
      dialogResults.pop_front();
      return r;
    });
    // The participants in the engine's order: components and system changes first, then
    // the test's own phases and the other subsystems'.
    InterpreterHooks runHooks = hooks;
    runHooks.Phases = {};
    AddComponentHooks(runHooks);
    AddSystemChangeHooks(runHooks);
    runHooks.Phases.Add(phases);
    for (const auto& p : hooks.Phases.Participants()) runHooks.Phases.Add(p);
    if (moreStatements) moreStatements(table, runHooks);
    auto pluginHook = hooks.PluginStatement;
    runHooks.PluginStatement = [this, pluginHook](Interpreter& in, std::size_t i) {
      const std::string& name = in.Data().StatementNames[i];
      if (name == "Mark") marks.push_back(in.Param(i, 1));
      else if (name == "Set 64 Bit Mode") in.Context().State.PlatformMode = in.Param(i, 1);
      else if (pluginHook) pluginHook(in, i);
    };
    Interpreter interpreter(ctx, host.AsServices(), table, runHooks);
    terminated.reset();
    try {
      interpreter.Run({}, database);
    } catch (const ProcessTerminated& t) {
      terminated = t.exitCode;
    }
    control = interpreter.Control();
  }

  // Index of a statement counted from the first statement after the prelude.
  static std::string Key(std::size_t index) { return std::to_string(index); }

  EngineContext ctx;
  ScriptBuilder script;
  FakeHost host;
  InterpreterHooks hooks;
  // The test's own view of the run's phases.
  std::shared_ptr<PhaseFunctions> phases = std::make_shared<PhaseFunctions>();
  // The installer and the machine as the system-change statements see them.
  FakeInstaller installer;
  FakeSystem machine;
  WebMediaFetch fetchMedia;
  // "Set 64 Bit Mode" runs as the stand-in plug-in above; false runs the real statement.
  bool standIn64BitMode = true;
  // Adds the statement groups of other subsystems to a run's table and hooks.
  std::function<void(StatementTable&, InterpreterHooks&)> moreStatements;
  // Changes the built setup data before a run (damaged data).
  std::function<void(SetupData&)> prepare;
  std::vector<std::string> marks;
  std::deque<std::uintptr_t> dialogResults;
  std::vector<std::string> shownDialogs;
  std::optional<int> terminated;
  ControlState control;
};

// A private trace file for one test.
class TraceFile {
 public:
  TraceFile() {
    path_ = std::filesystem::temp_directory_path() /
            ("kem-interp-trace-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".log");
    std::filesystem::remove(path_);
  }
  ~TraceFile() { std::filesystem::remove(path_); }
  std::string Path() const { return path_.string(); }
  // The lines, decoded from UTF-16LE (ASCII content).
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::FILE* f = std::fopen(path_.string().c_str(), "rb");
    if (!f) return lines;
    std::string text, line;
    int lo;
    while ((lo = std::fgetc(f)) != EOF) {
      int hi = std::fgetc(f);
      if (hi == EOF) break;
      text.push_back(static_cast<char>(lo));
    }
    std::fclose(f);
    for (std::size_t start = 0; start < text.size();) {
      auto end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kem::test
