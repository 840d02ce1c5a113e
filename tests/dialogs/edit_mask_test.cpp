#include "dialogs/runtime/edit_mask.h"

#include <gtest/gtest.h>

namespace kem::dialogs {
namespace {

TEST(EditMask, TypedTextFillsTheMaskAndTheValueDropsWhatTheMaskAdds) {
  struct Case {
    const char* mask;
    const char* typed;
    const char* shown;
    const char* value;
  } cases[] = {
      {"!>LL-0000;1;_", "ab1234", "AB-1234", "AB-1234"},
      {"!>LL-0000;0;_", "ab1234", "AB-1234", "AB1234"},
      {"!>LL-0000;1;_", "a", "A_-____", "A -"},              // unfilled positions are blanks
      {"!>LL-0000;1;_", "AB-12x34", "AB-1234", "AB-1234"},  // a shown text again; x fits nowhere
      {"!>LL-0000;1;_", "AB-1234567", "AB-1234", "AB-1234"},  // beyond the mask: dropped
      {"00/00/0000;1;*", "24121999", "24/12/1999", "24/12/1999"},
      {"(999) 000-0000;0;_", "0301 5550123", "(030) 155-5012", "0301555012"},
      {"<LLLL>ll;1; ", "ABCDEF", "abcdEF", "abcdEF"},
      {"\\A\\;00;1;_", "7", "A;7_", "A;7"},                 // escaped literals, also ';'
      {"#99;1;_", "-42", "-42", "-42"},
      {"cc;1;_", "\xE9t\xE9", "\xE9t", "\xE9t"},
      {"", "free text", "free text", "free text"},          // no mask: as typed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mask) + " <- " + c.typed);
    const EditMask mask = ParseEditMask(c.mask);
    const std::string shown = FormatMasked(mask, c.typed);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(MaskedValue(mask, shown), c.value);
    // Formatting what is shown changes nothing.
    EXPECT_EQ(FormatMasked(mask, shown), shown);
  }
}

TEST(EditMask, TheCaretGoesToTheFirstEmptyPositionAndAdvancesOnlyPastAMask) {
  const EditMask mask = ParseEditMask(">LL-0000;1;_");
  EXPECT_EQ(MaskCaret(mask, FormatMasked(mask, "ab1")), 4u);
  EXPECT_EQ(MaskCaret(mask, FormatMasked(mask, "ab1234")), 7u);
  EXPECT_FALSE(CaretAfterMask(mask, 6));
  EXPECT_TRUE(CaretAfterMask(mask, 7));
  // Without a mask there is no end to reach: typing never moves the focus away.
  EXPECT_FALSE(CaretAfterMask(ParseEditMask(""), 0));
  EXPECT_FALSE(CaretAfterMask(ParseEditMask(""), 50));
}

}  // namespace
}  // namespace kem::dialogs
