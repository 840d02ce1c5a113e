// Switches the main thread's WOW64 file-system redirection off for the lifetime of the
// scope while the script's 64-bit mode is on (PlatformMode other than "Win32").
#pragma once

#include "script/interpreter/engine_state.h"
#include "script/interpreter/script_host.h"

namespace kem {

class RedirectionGuard {
 public:
  explicit RedirectionGuard(ScriptHost& host) : host_(host), active_(Engine().PlatformMode != "Win32") {
    if (active_) host_.SetFileSystemRedirectionOff(true);
  }
  ~RedirectionGuard() {
    if (active_) host_.SetFileSystemRedirectionOff(false);
  }
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;

 private:
  ScriptHost& host_;
  bool active_;
};

}  // namespace kem
