// Letter case by the rules of a code page: double-byte characters are never folded,
// split or merged; the variable store follows the rules it is given.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

// Code page 932 texts as bytes. The second byte of each character is an ASCII letter, a
// backslash or a byte that code page 1252 would fold.
const std::string kA = "\x83\x41";     // katakana A: trail byte "A"
const std::string kSmallYa = "\x83\x61";  // katakana small YA: trail byte "a"
const std::string kSo = "\x83\x5C";    // katakana SO: trail byte "\"
const std::string kHyou = "\x95\x5C";  // kanji "table": trail byte "\"
const std::string kLeadS = "\x8A\x41";  // lead byte that 1252 reads as S with caron
const std::string kHalfNa = "\xC5";     // half-width katakana NA: a single byte 1252 folds

TEST(TextRules, DoubleByteCharactersKeepEveryByte) {
  const TextRules sjis = TextRules::ForCodePage(932);
  ASSERT_TRUE(sjis.IsDoubleByte());
  struct Case {
    std::string text, lower, upper;
  };
  const Case cases[] = {
      {"C:\\" + kSo + "Log.TXT", "c:\\" + kSo + "log.txt", "C:\\" + kSo + "LOG.TXT"},
      {kA + kSmallYa, kA + kSmallYa, kA + kSmallYa},
      {kLeadS + "x", kLeadS + "x", kLeadS + "X"},
      {kHalfNa + "Ab", kHalfNa + "ab", kHalfNa + "AB"},
      {kHyou + "\\a", kHyou + "\\a", kHyou + "\\A"},
      {"\x83", "\x83", "\x83"},  // a lead byte at the end stays
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sjis.LowerCase(c.text), c.lower);
    EXPECT_EQ(sjis.UpperCase(c.text), c.upper);
  }
  // The same texts under code page 1252 rules change bytes inside the characters.
  EXPECT_NE(Latin1Rules().LowerCase(kA), kA);
  EXPECT_NE(Latin1Rules().LowerCase(kLeadS), kLeadS);
  EXPECT_NE(Latin1Rules().LowerCase(kHalfNa), kHalfNa);

  EXPECT_TRUE(sjis.SameText("abc" + kA, "ABC" + kA));
  EXPECT_FALSE(sjis.SameText(kA, kSmallYa));
  EXPECT_TRUE(Latin1Rules().SameText(kA, kSmallYa));  // what the double-byte rules prevent
  EXPECT_EQ(sjis.Hash("name" + kA), sjis.Hash("NAME" + kA));
}

TEST(TextRules, Code1252FoldsTheLatinLettersOfTheUpperHalf) {
  const TextRules& latin = Latin1Rules();
  EXPECT_EQ(latin.UpperCase("caf\xE9 \x9A\x9C\x9E\xFF \xF7"), "CAF\xC9 \x8A\x8C\x8E\x9F \xF7");
  EXPECT_EQ(latin.LowerCase("\xC9\xD7\xDE"), "\xE9\xD7\xFE");
  EXPECT_TRUE(latin.SameText("\xC0X", "\xE0x"));
  // Other single-byte code pages fold ASCII letters only unless the system's tables are
  // handed in.
  const TextRules cyrillic = TextRules::ForCodePage(1251);
  EXPECT_EQ(cyrillic.UpperCase("ab\xE0"), "AB\xE0");
  std::array<unsigned char, 256> upper{}, lower{}, lead{};
  for (unsigned b = 0; b < 256; ++b) upper[b] = lower[b] = static_cast<unsigned char>(b);
  upper[0xE0] = 0xC0;
  lower[0xC0] = 0xE0;
  const TextRules full = TextRules::FromTables(1251, upper, lower, lead);
  EXPECT_EQ(full.UpperCase("\xE0"), "\xC0");
  EXPECT_FALSE(full.IsDoubleByte());
}

TEST(TextRules, TheVariableStoreFollowsItsRules) {
  TVariableManager vars;
  vars.Set(kA, "first");
  vars.Set(kSmallYa, "second");
  // Under code page 1252 rules the two names fold to the same text.
  EXPECT_EQ(vars.Count(), 1u);
  EXPECT_EQ(vars.Get(kA), "second");

  vars.Clear();
  vars.SetTextRules(TextRules::ForCodePage(932));
  vars.Set(kA, "first");
  vars.Set(kSmallYa, "second");
  vars.Set("name" + kA, "x");
  EXPECT_EQ(vars.Count(), 3u);
  EXPECT_EQ(vars.Get(kA), "first");
  EXPECT_EQ(vars.Get(kSmallYa), "second");
  EXPECT_EQ(vars.Get("NAME" + kA), "x");

  // Names that now compare equal keep one entry (the first spelling) when the rules change.
  TVariableManager merging;
  merging.SetTextRules(TextRules::ForCodePage(932));
  merging.Set("\xC9t\xE9", "1");
  merging.Set("\xE9t\xE9", "2");
  ASSERT_EQ(merging.Count(), 2u);
  merging.SetTextRules(Latin1Rules());
  EXPECT_EQ(merging.Count(), 1u);
  EXPECT_EQ(merging.Get("\xC9T\xC9"), "2");
  std::vector<std::string> dump;
  merging.Dump(dump);
  EXPECT_EQ(dump[0], "\xC9t\xE9");
}

TEST(TextRules, ExpandPathKeepsASeparatorAfterADoubleByteCharacter) {
  // "\x95\x5C" ends in a backslash byte; the separator after it must survive the collapse
  // of doubled backslashes.
  TVariableManager vars;
  vars.SetTextRules(TextRules::ForCodePage(932));
  vars.Set("DIR", "C:\\" + kHyou + "\\");
  EXPECT_EQ(ExpandPath(vars, "$DIR$README.TXT"), "C:\\" + kHyou + "\\README.TXT");
  EXPECT_EQ(ExpandPath(vars, "C:\\\\" + kSo + "\\\\x"), "C:\\" + kSo + "\\x");
  // Code page 1252 has no lead bytes: the same bytes are two separators there.
  TVariableManager latin;
  latin.Set("DIR", "C:\\" + kHyou + "\\");
  EXPECT_EQ(ExpandPath(latin, "$DIR$README.TXT"), "C:\\\x95\\README.TXT");
}

}  // namespace
}  // namespace kem
