// The runtime's integer conversion, shared by every statement that reads a number from
// a text: optional leading blanks, an optional "+" or "-", then either decimal digits or
// "$" followed by hexadecimal digits. Nothing may follow the digits. Decimal values must
// fit the signed range; hexadecimal values may use every bit of the width (so "$FFFFFFFF"
// is -1 as a 32-bit value) and a sign in front negates them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kem {

std::optional<std::int32_t> TryTextToInt32(std::string_view text) noexcept;
std::optional<std::int64_t> TryTextToInt64(std::string_view text) noexcept;

// As above, but a text that does not convert raises StatementError with the message
// "'<text>' is not a valid integer value".
std::int32_t TextToInt32(std::string_view text);
std::int64_t TextToInt64(std::string_view text);

// The message of a failed conversion.
std::string NotAnIntegerMessage(std::string_view text);

}  // namespace kem
