#include "kembuild/guid.h"

#include <cctype>

namespace kem::builder {
namespace {

std::uint64_t Mix(std::uint64_t x) {
  // Finaliser of splitmix64: spreads every input bit over the whole word.
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

void AppendHex(std::string& out, std::uint64_t v, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (i * 4)) & 15];
}

}  // namespace

std::optional<std::string> CanonicalGuid(std::string_view t) {
  if (t.size() != 38 || t.front() != '{' || t.back() != '}') return std::nullopt;
  std::string out = "{";
  for (std::size_t i = 1; i < 37; ++i) {
    char c = t[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash) {
      if (c != '-') return std::nullopt;
      out += c;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  out += '}';
  return out;
}

std::uint64_t HashText(std::string_view text, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  return Mix(h);
}

std::string DerivedGuid(std::string_view seed) {
  std::uint64_t a = HashText(seed, 0xCBF29CE484222325ull);
  std::uint64_t b = HashText(seed, a ^ 0x9E3779B97F4A7C15ull);
  a = (a & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000005000ull;  // version 5
  b = (b & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // RFC 4122 variant
  std::string out = "{";
  AppendHex(out, a >> 32, 8);
  out += '-';
  AppendHex(out, (a >> 16) & 0xFFFF, 4);
  out += '-';
  AppendHex(out, a & 0xFFFF, 4);
  out += '-';
  AppendHex(out, b >> 48, 4);
  out += '-';
  AppendHex(out, b & 0xFFFFFFFFFFFFull, 12);
  out += '}';
  return out;
}

}  // namespace kem::builder
