#include "platform/text/text.h"

#include <windows.h>

#include <array>

namespace kem::platform {

std::uint32_t AnsiCodePage() { return GetACP(); }

std::u16string AnsiToUtf16(std::string_view text, std::uint32_t codePage) {
  if (text.empty()) return {};
  const UINT cp = codePage ? codePage : CP_ACP;
  int n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return WidenLatin1(text);
  std::u16string r(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(r.data()), n);
  return r;
}

std::string Utf16ToAnsi(std::u16string_view text, std::uint32_t codePage) {
  if (text.empty()) return {};
  const UINT cp = codePage ? codePage : CP_ACP;
  auto wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(cp, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string r(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, wide, static_cast<int>(text.size()), r.data(), n, nullptr, nullptr);
  return r;
}

TextRules SystemTextRules(std::uint32_t codePage) {
  const UINT cp = codePage ? codePage : GetACP();
  CPINFO info{};
  if (!GetCPInfo(cp, &info)) return TextRules::ForCodePage(cp);
  std::array<unsigned char, 256> lead{}, upper{}, lower{};
  for (int r = 0; r + 1 < MAX_LEADBYTES && (info.LeadByte[r] || info.LeadByte[r + 1]); r += 2)
    for (unsigned b = info.LeadByte[r]; b <= info.LeadByte[r + 1]; ++b) lead[b] = 1;
  for (unsigned b = 0; b < 256; ++b) {
    upper[b] = lower[b] = static_cast<unsigned char>(b);
    if (lead[b]) continue;
    // The character's own case mapping, kept only when it round-trips to one byte.
    char in = static_cast<char>(b);
    wchar_t w = 0;
    if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, &in, 1, &w, 1) != 1) continue;
    auto back = [&](wchar_t c, unsigned char& out) {
      char o[4] = {};
      BOOL lossy = FALSE;
      int n = WideCharToMultiByte(cp, 0, &c, 1, o, sizeof(o), nullptr, &lossy);
      if (n == 1 && !lossy) out = static_cast<unsigned char>(o[0]);
    };
    wchar_t u = w, l = w;
    CharUpperBuffW(&u, 1);
    CharLowerBuffW(&l, 1);
    back(u, upper[b]);
    back(l, lower[b]);
  }
  return TextRules::FromTables(cp, upper, lower, lead);
}

}  // namespace kem::platform
