// The builder's statement reference: each statement kind's parameters as the engine lists
// them (engine/statement_parameters.h), with the descriptions, the readable names of
// enumeration codes and the integer ranges that the builder checks scripts against,
// compiles readable names with, and prints as the statement reference (docs/statements.md,
// "kembuild statements").
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/statement_parameters.h"

namespace kem::builder {

struct EnumerationValue {
  std::string_view code;  // what the engine reads
  std::string_view name;  // the readable name a script may write instead
  std::string_view meaning;
  // Compiles to the code with the statement's negation flag set ("<>" of "If").
  bool negated = false;
};

struct ParameterReference {
  std::string_view name;
  std::string_view meaning;
  ParameterKind kind = ParameterKind::Text;
  unsigned traits = kRaw;
  std::span<const EnumerationValue> values = {};
  // For integers: the accepted range, when the engine defines one.
  std::optional<long long> minimum = std::nullopt, maximum = std::nullopt;
};

struct StatementReference {
  StatementKind kind = StatementKind::Unknown;
  std::string_view summary;
  // False when the parameters are not described here: nothing about them is checked.
  bool described = false;
  std::vector<ParameterReference> parameters;
  // The parameter that an enumeration value with negated set turns on (1-based; 0: none).
  std::size_t negationParameter = 0;
  // False for the kinds this engine knows by name but does not carry out: such a statement
  // does nothing when it runs.
  bool carriedOut = true;
};

// The reference of a kind (Unknown: an empty, undescribed entry).
const StatementReference& StatementReferenceOf(StatementKind kind);

std::string_view ParameterKindName(ParameterKind kind) noexcept;

// The statement kind whose name equals name without regard to case; nullopt for none.
std::optional<StatementKind> FindStatementKindIgnoringCase(std::string_view name);

// The known name closest to name (an edit distance of at most a third of its length, at
// least 2), or empty.
std::string ClosestName(std::string_view name, const std::vector<std::string_view>& candidates);

// The whole reference as Markdown (docs/statements.md), or one statement's part.
std::string StatementReferenceMarkdown();
std::string StatementReferenceText(StatementKind kind);

}  // namespace kem::builder
