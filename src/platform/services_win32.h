// The Windows implementation of every engine service, owned in one place.
#pragma once

#include <memory>

#include "engine/services.h"

namespace kem::platform {

class Win32Services {
 public:
  Win32Services();
  ~Win32Services();
  Win32Services(const Win32Services&) = delete;
  Win32Services& operator=(const Win32Services&) = delete;

  Services Get();

 private:
  std::unique_ptr<UiService> ui_;
  std::unique_ptr<FileService> files_;
  std::unique_ptr<RegistryService> registry_;
  std::unique_ptr<ProcessService> process_;
  std::unique_ptr<ShellService> shell_;
  std::unique_ptr<NetworkService> network_;
};

}  // namespace kem::platform
