// Project files are UTF-8 (a leading byte-order mark is allowed); the setup reads single-byte
// (or double-byte) texts in the setup's code page. This converts between the two.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kem::builder {

// The UTF-8 byte-order mark, which a file may start with.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// text without a leading byte-order mark.
std::string_view WithoutBom(std::string_view text);

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates); when not, the
// offset of the first bad byte goes to badOffset.
bool IsUtf8(std::string_view text, std::size_t* badOffset = nullptr);

class CodePage {
 public:
  // Throws std::invalid_argument when the system has no converter for the code page.
  explicit CodePage(std::uint32_t number);
  ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  std::uint32_t Number() const noexcept { return number_; }

  // UTF-8 to the code page. On failure returns nullopt and describes the first character
  // the code page cannot hold (or the malformed UTF-8) in error.
  std::optional<std::string> FromUtf8(std::string_view utf8, std::string& error) const;

  // The code page to UTF-8. Bytes without a meaning in the code page become "?", so any
  // byte sequence converts.
  std::string ToUtf8(std::string_view text) const;

  // Whether the code page holds characters of two bytes (932, 936, 949, 950).
  bool DoubleByte() const noexcept;

 private:
  struct Converters;
  std::uint32_t number_;
  std::unique_ptr<Converters> converters_;
};

// Cuts UTF-8 text to at most maxBytes bytes of the code page, at a character boundary.
std::string TruncateForCodePage(const CodePage& cp, std::string_view utf8, std::size_t maxBytes);

}  // namespace kem::builder

namespace kem::builder {

// A whole UTF-8 file (a byte-order mark is dropped) converted to the code page line by
// line, line ends kept. On failure returns nullopt with the 1-based line and the message.
std::optional<std::string> ConvertFileText(const CodePage& cp, std::string_view text, std::size_t& badLine,
                                           std::string& error);

}  // namespace kem::builder
