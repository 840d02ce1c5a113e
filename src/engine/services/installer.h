// Windows Installer: the product states and the installer database the engine writes its
// queued properties into. The Windows half loads msi.dll from the system folder on first
// use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kem {

// An installer database opened for a transacted change. Nothing reaches the file before
// Commit; closing without Commit drops the changes.
class InstallerDatabase {
 public:
  virtual ~InstallerDatabase() = default;
  // Runs one SQL statement (a view opened, executed without parameters and closed); false
  // when the database refuses it.
  virtual bool Execute(const std::string& sql) = 0;
  // Gives every row of the Component table a new ComponentId from newCode.
  virtual bool RenewComponentIds(const std::function<std::string()>& newCode) = 0;
  // Writes a string property of the summary information and persists it.
  virtual bool SetSummaryString(unsigned property, const std::string& value) = 0;
  // Whether every character of text (in the code page the database was opened with) has
  // a form in the database's own code page.
  virtual bool CanHold(const std::string& text) = 0;
  virtual bool Commit() = 0;
};

class InstallerService {
 public:
  virtual ~InstallerService() = default;
  // The installed state of a product (MsiQueryProductState: 5 installed, 1 advertised,
  // -1 unknown, ...). Raises StatementError "Library not found: msi.dll" or "Function not
  // found: msi.dll.<name>" when the installer is missing.
  virtual int QueryProductState(const std::string& productCode) = 0;
  // Opens the database at path for a transacted change; texts cross in textCodePage (the
  // setup's). Null when it cannot be opened.
  virtual std::unique_ptr<InstallerDatabase> OpenDatabase(const std::string& path, std::uint32_t textCodePage) = 0;
};

}  // namespace kem
