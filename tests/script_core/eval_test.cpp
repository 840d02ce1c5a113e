#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "script/eval/condition.h"
#include "script/eval/expression.h"
#include "script/eval/mathematics.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "engine/statement_error.h"
#include "script/store/variable_manager.h"
#include "store_fixture.h"

namespace kem {
namespace {

TEST(IntTextTest, RuntimeConversion) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> v32;
    std::optional<std::int64_t> v64;
  } cases[] = {
      {"0", 0, 0},
      {"007", 7, 7},
      {"  42", 42, 42},
      {"+5", 5, 5},
      {"-5", -5, -5},
      {"$ff", 255, 255},
      {"-$10", -16, -16},
      {"$FFFFFFFF", -1, 4294967295LL},
      {"$100000000", std::nullopt, 4294967296LL},
      {"2147483647", 2147483647, 2147483647LL},
      {"-2147483648", std::numeric_limits<std::int32_t>::min(), -2147483648LL},
      {"2147483648", std::nullopt, 2147483648LL},
      {"9223372036854775807", std::nullopt, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::nullopt, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", std::nullopt, std::nullopt},
      {"99999999999999999999999", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"   ", std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt},
      {"$", std::nullopt, std::nullopt},
      {"7 ", std::nullopt, std::nullopt},
      {"1e3", std::nullopt, std::nullopt},
      {"\t1", std::nullopt, std::nullopt},
      {"--1", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TryTextToInt32(c.text), c.v32) << "'" << c.text << "'";
    EXPECT_EQ(TryTextToInt64(c.text), c.v64) << "'" << c.text << "'";
  }
  try {
    TextToInt64("12a");
    FAIL();
  } catch (const StatementError& e) {
    EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
  }
}

class ConditionTest : public test::StoreFixture {
 protected:
  bool EvaluateCondition(std::string_view variable, std::string_view op, std::string_view value,
                         std::string_view negate) const {
    return kem::EvaluateCondition(vars, variable, op, value, negate);
  }
};

TEST_F(ConditionTest, OperatorsOnIntegersAndTexts) {
  struct Case {
    const char* left;  // value of variable L
    const char* op;
    const char* right;
    const char* negate;
    bool expected;
  } cases[] = {
      {"007", "0", "7", "FALSE", true},
      {"7 ", "0", "7", "FALSE", false},
      {"abc", "0", "abc", "", true},
      {"abc", "0", "ABC", "", false},
      {"12345", "1", "23", "", false},  // integers: contains tests equality
      {"a12345", "1", "23", "", true},
      {"a12345", "1", "X", "", false},
      {"10", "2", "9", "", true},        // integers
      {"10", "2", "9x", "", false},      // texts: "1" sorts before "9"
      {"b", "2", "a", "", true},
      {"\xE9", "2", "z", "", true},      // bytes compare unsigned
      {"Hello World", "3", "WORLD", "", true},
      {"Hello", "3", "xyz", "", false},
      {"HeLLo", "4", "hello", "", true},
      {"$10", "0", "16", "", true},      // "$" hexadecimal converts
      {"abc", "0", "abc", "TRUE", false},
      {"abc", "0", "abc", "-1", false},
      {"abc", "0", "abc", "1", true},    // "1" is not true
      {"abc", "9", "abc", "", false},    // unknown code
      {"abc", "9", "abc", "true", true},
      {"2.0", "6", "10.0", "", false},
      {"1.10", "6", "1.9", "", true},
      {"1.2.3", "6", "1.2", "", true},
      {"1.2", "6", "1.2.0.0", "", false},
  };
  for (const auto& c : cases) {
    SetVar("L", c.left, "t");
    EXPECT_EQ(EvaluateCondition("L", c.op, c.right, c.negate), c.expected)
        << c.left << " " << c.op << " " << c.right << " " << c.negate;
    EXPECT_EQ(EvaluateCondition("$L$", c.op, c.right, c.negate), c.expected);
  }
}

TEST_F(ConditionTest, ExpansionDefinedTestAndUndefinedLeft) {
  SetVar("X", "$Y$", "t");
  SetVar("Y", "5", "t");
  SetVar("FIVE", "5", "t");
  EXPECT_TRUE(EvaluateCondition("X", "0", "$FIVE$", ""));  // both sides expanded
  EXPECT_TRUE(EvaluateCondition("x", "5", "", ""));
  EXPECT_FALSE(EvaluateCondition("$X$", "5", "", ""));  // no "$" stripping
  EXPECT_TRUE(EvaluateCondition("$X$", "5", "", "TRUE"));
  EXPECT_TRUE(EvaluateCondition("NOPE", "0", "", ""));  // undefined compares as empty
}

TEST(VersionTest, Components) {
  EXPECT_EQ(ReadVersion("1.2"), (std::array<std::int32_t, 4>{1, 2, 0, 0}));
  EXPECT_EQ(ReadVersion("1.2.3.4.5"), (std::array<std::int32_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(ReadVersion("3.beta"), (std::array<std::int32_t, 4>{3, 0, 0, 0}));
  EXPECT_EQ(ReadVersion(""), (std::array<std::int32_t, 4>{0, 0, 0, 0}));
  EXPECT_THROW(ReadVersion("1.x.3"), StatementError);
  EXPECT_THROW(ReadVersion(".5"), StatementError);
  EXPECT_FALSE(VersionGreater("1.2.3.4", "1.2.3.4"));
  EXPECT_TRUE(VersionGreater("1.2.3.5", "1.2.3.4"));
}

TEST(ExpressionTest, Evaluation) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {R"("10" > "9")", "TRUE"},
      {R"("10" > "9x")", "FALSE"},
      {R"("1" = "1" and "2" = "2")", "TRUE"},
      {R"("1" = "1" AND "2" = "2")", "ERROR"},
      // true or false and false: strictly left to right
      {R"("1"="1" or "1"="2" and "1"="3")", "FALSE"},
      {R"("1"="1" or ("1"="2" and "1"="3"))", "TRUE"},
      {R"(  ( "a" <> "b" )  )", "TRUE"},
      {R"("a""b" = "a""b")", "TRUE"},
      {R"("x""" = "x""")", "TRUE"},
      {R"("-5" < "3")", "TRUE"},
      {R"("+5" = "5")", "TRUE"},
      {R"("-" < "3")", "TRUE"},  // "-" alone is text
      {R"("007" = "7")", "TRUE"},
      {R"("" = "")", "TRUE"},
      {R"("b" >= "a")", "TRUE"},
      {R"("a" <= "a")", "TRUE"},
      {R"("a" < "a")", "FALSE"},
      {R"("a"="a")", "TRUE"},
      {"", "ERROR"},
      {R"("a" == "a")", "ERROR"},
      {R"("a" = "a)", "ERROR"},
      {R"("a" = a)", "ERROR"},
      {R"(("a" = "a")", "ERROR"},
      {R"("a" = "a"))", "ERROR"},
      {R"("a" = "a" and)", "ERROR"},
      {R"("a" = "a" xor "b" = "b")", "ERROR"},
      {R"("a" = "a" and("b" = "b"))", "ERROR"},
      {R"("a" = "a" "b")", "ERROR"},
      {R"("a")", "ERROR"},
      {R"(x "a" = "a")", "ERROR"},
      {"()", "ERROR"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateExpression(c.text), c.expected) << c.text;
}

TEST(ExpressionTest, OutOfRangeLiteralsFailTheStatement) {
  EXPECT_THROW(EvaluateExpression(R"("99999999999" = "1")"), StatementError);
  EXPECT_THROW(EvaluateExpression(R"("1" = "2147483648")"), StatementError);
  EXPECT_EQ(EvaluateExpression(R"("-2147483648" < "2147483647")"), "TRUE");
  EXPECT_EQ(EvaluateExpression(R"("99999999999" = "x")"), "FALSE");  // text comparison
  EXPECT_TRUE(ExpressionSyntaxOk(R"("99999999999" = "1")"));
}

TEST(ExpressionTest, DeepNestingDoesNotExhaustTheStack) {
  std::string text = std::string(200000, '(') + R"("a"="a")" + std::string(200000, ')');
  EXPECT_EQ(EvaluateExpression(text), "TRUE");
  EXPECT_EQ(EvaluateExpression(std::string(200000, '(')), "ERROR");
}

TEST(ExpressionTest, SyntaxCheckTurnsDollarsIntoQuotes) {
  EXPECT_TRUE(ExpressionSyntaxOk(R"($A$ = "1")"));
  EXPECT_TRUE(ExpressionSyntaxOk(R"($A$ = "1" or $B$ <> "2")"));
  EXPECT_FALSE(ExpressionSyntaxOk(R"($A$ = "1" OR $B$ <> "2")"));
  EXPECT_FALSE(ExpressionSyntaxOk(R"($A$ = 1)"));
}

using QuotedExpansionTest = test::StoreFixture;

TEST_F(QuotedExpansionTest, ValuesEnterThroughQuotedExpansion) {
  RawSet("NAME", "say \"hi\"");
  RawSet("COUNT", "12");
  EXPECT_EQ(EvaluateExpression(ExpandVarsQuoted(R"($COUNT$ > "9" and $NAME$ <> "")")), "TRUE");
  EXPECT_EQ(ExpandVarsQuoted("$NAME$"), R"("say ""hi""")");
  EXPECT_EQ(EvaluateExpression(ExpandVarsQuoted(R"($NAME$ = "say ""hi""")")), "TRUE");
  // A value cannot inject expression syntax.
  RawSet("EVIL", R"(a" or "1"="1)");
  EXPECT_EQ(EvaluateExpression(ExpandVarsQuoted(R"($EVIL$ = "b")")), "FALSE");
  // Nested references inside a value are part of the operand.
  RawSet("OUTER", "$COUNT$0");
  EXPECT_EQ(EvaluateExpression(ExpandVarsQuoted(R"($OUTER$ = "120")")), "TRUE");
  ClearVars();
}

class MathTest : public test::StoreFixture {
 protected:
  std::string MathOperation(std::int64_t code, std::int64_t a, std::int64_t b, std::string_view text1) {
    return kem::MathOperation(random, code, a, b, text1);
  }
  RandomGenerator random;
};

TEST_F(MathTest, Operations) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    std::int64_t code, a, b;
    const char* expected;
  } cases[] = {
      {0, 2, 3, "5"},
      {0, kMax, 1, "-9223372036854775808"},
      {1, kMin, 1, "9223372036854775807"},
      {2, 4294967296LL, 4294967296LL, "0"},
      {2, -3, 7, "-21"},
      {3, -7, 2, "-3"},
      {3, kMin, -1, "-9223372036854775808"},
      {4, -7, 2, "-1"},
      {4, 7, -2, "1"},
      {4, kMin, -1, "0"},
      {5, 12, 10, "8"},
      {6, 12, 10, "14"},
      {7, 12, 10, "6"},
      {8, 1, 63, "-9223372036854775808"},
      {8, 1, 64, "0"},
      {8, 1, 256 + 3, "8"},  // only the low 8 bits of b count
      {8, 1, -1, "0"},
      {9, -1, 60, "15"},
      {9, -1, 64, "0"},
      {9, kMin, 63, "1"},
      {10, 0, 0, "-1"},
      {12, 65, 0, "A"},
      {12, 256 + 66, 0, "B"},
      {13, 3, 4, "7"},
      {14, 4294967295LL + 1 + 5, 0, "5"},
      {14, 4294967295LL, 0, "-1"},
      {16, 1, 1, "0"},
      {-1, 1, 1, "0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MathOperation(c.code, c.a, c.b, ""), c.expected) << c.code << " " << c.a << " " << c.b;
}

TEST_F(MathTest, CharacterCodeOfExpandedParameter) {
  RawSet("CH", "\xE9t\xE9");
  EXPECT_EQ(MathOperation(11, 0, 0, "A"), "65");
  EXPECT_EQ(MathOperation(11, 0, 0, ExpandVars("$CH$")), "233");
  EXPECT_EQ(MathOperation(11, 0, 0, ""), "0");
}

TEST_F(MathTest, PseudoRandomGenerator) {
  // Unseeded: x = 0 * 0 + 0.
  EXPECT_EQ(MathOperation(15, 10, 0, ""), "0");
  // Seed: multiplier 1103515245, increment 12345, state 42.
  EXPECT_EQ(MathOperation(13, 1103515245, 12345, ""), "1103527590");
  EXPECT_EQ(MathOperation(14, 42, 0, ""), "42");
  // Reference computation in 32-bit wrapping arithmetic.
  std::int32_t state = 42;
  for (int i = 0; i < 5; ++i) {
    std::uint32_t x32 = 1103515245u * static_cast<std::uint32_t>(state) + 12345u;
    auto x = static_cast<std::int32_t>(x32);
    state = x % 32767;
    EXPECT_EQ(MathOperation(15, 100, 0, ""), std::to_string(x % 100)) << i;
  }
  // Negative products keep the sign of x.
  MathOperation(13, -1, 0, "");
  MathOperation(14, 5, 0, "");
  EXPECT_EQ(MathOperation(15, 3, 0, ""), "-2");
  // Seeding with 64-bit operands keeps the low 32 bits.
  MathOperation(13, 4294967296LL + 2, 4294967296LL + 1, "");
  MathOperation(14, 10, 0, "");
  EXPECT_EQ(MathOperation(15, 1000, 0, ""), "21");
}

TEST_F(MathTest, Failures) {
  for (std::int64_t code : {3, 4}) {
    try {
      MathOperation(code, 1, 0, "");
      FAIL() << code;
    } catch (const StatementError& e) {
      EXPECT_STREQ(e.what(), "Division by zero");
    }
  }
  EXPECT_THROW(MathOperation(15, 0, 0, ""), StatementError);
  EXPECT_TRUE(MathReadsB(9) && MathReadsB(13) && MathReadsB(-1));
  EXPECT_FALSE(MathReadsB(10) || MathReadsB(14) || MathReadsA(11));
}

}  // namespace
}  // namespace kem
