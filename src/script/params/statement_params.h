// Statement parameters and the text operations every statement handler applies to them.
//
// A statement is identified by its index (0-based position in the per-statement lists
// of the setup data). Its parameters are untyped texts in the parameter block of
// ParameterLines: the statement's ID line followed by parameter 1, 2, ...
//
// Calling order inside a handler: GetParam; the context's Translate for a translatable
// text while a language is selected; then the store's Expand (or ExpandPath for a path).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "common/string_list.h"
#include "engine/setup_data.h"
#include "script/store/variable_manager.h"

namespace kem {

// Raw text of parameter n (from 1) of the statement; n = 0 yields the ID line itself.
// A statement without a parameter block reads every parameter as the empty text. A
// position past the end of ParameterLines, a statement index past the end of
// StatementIds or a negative n raises StatementError ("List index out of bounds (p)").
std::string GetParam(const SetupData& data, std::size_t statementIndex, int n);

// Variable expansion (TVariableManager::Expand, the ExpandVars of a statement): replaces
// every reference $NAME$ whose NAME is a defined variable by its value and rescans from
// the start of the inserted value, so references inside values expand too. Undefined
// names stay as written, and the closing "$" of an undefined reference is tried as the
// opening "$" of the next one. Self-referencing values cannot run away: after
// kMaxExpansionReplacements replacements, or once the text would grow past
// kMaxExpandedLength, the rest of the text is left unexpanded.
// TVariableManager::ExpandQuoted (ExpandVarsQuoted) turns each reference to a defined
// variable into a quoted operand for "Evaluate Expression": the value's own expansion
// enclosed in double quotes, with every double quote inside it doubled, so that the
// expression reads back exactly the variable's text. The scan continues after the
// closing quote.

// ExpandVars, then every doubled backslash collapsed to one; a text that began with two
// backslashes (a UNC path) keeps two leading backslashes.
std::string ExpandPath(const TVariableManager& vars, std::string_view text);

// Creates the variable with the upper-cased name and an empty value when no variable of
// that name exists; origin ActionLabel(statementName).
void EnsureResultVariable(TVariableManager& vars, std::string_view name, std::string_view statementName);

// statementName + " Action": the origin label of a handler's writes.
std::string ActionLabel(std::string_view statementName);

// Translation of statement texts: EngineContext::Translate(text, key, k) gives the
// translated form of a text, or the text unchanged. key is the statement ID (GetParam
// with n = 0), or "ZOZADORU$" + name + "$ZOZADORU" for "Localization Variable"; k is the
// 1-based position of the text among the statement's translatable texts.

// Replaces each #NAME# (ignoring case) by the values of the compiler variables (pairs
// name, value, in list order), repeating the pass while the result still holds "#" and
// changed. At most kMaxCompilerVarPasses passes, and a pass that would grow the text past
// kMaxExpandedLength leaves the rest unreplaced.
std::string ExpandCompilerVars(const HashedStringList& compilerVariables, std::string_view text);
inline constexpr int kMaxCompilerVarPasses = 32;

// (head, tail) around the first occurrence of separator; (text, "") when it is absent.
std::pair<std::string, std::string> SplitAt(std::string_view text, std::string_view separator);

// The statement's command header from CommandHeaders. An empty header raises
// StatementError(kNoCommandHeaderMessage) unless allowEmpty (while the switch properties
// of all statements are queued before the first statement runs).
inline constexpr std::string_view kNoCommandHeaderMessage =
    "Unable to obtain command headers. Please rebuild your project.";
std::string CommandHeader(const SetupData& data, std::size_t statementIndex, bool allowEmpty = false);

}  // namespace kem
