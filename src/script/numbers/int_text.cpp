#include "script/numbers/int_text.h"

#include "engine/statement_error.h"

namespace kem {
namespace {

// Shared parser: magnitude in unsigned 64-bit arithmetic, then range check by width.
template <typename Int, typename UInt>
std::optional<Int> ParseInt(std::string_view s) noexcept {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i >= s.size()) return std::nullopt;
  constexpr unsigned bits = sizeof(UInt) * 8;
  if (s[i] == '$') {
    ++i;
    if (i >= s.size()) return std::nullopt;
    UInt v = 0;
    for (; i < s.size(); ++i) {
      char c = s[i];
      unsigned d;
      if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
      else return std::nullopt;
      if (v >> (bits - 4)) return std::nullopt;  // would lose bits
      v = static_cast<UInt>((v << 4) | d);
    }
    if (negative) v = static_cast<UInt>(UInt(0) - v);
    return static_cast<Int>(v);
  }
  // Decimal: the magnitude may reach one more than the largest value when negative.
  const UInt limit = negative ? static_cast<UInt>(UInt(1) << (bits - 1))
                              : static_cast<UInt>((UInt(1) << (bits - 1)) - 1);
  UInt v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return std::nullopt;
    UInt d = static_cast<UInt>(c - '0');
    if (v > (limit - d) / 10) return std::nullopt;
    v = static_cast<UInt>(v * 10 + d);
  }
  if (negative) v = static_cast<UInt>(UInt(0) - v);
  return static_cast<Int>(v);
}

}  // namespace

std::optional<std::int32_t> TryTextToInt32(std::string_view text) noexcept {
  return ParseInt<std::int32_t, std::uint32_t>(text);
}

std::optional<std::int64_t> TryTextToInt64(std::string_view text) noexcept {
  return ParseInt<std::int64_t, std::uint64_t>(text);
}

std::string NotAnIntegerMessage(std::string_view text) {
  std::string m = "'";
  m.append(text);
  m += "' is not a valid integer value";
  return m;
}

std::int32_t TextToInt32(std::string_view text) {
  auto v = TryTextToInt32(text);
  if (!v) throw StatementError(NotAnIntegerMessage(text));
  return *v;
}

std::int64_t TextToInt64(std::string_view text) {
  auto v = TryTextToInt64(text);
  if (!v) throw StatementError(NotAnIntegerMessage(text));
  return *v;
}

}  // namespace kem
