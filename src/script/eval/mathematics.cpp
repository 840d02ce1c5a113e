#include "script/eval/mathematics.h"

#include <limits>
#include <mutex>

#include "script/params/statement_params.h"
#include "engine/statement_error.h"

namespace kem {
namespace {

using U64 = std::uint64_t;
using U32 = std::uint32_t;

std::int64_t ToSigned(U64 v) { return static_cast<std::int64_t>(v); }  // two's complement
std::int32_t ToSigned32(U32 v) { return static_cast<std::int32_t>(v); }

// Remainder with the sign of the dividend; b != 0. INT64_MIN % -1 is 0.
std::int64_t Remainder(std::int64_t a, std::int64_t b) {
  if (b == -1) return 0;
  return a % b;
}

[[noreturn]] void DivisionByZero() { throw StatementError(std::string(kDivisionByZeroMessage)); }

}  // namespace

bool MathReadsA(std::int64_t code) noexcept { return code != 11; }

bool MathReadsB(std::int64_t code) noexcept { return code < 10 || code == 13; }

std::string MathOperation(RandomGenerator& g, std::int64_t code, std::int64_t a, std::int64_t b,
                          std::string_view text1) {
  const U64 ua = static_cast<U64>(a);
  const U64 ub = static_cast<U64>(b);
  switch (code) {
    case 0: return std::to_string(ToSigned(ua + ub));
    case 1: return std::to_string(ToSigned(ua - ub));
    case 2: return std::to_string(ToSigned(ua * ub));
    case 3:
      if (b == 0) DivisionByZero();
      if (b == -1) return std::to_string(ToSigned(U64(0) - ua));  // wraps for the minimum
      return std::to_string(a / b);
    case 4:
      if (b == 0) DivisionByZero();
      return std::to_string(Remainder(a, b));
    case 5: return std::to_string(a & b);
    case 6: return std::to_string(a | b);
    case 7: return std::to_string(a ^ b);
    case 8: {
      unsigned shift = static_cast<unsigned>(ub & 0xFF);
      return std::to_string(shift >= 64 ? 0 : ToSigned(ua << shift));
    }
    case 9: {
      unsigned shift = static_cast<unsigned>(ub & 0xFF);
      return std::to_string(shift >= 64 ? 0 : ToSigned(ua >> shift));
    }
    case 10: return std::to_string(~a);
    case 11: {
      if (text1.empty()) return "0";
      return std::to_string(static_cast<unsigned char>(text1[0]));
    }
    case 12: return std::string(1, static_cast<char>(ua & 0xFF));
    case 13: {
      std::lock_guard guard(g.Lock);
      g.Multiplier = ToSigned32(static_cast<U32>(ua));
      g.Increment = ToSigned32(static_cast<U32>(ub));
      return std::to_string(ToSigned(ua + ub));
    }
    case 14: {
      std::int32_t low = ToSigned32(static_cast<U32>(ua));
      std::lock_guard guard(g.Lock);
      g.State = low;
      return std::to_string(low);
    }
    case 15: {
      if (a == 0) DivisionByZero();
      std::lock_guard guard(g.Lock);
      U32 x32 = static_cast<U32>(g.Multiplier) * static_cast<U32>(g.State) + static_cast<U32>(g.Increment);
      std::int32_t x = ToSigned32(x32);
      g.State = x % 32767;
      return std::to_string(Remainder(x, a));
    }
    default:
      return "0";
  }
}

}  // namespace kem
