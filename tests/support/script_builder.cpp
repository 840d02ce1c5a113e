#include "support/script_builder.h"

#include <cstdio>

namespace kem::test {

ScriptBuilder::ScriptBuilder() {
  data_.ProductCode = "{6C2F1B36-3B5C-4F1E-9A4B-2D5F0A1C7E01}";
  data_.RevisionCode = "{A1B2C3D4-1111-2222-3333-444455556666}";
  data_.ProductTitle = "Test Product";
  data_.CompiledTitle = data_.ProductTitle;
  data_.CompanyName = "Test Company";
  data_.ProductVersion = "1.0.0";
  data_.DefaultLanguage = "English";
  data_.CodePage = 1252;
}

std::string ScriptBuilder::IdOf(std::size_t index) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "{00000000-0000-0000-0000-%012zX}", index + 1);
  return buf;
}

std::size_t ScriptBuilder::Add(const std::string& name, const std::vector<std::string>& params, bool commentedOut) {
  const std::size_t index = data_.StatementNames.Count();
  const std::string id = IdOf(index);
  data_.StatementNames.Add(name);
  data_.StatementIds.Add(id);
  data_.CommentFlags.Add(commentedOut ? "C" : "");
  data_.StatementMedia.Add("");
  data_.SourceMap.Add("C:\\Projects\\Test\\setup.kem*" + std::to_string(index));
  if (!params.empty()) {
    data_.ParameterLines.Add(id);
    for (const auto& p : params) data_.ParameterLines.Add(p);
  }
  return index;
}

SetupData ScriptBuilder::Build() const { return ReadSetupData(WriteSetupData(data_)); }

}  // namespace kem::test
