// The engine's entry point: a GUI program without a main window of its own.
#include "launcher/launch_sequence.h"
#include "platform/process/process.h"

int main() {
  int code = kem::RunLaunchSequence();
  kem::platform::TerminateProcessNow(code);
}
