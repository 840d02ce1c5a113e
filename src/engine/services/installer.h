// Windows Installer: the product states and the installer database the engine writes its
// queued properties into. The Windows half loads msi.dll from the system folder on first
// use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

  // The session's adaptation of the package (a failure is left as it is).
  // A string property of the summary information; empty when it cannot be read.
  virtual std::string GetSummaryString(unsigned property) { (void)property; return {}; }
  // Writes a 4-byte integer property of the summary information and persists it.
  virtual bool SetSummaryInteger(unsigned property, int value) { (void)property, (void)value; return false; }
  // Sets (or clears) the 64-bit bit (256) of every component's attributes.
  virtual bool SetComponents64Bit(bool on) { (void)on; return false; }
};

// The external user interface of a session: receives each message's type (the high byte
// of its code), its flags (the low 24 bits) and its text; returns the answer.
using InstallerMessageHandler = std::function<int(unsigned type, unsigned flags, const std::string& text)>;

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

  // --- The session -------------------------------------------------------------------
  // Every call below raises as QueryProductState does when the installer is missing.
  // Removes the values of the temporary-package list whose names contain the text (the
  // product code in upper case); errors are ignored.
  virtual void RemoveTempPackages(const std::string& productCode) { (void)productCode; }
  // Appends the installer's own log (every message type but files-in-use, each line
  // flushed) to the file.
  virtual void EnableLog(const std::string& path) { (void)path; }
  // Runs an installation, repair, advertisement or removal of the package with the
  // property assignments; the installer's dialogs stay hidden and every message goes to
  // handler. Returns the installer's code.
  virtual unsigned InstallProduct(const std::string& package, const std::string& commandLine,
                                  const InstallerMessageHandler& handler) {
    (void)package, (void)commandLine, (void)handler;
    return 1603;
  }
  // Applies a patch package to the installed product; the same otherwise.
  virtual unsigned ApplyPatch(const std::string& package, const std::string& commandLine,
                              const InstallerMessageHandler& handler) {
    (void)package, (void)commandLine, (void)handler;
    return 1603;
  }
  // Registers folder as a source of the product, for the machine and for the current user.
  virtual void AddPatchSource(const std::string& productCode, const std::string& folder) {
    (void)productCode, (void)folder;
  }
  // Points the installed product's source list (the installer's keys under packedCode)
  // at the package's folder and the data folder before a removal.
  virtual void RegisterRemovalSources(const std::string& packedCode, const std::string& msiFolder,
                                      const std::string& dataFolder, const std::string& mediaFolder) {
    (void)packedCode, (void)msiFolder, (void)dataFolder, (void)mediaFolder;
  }
  // The system's text of a return code (empty when it has none).
  virtual std::string ReturnCodeText(unsigned code) { (void)code; return {}; }

  // --- Where the sources lie ---------------------------------------------------------
  // The value "UninstallString" of the product's uninstall entry named title (machine:
  // under the local machine, else the current user); empty when it cannot be read.
  virtual std::string UninstallString(bool machine, const std::string& title) {
    (void)machine, (void)title;
    return {};
  }
  // A folder browser owned by owner with the prompt; nullopt when closed without a folder.
  virtual std::optional<std::string> BrowseForFolder(std::uintptr_t owner, const std::string& prompt) {
    (void)owner, (void)prompt;
    return std::nullopt;
  }
  // Creates a folder and its missing parents.
  virtual void CreateFolder(const std::string& path) { (void)path; }
};

}  // namespace kem
