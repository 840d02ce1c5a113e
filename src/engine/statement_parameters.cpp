#include "engine/statement_parameters.h"

#include <array>

namespace kem {
namespace {

constexpr unsigned E = kExpanded, T = kTranslated, R = kRequired;

#define KEM_PARAMETER_ROW(position, name, kind, traits) ParameterInfo{ParameterKind::kind, (traits)},
#define KEM_PARAMETER_LIST(id) constexpr ParameterInfo k##id[] = {KEM_PARAMETERS_##id(KEM_PARAMETER_ROW)};
KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_LIST)
#undef KEM_PARAMETER_LIST
#undef KEM_PARAMETER_ROW

constexpr auto kTable = [] {
  std::array<std::span<const ParameterInfo>, kStatementKindCount + 1> t{};
#define KEM_PARAMETER_ENTRY(id) t[static_cast<std::size_t>(StatementKind::id)] = k##id;
  KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_ENTRY)
#undef KEM_PARAMETER_ENTRY
  return t;
}();

}  // namespace

std::span<const ParameterInfo> StatementParameters(StatementKind kind) noexcept {
  const auto i = static_cast<std::size_t>(kind);
  return i < kTable.size() ? kTable[i] : std::span<const ParameterInfo>();
}

}  // namespace kem
