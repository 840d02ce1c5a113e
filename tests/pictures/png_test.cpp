// PNG decoding against pixels generated here: every colour type and bit depth, with and
// without interlacing, every row filter, transparency chunks, and broken files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstring>

#include "dialogs/pictures/picture.h"

namespace kem::pictures {
namespace {

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& body) {
  std::string tb = type + body;
  auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(tb.data()), static_cast<uInt>(tb.size())));
  return Be32(static_cast<std::uint32_t>(body.size())) + tb + Be32(crc);
}

struct PngCase {
  std::uint32_t width, height;
  int colorType, depth;
  bool interlace;
  bool transparency;
};

int Channels(int colorType) {
  switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

std::uint32_t SampleAt(const PngCase& s, std::uint32_t x, std::uint32_t y, int c) {
  std::uint32_t max = (1u << s.depth) - 1;
  if (s.colorType == 3) max = std::min<std::uint32_t>(max, 5);  // six palette entries
  return (x * 37u + y * 91u + static_cast<std::uint32_t>(c) * 53u + x * y * 7u) % (max + 1);
}

constexpr std::uint8_t kPalette[6][4] = {{10, 20, 30, 255}, {200, 0, 0, 128}, {0, 200, 0, 0},
                                         {0, 0, 200, 255}, {255, 255, 255, 64}, {1, 2, 3, 255}};

// The pixel the decoder must produce, as B, G, R, A.
std::array<std::uint8_t, 4> Expected(const PngCase& s, std::uint32_t x, std::uint32_t y) {
  auto scale = [&](std::uint32_t v) -> std::uint8_t {
    return s.depth == 16 ? static_cast<std::uint8_t>(v >> 8) : static_cast<std::uint8_t>(v * 255 / ((1u << s.depth) - 1));
  };
  switch (s.colorType) {
    case 0: {
      std::uint32_t g = SampleAt(s, x, y, 0);
      bool clear = s.transparency && g == SampleAt(s, 0, 0, 0);
      return {scale(g), scale(g), scale(g), static_cast<std::uint8_t>(clear ? 0 : 255)};
    }
    case 2: {
      std::uint32_t r = SampleAt(s, x, y, 0), g = SampleAt(s, x, y, 1), b = SampleAt(s, x, y, 2);
      bool clear = s.transparency && r == SampleAt(s, 0, 0, 0) && g == SampleAt(s, 0, 0, 1) && b == SampleAt(s, 0, 0, 2);
      return {scale(b), scale(g), scale(r), static_cast<std::uint8_t>(clear ? 0 : 255)};
    }
    case 3: {
      const auto& p = kPalette[SampleAt(s, x, y, 0)];
      return {p[2], p[1], p[0], static_cast<std::uint8_t>(s.transparency ? p[3] : 255)};
    }
    case 4: {
      std::uint8_t g = scale(SampleAt(s, x, y, 0));
      return {g, g, g, scale(SampleAt(s, x, y, 1))};
    }
    default:
      return {scale(SampleAt(s, x, y, 2)), scale(SampleAt(s, x, y, 1)), scale(SampleAt(s, x, y, 0)),
              scale(SampleAt(s, x, y, 3))};
  }
}

int Paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Packs and filters the rows of one pass; the filter type cycles through all five.
void AppendPass(const PngCase& s, std::uint32_t x0, std::uint32_t y0, std::uint32_t dx, std::uint32_t dy, std::string& out,
                int& filterCounter) {
  std::uint32_t pw = s.width > x0 ? (s.width - x0 + dx - 1) / dx : 0;
  std::uint32_t ph = s.height > y0 ? (s.height - y0 + dy - 1) / dy : 0;
  if (!pw || !ph) return;
  int channels = Channels(s.colorType);
  std::size_t bitsPerPixel = static_cast<std::size_t>(channels * s.depth);
  std::size_t rowBytes = (pw * bitsPerPixel + 7) / 8;
  std::size_t bpp = std::max<std::size_t>(1, bitsPerPixel / 8);
  std::vector<std::uint8_t> prev(rowBytes, 0);
  for (std::uint32_t j = 0; j < ph; ++j) {
    std::vector<std::uint8_t> row(rowBytes, 0);
    std::size_t bit = 0;
    for (std::uint32_t i = 0; i < pw; ++i) {
      for (int c = 0; c < channels; ++c) {
        std::uint32_t v = SampleAt(s, x0 + i * dx, y0 + j * dy, c);
        if (s.depth == 16) {
          row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
          row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
        } else if (s.depth == 8) {
          row[bit / 8] = static_cast<std::uint8_t>(v);
        } else {
          row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - s.depth - bit % 8));
        }
        bit += static_cast<std::size_t>(s.depth);
      }
    }
    int filter = filterCounter++ % 5;
    out.push_back(static_cast<char>(filter));
    for (std::size_t k = 0; k < rowBytes; ++k) {
      int a = k >= bpp ? row[k - bpp] : 0, b = prev[k], c = k >= bpp ? prev[k - bpp] : 0;
      int pred = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : filter == 4 ? Paeth(a, b, c) : 0;
      out.push_back(static_cast<char>(row[k] - pred));
    }
    prev = row;
  }
}

std::string EncodePng(const PngCase& s) {
  std::string raw;
  int filterCounter = 0;
  if (s.interlace) {
    const std::uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : passes) AppendPass(s, p[0], p[1], p[2], p[3], raw, filterCounter);
  } else {
    AppendPass(s, 0, 0, 1, 1, raw, filterCounter);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string z(size, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  z.resize(size);

  std::string ihdr = Be32(s.width) + Be32(s.height);
  ihdr += {static_cast<char>(s.depth), static_cast<char>(s.colorType), 0, 0, static_cast<char>(s.interlace)};
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr);
  png += Chunk("tEXt", std::string("Comment\0test", 12));
  if (s.colorType == 3) {
    std::string plte, trns;
    for (const auto& p : kPalette) {
      plte += {static_cast<char>(p[0]), static_cast<char>(p[1]), static_cast<char>(p[2])};
      trns += static_cast<char>(p[3]);
    }
    png += Chunk("PLTE", plte);
    if (s.transparency) png += Chunk("tRNS", trns);
  } else if (s.transparency && s.colorType == 0) {
    std::uint32_t g = SampleAt(s, 0, 0, 0);
    png += Chunk("tRNS", {static_cast<char>(g >> 8), static_cast<char>(g)});
  } else if (s.transparency && s.colorType == 2) {
    std::string t;
    for (int c = 0; c < 3; ++c) {
      std::uint32_t v = SampleAt(s, 0, 0, c);
      t += {static_cast<char>(v >> 8), static_cast<char>(v)};
    }
    png += Chunk("tRNS", t);
  }
  // The image data split over two chunks.
  std::size_t half = z.size() / 2;
  png += Chunk("IDAT", z.substr(0, half)) + Chunk("IDAT", z.substr(half)) + Chunk("IEND", "");
  return png;
}

void ExpectPixels(const PngCase& s, const Image& img) {
  ASSERT_EQ(img.width, s.width);
  ASSERT_EQ(img.height, s.height);
  for (std::uint32_t y = 0; y < s.height; ++y) {
    for (std::uint32_t x = 0; x < s.width; ++x) {
      auto e = Expected(s, x, y);
      const std::uint8_t* p = img.Pixel(x, y);
      ASSERT_TRUE(std::memcmp(p, e.data(), 4) == 0)
          << "type " << s.colorType << " depth " << s.depth << " interlace " << s.interlace << " at " << x << ","
          << y << ": " << int(p[0]) << " " << int(p[1]) << " " << int(p[2]) << " " << int(p[3]) << " expected "
          << int(e[0]) << " " << int(e[1]) << " " << int(e[2]) << " " << int(e[3]);
    }
  }
}

TEST(Png, EveryColourTypeAndDepthPlainAndInterlaced) {
  const std::pair<int, std::vector<int>> types[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  // Odd sizes leave some interlace passes short or empty.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{13, 11}, {1, 1}, {3, 2}, {9, 1}};
  for (const auto& [type, depths] : types) {
    for (int depth : depths) {
      for (bool interlace : {false, true}) {
        for (auto [w, h] : sizes) {
          for (bool trns : {false, true}) {
            if (trns && (type == 4 || type == 6)) continue;
            PngCase s{w, h, type, depth, interlace, trns};
            ExpectPixels(s, DecodePng(EncodePng(s)));
          }
        }
      }
    }
  }
}

TEST(Png, BrokenFilesAreRefused) {
  PngCase s{13, 11, 6, 8, false, false};
  std::string good = EncodePng(s);
  auto ihdrWith = [&](std::uint32_t w, std::uint32_t h, int depth, int type) {
    std::string ihdr = Be32(w) + Be32(h);
    ihdr += {static_cast<char>(depth), static_cast<char>(type), 0, 0, 0};
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", "") + Chunk("IEND", "");
  };
  std::string badCrc = good;
  badCrc[30] ^= 1;  // inside the IHDR chunk's checksum
  struct Case {
    const char* label;
    std::string data;
    const char* message;
  } cases[] = {
      {"checksum", badCrc, "checksum"},
      {"depth", ihdrWith(4, 4, 3, 0), "invalid colour type 0 with bit depth 3"},
      {"type", ihdrWith(4, 4, 8, 5), "invalid colour type 5"},
      {"too large", ihdrWith(100000, 100000, 8, 2), "too large"},
      {"empty", ihdrWith(0, 4, 8, 2), "too large or empty"},
      {"palette missing", ihdrWith(4, 4, 8, 3), "palette missing"},
      {"no data", std::string("\x89PNG\r\n\x1a\n", 8) + good.substr(8, 25) + Chunk("IEND", ""), "image data missing"},
      {"signature", "\x89PNX", "not a PNG file"},
      {"first chunk", std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IDAT", ""), "header chunk missing"},
      {"unknown critical chunk", good.substr(0, 33) + Chunk("ABCD", "") + good.substr(33), "unknown critical chunk"},
  };
  for (const auto& c : cases) {
    try {
      DecodePng(c.data);
      ADD_FAILURE() << c.label;
    } catch (const PictureError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.label << ": " << e.what();
    }
  }
}

TEST(Png, DataProblemsAreRefused) {
  auto withData = [](std::uint32_t w, std::uint32_t h, int type, const std::string& raw, const std::string& plte = {}) {
    std::string ihdr = Be32(w) + Be32(h);
    ihdr += {8, static_cast<char>(type), 0, 0, 0};
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 9);
    z.resize(size);
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr);
    if (!plte.empty()) png += Chunk("PLTE", plte);
    return png + Chunk("IDAT", z) + Chunk("IEND", "");
  };
  EXPECT_THROW(DecodePng(withData(2, 2, 0, std::string("\0\1\2\0\3", 5))), PictureError);        // short
  EXPECT_THROW(DecodePng(withData(2, 2, 0, std::string("\0\1\2\0\3\4\0", 7))), PictureError);    // long
  EXPECT_THROW(DecodePng(withData(2, 1, 0, std::string("\5\1\2", 3))), PictureError);            // filter 5
  EXPECT_THROW(DecodePng(withData(2, 1, 3, std::string("\0\0\1", 3), "abc")), PictureError);    // index 1 of 1
  EXPECT_NO_THROW(DecodePng(withData(2, 1, 3, std::string("\0\0\0", 3), "abc")));
  // Every truncation of a good file is an error, never a crash.
  std::string good = EncodePng(PngCase{13, 11, 6, 16, true, false});
  for (std::size_t n = 0; n + 12 < good.size(); ++n) EXPECT_THROW(DecodePng(good.substr(0, n)), PictureError) << n;
}

}  // namespace
}  // namespace kem::pictures
