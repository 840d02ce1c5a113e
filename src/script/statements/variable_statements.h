// The variable and string statements: assignment, translated assignment, environment and
// temporary-file queries, path and case conversion, search and replace, path extraction,
// splitting, integer arithmetic and boolean expressions. They run at once on the main
// thread and write their results into variables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/text.h"

namespace kem {

class StatementTable;

// Adds "Set Variable", "Localization Variable", "Get Environment", "Get Temporary File",
// "Convert Path", "Convert Case", "Replace String", "Extract Path", "Parse String",
// "Mathematics" and "Evaluate Expression".
void RegisterVariableStatements(StatementTable& table);

// The text operations behind the statements, exposed for reuse and tests.

// Replaces find in value: the first occurrence, or every one; case-sensitive unless
// ignoreCase (by the code page's rules). An empty find leaves the value unchanged.
std::string ReplaceText(const TextRules& text, std::string_view value, std::string_view find,
                        std::string_view replacement, bool ignoreCase, bool all);

// The part of a path selected by code 0 to 6 (file name, name without extension,
// extension, folder, parent folder, drive, doubled backslashes collapsed); any other code
// returns the path unchanged.
std::string ExtractPathPart(std::string_view path, std::int32_t code);

// Splits source by mode 0 to 3 at separatorOrCount (see "Parse String"); ignoreCase makes
// the search of modes 0 and 1 case-insensitive; trim strips blanks and control characters
// from both parts.
std::pair<std::string, std::string> ParseText(const TextRules& text, std::string_view source,
                                              std::string_view separatorOrCount, std::int32_t mode, bool trim,
                                              bool ignoreCase);

}  // namespace kem
