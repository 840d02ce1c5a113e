#include "common/text.h"

#include <array>

namespace kem {
namespace {

constexpr unsigned char UpperOf(unsigned u) {
  if (u >= 'a' && u <= 'z') return static_cast<unsigned char>(u - 32);
  // Latin-1 upper half: 0xE0..0xFE except 0xF7 (division sign) map to 0xC0..0xDE.
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<unsigned char>(u - 32);
  return static_cast<unsigned char>(u);
}

constexpr std::array<unsigned char, 256> kUpper = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = UpperOf(i);
  return t;
}();

}  // namespace

char FoldUpper(char c) noexcept { return static_cast<char>(kUpper[static_cast<unsigned char>(c)]); }

char FoldLower(char c) noexcept {
  auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
  return c;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = FoldUpper(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = FoldLower(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0; i < a.size(); ++i)
    if (pa[i] != pb[i] && kUpper[pa[i]] != kUpper[pb[i]]) return false;
  return true;
}

std::size_t HashTextIgnoreCase(std::string_view s) noexcept {
  // FNV-1a over the folded bytes.
  std::uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= kUpper[static_cast<unsigned char>(c)];
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

bool StartsWith(std::string_view s, std::string_view prefix) noexcept {
  return s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view s, std::string_view suffix) noexcept {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string WithTrailingBackslash(std::string_view folder) {
  std::string r(folder);
  if (r.empty() || r.back() != '\\') r.push_back('\\');
  return r;
}

}  // namespace kem
