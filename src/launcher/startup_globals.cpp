#include "launcher/startup_globals.h"

namespace kem {

StartupGlobals& Startup() {
  static StartupGlobals globals;
  return globals;
}

}  // namespace kem
