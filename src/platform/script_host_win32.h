// The Windows services behind the interpreter and its statements.
#pragma once

#include <memory>

#include "script/interpreter/script_host.h"

namespace kem::platform {

std::unique_ptr<ScriptHost> CreateScriptHost();

// The restart call made after the shutdown privilege is enabled (ExitWindowsEx unless
// replaced): flags EWX_REBOOT (2), reason 0. A replacement lets a test program observe the
// request without restarting the session it shares; nullptr restores ExitWindowsEx.
using RestartFn = bool (*)(unsigned flags, unsigned long reason);
void SetRestartFunction(RestartFn fn);

}  // namespace kem::platform
