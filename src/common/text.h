// Small text helpers shared by every subsystem. Texts are single-byte ANSI; letter case is
// folded for ASCII letters and, for the Latin-1 based code pages, for the accented letters
// of the upper half that have a one-byte counterpart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kem {

char FoldUpper(char c) noexcept;
char FoldLower(char c) noexcept;
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b) noexcept;
// Hash that agrees with SameText: equal texts (ignoring case) hash equally.
std::size_t HashTextIgnoreCase(std::string_view s) noexcept;
bool StartsWith(std::string_view s, std::string_view prefix) noexcept;
bool EndsWith(std::string_view s, std::string_view suffix) noexcept;
// Folder paths end with a backslash.
std::string WithTrailingBackslash(std::string_view folder);

}  // namespace kem
