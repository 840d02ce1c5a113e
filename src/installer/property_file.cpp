#include "installer/property_file.h"

#include "common/text.h"
#include "engine/services/system.h"
#include "installer/reserved_names.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

void Record(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += "\r\n";
  out += value;
  out += "\r\n$ex\r\n";
}

// A drive letter with its colon, or a server "\\name".
bool HasDrivePart(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    return true;
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

}  // namespace

PropertyFileText BuildPropertyFile(const PropertyFileSettings& s, const TVariableManager& vars,
                                   const std::function<bool(const std::string&)>& pathExists) {
  PropertyFileText result;
  std::string& out = result.Text;
  Record(out, "SourceDir", s.Patch ? s.SourceFolder : s.DataFolder);
  if (s.Patch)
    Record(out, "SRCDIREX", s.SourceFolder);
  else
    Record(out, "MEDIAPACKAGEPATH", s.MediaFolder);
  const bool removal = s.Removal && !s.Patch;
  for (std::size_t i = 0; i + 1 < s.SessionProperties.size(); i += 2) {
    std::string value = ExpandPath(vars, s.SessionProperties[i + 1]);
    if (removal && HasDrivePart(value) && !(pathExists && pathExists(value))) value = s.DataFolder;
    Record(out, s.SessionProperties[i], value);
  }
  for (std::size_t i = 0; i + 1 < s.Variables.size(); i += 2) {
    const std::string& name = s.Variables[i];
    const std::string& raw = s.Variables[i + 1];
    if (SameText(name, "SILENT")) result.Silent = UpperCase(raw) == "TRUE";
    if (SameText(name, "TITLE")) result.Title = raw;
    if (IsReservedName(name)) continue;
    Record(out, name, ExpandPath(vars, raw));
  }
  return result;
}

PropertyFile::PropertyFile(SystemService& system, const std::string& text)
    : system_(system), path_(system.CreatePrivateFile(text)) {}

PropertyFile::~PropertyFile() {
  if (!path_.empty()) system_.RemovePrivateFile(path_);
}

bool IsSecretVariableName(std::string_view name) {
  const std::string upper = UpperCase(name);
  for (std::string_view mark : {"PASSWORD", "PASSWD", "PWD", "SECRET", "TOKEN", "CREDENTIAL"})
    if (upper.find(mark) != std::string::npos) return true;
  return false;
}

StringList MaskSecretValues(const StringList& pairs) {
  StringList out = pairs;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2)
    if (IsSecretVariableName(out[i])) out[i + 1] = "********";
  return out;
}

}  // namespace kem
