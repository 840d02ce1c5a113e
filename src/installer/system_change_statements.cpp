#include "installer/system_change_statements.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <unordered_map>

#include "common/text.h"
#include "components/instance_data.h"
#include "engine/services/installer.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "installer/peripheral_statements.h"
#include "installer/properties.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

using F = ParameterForm;

constexpr ParameterRule kInstallFiles[] = {{1, param::InstallFiles::Folder, F::Plain, 0, true}};
constexpr ParameterRule kInstallAssembly[] = {{1, param::InstallAssembly::Folder, F::Plain, 0, true}};
constexpr ParameterRule kInstallOdbcDriver[] = {{1, param::InstallOdbcDriver::Folder, F::Plain}};
namespace service = param::InstallService;
constexpr ParameterRule kInstallService[] = {{1, service::Name, F::Plain},
                                             {2, service::DisplayName, F::Text, 1},
                                             {3, service::Description, F::Text, 2},
                                             {4, service::Folder, F::Text, 4, true},
                                             {5, service::Dependencies, F::TextNull, 5},
                                             {6, service::Account, F::Plain},
                                             {7, service::Password, F::Plain},
                                             {8, service::Arguments, F::Plain},
                                             {9, service::Group, F::Text, 3}};
constexpr ParameterRule kControlService[] = {{1, param::ControlService::Name, F::Text, 1},
                                             {2, param::ControlService::Arguments, F::Plain}};
constexpr ParameterRule kCreateFolder[] = {{1, param::CreateFolder::Folder, F::Plain, 0, true}};
constexpr ParameterRule kDeleteFiles[] = {{1, param::DeleteFiles::Folder, F::Plain, 0, true}};
constexpr ParameterRule kCopyMoveLocalFiles[] = {{1, param::CopyMoveLocalFiles::SourceFolder, F::Plain, 0, true},
                                                 {2, param::CopyMoveLocalFiles::Folder, F::Plain, 0, true}};
namespace ini = param::EditIniFile;
constexpr ParameterRule kEditIniFile[] = {{1, ini::Folder, F::Plain, 0, true},
                                          {2, ini::Section, F::Plain},
                                          {3, ini::Key, F::Plain},
                                          {4, ini::Value, F::Plain}};
constexpr ParameterRule kSetEnvironment[] = {{1, param::SetEnvironment::Value, F::Plain}};
constexpr ParameterRule kWriteRegistry[] = {{1, param::WriteRegistry::Value, F::Plain, 0, false, true},
                                            {2, param::WriteRegistry::Data, F::Plain, 0, false, true},
                                            {3, param::WriteRegistry::Type, F::Plain, 0, false, true}};
namespace fileType = param::CreateFileType;
constexpr ParameterRule kCreateFileType[] = {{1, fileType::Type, F::Text, 1},
                                             {2, fileType::Extension, F::Plain},
                                             {3, fileType::Description, F::Text, 2},
                                             {4, fileType::Command, F::Plain},
                                             {5, fileType::Icon, F::Plain}};
// Create Shortcut and Advertised Shortcut read the same parameters.
namespace shortcut = param::CreateShortcut;
constexpr ParameterRule kShortcut[] = {{1, shortcut::Folder, F::Plain, 0, true},
                                       {2, shortcut::Target, F::Plain},
                                       {3, shortcut::Arguments, F::Plain},
                                       {4, shortcut::WorkingFolder, F::Plain}};

struct DeferredKind {
  StatementKind Kind;
  std::span<const ParameterRule> Rules;
  bool FetchesMedia = false;
  bool Redirection = false;
};

const DeferredKind kDeferred[] = {
    {StatementKind::InstallFiles, kInstallFiles, true},
    {StatementKind::InstallAssembly, kInstallAssembly, true},
    {StatementKind::InstallOdbcDriver, kInstallOdbcDriver, true},
    {StatementKind::InstallService, kInstallService, true},
    {StatementKind::CreateOdbcDsn, {}},
    {StatementKind::ControlService, kControlService},
    {StatementKind::CreateFolder, kCreateFolder},
    {StatementKind::DeleteFiles, kDeleteFiles},
    {StatementKind::CopyMoveLocalFiles, kCopyMoveLocalFiles},
    {StatementKind::EditIniFile, kEditIniFile},
    {StatementKind::SetEnvironment, kSetEnvironment, false, true},
    {StatementKind::WriteRegistry, kWriteRegistry},
    {StatementKind::CreateFileType, kCreateFileType},
    {StatementKind::AdvertisedFileType, {}},
    {StatementKind::CreateShortcut, kShortcut},
    {StatementKind::AdvertisedShortcut, kShortcut},
};

const DeferredKind* FindDeferred(StatementKind kind) {
  for (const auto& d : kDeferred)
    if (d.Kind == kind) return &d;
  return nullptr;
}

std::string ReplaceAll(std::string s, std::string_view find, std::string_view with) {
  for (std::size_t p = 0; (p = s.find(find, p)) != std::string::npos; p += with.size()) s.replace(p, find.size(), with);
  return s;
}

// A text parameter as the side lists take it: translated while a language is selected,
// then expanded.
std::string TextParam(Interpreter& in, std::size_t i, int n, int k) {
  std::string raw = in.Param(i, n);
  if (in.LanguageSelected()) raw = in.Translated(raw, in.Param(i, param::Id), k);
  return in.Vars().Expand(raw);
}

std::string ParameterValue(Interpreter& in, std::size_t i, const ParameterRule& rule) {
  const TVariableManager& vars = in.Vars();
  switch (rule.Form) {
    case F::Plain: return ExpandPath(vars, vars.Expand(in.Param(i, rule.Source)));
    case F::Text: return ExpandPath(vars, TextParam(in, i, rule.Source, rule.K));
    case F::TextNull: return ExpandPath(vars, ReplaceAll(TextParam(in, i, rule.Source, rule.K), "~", "$NULL$"));
  }
  return {};
}

bool IsFullPath(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    return true;
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

// --- Deferred statements ---------------------------------------------------------------

void FetchMedia(Interpreter& in, std::size_t i, const SystemChangeServices& services) {
  const SetupData& data = in.Data();
  if (data.MediaMode != 2 || i >= data.StatementMedia.Count() || data.StatementMedia[i].empty()) return;
  TVariableManager& vars = in.Vars();
  if (IsTrue(vars.Get("ABORTEDONERROR")) || !services.FetchMedia) return;
  try {
    services.FetchMedia(in, i, data.StatementMedia[i]);
  } catch (const std::exception& e) {
    auto& prompt = in.Hooks().Progress.PromptState;
    if (prompt) prompt(true, true);
    if (!in.Silent()) in.Machine().Ui.ShowErrorBox(0, e.what(), in.Context().WindowCaption());
    if (prompt) prompt(false, false);
    // A silent run shows no box: the trace log is where the reason is read.
    in.Context().Trace(std::string("      Web media failed: ") + e.what());
    if (IsTrue(vars.Get("ABORTONERROR")))
      in.EndScript();
    else
      vars.SetVar("ABORTEDONERROR", "TRUE", "Weblock Abort");
  }
}

void ShortcutSideLists(Interpreter& in, std::size_t i, std::string_view header, SystemService& system) {
  InstallerState& state = in.Context().State.Installer;
  const TVariableManager& vars = in.Vars();
  std::string name = TextParam(in, i, shortcut::Name, 1);
  std::string description = TextParam(in, i, shortcut::Description, 2);
  auto [head8, appId] = SplitAt(in.Param(i, shortcut::AppId), "|");
  auto [head9, pinFlags] = SplitAt(in.Param(i, shortcut::Pin), "|");
  std::string file = ExpandPath(vars, vars.Expand(in.Param(i, shortcut::Folder) + "\\" + name + ".lnk"));
  if (!appId.empty()) {
    unsigned major = system.WindowsMajor(), minor = system.WindowsMinor();
    if (major > 6 || (major == 6 && minor >= 1)) {
      state.ShortcutAppIds.push_back(file);
      state.ShortcutAppIds.push_back(appId);
    }
  }
  if (!pinFlags.empty())
    state.PinList.push_back(file + "|" + pinFlags + "|" + ExpandPath(vars, vars.Expand(in.Param(i, shortcut::Target))));
  state.ShortcutTexts.push_back(ParameterProperty(header, 1));
  state.ShortcutTexts.push_back(ShortcutNamePair(name, in.Context().Text()));
  state.ShortcutTexts.push_back(description);
}

void Deferred(Interpreter& in, std::size_t i, const DeferredKind& kind, const SystemChangeServices& services) {
  InstallerState& state = in.Context().State.Installer;
  const std::string header = CommandHeader(in.Data(), i);
  std::optional<RedirectionGuard> redirection;
  if (kind.Redirection) redirection.emplace(in.Context().State, in.Machine().Files);

  // Every value first: a folder the database cannot use fails the statement before
  // anything is recorded.
  std::vector<std::pair<int, std::string>> values;
  for (const auto& rule : kind.Rules) {
    if (rule.OnlyWithDollar && in.Param(i, rule.Source).find('$') == std::string::npos) continue;
    std::string value = ParameterValue(in, i, rule);
    if (rule.Folder && !IsFullPath(value)) {
      throw StatementError("Parameter " + std::to_string(rule.Source) + " (" + in.Param(i, rule.Source) + ") " +
                           (value.empty() ? std::string("gives no folder")
                                          : "gives '" + value + "', which is not a full folder path") +
                           ": nothing can be installed there.");
    }
    values.emplace_back(rule.Property, std::move(value));
  }

  if (kind.Kind == StatementKind::AdvertisedFileType) {
    state.ProgIdTexts.push_back(in.Param(i, param::AdvertisedFileType::Type));
    state.ProgIdTexts.push_back(TextParam(in, i, param::AdvertisedFileType::Type, 1));
    state.ProgIdTexts.push_back(TextParam(in, i, param::AdvertisedFileType::Description, 2));
  } else if (kind.Kind == StatementKind::CreateShortcut || kind.Kind == StatementKind::AdvertisedShortcut) {
    ShortcutSideLists(in, i, header, services.System);
  }

  RecordProperty(state, SwitchProperty(header), "TRUE");
  if (kind.FetchesMedia) FetchMedia(in, i, services);
  for (const auto& [n, value] : values) RecordProperty(state, ParameterProperty(header, n), value);
}

// --- Immediate statements --------------------------------------------------------------

void WriteResult(Interpreter& in, const std::string& var, std::string_view value, std::string_view origin,
                 std::string_view statement) {
  if (var.empty()) return;
  EnsureResultVariable(in.Vars(), var, statement);
  in.Vars().SetVarChecked(var, value, origin);
}

std::string Plain(Interpreter& in, std::size_t i, int n) {
  return ExpandPath(in.Vars(), in.Vars().Expand(in.Param(i, n)));
}

void IsMsiSetupInstalled(Interpreter& in, std::size_t i, InstallerService& installer) {
  constexpr std::string_view kName = "Is MSI Setup Installed";
  int state = installer.QueryProductState(Plain(in, i, param::IsMsiSetupInstalled::ProductCode));
  WriteResult(in, in.Param(i, param::IsMsiSetupInstalled::Result), BoolText(state == 5), "MsiQueryProductState", kName);
}

std::string FileNameOf(std::string_view path) {
  auto cut = path.find_last_of("\\/:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

void CheckProcess(Interpreter& in, std::size_t i, SystemService& system) {
  constexpr std::string_view kName = "Check Process";
  std::string wanted = in.Vars().Expand(in.Param(i, param::CheckProcess::Program));
  bool found = false;
  for (const auto& exe : system.ProcessNames()) {
    if (in.Context().Text().SameText(FileNameOf(exe), wanted)) {
      found = true;
      break;
    }
  }
  WriteResult(in, in.Param(i, param::CheckProcess::Result), BoolText(found), ActionLabel(kName), kName);
}

std::string ServiceStateText(int state) {
  static constexpr std::array<std::string_view, 8> kStates = {
      "NOTINSTALLED", "STOPPED", "STARTING", "STOPPING", "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
  return std::string(state >= 1 && state <= 7 ? kStates[static_cast<std::size_t>(state)] : kStates[0]);
}

void CheckService(Interpreter& in, std::size_t i, SystemService& system) {
  constexpr std::string_view kName = "Check Service";
  int state = system.ServiceState(in.Vars().Expand(in.Param(i, param::CheckService::Service)),
                                  in.Vars().Expand(in.Param(i, param::CheckService::Machine)));
  WriteResult(in, in.Param(i, param::CheckService::Result), ServiceStateText(state), ActionLabel(kName), kName);
}

constexpr std::uint32_t kKeyWow64_64 = 256;
constexpr std::uint32_t kKeyWow64_32 = 512;

void DeleteRegistry(Interpreter& in, std::size_t i, SystemService& system) {
  EngineState& engine = in.Context().State;
  const bool wow64 = system.IsWow64();
  const bool mode64 = engine.PlatformMode != "Win32";
  engine.RegistryView = wow64 ? (mode64 ? kKeyWow64_64 : kKeyWow64_32) : 0;
  struct ViewReset {
    EngineState& engine;
    bool wow64;
    ~ViewReset() { engine.RegistryView = wow64 ? kKeyWow64_32 : 0; }
  } reset{engine, wow64};

  std::int32_t index = TextToInt32(in.Param(i, param::DeleteRegistry::Root));
  if (index < 0 || index > 4) return;
  const auto root = static_cast<RegistryRoot>(index);
  std::string key = Plain(in, i, param::DeleteRegistry::Key);
  std::string value = Plain(in, i, param::DeleteRegistry::Value);
  if (IsTrue(in.Param(i, param::DeleteRegistry::DeleteKey))) {
    if (wow64 && mode64) {
      auto cut = key.find_last_of('\\');
      if (cut == std::string::npos) return;
      system.DeleteRegistrySubKey64(root, key.substr(0, cut), key.substr(cut + 1));
    } else {
      system.DeleteRegistryTree(root, key, engine.RegistryView);
    }
  } else {
    system.DeleteRegistryValue(root, key, value, engine.RegistryView);
  }
}

void TerminateProgram(Interpreter& in, std::size_t i, SystemService& system) {
  std::string title = Plain(in, i, param::TerminateProgram::Title);
  std::string className = Plain(in, i, param::TerminateProgram::Class);
  if (title.empty() && className.empty()) return;
  for (int pass = 0; pass < 10; ++pass) {
    for (const auto& w : system.TopLevelWindows()) {
      if (w.ClassName.find(className) != std::string::npos && w.Title.find(title) != std::string::npos) {
        system.PostCancelAndClose(w.Handle);
        break;
      }
    }
  }
}

void Set64BitMode(Interpreter& in, std::size_t i) {
  std::string& mode = in.Context().State.PlatformMode;
  if (in.Param(i, param::Set64BitMode::Win32) == "TRUE") mode = "Win32";
  if (in.Param(i, param::Set64BitMode::Ia64) == "TRUE") mode = "ia64";
  if (in.Param(i, param::Set64BitMode::X64) == "TRUE") mode = "x64";
}

std::string PatchPackageBeside(const std::string& database) {
  auto slash = database.find_last_of("\\/:");
  auto dot = database.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return database + ".msp";
  return database.substr(0, dot) + ".msp";
}

void TransformInstance(Interpreter& in, std::size_t, SystemService& system) {
  if (!IsTrue(in.Vars().Get("NEWINSTANCE"))) return;
  if (in.Machine().Files.FileExists(PatchPackageBeside(in.DatabasePath()))) return;
  SetupData& data = in.Data();
  data.ProductCode = system.NewGuid();
  data.RevisionCode = system.NewGuid();
  InstallerState& state = in.Context().State.Installer;
  state.NewInstancePending = true;
  state.ComponentCodesRenewed = false;
  in.Bootstrap();
}

void SaveFeatureSelections(Interpreter& in, std::size_t i, SystemService& system) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  system.WriteFile(in.Vars().Expand(in.Param(i, param::SaveFeatureSelections::File)),
                   WriteInstanceData(in.Context(), ""));
}

void LoadFeatureSelections(Interpreter& in, std::size_t i, SystemService& system) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  if (auto text = system.ReadFile(in.Vars().Expand(in.Param(i, param::LoadFeatureSelections::File))))
    ReadInstanceData(in.Context(), *text, ComponentListsRead::Merge);
}

}  // namespace

std::span<const ParameterRule> DeferredParameterRules(StatementKind kind) {
  const DeferredKind* d = FindDeferred(kind);
  return d ? d->Rules : std::span<const ParameterRule>();
}

bool IsDeferredStatement(StatementKind kind) { return FindDeferred(kind) != nullptr; }

std::string ShortcutNamePair(std::string_view name, const TextRules& rules) {
  // Six characters: a double-byte character is never cut in two.
  std::size_t cut = 0;
  for (int chars = 0; chars < 6 && cut < name.size(); ++chars) cut += rules.IsLeadByte(name[cut]) ? 2 : 1;
  return Trim(name.substr(0, std::min(cut, name.size()))) + "~1|" + std::string(name);
}

void RegisterSystemChangeStatements(StatementTable& table, SystemChangeServices services) {
  for (const auto& d : kDeferred)
    table.Add(d.Kind, [&d, services](Interpreter& in, std::size_t i) { Deferred(in, i, d, services); });
  InstallerService& installer = services.Installer;
  SystemService& system = services.System;
  table.Add(StatementKind::IsMsiSetupInstalled,
            [&installer](Interpreter& in, std::size_t i) { IsMsiSetupInstalled(in, i, installer); });
  table.Add(StatementKind::CheckProcess, [&system](Interpreter& in, std::size_t i) { CheckProcess(in, i, system); });
  table.Add(StatementKind::CheckService, [&system](Interpreter& in, std::size_t i) { CheckService(in, i, system); });
  table.Add(StatementKind::DeleteRegistry,
            [&system](Interpreter& in, std::size_t i) { DeleteRegistry(in, i, system); });
  table.Add(StatementKind::TerminateProgram,
            [&system](Interpreter& in, std::size_t i) { TerminateProgram(in, i, system); });
  table.Add(StatementKind::Set64BitMode, Set64BitMode);
  table.Add(StatementKind::TransformInstance,
            [&system](Interpreter& in, std::size_t i) { TransformInstance(in, i, system); });
  table.Add(StatementKind::SaveFeatureSelections,
            [&system](Interpreter& in, std::size_t i) { SaveFeatureSelections(in, i, system); });
  table.Add(StatementKind::LoadFeatureSelections,
            [&system](Interpreter& in, std::size_t i) { LoadFeatureSelections(in, i, system); });
  RegisterPeripheralStatements(table, system);
}

namespace {

// The installer state starts afresh with every run; the switch properties start off.
class SystemChangePhases : public RunParticipant {
 public:
  void ResetRun(Interpreter& in) override { in.Context().State.Installer = InstallerState{}; }
  void PrepareRun(Interpreter& in) override { QueueAllSwitchesOff(in.Context()); }
};

}  // namespace

void AddSystemChangeHooks(InterpreterHooks& hooks) { hooks.Phases.Add(std::make_shared<SystemChangePhases>()); }

}  // namespace kem
