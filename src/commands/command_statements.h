// The immediate command statements as one group: files and text files, registry and
// system queries, program execution.
#pragma once

#include "engine/services/commands.h"

namespace kem {

class StatementTable;
struct InterpreterHooks;

// Registers the statements (the services must outlive the table) and chains the hooks
// that start each run without an open text file and close it at the end of the script.
void RegisterCommandStatements(StatementTable& table, InterpreterHooks& hooks, CommandServices services);

}  // namespace kem
