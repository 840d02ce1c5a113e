// The launcher's call into the interpreter.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "launcher/setup_data.h"

namespace kem {

// Runs the script over the setup data. The hook, when given, receives the statement
// index before each statement and ends the script by returning false. The database path
// is SupportFolder + base name + ".msi" (also when only a ".msp" exists). Sets
// Startup().ExitCode; exceptions that leave it end the run with exit code 11.
void RunScript(SetupData& data, const std::function<bool(std::size_t)>& hook, const std::string& databasePath);

}  // namespace kem
