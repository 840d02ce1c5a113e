// Bitmaps, icons, JPEG and the picture data of form properties.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "dialogs/pictures/picture.h"

namespace kem::pictures {
namespace {

std::string Le16(std::uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// A bitmap file: header size 40, or 108 with masks, pixels given as rows in file order.
std::string Bmp(int width, int height, int bpp, std::uint32_t compression, const std::string& palette,
                const std::string& pixels, const std::string& masks = {}) {
  std::string info = Le32(40) + Le32(static_cast<std::uint32_t>(width)) + Le32(static_cast<std::uint32_t>(height)) +
                     Le16(1) + Le16(static_cast<std::uint32_t>(bpp)) + Le32(compression) +
                     Le32(static_cast<std::uint32_t>(pixels.size())) + Le32(0) + Le32(0) +
                     Le32(static_cast<std::uint32_t>(palette.size() / 4)) + Le32(0);
  std::string body = info + masks + palette;
  auto off = static_cast<std::uint32_t>(14 + body.size());
  return "BM" + Le32(off + static_cast<std::uint32_t>(pixels.size())) + Le32(0) + Le32(off) + body + pixels;
}

std::array<int, 4> At(const Image& img, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = img.Pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}

using Px = std::array<int, 4>;

TEST(Bitmap, DepthsAndLayouts) {
  // 24-bit, 2 x 2, bottom-up: the first file row is the bottom row.
  std::string rows24 = std::string("\x01\x02\x03\x04\x05\x06\0\0", 8) + std::string("\x07\x08\x09\x0A\x0B\x0C\0\0", 8);
  Image a = DecodeBmp(Bmp(2, 2, 24, 0, "", rows24));
  EXPECT_EQ(At(a, 0, 1), (Px{1, 2, 3, 255}));
  EXPECT_EQ(At(a, 1, 0), (Px{10, 11, 12, 255}));
  // Top-down (negative height).
  Image b = DecodeBmp(Bmp(2, -2, 24, 0, "", rows24));
  EXPECT_EQ(At(b, 0, 0), (Px{1, 2, 3, 255}));
  // 32-bit with alpha, and 32-bit whose fourth bytes are all zero (opaque).
  Image c = DecodeBmp(Bmp(1, 1, 32, 0, "", std::string("\x10\x20\x30\x80", 4)));
  EXPECT_EQ(At(c, 0, 0), (Px{0x10, 0x20, 0x30, 0x80}));
  Image d = DecodeBmp(Bmp(1, 1, 32, 0, "", std::string("\x10\x20\x30\x00", 4)));
  EXPECT_EQ(At(d, 0, 0), (Px{0x10, 0x20, 0x30, 255}));
  // Palettes of 1, 4 and 8 bits.
  std::string pal = std::string("\0\0\0\0\xFF\xFF\xFF\0\x00\x00\xFF\0", 12);
  Image e = DecodeBmp(Bmp(3, 1, 1, 0, pal.substr(0, 8), std::string("\x40\0\0\0", 4)));  // 0 1 0
  EXPECT_EQ(At(e, 0, 0), (Px{0, 0, 0, 255}));
  EXPECT_EQ(At(e, 1, 0), (Px{255, 255, 255, 255}));
  Image f = DecodeBmp(Bmp(3, 1, 4, 0, pal, std::string("\x21\x00\0\0", 4)));  // 2 1 0
  EXPECT_EQ(At(f, 0, 0), (Px{0, 0, 255, 255}));
  EXPECT_EQ(At(f, 1, 0), (Px{255, 255, 255, 255}));
  Image g = DecodeBmp(Bmp(2, 1, 8, 0, pal, std::string("\x02\x07\0\0", 4)));  // index 7 outside: black
  EXPECT_EQ(At(g, 0, 0), (Px{0, 0, 255, 255}));
  EXPECT_EQ(At(g, 1, 0), (Px{0, 0, 0, 255}));
  // 16-bit: 5-5-5 without masks, 5-6-5 with bit fields.
  Image h = DecodeBmp(Bmp(1, 1, 16, 0, "", std::string("\x1F\x7C\0\0", 4)));  // red 31, blue 31
  EXPECT_EQ(At(h, 0, 0), (Px{255, 0, 255, 255}));
  Image i = DecodeBmp(Bmp(1, 1, 16, 3, "", std::string("\xE0\x07\0\0", 4), Le32(0xF800) + Le32(0x07E0) + Le32(0x001F)));
  EXPECT_EQ(At(i, 0, 0), (Px{0, 255, 0, 255}));
  // Run-length 8-bit: a run of two index 2, then end of bitmap; the skipped pixel stays clear.
  Image j = DecodeBmp(Bmp(3, 1, 8, 1, pal, std::string("\x02\x02\x00\x01", 4)));
  EXPECT_EQ(At(j, 1, 0), (Px{0, 0, 255, 255}));
  EXPECT_EQ(At(j, 2, 0)[3], 0);
}

TEST(Bitmap, BrokenFilesAreRefused) {
  struct Case {
    const char* label;
    std::string data;
    const char* message;
  } cases[] = {
      {"truncated pixels", Bmp(4, 4, 24, 0, "", std::string(20, '\0')), "truncated"},
      {"depth", Bmp(1, 1, 7, 0, "", std::string(4, '\0')), "unsupported bitmap depth 7"},
      {"compression", Bmp(1, 1, 24, 9, "", std::string(4, '\0')), "unsupported bitmap compression 9"},
      {"huge", Bmp(1 << 30, 1 << 30, 24, 0, "", ""), "too large"},
      {"no pixels", Bmp(0, 1, 24, 0, "", ""), "without pixels"},
      {"palette", Bmp(1, 1, 8, 0, std::string(4 * 300, '\0'), std::string(4, '\0')), "palette too large"},
      {"header", "BM" + std::string(12, '\0') + Le32(20) + std::string(20, '\0'), "header size 20"},
  };
  for (const auto& c : cases) {
    try {
      DecodeBmp(c.data);
      ADD_FAILURE() << c.label;
    } catch (const PictureError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.label << ": " << e.what();
    }
  }
}

// An icon file with the given images (each a DIB or PNG).
std::string Icon(const std::vector<std::pair<int, std::string>>& images) {
  std::string dir = Le16(0) + Le16(1) + Le16(static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  std::string data;
  for (const auto& [size, image] : images) {
    dir += {static_cast<char>(size), static_cast<char>(size), 0, 0};
    dir += Le16(1) + Le16(32) + Le32(static_cast<std::uint32_t>(image.size())) + Le32(offset);
    offset += static_cast<std::uint32_t>(image.size());
    data += image;
  }
  return dir + data;
}

// A DIB icon image: 2 x 2, 24-bit colours, then the mask (bit set = transparent).
std::string IconDib(int size, std::uint8_t colour, std::uint8_t maskBits) {
  std::string dib = Le32(40) + Le32(static_cast<std::uint32_t>(size)) + Le32(static_cast<std::uint32_t>(size * 2)) +
                    Le16(1) + Le16(24) + std::string(24, '\0');
  std::size_t stride = (static_cast<std::size_t>(size) * 3 + 3) / 4 * 4;
  for (int y = 0; y < size; ++y) {
    std::string row(stride, '\0');
    for (int x = 0; x < size * 3; ++x) row[static_cast<std::size_t>(x)] = static_cast<char>(colour);
    dib += row;
  }
  for (int y = 0; y < size; ++y) dib += std::string(1, static_cast<char>(maskBits)) + std::string(3, '\0');
  return dib;
}

TEST(Icon, LargestImageWithItsMask) {
  std::string ico = Icon({{2, IconDib(2, 0x11, 0x00)}, {4, IconDib(4, 0x22, 0x80)}});
  Image img = DecodeIco(ico);
  ASSERT_EQ(img.width, 4u);
  ASSERT_EQ(img.height, 4u);
  EXPECT_EQ(At(img, 0, 0), (Px{0x22, 0x22, 0x22, 0}));  // masked
  EXPECT_EQ(At(img, 1, 0), (Px{0x22, 0x22, 0x22, 255}));
  EXPECT_EQ(DecodePicture(ico).width, 4u);

  std::string outside = ico;
  outside[6 + 16 + 12] = '\x7F';  // the chosen image's offset far outside the file
  outside[6 + 16 + 15] = '\x7F';
  EXPECT_THROW(DecodeIco(outside), PictureError);
  EXPECT_THROW(DecodeIco(Le16(0) + Le16(1) + Le16(3)), PictureError);
}

std::string EncodeJpeg(int width, int height, bool gray) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = gray ? 1 : 3;
  c.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width * c.input_components));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (gray) {
        row[static_cast<std::size_t>(x)] = static_cast<unsigned char>(x * 4 + y);
      } else {
        row[static_cast<std::size_t>(x * 3)] = static_cast<unsigned char>(x * 4);
        row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<unsigned char>(y * 4);
        row[static_cast<std::size_t>(x * 3 + 2)] = 128;
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string data(reinterpret_cast<char*>(out), size);
  std::free(out);
  return data;
}

TEST(Jpeg, ColourAndGreyAgainstTheSourcePixels) {
  for (bool gray : {false, true}) {
    Image img = DecodeJpeg(EncodeJpeg(40, 24, gray));
    ASSERT_EQ(img.width, 40u);
    ASSERT_EQ(img.height, 24u);
    int worst = 0;
    for (std::uint32_t y = 0; y < 24; ++y) {
      for (std::uint32_t x = 0; x < 40; ++x) {
        Px p = At(img, x, y);
        Px want = gray ? Px{int(x * 4 + y), int(x * 4 + y), int(x * 4 + y), 255} : Px{128, int(y * 4), int(x * 4), 255};
        for (int k = 0; k < 4; ++k) worst = std::max(worst, std::abs(p[static_cast<std::size_t>(k)] - want[static_cast<std::size_t>(k)]));
      }
    }
    EXPECT_LE(worst, 8) << (gray ? "grey" : "colour");
  }
}

TEST(Jpeg, BrokenDataIsAnErrorNotACrash) {
  EXPECT_THROW(DecodeJpeg(std::string("\xFF\xD8\xFF\xE0garbage", 10)), PictureError);
  EXPECT_THROW(DecodeJpeg("not a jpeg"), PictureError);
  std::string good = EncodeJpeg(16, 16, false);
  for (std::size_t n = 0; n < good.size(); n += 7) {
    try {
      DecodeJpeg(good.substr(0, n));  // libjpeg may fill in a cut-off tail; either outcome is fine
    } catch (const PictureError&) {
    }
  }
}

TEST(FormGraphic, PictureDataOfFormProperties) {
  std::string bmp = Bmp(1, 1, 24, 0, "", std::string("\x01\x02\x03\0", 4));
  std::string jpeg = EncodeJpeg(8, 8, true);
  std::string ico = Icon({{2, IconDib(2, 0x33, 0)}});
  struct Case {
    const char* label;
    std::string data;
    const char* className;
    std::uint32_t width;
  } cases[] = {
      {"picture bitmap", "\x07TBitmap" + Le32(static_cast<std::uint32_t>(bmp.size())) + bmp, "TBitmap", 1},
      {"picture jpeg", "\x0ATJPEGImage" + Le32(static_cast<std::uint32_t>(jpeg.size())) + jpeg, "TJPEGImage", 8},
      {"picture icon", "\x05TIcon" + ico, "TIcon", 2},
      {"glyph", Le32(static_cast<std::uint32_t>(bmp.size())) + bmp, "", 1},
      {"form icon", ico, "", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GraphicClassName(c.data), c.className) << c.label;
    EXPECT_EQ(DecodeFormGraphic(c.data).width, c.width) << c.label;
  }
  try {
    DecodeFormGraphic("\x09TMetafile" + Le32(4) + "\x01\x00\x00\x00");
    ADD_FAILURE();
  } catch (const PictureError& e) {
    EXPECT_NE(std::string(e.what()).find("TMetafile"), std::string::npos) << e.what();
  }
}

TEST(FormGraphic, GlyphTransparency) {
  std::string rows = std::string("\x01\x01\x01\x02\x02\x02\0\0", 8) + std::string("\x01\x01\x01\x01\x01\x01\0\0", 8);
  Image img = DecodeBmp(Bmp(2, 2, 24, 0, "", rows));
  MakeBottomLeftColorTransparent(img);
  EXPECT_EQ(At(img, 0, 1)[3], 0);
  EXPECT_EQ(At(img, 1, 1)[3], 255);
  EXPECT_EQ(At(img, 0, 0)[3], 0);
}

}  // namespace
}  // namespace kem::pictures
