// Shared between the bitmap and icon decoders.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "dialogs/pictures/picture.h"

namespace kem::pictures::detail {

// Decodes a device-independent bitmap (header, palette, pixels). pixelOffset: where the
// pixels start inside dib when a file header says so; otherwise right after the palette.
// iconImage: the bitmap of an icon entry (height counts the colour and mask rows; the
// mask follows the colour pixels).
Image DecodeDibImpl(std::string_view dib, std::optional<std::size_t> pixelOffset, bool iconImage);

inline std::uint32_t Le16(std::string_view d, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(d[at]) | (static_cast<std::uint8_t>(d[at + 1]) << 8));
}
inline std::uint32_t Le32(std::string_view d, std::size_t at) {
  return Le16(d, at) | (Le16(d, at + 2) << 16);
}

}  // namespace kem::pictures::detail
