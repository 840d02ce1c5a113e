#include "installer/properties.h"

#include "common/text.h"
#include "engine/engine_context.h"
#include "script/params/statement_params.h"

namespace kem {

std::string LineBreaksToMarker(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "$NEWLINE$";
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void QueuePropertyRow(InstallerState& state, std::string_view name, std::string_view value) {
  PendingPropertyRows& rows = state.Pending;
  rows.Created = true;
  rows.Names.emplace_back(name);
  rows.Values.push_back(LineBreaksToMarker(value));
}

void RecordSessionProperty(InstallerState& state, std::string_view text) {
  state.SessionProperties.push_back(LineBreaksToMarker(text));
}

void RecordProperty(InstallerState& state, std::string_view name, std::string_view value) {
  QueuePropertyRow(state, name, value);
  RecordSessionProperty(state, name);
  RecordSessionProperty(state, value);
}

std::string SwitchProperty(std::string_view header) { return "A" + std::string(header); }

std::string ParameterProperty(std::string_view header, int n) {
  return "P" + std::string(header) + "_" + std::to_string(n);
}

void QueueAllSwitchesOff(EngineContext& ctx) {
  const SetupData& data = ctx.Data;
  for (std::size_t i = 0; i < data.StatementCount(); ++i) {
    std::string header = CommandHeader(data, i, true);
    if (!header.empty()) RecordProperty(ctx.State.Installer, SwitchProperty(header), "FALSE");
  }
}

}  // namespace kem
