#include "dialogs/pictures/bmp_internal.h"

namespace kem::pictures {

using detail::Le16;
using detail::Le32;

Image DecodeIco(std::string_view data) {
  if (data.size() < 6 || Le16(data, 0) != 0 || (Le16(data, 2) != 1 && Le16(data, 2) != 2)) {
    throw PictureError("not an icon file");
  }
  std::uint32_t count = Le16(data, 4);
  if (count == 0) throw PictureError("icon file without images");
  if (6 + std::size_t{count} * 16 > data.size()) throw PictureError("icon directory truncated");

  // The largest image; among equal sizes the one with the most colours.
  std::size_t best = 0;
  std::uint64_t bestArea = 0;
  std::uint32_t bestBits = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::size_t e = 6 + std::size_t{i} * 16;
    std::uint32_t w = static_cast<std::uint8_t>(data[e]), h = static_cast<std::uint8_t>(data[e + 1]);
    std::uint64_t area = std::uint64_t(w ? w : 256) * (h ? h : 256);
    std::uint32_t bits = Le16(data, e + 6);
    if (i == 0 || area > bestArea || (area == bestArea && bits > bestBits)) {
      best = e;
      bestArea = area;
      bestBits = bits;
    }
  }
  std::uint32_t size = Le32(data, best + 8), offset = Le32(data, best + 12);
  if (offset > data.size() || size > data.size() - offset) throw PictureError("icon image outside the file");
  std::string_view image = data.substr(offset, size);
  if (DetectPictureFormat(image) == PictureFormat::Png) return DecodePng(image);
  return detail::DecodeDibImpl(image, std::nullopt, true);
}

}  // namespace kem::pictures
