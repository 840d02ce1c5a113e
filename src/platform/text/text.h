// Text conversions on Windows: the one place where ANSI texts become UTF-16 and back, and
// where the letter-case rules of a code page are read from the system. Free of <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"

namespace kem::platform {

// The process's ANSI code page.
std::uint32_t AnsiCodePage();

// ANSI text of the code page (0: the process's ANSI code page) to UTF-16 and back. The
// reverse conversion replaces characters the code page cannot hold by "?".
std::u16string AnsiToUtf16(std::string_view text, std::uint32_t codePage = 0);
std::string Utf16ToAnsi(std::u16string_view text, std::uint32_t codePage = 0);

// Whether every character of text has a form in the code page (0: the process's ANSI
// code page), without best-fit substitutes. UTF-8 and UTF-7 hold everything.
bool CodePageHolds(std::u16string_view text, std::uint32_t codePage);

// The letter-case rules of the code page as the system knows them: its lead bytes and
// the case of every single-byte character (0: the process's ANSI code page). A code page
// the system does not have gets the portable rules.
TextRules SystemTextRules(std::uint32_t codePage = 0);

}  // namespace kem::platform
