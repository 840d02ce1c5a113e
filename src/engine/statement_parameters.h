// The parameters of each statement kind: their order, meaning and kind, whether the engine
// expands or translates them, and the codes of enumerations with their readable names.
// The builder checks scripts against it and compiles readable names to codes, validation
// reads it, and the statement reference (docs/statements.md, "kembuild statements") is
// generated from it. Statement names come from the statement-kind table only.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/statement_kinds.h"

namespace kem {

enum class ParameterKind {
  Text,            // free text
  Path,            // a file or folder path
  Integer,         // a decimal integer
  Enumeration,     // one of a list of codes (a readable name may be written instead)
  Flag,            // TRUE or FALSE (the engine's truth test: "TRUE" in any case, or "-1")
  VariableName,    // names a variable that the statement reads (NAME or $NAME$)
  ResultVariable,  // names the variable that receives the result (NAME or $NAME$)
};

// How the engine reads a parameter.
enum ParameterTrait : unsigned {
  kRaw = 0,
  kExpanded = 1u << 0,    // $NAME$ references are replaced (paths: also doubled backslashes)
  kTranslated = 1u << 1,  // looked up in the translations while a language is selected
  kRequired = 1u << 2,    // must be written and not empty
};

struct EnumerationValue {
  std::string_view code;     // what the engine reads
  std::string_view name;     // the readable name a script may write instead
  std::string_view meaning;
  // Compiles to the code with the statement's negation flag set ("<>" of "If").
  bool negated = false;
};

struct ParameterInfo {
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
  std::span<const ParameterInfo> parameters = {};
  // For "If" and "Else If": the parameter that an enumeration value with negated set turns on.
  std::size_t negationParameter = 0;  // 1-based; 0: none
  // False for the kinds this engine knows by name but does not carry out: such a statement
  // does nothing when it runs.
  bool carriedOut = true;
};

// The reference of a kind (Unknown: an empty, undescribed entry).
const StatementReference& StatementParameters(StatementKind kind) noexcept;

std::string_view ParameterKindName(ParameterKind kind) noexcept;

// The statement kind whose name equals name without regard to case; nullopt for none.
std::optional<StatementKind> FindStatementKindIgnoringCase(std::string_view name);

// The known name closest to name (an edit distance of at most a third of its length, at
// least 2), or empty.
std::string ClosestName(std::string_view name, const std::vector<std::string_view>& candidates);

// The whole reference as Markdown (docs/statements.md), or one statement's part.
std::string StatementReferenceMarkdown();
std::string StatementReferenceText(StatementKind kind);

}  // namespace kem
