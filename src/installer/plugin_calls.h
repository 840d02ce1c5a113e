// Plug-in statements: a statement whose name the setup lists among its plug-in statements
// is carried out by a library shipped with the setup (engine/services/plugins.h). The
// library gets the whole variable store as text and the statement's parameter 1 as
// written, runs on a worker thread while the pages stay alive, and hands back the new
// variable store.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kem {

class Interpreter;
class PluginHost;
class SystemService;
struct InterpreterHooks;

struct PluginServices {
  // Shared with the call's worker, which may outlive the statement when it is abandoned.
  std::shared_ptr<PluginHost> Host;
  SystemService& System;
};

// The message shown when the library is missing; the statement is then skipped.
inline constexpr std::string_view kPluginMissingMessage =
    "Unable to load plug-in library. Please rebuild your project and make sure all required plug-ins are "
    "installed.\r\n\r\nAction skipped";

// A silent run waits at most this long for a plug-in call (nobody is there to cancel it):
// the reserved variable, in seconds, or the default when it is unset or not a number; 0
// waits for ever. Past it the call is asked to stop and left running if it does not, the
// statement fails with the store unchanged, and the run goes on as after a cancel.
inline constexpr std::string_view kPluginTimeoutVariable = "VRAX_PLUGIN_TIMEOUT";
inline constexpr long long kDefaultPluginTimeoutSeconds = 1800;

// Where the library of the statement lies: the support folder + the file name of
// parameter 2 when the statement has no media entry; otherwise the data folder + entry +
// parameter 2, where a web build looks in its download cache first and the program's
// own data folder second.
std::string PluginLibraryPath(Interpreter& in, std::size_t statementIndex);

// Installs the plug-in statement hook.
void AddPluginHooks(InterpreterHooks& hooks, PluginServices services);

// Runs one plug-in statement (what the hook calls).
void RunPluginStatement(Interpreter& in, std::size_t statementIndex, PluginServices services);

}  // namespace kem
