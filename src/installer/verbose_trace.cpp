#include "installer/verbose_trace.h"

#include <utility>

#include "engine/statement_parameters.h"
#include "installer/property_file.h"
#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"

namespace kem {

std::string VerboseStatementLine(Interpreter& in, std::size_t i) {
  const SetupData& data = in.Data();
  std::string line = "      ";
  // "path*line" per statement, when the builder kept the source.
  if (i < data.SourceMap.Count()) {
    const std::string& place = data.SourceMap[i];
    const auto star = place.find_last_of('*');
    if (star != std::string::npos) line += place.substr(0, star) + ":" + place.substr(star + 1) + " ";
  }
  line += "Statement " + std::to_string(i) + " " + data.StatementNames[i];
  const std::span<const ParameterInfo> parameters = StatementParameters(data.Kinds[i]);
  for (std::size_t n = 0; n < parameters.size(); ++n) {
    if (parameters[n].kind != ParameterKind::ResultVariable) continue;
    std::string name = in.Param(i, static_cast<int>(n + 1));
    // A persistent assignment carries its marker after the name.
    const auto marker = name.find("$VRAX$");
    if (marker != std::string::npos && marker > 0 && name.front() != '$') name.erase(marker);
    name = VarNameOrText(name);
    if (name.empty()) continue;
    std::string value;
    if (!in.Vars().TryGet(name, value)) continue;
    if (IsSecretVariableName(name)) value = "********";
    line += " | " + name + " = " + value;
  }
  return line;
}

namespace {

class VerboseTracePhases : public RunParticipant {
 public:
  void AfterStatement(Interpreter& in, std::size_t i) override { in.Context().Trace(VerboseStatementLine(in, i)); }
};

}  // namespace

void AddVerboseTraceHooks(InterpreterHooks& hooks) { hooks.Phases.Add(std::make_shared<VerboseTracePhases>()); }

}  // namespace kem
