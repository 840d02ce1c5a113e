// The parameters of each statement kind as the engine runs with them: their order, their
// kind and how the engine reads and checks them. The lists themselves are in
// statement_parameter_lists.h; from them come
// - the named positions: param::<Kind>::<Position> (1-based; Id is the statement's ID line),
//   which every handler reads its parameters by;
// - the traits per parameter (StatementParameters), which the validation pass, the verbose
//   trace and the builder's checks read;
// - the builder's statement reference, which adds its descriptions and readable
//   enumeration names to the same lists (tools/kembuild/statement_reference.h).
#pragma once

#include <cstddef>
#include <span>

#include "engine/statement_kinds.h"
#include "engine/statement_parameter_lists.h"

namespace kem {

enum class ParameterKind {
  Text,            // free text
  Path,            // a file or folder path
  Integer,         // a decimal integer
  Enumeration,     // one of a list of codes (a readable name may be written instead)
  Flag,            // TRUE or FALSE (the engine's truth test: "TRUE" in any case, or "-1")
  VariableName,    // names a variable that the statement reads (NAME or $NAME$)
  ResultVariable,  // names the variable that receives the result (NAME or $NAME$); declared
                   // by the validation pass
};

// How the engine reads and checks a parameter.
enum ParameterTrait : unsigned {
  kRaw = 0,
  kExpanded = 1u << 0,    // $NAME$ references are replaced (paths: also doubled backslashes)
  kTranslated = 1u << 1,  // looked up in the translations while a language is selected
  kRequired = 1u << 2,    // the builder refuses the statement when it is missing or empty
  // The validation pass before a run refuses the script when the parameter is empty, with
  // "Variable required", "Dialog name not specified" or the "Install Files" target message.
  kNeedsVariable = 1u << 3,
  kNeedsDialogName = 1u << 4,
  kNeedsTargetFolder = 1u << 5,
  // The validation pass: a variable of exactly this name must be declared before.
  kMustExist = 1u << 6,
  // The validation pass, when the parameter is given: the variable it refers to ($NAME$, and
  // for a variable name also NAME) must be declared before.
  kDefinedReference = 1u << 7,
  // The validation pass: an expression whose syntax must hold.
  kExpression = 1u << 8,
  // A result variable that may carry the persistence marker: NAME$VRAX$VRAX$TRUE.
  kPersistable = 1u << 9,
  // The flag that an enumeration value compiled with negation sets ("<>" of "If").
  kNegation = 1u << 10,
};

struct ParameterInfo {
  ParameterKind kind = ParameterKind::Text;
  unsigned traits = kRaw;
};

// The parameters of a kind, in order (empty for the kinds without parameters and Unknown).
std::span<const ParameterInfo> StatementParameters(StatementKind kind) noexcept;

// The named parameter positions: param::ExtractPath::Part is 2, param::ExtractPath::kCount 2.
namespace param {
// Position 0 of every statement is its ID line (the key of its translations).
inline constexpr int Id = 0;
#define KEM_PARAMETER_POSITION(position, name, kind, traits) position,
#define KEM_PARAMETER_POSITIONS(id)                                                  \
  namespace id {                                                                     \
  enum Position : int { Id, KEM_PARAMETERS_##id(KEM_PARAMETER_POSITION) kPastLast }; \
  inline constexpr int kCount = kPastLast - 1;                                       \
  }
KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_POSITIONS)
#undef KEM_PARAMETER_POSITIONS
#undef KEM_PARAMETER_POSITION

// A plug-in statement (a name the setup data lists among its plug-in statements): the text
// handed to the plug-in, and the library's path.
namespace PluginStatement {
enum Position : int { Id, Parameter, Library };
}
}  // namespace param

// The number of parameters of a kind, known at compile time.
constexpr int ParameterCount(StatementKind kind) noexcept {
  switch (kind) {
#define KEM_PARAMETER_COUNT(id) \
  case StatementKind::id: return param::id::kCount;
    KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_COUNT)
#undef KEM_PARAMETER_COUNT
    default: return 0;
  }
}

}  // namespace kem
