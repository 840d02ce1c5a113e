#include "platform/services_win32.h"

#include "platform/files/files.h"
#include "platform/network/network.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "platform/ui/ui.h"

namespace kem::platform {

Win32Services::Win32Services()
    : ui_(CreateUiService()),
      files_(CreateFileService()),
      registry_(CreateRegistryService()),
      process_(CreateProcessService()),
      shell_(CreateShellService()),
      network_(CreateNetworkService()) {}

Win32Services::~Win32Services() = default;

Services Win32Services::Get() { return Services{*ui_, *files_, *registry_, *process_, *shell_, *network_}; }

}  // namespace kem::platform
