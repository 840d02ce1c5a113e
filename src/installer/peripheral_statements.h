// The peripheral statements that act at once: network shares ("Create Share", "Delete
// Share") and the managed-code assembly tools ("Generate Native Images", "Run .NET
// Installer Class", "Register Assembly").
//
// "Create Share": 1 share name, 2 folder, 3 remark, 4 most users at once (empty or not a
// number: no limit). "Delete Share": 1 share name. Both run with the WOW64 redirection
// off in 64-bit mode. A share the system refuses is written to the trace log; the script
// goes on.
//
// The assembly tools run ngen.exe, installutil.exe or regasm.exe of the .NET Framework
// under the Windows folder, hidden and waited for, in the assembly's folder: version
// 4.0.30319 first, then 2.0.50727, then 1.1.4322 while the previous one does not end with
// exit code 0. The arguments are the verb, a blank and the quoted assembly path.
//
// "Set Access Control": 1 the object (a file or folder; a share as \\\\server\\share; a
// registry key written with its root, such as HKEY_LOCAL_MACHINE\\Software\\Co or
// HKLM\\Software\\Co), 2 the accounts as a sum of flags (1 Everyone, 2 Users, 4
// Administrators, 8 Authenticated Users, 16 Power Users, 32 Local System), 3 the rights (1
// read, 2 modify, 4 full control; the highest flag counts). Each account gets an entry that
// allows the rights, added to those the object has. Flags that are not integers fail the
// statement; a refusal is written to the trace log.
//
// "Schedule Task": 1 task name (translated), 2 machine (empty: this computer; two
// backslashes are put in front of a name without them), 3 program, 4 arguments, 5 working
// folder, 6 task flags (empty: 0), 7 start "YYYY-MM-DD HH:MM" (empty: no trigger, the
// task runs when started). "Delete Scheduled Task": 1 task name, 2 machine. Nothing
// happens when the scheduler is not available; a start that is not such a date fails the
// statement.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/services/system.h"

namespace kem {

class StatementTable;

void RegisterPeripheralStatements(StatementTable& table, SystemService& system);

// The security identifiers of the account flags of "Set Access Control", in flag order.
std::vector<std::string> AccountSids(int flags);

// The object of "Set Access Control" as the system names it: a registry key's root
// becomes CLASSES_ROOT, CURRENT_USER, MACHINE, USERS or CURRENT_CONFIG.
struct SecuredName {
  SecuredObject Kind;
  std::string Name;
};
SecuredName SecuredObjectName(std::string_view object);

// The machine parameter as the scheduler takes it.
std::string TaskMachine(std::string_view machine);
// "YYYY-MM-DD HH:MM" (or "YYYY-MM-DD") into the task's start; false when it is not one.
bool ParseTaskStart(std::string_view text, ScheduledTask& task);

enum class AssemblyTool { NativeImages, InstallerClass, RegisterAssembly };

// One run of a tool: program path and arguments, in the order they are tried.
struct AssemblyToolRun {
  std::string Program;
  std::string Arguments;
};
// The runs for an assembly. install: install / register (false: uninstall / unregister);
// codeBase adds " /codebase" to a registration.
std::vector<AssemblyToolRun> AssemblyToolRuns(AssemblyTool tool, std::string_view windowsFolder,
                                              std::string_view assembly, bool install, bool codeBase);

}  // namespace kem
