#include "dialogs/forms/form_rules.h"

#include "dialogs/forms/form_binary.h"

namespace kem::forms {

namespace {

constexpr std::string_view kThen = ")  THEN  ";
constexpr std::string_view kAssign = " := ";
constexpr std::string_view kEqual = " = ";
constexpr std::string_view kNotEqual = " <> ";

// Cuts the text before the first occurrence of sep out of s; false when sep is missing.
bool Cut(std::string_view& s, std::string_view sep, std::string& out) {
  std::size_t at = s.find(sep);
  if (at == std::string_view::npos) return false;
  out = std::string(s.substr(0, at));
  s.remove_prefix(at + sep.size());
  return true;
}

std::string ResolveValue(const std::string& value, PropertyAccess& access) {
  std::size_t dot = value.find('.');
  if (dot == std::string::npos) return value;
  auto current = access.GetPropertyText(std::string_view(value).substr(0, dot),
                                        std::string_view(value).substr(dot + 1));
  return current ? *current : value;
}

}  // namespace

std::optional<ControlRule> ParseRuleLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.size() <= 4) return std::nullopt;
  std::string_view s = line.substr(4);
  ControlRule r;
  std::size_t then = s.find(kThen);
  if (then == std::string_view::npos) return std::nullopt;
  std::string_view condition = s.substr(0, then);
  std::string_view action = s.substr(then + kThen.size());
  r.notEqual = condition.find(kNotEqual) != std::string_view::npos;
  if (!Cut(condition, ".", r.controlA)) return std::nullopt;
  if (!Cut(condition, r.notEqual ? kNotEqual : kEqual, r.propertyA)) return std::nullopt;
  r.valueA = std::string(condition);
  if (!Cut(action, ".", r.controlB)) return std::nullopt;
  if (!Cut(action, kAssign, r.propertyB)) return std::nullopt;
  std::size_t end = action.rfind(';');
  r.valueB = std::string(end == std::string_view::npos ? action : action.substr(0, end));
  return r;
}

std::vector<ControlRule> ParseRules(std::string_view text) {
  std::vector<ControlRule> rules;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (auto r = ParseRuleLine(line)) rules.push_back(std::move(*r));
    if (end == std::string_view::npos) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return rules;
}

std::vector<ControlRule> LoadRulesFile(const std::string& path) { return ParseRules(ReadFileBytes(path)); }

void ApplyRules(const std::vector<ControlRule>& rules, PropertyAccess& access) {
  for (const auto& rule : rules) {
    std::string valueA = ResolveValue(rule.valueA, access);
    std::string valueB = ResolveValue(rule.valueB, access);
    std::string current = access.GetPropertyText(rule.controlA, rule.propertyA).value_or(std::string());
    bool holds = (current == valueA) != rule.notEqual;
    if (holds) access.SetPropertyText(rule.controlB, rule.propertyB, valueB);
  }
}

std::optional<std::string> ModelPropertyAccess::GetPropertyText(std::string_view control, std::string_view property) {
  auto c = model_.FindComponent(control);
  if (!c) return std::nullopt;
  return c->GetText(property);
}

bool ModelPropertyAccess::SetPropertyText(std::string_view control, std::string_view property, std::string_view text) {
  auto c = model_.FindComponent(control);
  if (!c) return false;
  return c->SetText(property, text);
}

}  // namespace kem::forms
