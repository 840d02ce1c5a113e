// The engine's own process and the machine's power state.
#pragma once

#include <cstdint>

namespace kem {

class ProcessService {
 public:
  virtual ~ProcessService() = default;
  // Ends the process at once with the exit code, without any clean-up. Never returns
  // normally (a test double may throw).
  [[noreturn]] virtual void TerminateProcess(int exitCode) = 0;
  // The tick count in milliseconds.
  virtual std::uint32_t TickCount() = 0;
  // Member of the Administrators group and, on Vista and later, running elevated.
  virtual bool IsAdministrator() = 0;
  // Enables the shutdown privilege and asks Windows to restart; the result is not checked.
  virtual void RequestReboot() = 0;
};

}  // namespace kem
