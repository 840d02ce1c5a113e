// The validation pass that runs before a script: block balance, labels, required
// parameters, variable references, expression syntax and the contents of wizard loops,
// statement by statement in script order, stopping at the first problem.
//
// The pass declares the variables a script defines before it uses them in a symbol table
// of its own (the predefined variables first); the store a script runs with is never
// touched. The builder calls the same function to reject a script before it is packaged.
// Statements are told apart by their resolved kinds (SetupData::Kinds; resolved here
// when the data carries none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/setup_data.h"

namespace kem {

struct ValidationFailure {
  // The offending statement's index, or kScriptAsAWhole when the problem concerns the
  // script as a whole (END balance).
  std::size_t statementIndex;
  std::string message;
};

inline constexpr std::size_t kScriptAsAWhole = 2147483644u;
inline constexpr std::string_view kValidationSuccessMessage = "Script compiled successfully";

// Messages of the pass.
inline constexpr std::string_view kNestedLabelMessage =
    "LABEL statements cannot be nested inside loops/conditionals";
inline constexpr std::string_view kTooFewEndsMessage = "Insufficient END statements";
inline constexpr std::string_view kTooManyEndsMessage = "Too many END statements";
inline constexpr std::string_view kLabelRedefinedMessage = "LABEL re-defined: ";
inline constexpr std::string_view kLabelUndefinedMessage = "LABEL undefined: ";
inline constexpr std::string_view kVariableNotDefinedMessage = "Variable not defined: ";
inline constexpr std::string_view kVariableRequiredMessage = "Variable required";
inline constexpr std::string_view kWebBlockNameMessage = "Web Media Block name must be a legal file name";
inline constexpr std::string_view kWebBlockUrlMessage = "Web Media Block must have at least one download URL";
inline constexpr std::string_view kDeleteModeMessage = "At least one delete mode must be selected";
inline constexpr std::string_view kInstallFilesTargetMessage =
    "A target folder must be specified for files that are being installed.\r"
    "The value $TARGETDIR$ represents the destination folder chosen by the user.";
inline constexpr std::string_view kExpressionSyntaxMessage =
    "Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax.";
inline constexpr std::string_view kDialogNameMessage = "Dialog name not specified";
inline constexpr std::string_view kWizardLoopContentMessage =
    "Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP";

// Runs the pass over the statement lists of the setup data. nullopt when the script is
// sound. Parameters are read raw: no expansion, no translation; a parameter missing from
// the parameter lines reads as the empty text.
std::optional<ValidationFailure> ValidateScript(const SetupData& data);

// The same, also returning the label names the pass collected (upper-cased, script order).
// parameterBlocks, when given, holds for every statement the position of its ID line in
// ParameterLines (HashedStringList::npos for none), as the caller looked them up already.
std::optional<ValidationFailure> ValidateScript(const SetupData& data, std::vector<std::string>& labels,
                                                const std::vector<std::ptrdiff_t>* parameterBlocks = nullptr);

// The variables the pass declares before it looks at any statement: the engine's
// predefined variables.
std::span<const std::string_view> PredeclaredVariables() noexcept;

// Whether the file-name part of text (after the last backslash or colon) holds none of
// / * ? " < > |. The empty text is legal.
bool IsLegalFileName(std::string_view text) noexcept;

}  // namespace kem
