#include "platform/registry/registry.h"

#include <windows.h>

#include <vector>

#include "engine/statement_error.h"
#include "platform/handles.h"
#include "platform/process/process.h"

namespace kem::platform {
namespace {

constexpr const char* kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";

std::string RegistryString(HKEY root, const char* subKey, const char* name) {
  RegistryKey key;
  if (RegOpenKeyExA(root, subKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return {};
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
    return {};
  std::vector<char> buf(size + 1, '\0');
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
    return {};
  return std::string(buf.data());
}

const char* CurrentVersionKey() {
  return IsWindowsNT() ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\" : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
}

class Win32RegistryService final : public RegistryService {
 public:
  std::string RegisteredOwner() override {
    return RegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey(), "RegisteredOwner");
  }
  std::string RegisteredOrganization() override {
    return RegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey(), "RegisteredOrganization");
  }
  void WriteRunOnce(bool allUsers, const std::string& valueName, const std::string& command) override {
    RegistryKey key;
    if (RegCreateKeyExA(allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_WRITE,
                        nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
      throw StatementError("Failed to create key " + std::string(kRunOnceKey));
    LONG rc = RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>(command.size() + 1));
    if (rc != ERROR_SUCCESS) throw StatementError("Failed to set data for '" + valueName + "'");
  }
  void DeleteRunOnce(const std::string& valueName) override {
    if (valueName.empty()) return;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      RegistryKey key;
      if (RegOpenKeyExA(root, kRunOnceKey, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), valueName.c_str());
    }
  }
};

}  // namespace

void RegisterProgramCompatibility(const std::string& programFileName, const std::string& programPath) {
  OsVersion v = WindowsVersion();
  if (v.Major > 6 || (v.Major == 6 && v.Minor != 0)) {
    RegistryKey key;
    std::string sub = "Applications\\" + programFileName;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, sub.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) == ERROR_SUCCESS)
      RegSetValueExA(key.Get(), "IsHostApp", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  } else if (v.Major == 6 && v.Minor == 0) {
    RegistryKey key;
    const char* sub = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sub, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr) ==
        ERROR_SUCCESS) {
      DWORD data = 32;
      RegSetValueExA(key.Get(), programPath.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    }
  }
}

std::unique_ptr<RegistryService> CreateRegistryService() { return std::make_unique<Win32RegistryService>(); }

}  // namespace kem::platform
