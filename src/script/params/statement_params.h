// Statement parameters and the text operations every statement handler applies to them.
//
// A statement is identified by its index (0-based position in the per-statement lists
// of the setup data). Its parameters are untyped texts in the parameter block of
// ParameterLines: the statement's ID line followed by parameter 1, 2, ...
//
// Calling order inside a handler: GetParam; TranslateParam for a translatable text while
// a language is selected; then ExpandVars (or ExpandPath for a path).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "common/string_list.h"
#include "launcher/setup_data.h"

namespace kem {

// The setup data of the current run, which GetParam, CommandHeader and
// ExpandCompilerVars read. The interpreter points it at the run's data before the first
// statement and clears it (nullptr) when the run ends. Not owned.
void SetScriptData(const SetupData* data);
const SetupData* ScriptData();

// Sets the run's setup data for the lifetime of the scope, restoring the previous one.
class ScriptDataScope {
 public:
  explicit ScriptDataScope(const SetupData& data);
  ~ScriptDataScope();
  ScriptDataScope(const ScriptDataScope&) = delete;
  ScriptDataScope& operator=(const ScriptDataScope&) = delete;

 private:
  const SetupData* previous_;
};

// Raw text of parameter n (from 1) of the statement; n = 0 yields the ID line itself.
// A statement without a parameter block reads every parameter as the empty text. A
// position past the end of ParameterLines, a statement index past the end of
// StatementIds or a negative n raises StatementError ("List index out of bounds (p)").
// Raises std::logic_error when no setup data is set.
std::string GetParam(std::size_t statementIndex, int n);
std::string GetParam(const SetupData& data, std::size_t statementIndex, int n);

// Replaces every reference $NAME$ whose NAME is a defined variable by its value and
// rescans from the start of the inserted value, so references inside values expand too.
// Undefined names stay as written, and the closing "$" of an undefined reference is tried
// as the opening "$" of the next one. Self-referencing values cannot run away: after
// kMaxExpansionReplacements replacements, or once the text would grow past
// kMaxExpandedLength, the rest of the text is left unexpanded.
std::string ExpandVars(std::string_view text);
// As ExpandVars, but each reference to a defined variable becomes a quoted operand for
// "Evaluate Expression": the value's own expansion (ExpandVars) enclosed in double quotes,
// with every double quote inside it doubled, so that the expression reads back exactly
// the variable's text. The scan continues after the closing quote.
std::string ExpandVarsQuoted(std::string_view text);

inline constexpr std::size_t kMaxExpansionReplacements = 10000;
inline constexpr std::size_t kMaxExpandedLength = 32u * 1024u * 1024u;

// ExpandVars, then every doubled backslash collapsed to one; a text that began with two
// backslashes (a UNC path) keeps two leading backslashes.
std::string ExpandPath(std::string_view text);

// NAME when text is exactly $NAME$ with a non-empty NAME free of "$"; else the empty text.
std::string VarNameOf(std::string_view text);
// VarNameOf(text) when not empty, otherwise text itself: the variable a name parameter
// designates ($RESULT$ and RESULT name the same variable).
std::string VarNameOrText(std::string_view text);

// Creates the variable with the upper-cased name and an empty value when no variable of
// that name exists; origin ActionLabel(statementName).
void EnsureResultVariable(std::string_view name, std::string_view statementName);

// statementName + " Action": the origin label of a handler's writes.
std::string ActionLabel(std::string_view statementName);

// The translated form of a statement text, or the text unchanged. key is the statement
// ID (GetParam with n = 0), or "ZOZADORU$" + name + "$ZOZADORU" for
// "Localization Variable"; k is the 1-based position of the text among the statement's
// translatable texts. The translations module installs the look-up with
// SetTranslateHook; without a hook the text comes back unchanged.
std::string TranslateParam(std::string_view text, std::string_view key, int k);
using TranslateHook = std::string (*)(std::string_view text, std::string_view key, int k);
void SetTranslateHook(TranslateHook hook);

// Replaces each #NAME# (ignoring case) by the values of the compiler variables (pairs
// name, value, in list order), repeating the pass while the result still holds "#" and
// changed. At most kMaxCompilerVarPasses passes, and a pass that would grow the text past
// kMaxExpandedLength leaves the rest unreplaced.
std::string ExpandCompilerVars(std::string_view text);
std::string ExpandCompilerVars(const HashedStringList& compilerVariables, std::string_view text);
inline constexpr int kMaxCompilerVarPasses = 32;

// (head, tail) around the first occurrence of separator; (text, "") when it is absent.
std::pair<std::string, std::string> SplitAt(std::string_view text, std::string_view separator);

// The statement's command header from CommandHeaders. An empty header raises
// StatementError(kNoCommandHeaderMessage) unless allowEmpty (while the switch properties
// of all statements are queued before the first statement runs).
inline constexpr std::string_view kNoCommandHeaderMessage =
    "Unable to obtain command headers. Please rebuild your project.";
std::string CommandHeader(std::size_t statementIndex, bool allowEmpty = false);
std::string CommandHeader(const SetupData& data, std::size_t statementIndex, bool allowEmpty = false);

}  // namespace kem
