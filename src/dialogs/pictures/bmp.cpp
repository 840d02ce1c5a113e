#include <array>
#include <bit>

#include "dialogs/pictures/bmp_internal.h"

namespace kem::pictures {

using detail::Le16;
using detail::Le32;

namespace {

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5, kAlphaBitfields = 6;

struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (m) {
      shift = std::countr_zero(m);
      std::uint32_t s = m >> shift;
      int bits = std::countr_one(s);
      max = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
    }
  }
  std::uint8_t Get(std::uint32_t px) const {
    if (!mask) return 0;
    std::uint64_t v = ((px & mask) >> shift) & max;
    return static_cast<std::uint8_t>(v * 255 / max);
  }
};

struct Bgra {
  std::uint8_t b = 0, g = 0, r = 0, a = 255;
};

}  // namespace

namespace detail {

Image DecodeDibImpl(std::string_view dib, std::optional<std::size_t> pixelOffset, bool iconImage) {
  if (dib.size() < 12) throw PictureError("bitmap header truncated");
  std::uint32_t hs = Le32(dib, 0);
  std::int64_t width, height;
  std::uint32_t bpp, compression = kRgb, clrUsed = 0;
  std::size_t paletteEntry = 4;
  std::array<std::uint32_t, 4> masks{};
  std::size_t afterHeader = hs;
  if (hs == 12) {
    width = Le16(dib, 4);
    height = static_cast<std::int16_t>(Le16(dib, 6));
    bpp = Le16(dib, 10);
    paletteEntry = 3;
  } else if (hs >= 40 && hs <= 256) {
    if (dib.size() < hs) throw PictureError("bitmap header truncated");
    width = static_cast<std::int32_t>(Le32(dib, 4));
    height = static_cast<std::int32_t>(Le32(dib, 8));
    bpp = Le16(dib, 14);
    compression = Le32(dib, 16);
    clrUsed = Le32(dib, 32);
    if (hs >= 52) {
      masks = {Le32(dib, 40), Le32(dib, 44), Le32(dib, 48), hs >= 56 ? Le32(dib, 52) : 0u};
    } else if (compression == kBitfields || compression == kAlphaBitfields) {
      std::size_t n = compression == kBitfields ? 3 : 4;
      if (dib.size() < hs + n * 4) throw PictureError("bitmap colour masks truncated");
      for (std::size_t i = 0; i < n; ++i) masks[i] = Le32(dib, hs + i * 4);
      afterHeader += n * 4;
    }
  } else {
    throw PictureError("unsupported bitmap header size " + std::to_string(hs));
  }

  if (compression == kJpeg || compression == kPng) {
    std::size_t at = pixelOffset.value_or(afterHeader);
    if (at > dib.size()) throw PictureError("bitmap data missing");
    return compression == kJpeg ? DecodeJpeg(dib.substr(at)) : DecodePng(dib.substr(at));
  }
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (iconImage) height /= 2;
  if (width <= 0 || height <= 0) throw PictureError("bitmap without pixels");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    throw PictureError("unsupported bitmap depth " + std::to_string(bpp));
  }
  bool rle = compression == kRle8 || compression == kRle4;
  if (compression != kRgb && compression != kBitfields && compression != kAlphaBitfields && !rle) {
    throw PictureError("unsupported bitmap compression " + std::to_string(compression));
  }
  if ((compression == kRle8 && bpp != 8) || (compression == kRle4 && bpp != 4) || (rle && topDown)) {
    throw PictureError("invalid run-length bitmap");
  }
  if ((compression == kBitfields || compression == kAlphaBitfields) && bpp != 16 && bpp != 32) {
    throw PictureError("colour masks on a bitmap of depth " + std::to_string(bpp));
  }

  Image img = AllocateImage(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));

  std::vector<Bgra> palette;
  if (bpp <= 8) {
    std::size_t n = clrUsed ? clrUsed : (1u << bpp);
    if (n > 256) throw PictureError("bitmap palette too large");
    if (afterHeader + n * paletteEntry > dib.size()) throw PictureError("bitmap palette truncated");
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t at = afterHeader + i * paletteEntry;
      palette.push_back(Bgra{static_cast<std::uint8_t>(dib[at]), static_cast<std::uint8_t>(dib[at + 1]),
                             static_cast<std::uint8_t>(dib[at + 2]), 255});
    }
    afterHeader += n * paletteEntry;
  }
  std::size_t start = afterHeader;
  if (pixelOffset && *pixelOffset >= afterHeader && *pixelOffset < dib.size()) start = *pixelOffset;
  if (start > dib.size()) throw PictureError("bitmap data missing");
  std::string_view px = dib.substr(start);

  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  auto put = [&](std::uint32_t x, std::uint32_t fileRow, Bgra c) {
    std::uint32_t y = topDown ? fileRow : h - 1 - fileRow;
    std::uint8_t* p = img.Pixel(x, y);
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    p[3] = c.a;
  };
  auto fromPalette = [&](std::uint32_t index) { return index < palette.size() ? palette[index] : Bgra{0, 0, 0, 255}; };

  std::uint64_t stride = (static_cast<std::uint64_t>(w) * bpp + 31) / 32 * 4;
  std::size_t colourBytes = 0;
  bool alphaSeen = false;
  if (rle) {
    // Pixels the runs skip stay transparent.
    std::size_t i = 0;
    std::uint32_t x = 0, row = 0;
    bool done = false;
    while (!done && i + 1 < px.size()) {
      std::uint32_t count = static_cast<std::uint8_t>(px[i]);
      std::uint32_t code = static_cast<std::uint8_t>(px[i + 1]);
      i += 2;
      if (count > 0) {
        for (std::uint32_t k = 0; k < count && x < w && row < h; ++k, ++x) {
          std::uint32_t index = compression == kRle8 ? code : ((k & 1) ? (code & 15) : (code >> 4));
          put(x, row, fromPalette(index));
        }
      } else if (code == 0) {
        x = 0;
        ++row;
      } else if (code == 1) {
        done = true;
      } else if (code == 2) {
        if (i + 1 >= px.size()) break;
        x += static_cast<std::uint8_t>(px[i]);
        row += static_cast<std::uint8_t>(px[i + 1]);
        i += 2;
      } else {
        std::size_t bytes = compression == kRle8 ? code : (code + 1) / 2;
        if (i + bytes > px.size()) throw PictureError("run-length bitmap data truncated");
        for (std::uint32_t k = 0; k < code; ++k, ++x) {
          std::uint8_t b = static_cast<std::uint8_t>(px[i + (compression == kRle8 ? k : k / 2)]);
          std::uint32_t index = compression == kRle8 ? b : ((k & 1) ? (b & 15) : (b >> 4));
          if (x < w && row < h) put(x, row, fromPalette(index));
        }
        i += (bytes + 1) & ~std::size_t{1};
      }
      if (row >= h) done = true;
    }
  } else {
    if (stride * h > px.size()) throw PictureError("bitmap data truncated");
    colourBytes = static_cast<std::size_t>(stride * h);
    bool useMasks = compression == kBitfields || compression == kAlphaBitfields || (hs >= 56 && masks[3] && bpp == 32);
    if (bpp == 16 && !useMasks) masks = {0x7C00, 0x03E0, 0x001F, 0};
    Channel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
    for (std::uint32_t row = 0; row < h; ++row) {
      const auto* line = reinterpret_cast<const std::uint8_t*>(px.data()) + row * stride;
      for (std::uint32_t x = 0; x < w; ++x) {
        Bgra c;
        switch (bpp) {
          case 1: c = fromPalette((line[x / 8] >> (7 - x % 8)) & 1); break;
          case 4: c = fromPalette((line[x / 2] >> ((x & 1) ? 0 : 4)) & 15); break;
          case 8: c = fromPalette(line[x]); break;
          case 16: {
            std::uint32_t v = line[2 * x] | (line[2 * x + 1] << 8);
            c = Bgra{b.Get(v), g.Get(v), r.Get(v), a.mask ? a.Get(v) : std::uint8_t{255}};
            break;
          }
          case 24: c = Bgra{line[3 * x], line[3 * x + 1], line[3 * x + 2], 255}; break;
          case 32: {
            const std::uint8_t* q = line + 4 * x;
            if (useMasks) {
              std::uint32_t v = q[0] | (q[1] << 8) | (q[2] << 16) | (static_cast<std::uint32_t>(q[3]) << 24);
              c = Bgra{b.Get(v), g.Get(v), r.Get(v), a.mask ? a.Get(v) : std::uint8_t{255}};
            } else {
              c = Bgra{q[0], q[1], q[2], q[3]};
              alphaSeen = alphaSeen || q[3] != 0;
            }
            break;
          }
        }
        put(x, row, c);
      }
    }
    // A 32-bit bitmap whose fourth bytes are all zero carries no alpha.
    if (bpp == 32 && !useMasks && !alphaSeen) {
      for (std::size_t i = 3; i < img.pixels.size(); i += 4) img.pixels[i] = 255;
    }
  }

  if (iconImage && !rle && !(bpp == 32 && alphaSeen)) {
    // The 1-bit mask after the colour pixels: set bits are transparent.
    std::uint64_t maskStride = (static_cast<std::uint64_t>(w) + 31) / 32 * 4;
    std::string_view mask = px.substr(colourBytes);
    if (maskStride * h <= mask.size()) {
      for (std::uint32_t row = 0; row < h; ++row) {
        const auto* line = reinterpret_cast<const std::uint8_t*>(mask.data()) + row * maskStride;
        for (std::uint32_t x = 0; x < w; ++x) {
          if ((line[x / 8] >> (7 - x % 8)) & 1) {
            std::uint32_t y = topDown ? row : h - 1 - row;
            img.Pixel(x, y)[3] = 0;
          }
        }
      }
    }
  }
  return img;
}

}  // namespace detail

Image DecodeDib(std::string_view data) { return detail::DecodeDibImpl(data, std::nullopt, false); }

Image DecodeBmp(std::string_view data) {
  if (data.size() < 14 + 12 || data.substr(0, 2) != "BM") throw PictureError("not a bitmap file");
  std::uint32_t offBits = Le32(data, 10);
  std::optional<std::size_t> offset;
  if (offBits >= 14 && offBits < data.size()) offset = offBits - 14;
  return detail::DecodeDibImpl(data.substr(14), offset, false);
}

}  // namespace kem::pictures
