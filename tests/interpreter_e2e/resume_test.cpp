// "Reboot and Resume" with the Windows services, in this process: the RunOnce value is
// written and the restart is requested with the shutdown privilege enabled, while the
// restart call itself is replaced so that the shared Wine session keeps running.
#include <gtest/gtest.h>
#include <windows.h>

#include "engine/engine_context.h"
#include "platform/process/process.h"
#include "platform/services_win32.h"
#include "script/interpreter/interpreter.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

struct Restart {
  int calls = 0;
  unsigned flags = 0;
  unsigned long reason = 1;
  bool privilegeEnabled = false;
};

bool ShutdownPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID luid;
  bool enabled = false;
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid)) {
    PRIVILEGE_SET set{};
    set.PrivilegeCount = 1;
    set.Control = PRIVILEGE_SET_ALL_NECESSARY;
    set.Privilege[0].Luid = luid;
    set.Privilege[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL result = FALSE;
    if (PrivilegeCheck(token, &set, &result)) enabled = result != FALSE;
  }
  CloseHandle(token);
  return enabled;
}

// A restart function that records the request in seen.
platform::RestartFn RecordRestart(Restart& seen) {
  return [&seen](unsigned flags, unsigned long reason) {
    ++seen.calls;
    seen.flags = flags;
    seen.reason = reason;
    seen.privilegeEnabled = ShutdownPrivilegeEnabled();
    return true;
  };
}

std::string ReadRunOnce(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, KEY_READ | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS)
    return "<no key>";
  char buf[1024] = {};
  DWORD size = sizeof(buf) - 1, type = 0;
  std::string value = "<no value>";
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
      type == REG_SZ)
    value = buf;
  RegDeleteValueA(key, name.c_str());  // never let a later Wine start run it
  RegCloseKey(key);
  return value;
}

TEST(ResumeTest, RebootAndResumeWritesRunOnceAndRequestsTheRestart) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof(temp), temp);
  const std::string database = std::string(temp) + "kem-resume-test.msi";
  HANDLE h = CreateFileA(database.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  for (bool allUsers : {true, false}) {
    SCOPED_TRACE(allUsers);
    EngineContext ctx;
    auto& g = ctx.Startup;
    g.SilentMode = true;
    g.ProgramPath = "C:\\App\\setup.exe";
    g.ProgramFolder = "C:\\App\\";
    g.TempFolder = g.TempDirVariable = temp;
    g.CommandTail = "/s TARGETDIR=D:\\App";
    g.CommandLineAssignments = {"TARGETDIR", "D:\\App"};
    ScriptBuilder script;
    script.Data().ProductCode = "{12345678-AAAA-BBBB-CCCC-DDDDEEEEFFFF}";
    script.Add("Set Variable", {"ALLUSERS", allUsers ? "TRUE" : "FALSE"});
    script.Add("Reboot and Resume");
    script.Add("Terminate with Exit Code", {"5"});
    ctx.Data = script.Build();

    Restart restart;
    platform::Win32Services services;
    // The Windows services, with a process service whose restart is observed.
    auto process = platform::CreateProcessService(RecordRestart(restart));
    Services machine = services.Get();
    StatementTable table;
    RegisterVariableStatements(table);
    RegisterTerminationStatements(table);
    Interpreter interpreter(ctx, Services{machine.Ui, machine.Files, machine.Registry, *process, machine.Shell,
                                          machine.Network},
                            table);
    interpreter.Run({}, database);

    EXPECT_EQ(ReadRunOnce(allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, "12345678"),
              "\"C:\\App\\setup.exe\" /s TARGETDIR=D:\\App");
    EXPECT_EQ(restart.calls, 1);
    EXPECT_EQ(restart.flags, static_cast<unsigned>(EWX_REBOOT));
    EXPECT_EQ(restart.reason, 0u);
    EXPECT_TRUE(restart.privilegeEnabled);
    EXPECT_EQ(g.ExitCode, 0);  // the loop ended at "Reboot and Resume"
  }
  DeleteFileA(database.c_str());
}

}  // namespace
}  // namespace kem::test
