#include "common/text.h"

namespace kem {
namespace {

// Code page 1252: ASCII letters, the Latin letters of 0xC0..0xFE (not the multiplication
// and division signs), and the four pairs in 0x80..0x9F plus y with diaeresis.
constexpr unsigned char Latin1Upper(unsigned u) {
  if (u >= 'a' && u <= 'z') return static_cast<unsigned char>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<unsigned char>(u - 32);
  if (u == 0x9A || u == 0x9C || u == 0x9E) return static_cast<unsigned char>(u - 0x10);
  if (u == 0xFF) return 0x9F;
  return static_cast<unsigned char>(u);
}

constexpr unsigned char Latin1Lower(unsigned u) {
  if (u >= 'A' && u <= 'Z') return static_cast<unsigned char>(u + 32);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<unsigned char>(u + 32);
  if (u == 0x8A || u == 0x8C || u == 0x8E) return static_cast<unsigned char>(u + 0x10);
  if (u == 0x9F) return 0xFF;
  return static_cast<unsigned char>(u);
}

constexpr unsigned char AsciiUpper(unsigned u) {
  return static_cast<unsigned char>(u >= 'a' && u <= 'z' ? u - 32 : u);
}
constexpr unsigned char AsciiLower(unsigned u) {
  return static_cast<unsigned char>(u >= 'A' && u <= 'Z' ? u + 32 : u);
}

constexpr std::array<unsigned char, 256> Table(unsigned char (*f)(unsigned)) {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = f(i);
  return t;
}

constexpr auto kLatin1Upper = Table(Latin1Upper);
constexpr auto kLatin1Lower = Table(Latin1Lower);

}  // namespace

TextRules::TextRules() : upper_(kLatin1Upper), lower_(kLatin1Lower) {}

TextRules TextRules::ForCodePage(std::uint32_t codePage) {
  TextRules r;
  r.codePage_ = codePage == 0 ? 1252 : codePage;
  if (r.codePage_ == 1252 || r.codePage_ == 28591) return r;
  r.upper_ = Table(AsciiUpper);
  r.lower_ = Table(AsciiLower);
  auto leadRange = [&](unsigned from, unsigned to) {
    for (unsigned b = from; b <= to; ++b) r.lead_[b] = 1;
    r.doubleByte_ = true;
  };
  switch (r.codePage_) {
    case 932:  // Japanese (Shift JIS)
      leadRange(0x81, 0x9F);
      leadRange(0xE0, 0xFC);
      break;
    case 936:  // Simplified Chinese
    case 949:  // Korean
    case 950:  // Traditional Chinese
      leadRange(0x81, 0xFE);
      break;
    default:
      break;
  }
  return r;
}

TextRules TextRules::FromTables(std::uint32_t codePage, const std::array<unsigned char, 256>& upper,
                                const std::array<unsigned char, 256>& lower,
                                const std::array<unsigned char, 256>& lead) {
  TextRules r;
  r.codePage_ = codePage;
  r.upper_ = upper;
  r.lower_ = lower;
  r.lead_ = lead;
  r.doubleByte_ = false;
  for (unsigned char b : lead) r.doubleByte_ = r.doubleByte_ || b != 0;
  return r;
}

std::string TextRules::Map(std::string_view s, const std::array<unsigned char, 256>& table) const {
  std::string r(s);
  for (std::size_t i = 0; i < r.size(); ++i) {
    auto u = static_cast<unsigned char>(r[i]);
    if (lead_[u]) {
      ++i;  // the trail byte belongs to the character: never folded on its own
      continue;
    }
    r[i] = static_cast<char>(table[u]);
  }
  return r;
}

std::string TextRules::UpperCase(std::string_view s) const { return Map(s, upper_); }

std::string TextRules::LowerCase(std::string_view s) const { return Map(s, lower_); }

namespace {

// The single-byte case: every byte folds on its own.
bool SameTextSingleByte(std::string_view a, std::string_view b, const unsigned char* upper) noexcept {
  if (a.size() != b.size()) return false;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0; i < a.size(); ++i)
    if (pa[i] != pb[i] && upper[pa[i]] != upper[pb[i]]) return false;
  return true;
}

std::size_t HashSingleByte(std::string_view s, const unsigned char* upper) noexcept {
  std::uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= upper[static_cast<unsigned char>(c)];
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

}  // namespace

bool TextRules::SameText(std::string_view a, std::string_view b) const noexcept {
  if (!doubleByte_) return SameTextSingleByte(a, b, upper_.data());
  if (a.size() != b.size()) return false;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lead_[pa[i]]) {
      // A double-byte character compares exactly, both bytes.
      if (pa[i] != pb[i]) return false;
      if (++i < a.size() && pa[i] != pb[i]) return false;
      continue;
    }
    if (pa[i] != pb[i] && upper_[pa[i]] != upper_[pb[i]]) return false;
  }
  return true;
}

std::size_t TextRules::Hash(std::string_view s) const noexcept {
  if (!doubleByte_) return HashSingleByte(s, upper_.data());
  // FNV-1a over the folded bytes; trail bytes go in as they are.
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto u = static_cast<unsigned char>(s[i]);
    if (lead_[u]) {
      h ^= u;
      h *= 1099511628211ull;
      if (++i == s.size()) break;
      h ^= static_cast<unsigned char>(s[i]);
    } else {
      h ^= upper_[u];
    }
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

const TextRules& Latin1Rules() {
  static const TextRules rules;
  return rules;
}

char FoldUpper(char c) noexcept { return static_cast<char>(kLatin1Upper[static_cast<unsigned char>(c)]); }

char FoldLower(char c) noexcept { return static_cast<char>(kLatin1Lower[static_cast<unsigned char>(c)]); }

std::string UpperCase(std::string_view s) { return Latin1Rules().UpperCase(s); }

std::string LowerCase(std::string_view s) { return Latin1Rules().LowerCase(s); }

bool SameText(std::string_view a, std::string_view b) noexcept { return SameTextSingleByte(a, b, kLatin1Upper.data()); }

std::size_t HashTextIgnoreCase(std::string_view s) noexcept { return HashSingleByte(s, kLatin1Upper.data()); }

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

std::u16string WidenLatin1(std::string_view s) {
  std::u16string r;
  r.reserve(s.size());
  for (char c : s) r.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace kem
