#include "script/interpreter/engine_state.h"

#include <algorithm>

#include "common/text.h"

namespace kem {

EngineState& Engine() {
  static EngineState state;
  return state;
}

void AddSavedVariable(const std::string& name) {
  auto& list = Engine().SavedVariables;
  if (std::none_of(list.begin(), list.end(), [&](const std::string& s) { return SameText(s, name); }))
    list.push_back(name);
}

}  // namespace kem
