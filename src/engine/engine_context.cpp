#include "engine/engine_context.h"

namespace kem {

EngineContext::EngineContext() = default;

void EngineContext::SetTextRules(TextRules rules) {
  text_ = std::move(rules);
  Vars.SetTextRules(text_);
}

std::string EngineContext::Translate(std::string_view text, std::string_view key, int k) const {
  if (!translate_) return std::string(text);
  return translate_(text, key, k);
}

}  // namespace kem
