// The registry, as far as the engine's own entries and the machine's registration go.
#pragma once

#include <string>

namespace kem {

class RegistryService {
 public:
  virtual ~RegistryService() = default;
  // Registered owner and organisation of Windows; empty when unknown.
  virtual std::string RegisteredOwner() = 0;
  virtual std::string RegisteredOrganization() = 0;
  // Writes the string value under "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce\"
  // of HKEY_LOCAL_MACHINE (allUsers) or HKEY_CURRENT_USER, creating the key when missing.
  // Raises StatementError when the key cannot be opened or written.
  virtual void WriteRunOnce(bool allUsers, const std::string& valueName, const std::string& command) = 0;
  // Removes that value from both roots when present; failures are ignored.
  virtual void DeleteRunOnce(const std::string& valueName) = 0;
};

}  // namespace kem
