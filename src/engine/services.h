// The services of the machine that the portable engine is written against, one interface
// per concern (engine/services/). The Windows build implements each in
// src/platform/<concern>/; native tests hand in fakes. The installer session brings its
// own interface when it arrives.
#pragma once

#include "engine/services/files.h"
#include "engine/services/network.h"
#include "engine/services/process.h"
#include "engine/services/registry.h"
#include "engine/services/shell.h"
#include "engine/services/ui.h"

namespace kem {

// References to one implementation of each service, handed to the interpreter.
struct Services {
  UiService& Ui;
  FileService& Files;
  RegistryService& Registry;
  ProcessService& Process;
  ShellService& Shell;
  NetworkService& Network;
};

}  // namespace kem
