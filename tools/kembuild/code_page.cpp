#include "kembuild/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace kem::builder {
namespace {

std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The length of the well-formed character at text[i], or 0.
std::size_t CharacterAt(std::string_view text, std::size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = Utf8Length(p[i]);
  if (n == 0 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((p[i + k] & 0xC0) != 0x80) return 0;
  if (n == 3 && p[i] == 0xE0 && p[i + 1] < 0xA0) return 0;   // overlong
  if (n == 3 && p[i] == 0xED && p[i + 1] >= 0xA0) return 0;  // surrogate
  if (n == 4 && p[i] == 0xF0 && p[i + 1] < 0x90) return 0;   // overlong
  if (n == 4 && p[i] == 0xF4 && p[i + 1] >= 0x90) return 0;  // beyond U+10FFFF
  return n;
}

std::string CodePointName(std::string_view ch) {
  const auto* p = reinterpret_cast<const unsigned char*>(ch.data());
  std::uint32_t cp = 0;
  if (ch.size() == 1) cp = p[0];
  else if (ch.size() == 2) cp = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
  else if (ch.size() == 3) cp = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
  else cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// One iconv call over the whole input; false when it stops early.
bool Convert(iconv_t cd, std::string_view in, std::string& out, std::size_t& consumed) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.clear();
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  std::string buffer(in.size() * 4 + 16, '\0');
  char* dst = buffer.data();
  std::size_t dstLeft = buffer.size();
  std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (r != static_cast<std::size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  buffer.resize(buffer.size() - dstLeft);
  out = std::move(buffer);
  consumed = in.size() - srcLeft;
  return r != static_cast<std::size_t>(-1) && srcLeft == 0;
}

}  // namespace

std::string_view WithoutBom(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  return text;
}

bool IsUtf8(std::string_view text, std::size_t* badOffset) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = CharacterAt(text, i);
    if (n == 0) {
      if (badOffset) *badOffset = i;
      return false;
    }
    i += n;
  }
  return true;
}

struct CodePage::Converters {
  iconv_t toCodePage = reinterpret_cast<iconv_t>(-1);
  iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
};

CodePage::CodePage(std::uint32_t number) : number_(number), converters_(std::make_unique<Converters>()) {
  const std::string name = "CP" + std::to_string(number);
  converters_->toCodePage = iconv_open(name.c_str(), "UTF-8");
  converters_->toUtf8 = iconv_open("UTF-8", name.c_str());
  if (converters_->toCodePage == reinterpret_cast<iconv_t>(-1) ||
      converters_->toUtf8 == reinterpret_cast<iconv_t>(-1))
    throw std::invalid_argument("code page " + std::to_string(number) + " is not supported");
}

CodePage::~CodePage() {
  if (converters_->toCodePage != reinterpret_cast<iconv_t>(-1)) iconv_close(converters_->toCodePage);
  if (converters_->toUtf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(converters_->toUtf8);
}

bool CodePage::DoubleByte() const noexcept {
  return number_ == 932 || number_ == 936 || number_ == 949 || number_ == 950;
}

std::optional<std::string> CodePage::FromUtf8(std::string_view utf8, std::string& error) const {
  std::size_t bad = 0;
  if (!IsUtf8(utf8, &bad)) {
    error = "the text is not UTF-8 (byte " + std::to_string(bad + 1) + "); save the file as UTF-8";
    return std::nullopt;
  }
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(utf8);
  std::string out;
  std::size_t consumed = 0;
  if (Convert(converters_->toCodePage, utf8, out, consumed)) return out;
  std::size_t n = consumed < utf8.size() ? CharacterAt(utf8, consumed) : 0;
  std::string ch(utf8.substr(consumed, n ? n : 1));
  error = "the character " + ch + " (" + CodePointName(ch) + ") cannot be written in code page " +
          std::to_string(number_);
  return std::nullopt;
}

std::string CodePage::ToUtf8(std::string_view text) const {
  std::string out;
  std::size_t consumed = 0;
  if (Convert(converters_->toUtf8, text, out, consumed)) return out;
  // Convert what converts; a byte without a meaning becomes "?".
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string part;
    std::size_t used = 0;
    if (Convert(converters_->toUtf8, text.substr(i), part, used)) {
      result += part;
      break;
    }
    // part holds what converted before the stop; re-convert that prefix cleanly.
    if (used) {
      std::string clean;
      std::size_t u2 = 0;
      Convert(converters_->toUtf8, text.substr(i, used), clean, u2);
      result += clean;
    }
    result += '?';
    i += used + 1;
  }
  return result;
}

std::string TruncateForCodePage(const CodePage& cp, std::string_view utf8, std::size_t maxBytes) {
  std::string error;
  std::size_t end = 0, bytes = 0;
  while (end < utf8.size()) {
    std::size_t n = CharacterAt(utf8, end);
    if (n == 0) break;
    auto converted = cp.FromUtf8(utf8.substr(end, n), error);
    std::size_t width = converted ? converted->size() : 1;
    if (bytes + width > maxBytes) break;
    bytes += width;
    end += n;
  }
  return std::string(utf8.substr(0, end));
}

}  // namespace kem::builder

namespace kem::builder {

std::optional<std::string> ConvertFileText(const CodePage& cp, std::string_view text, std::size_t& badLine,
                                           std::string& error) {
  text = WithoutBom(text);
  std::string out;
  out.reserve(text.size());
  std::size_t lineNo = 0, start = 0;
  while (start < text.size()) {
    std::size_t eol = text.find('\n', start);
    std::size_t end = eol == std::string_view::npos ? text.size() : eol + 1;
    ++lineNo;
    auto converted = cp.FromUtf8(text.substr(start, end - start), error);
    if (!converted) {
      badLine = lineNo;
      return std::nullopt;
    }
    out += *converted;
    start = end;
  }
  return out;
}

}  // namespace kem::builder
