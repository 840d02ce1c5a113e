// The engine's main routine: from the start of the process to its exit code.
#pragma once

namespace kem {

// Runs the whole launch sequence and returns the process exit code. Exits with the codes
// 13 to 16 end the process at once, without clean-up.
int RunLaunchSequence();

}  // namespace kem
