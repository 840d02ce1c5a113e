// Windows language identifiers and the language names the translation files are named by.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kem {

// The name of a language identifier in the engine's table ("German" for 1031); empty for
// an identifier the table lacks.
std::string TableLanguageName(int id);
// The identifier of a name in the table (compared without regard to case); 1033 for a
// name the table lacks.
int TableLanguageId(std::string_view name);

// The system's English name of a language identifier (empty when it has none).
using EnglishLanguageNameLookup = std::function<std::string(int id)>;

// The language name of an identifier: the table's name; for an identifier the table lacks,
// the system's English name of it mapped through the table (names the table lacks give
// 1033); "English" as the last resort.
std::string LanguageNameOf(int id, const EnglishLanguageNameLookup& englishName);

// A locale number as the system answers it: hexadecimal digits ("0407"); 0 when the text
// is empty or not hexadecimal.
int LocaleNumber(std::string_view hexText);

}  // namespace kem
