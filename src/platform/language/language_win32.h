// The Win32 half of the languages: the user's locale, the support folder's translation
// files and the language selection window.
#pragma once

#include <memory>
#include <string>

#include "script/language/language_hooks.h"

namespace kem::platform {

// The language name of the user default locale's language (LOCALE_ILANGUAGE), for the
// message table.
std::string UserLanguageName();

std::shared_ptr<LanguageService> CreateLanguageService();

}  // namespace kem::platform
