#include "installer/peripheral_statements.h"

#include "common/text.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

struct FrameworkVersion {
  const char* Folder;
  bool Old;  // 1.1: ngen knows no "install" verb
};
constexpr FrameworkVersion kVersions[] = {{"v4.0.30319", false}, {"v2.0.50727", false}, {"v1.1.4322", true}};

std::string Plain(Interpreter& in, std::string_view raw) { return ExpandPath(in.Vars(), in.Vars().Expand(raw)); }

std::string FolderOf(const std::string& path) {
  auto cut = path.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Fields of a parameter joined by "|".
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    auto bar = text.find('|', start);
    out.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

bool FlagOr(const std::vector<std::string>& f, std::size_t i, bool whenEmpty) {
  if (i >= f.size() || f[i].empty()) return whenEmpty;
  return IsTrue(f[i]);
}

void RunTool(Interpreter& in, SystemService& system, AssemblyTool tool, const std::string& assembly, bool install,
             bool codeBase) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  for (const auto& run : AssemblyToolRuns(tool, system.WindowsFolder(), assembly, install, codeBase)) {
    int code = system.RunHidden(run.Program, run.Arguments, FolderOf(assembly));
    in.Context().Trace("      " + run.Program + " " + run.Arguments + ": " + std::to_string(code));
    if (code == 0) break;
  }
}

void CreateShare(Interpreter& in, std::size_t i, SystemService& system) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  std::string name = in.Vars().Expand(in.Param(i, param::CreateShare::Name));
  std::string path = Plain(in, in.Param(i, param::CreateShare::Folder));
  std::string remark = in.Vars().Expand(in.Param(i, param::CreateShare::Remark));
  int maxUsers = TryTextToInt32(in.Vars().Expand(in.Param(i, param::CreateShare::MaxUsers))).value_or(-1);
  if (maxUsers < 1) maxUsers = -1;
  if (!system.CreateShare(name, path, remark, maxUsers)) in.Context().Trace("      Share not created: " + name);
}

void DeleteShare(Interpreter& in, std::size_t i, SystemService& system) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  std::string name = in.Vars().Expand(in.Param(i, param::DeleteShare::Name));
  if (!system.DeleteShare(name)) in.Context().Trace("      Share not deleted: " + name);
}

void SetAccessControl(Interpreter& in, std::size_t i, SystemService& system) {
  SecuredName object = SecuredObjectName(Plain(in, in.Param(i, param::SetAccessControl::Object)));
  std::int32_t accounts = TextToInt32(in.Vars().Expand(in.Param(i, param::SetAccessControl::Accounts)));
  std::int32_t rights = TextToInt32(in.Vars().Expand(in.Param(i, param::SetAccessControl::Rights)));
  std::vector<std::string> sids = AccountSids(accounts);
  if (object.Name.empty() || sids.empty() || rights <= 0) return;
  AccessLevel level = (rights & 4) ? AccessLevel::Full : (rights & 2) ? AccessLevel::Modify : AccessLevel::Read;
  if (!system.GrantAccess(object.Kind, object.Name, sids, level))
    in.Context().Trace("      Access not granted: " + object.Name);
}

std::string TaskName(Interpreter& in, std::size_t i) {
  std::string raw = in.Param(i, param::ScheduleTask::Name);
  if (in.LanguageSelected()) raw = in.Translated(raw, in.Param(i, param::Id), 1);
  return in.Vars().Expand(raw);
}

void ScheduleTask(Interpreter& in, std::size_t i, SystemService& system) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  ScheduledTask task;
  task.Name = TaskName(in, i);
  task.Machine = TaskMachine(Plain(in, in.Param(i, param::ScheduleTask::Computer)));
  task.Program = Plain(in, in.Param(i, param::ScheduleTask::Program));
  task.Arguments = in.Vars().Expand(in.Param(i, param::ScheduleTask::Arguments));
  task.WorkingFolder = Plain(in, in.Param(i, param::ScheduleTask::Folder));
  std::string flags = in.Vars().Expand(in.Param(i, param::ScheduleTask::Flags));
  task.Flags = flags.empty() ? 0u : static_cast<std::uint32_t>(TextToInt32(flags));
  std::string start = in.Vars().Expand(in.Param(i, param::ScheduleTask::Start));
  if (!start.empty() && !ParseTaskStart(start, task))
    throw StatementError("'" + start + "' is not a start date (YYYY-MM-DD HH:MM)");
  if (!system.ScheduleTask(task)) in.Context().Trace("      Task not scheduled: " + task.Name);
}

void DeleteScheduledTask(Interpreter& in, std::size_t i, SystemService& system) {
  std::string name = TaskName(in, i);
  if (!system.DeleteScheduledTask(name, TaskMachine(Plain(in, in.Param(i, param::DeleteScheduledTask::Computer)))))
    in.Context().Trace("      Task not deleted: " + name);
}

}  // namespace

std::string TaskMachine(std::string_view machine) {
  if (machine.empty() || StartsWith(machine, "\\\\")) return std::string(machine);
  return "\\\\" + std::string(machine);
}

bool ParseTaskStart(std::string_view text, ScheduledTask& task) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  auto number = [&](std::size_t at, std::size_t digits, int& out) {
    if (at + digits > text.size()) return false;
    out = 0;
    for (std::size_t k = at; k < at + digits; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      out = out * 10 + (text[k] - '0');
    }
    return true;
  };
  if (!number(0, 4, y) || text.size() < 10 || text[4] != '-' || !number(5, 2, mo) || text[7] != '-' ||
      !number(8, 2, d))
    return false;
  if (text.size() > 10) {
    if (text.size() != 16 || text[10] != ' ' || !number(11, 2, h) || text[13] != ':' || !number(14, 2, mi))
      return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59) return false;
  task.HasStart = true;
  task.Year = y;
  task.Month = mo;
  task.Day = d;
  task.Hour = h;
  task.Minute = mi;
  return true;
}

std::vector<std::string> AccountSids(int flags) {
  static constexpr const char* kSids[] = {"S-1-1-0",      "S-1-5-32-545", "S-1-5-32-544",
                                          "S-1-5-11",     "S-1-5-32-547", "S-1-5-18"};
  std::vector<std::string> out;
  for (int bit = 0; bit < 6; ++bit)
    if (flags & (1 << bit)) out.emplace_back(kSids[bit]);
  return out;
}

SecuredName SecuredObjectName(std::string_view object) {
  static constexpr std::pair<const char*, const char*> kRoots[] = {
      {"HKEY_CLASSES_ROOT", "CLASSES_ROOT"}, {"HKCR", "CLASSES_ROOT"},   {"HKEY_CURRENT_USER", "CURRENT_USER"},
      {"HKCU", "CURRENT_USER"},             {"HKEY_LOCAL_MACHINE", "MACHINE"}, {"HKLM", "MACHINE"},
      {"HKEY_USERS", "USERS"},              {"HKU", "USERS"},            {"HKEY_CURRENT_CONFIG", "CURRENT_CONFIG"},
      {"HKCC", "CURRENT_CONFIG"}};
  std::string_view head = object.substr(0, object.find('\\'));
  for (const auto& [prefix, root] : kRoots) {
    if (SameText(head, prefix)) {
      std::string rest(object.substr(head.size()));
      return {SecuredObject::RegistryKey, root + rest};
    }
  }
  if (object.size() > 2 && object[0] == '\\' && object[1] == '\\') {
    auto server = object.find('\\', 2);
    if (server != std::string_view::npos) {
      std::string_view share = object.substr(server + 1);
      if (!share.empty() && share.back() == '\\') share.remove_suffix(1);
      if (!share.empty() && share.find('\\') == std::string_view::npos)
        return {SecuredObject::Share, std::string(object.substr(0, server + 1 + share.size()))};
    }
  }
  return {SecuredObject::FileOrFolder, std::string(object)};
}

std::vector<AssemblyToolRun> AssemblyToolRuns(AssemblyTool tool, std::string_view windowsFolder,
                                              std::string_view assembly, bool install, bool codeBase) {
  std::vector<AssemblyToolRun> runs;
  std::string folder(windowsFolder);
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  for (const auto& v : kVersions) {
    std::string base = folder + "Microsoft.NET\\Framework\\" + v.Folder + "\\";
    std::string program, verb;
    switch (tool) {
      case AssemblyTool::NativeImages:
        program = "ngen.exe";
        verb = v.Old ? (install ? "" : "/delete") : (install ? "install" : "uninstall");
        break;
      case AssemblyTool::InstallerClass:
        program = "installutil.exe";
        verb = install ? "" : "/u";
        break;
      case AssemblyTool::RegisterAssembly:
        program = "regasm.exe";
        verb = install ? "/tlb" : "/tlb /unregister";
        if (codeBase) verb += " /codebase";
        break;
    }
    runs.push_back({base + program, verb + " \"" + std::string(assembly) + "\""});
  }
  return runs;
}

void RegisterPeripheralStatements(StatementTable& table, SystemService& system) {
  table.Add(StatementKind::CreateShare, [&system](Interpreter& in, std::size_t i) { CreateShare(in, i, system); });
  table.Add(StatementKind::DeleteShare, [&system](Interpreter& in, std::size_t i) { DeleteShare(in, i, system); });
  table.Add(StatementKind::ScheduleTask, [&system](Interpreter& in, std::size_t i) { ScheduleTask(in, i, system); });
  table.Add(StatementKind::DeleteScheduledTask,
            [&system](Interpreter& in, std::size_t i) { DeleteScheduledTask(in, i, system); });
  table.Add(StatementKind::SetAccessControl,
            [&system](Interpreter& in, std::size_t i) { SetAccessControl(in, i, system); });
  table.Add(StatementKind::GenerateNativeImages, [&system](Interpreter& in, std::size_t i) {
    auto f = Fields(in.Param(i, param::GenerateNativeImages::Assembly));
    RunTool(in, system, AssemblyTool::NativeImages, Plain(in, f[0]), FlagOr(f, 1, true), false);
  });
  table.Add(StatementKind::RunDotNetInstallerClass, [&system](Interpreter& in, std::size_t i) {
    RunTool(in, system, AssemblyTool::InstallerClass, Plain(in, in.Param(i, param::RunDotNetInstallerClass::Assembly)),
            IsTrue(in.Param(i, param::RunDotNetInstallerClass::Install)), false);
  });
  table.Add(StatementKind::RegisterAssembly, [&system](Interpreter& in, std::size_t i) {
    auto f = Fields(in.Param(i, param::RegisterAssembly::Assembly));
    RunTool(in, system, AssemblyTool::RegisterAssembly, Plain(in, f[0]), FlagOr(f, 1, true), FlagOr(f, 2, false));
  });
}

}  // namespace kem
