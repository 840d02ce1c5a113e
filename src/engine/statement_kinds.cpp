#include "engine/statement_kinds.h"

#include <array>
#include <string>
#include <unordered_map>

namespace kem {
namespace {

constexpr StatementKindInfo kKinds[] = {
#define KEM_STATEMENT_KIND_INFO(id, name, group) {StatementKind::id, name, StatementGroup::group},
    KEM_STATEMENT_KINDS(KEM_STATEMENT_KIND_INFO)
#undef KEM_STATEMENT_KIND_INFO
};

// Exact (case-sensitive) name -> kind.
const std::unordered_map<std::string_view, StatementKind>& ByName() {
  static const auto map = [] {
    std::unordered_map<std::string_view, StatementKind> m;
    for (const auto& k : kKinds) m.emplace(k.name, k.kind);
    return m;
  }();
  return map;
}

}  // namespace

std::span<const StatementKindInfo> StatementKinds() noexcept { return kKinds; }

std::optional<StatementKind> FindStatementKind(std::string_view name) {
  const auto& map = ByName();
  auto it = map.find(name);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

StatementKind ResolveStatementKind(std::string_view name) {
  return FindStatementKind(name).value_or(StatementKind::Unknown);
}

std::string_view StatementKindName(StatementKind kind) noexcept {
  if (kind == StatementKind::Unknown) return {};
  return kKinds[static_cast<std::size_t>(kind)].name;
}

StatementGroup StatementKindGroup(StatementKind kind) noexcept {
  if (kind == StatementKind::Unknown) return StatementGroup::PeripheralServices;
  return kKinds[static_cast<std::size_t>(kind)].group;
}

}  // namespace kem
