// The integer operations of "Mathematics": 64-bit signed operands, wrap-around
// arithmetic, results written as decimal integers (code 12 yields a character).
//
//   0 a+b   1 a-b   2 a*b   3 a/b (toward zero)   4 remainder (sign of a)
//   5 and   6 or    7 xor   8 a<<b   9 a>>b logical (low 8 bits of b; 64 or more gives 0)
//   10 not a   11 character code of the first character of the expanded parameter 1
//   12 the character whose code is the low 8 bits of a
//   13 a+b, and seeds the generator's multiplier with a and increment with b
//   14 low 32 bits of a as a signed number; the generator's state becomes that value
//   15 next pseudo-random value modulo a
// Division or remainder by zero and code 15 with a = 0 raise StatementError
// "Division by zero".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine_state.h"

namespace kem {

inline constexpr std::string_view kDivisionByZeroMessage = "Division by zero";

// text1 is the statement's parameter 1 after expansion; only code 11 reads it.
// A code outside 0 to 15 yields "0". Code 11 with an empty text yields "0". Codes 13 to 15
// use the run's generator (the context's EngineState::Random).
std::string MathOperation(RandomGenerator& random, std::int64_t code, std::int64_t a, std::int64_t b,
                          std::string_view text1);

// Which operands a code reads: a for every code but 11; b for codes below 10 and 13.
bool MathReadsA(std::int64_t code) noexcept;
bool MathReadsB(std::int64_t code) noexcept;

}  // namespace kem
