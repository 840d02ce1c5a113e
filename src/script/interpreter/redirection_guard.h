// Switches the main thread's WOW64 file-system redirection off for the lifetime of the
// scope while the script's 64-bit mode is on (PlatformMode other than "Win32").
#pragma once

#include "engine/engine_state.h"
#include "engine/services/files.h"

namespace kem {

class RedirectionGuard {
 public:
  RedirectionGuard(const EngineState& state, FileService& files)
      : files_(files), active_(state.PlatformMode != "Win32") {
    if (active_) files_.SetFileSystemRedirectionOff(true);
  }
  ~RedirectionGuard() {
    if (active_) files_.SetFileSystemRedirectionOff(false);
  }
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;

 private:
  FileService& files_;
  bool active_;
};

}  // namespace kem
