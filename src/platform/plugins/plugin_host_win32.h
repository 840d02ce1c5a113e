// The Windows half of the plug-in calls: loads the library, calls "RunTimeExecute" twice
// and frees it, with a frame handler around both calls so that a fault inside the plug-in
// gives -1 instead of ending the setup.
#pragma once

#include <memory>

#include "engine/services/plugins.h"

namespace kem::platform {

std::shared_ptr<PluginHost> CreatePluginHost();

}  // namespace kem::platform
