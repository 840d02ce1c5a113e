// The predefined key of a registry root index.
#pragma once

#include <windows.h>

#include "engine/services/system.h"

namespace kem::platform {

inline HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

}  // namespace kem::platform
