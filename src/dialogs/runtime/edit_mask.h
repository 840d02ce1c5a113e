// The input masks of masked edits ("EditMask"): "!>LL-0000;1;_" is the mask, whether the
// literals are part of the value (1) or not (0), and the character shown in an empty
// position. Mask characters: L letter, l optional letter, A letter or digit, a optional,
// C any character, c optional, 0 digit, 9 optional digit, # optional digit or sign; >
// upper-cases and < lower-cases what follows, <> stops that, \ makes the next character a
// literal, ! is accepted and ignored; every other character is a literal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kem::dialogs {

struct MaskSlot {
  enum class Kind { Literal, Letter, Alphanumeric, Any, Digit, DigitOrSign };
  Kind kind = Kind::Literal;
  bool required = false;
  char literal = 0;
  int letterCase = 0;  // 1 upper, 2 lower
};

struct EditMask {
  std::vector<MaskSlot> slots;
  bool saveLiterals = true;
  char blank = '_';
  bool Empty() const { return slots.empty(); }
};

EditMask ParseEditMask(std::string_view text);

// The text the edit shows: the characters of typed that fit, in order, each in the next
// position that takes it (literals where the mask has them, the blank where nothing is
// left). Characters that fit no position are dropped. typed may be a shown text again.
std::string FormatMasked(const EditMask& mask, std::string_view typed);
// The value of a shown text: without the literals unless the mask keeps them, empty
// positions as blanks, trailing blanks removed.
std::string MaskedValue(const EditMask& mask, std::string_view shown);
// Where the caret goes in a shown text: at its first empty position, else at its end.
std::size_t MaskCaret(const EditMask& mask, std::string_view shown);
// Whether a caret stands after the mask's last position (the field is filled up).
bool CaretAfterMask(const EditMask& mask, std::size_t caret);

}  // namespace kem::dialogs
