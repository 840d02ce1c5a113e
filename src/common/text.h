// Text helpers shared by every subsystem. Texts are ANSI texts in a code page.
//
// TextRules carries the letter-case rules of one code page: which bytes lead a
// double-byte character (the byte after one is never folded, compared or split on its
// own) and how the single-byte characters fold. The engine keeps the rules of the
// setup's code page in its context; the free functions below use the rules of code page
// 1252 (ASCII letters and the accented Latin letters of the upper half) and serve the
// builder and texts known to be ASCII.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kem {

class TextRules {
 public:
  // Code page 1252.
  TextRules();
  // The rules of a code page: 1252 and 28591 fold the Latin letters of the upper half;
  // 932, 936, 949 and 950 know their lead bytes and fold ASCII letters only; any other
  // code page folds ASCII letters only (the Windows side can build the full rules with
  // FromTables). Code page 0 means 1252 here.
  static TextRules ForCodePage(std::uint32_t codePage);
  // Rules from complete tables: the upper- and lower-case byte of every single byte, and
  // a non-zero entry for every lead byte.
  static TextRules FromTables(std::uint32_t codePage, const std::array<unsigned char, 256>& upper,
                              const std::array<unsigned char, 256>& lower, const std::array<unsigned char, 256>& lead);

  std::uint32_t CodePage() const noexcept { return codePage_; }
  bool IsLeadByte(char c) const noexcept { return lead_[static_cast<unsigned char>(c)] != 0; }
  bool IsDoubleByte() const noexcept { return doubleByte_; }

  std::string UpperCase(std::string_view s) const;
  std::string LowerCase(std::string_view s) const;
  // Equal without regard to letter case.
  bool SameText(std::string_view a, std::string_view b) const noexcept;
  // Agrees with SameText: equal texts (ignoring case) hash equally.
  std::size_t Hash(std::string_view s) const noexcept;
  // The folded (upper-case) byte of a single-byte character.
  unsigned char FoldByte(unsigned char c) const noexcept { return upper_[c]; }

 private:
  std::string Map(std::string_view s, const std::array<unsigned char, 256>& table) const;

  std::uint32_t codePage_ = 1252;
  bool doubleByte_ = false;
  std::array<unsigned char, 256> upper_{};
  std::array<unsigned char, 256> lower_{};
  std::array<unsigned char, 256> lead_{};
};

// The rules of code page 1252.
const TextRules& Latin1Rules();

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

// Each byte widened to one UTF-16 unit (Latin-1), the conversion used where no code
// page conversion is installed.
std::u16string WidenLatin1(std::string_view s);

// The value of a hexadecimal digit (either letter case), or -1 for any other character.
constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace kem
