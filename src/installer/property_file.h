// The property file: every script variable (but the reserved names) and every recorded
// switch and parameter property, written for the installer database's own actions just
// before a session and removed when it ends.
//
// Layout: ANSI text, CR LF lines, a sequence of records. A record is a name line, the
// value's lines (a value with line breaks takes several) and a line "$ex". In order:
// "SourceDir" (the data folder; for a patch the source folder), "MEDIAPACKAGEPATH" with
// the media folder (for a patch "SRCDIREX" with the source folder), the session
// properties in the order they were recorded, the variables in the store's order. Values
// are written after ExpandPath, so "$NEWLINE$" becomes a line break.
//
// The file holds whatever a dialog collected, passwords included. It therefore lives in
// a folder of its own that only the current user can open, under a name nobody can
// predict; the database learns the path from the Property row kPropertyFileProperty. It
// is removed when the session ends, also when the session fails. Its values never reach
// the trace log; see IsSecretVariableName for what the log leaves out elsewhere.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/string_list.h"

namespace kem {

class SystemService;
class TVariableManager;
struct InstallerState;

// The Property row that names the property file for the database's actions.
inline constexpr std::string_view kPropertyFileProperty = "VRAXPROPERTYFILE";

struct PropertyFileSettings {
  bool Removal = false;
  bool Patch = false;
  std::string DataFolder;
  std::string MediaFolder;
  std::string SourceFolder;
  // Pairs name, value: the session properties and the variables (the store's dump).
  StringList SessionProperties;
  StringList Variables;
};

struct PropertyFileText {
  std::string Text;
  // Read from the variables for the installer's message boxes: SILENT ("TRUE" in any
  // letter case) and TITLE (as stored).
  bool Silent = false;
  std::string Title;
};

// The file's text. Values expand against vars. During a removal (not a patch) a session
// property value that names a drive or a server but neither an existing file nor an
// existing folder (pathExists) is replaced by the data folder.
PropertyFileText BuildPropertyFile(const PropertyFileSettings& settings, const TVariableManager& vars,
                                   const std::function<bool(const std::string&)>& pathExists);

// The file on disk for the length of a session: created private by the constructor,
// removed by the destructor.
class PropertyFile {
 public:
  PropertyFile(SystemService& system, const std::string& text);
  ~PropertyFile();
  PropertyFile(const PropertyFile&) = delete;
  PropertyFile& operator=(const PropertyFile&) = delete;
  // Empty when the file could not be created.
  const std::string& Path() const { return path_; }

 private:
  SystemService& system_;
  std::string path_;
};

// Whether a variable's value must stay out of the trace log: its name (upper-cased)
// contains PASSWORD, PASSWD, PWD, SECRET, TOKEN or CREDENTIAL.
bool IsSecretVariableName(std::string_view name);
// Pairs name, value with the value of every secret name replaced by "********".
StringList MaskSecretValues(const StringList& pairs);

}  // namespace kem
