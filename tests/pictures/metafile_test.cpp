#include "dialogs/pictures/metafile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kem::pictures {
namespace {

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

// An enhanced metafile of a header and its end record, framed by the given hundredths of
// a millimetre.
std::string Emf(std::int32_t frameWidth, std::int32_t frameHeight) {
  std::string s;
  Put32(s, 1);   // header record
  Put32(s, 88);
  for (std::uint32_t v : {0u, 0u, 99u, 49u}) Put32(s, v);  // bounds
  for (std::int32_t v : {0, 0, frameWidth, frameHeight}) Put32(s, static_cast<std::uint32_t>(v));
  Put32(s, 0x464D4520);
  Put32(s, 0x10000);
  Put32(s, 88 + 20);  // the whole file
  Put32(s, 2);
  Put16(s, 1);
  Put16(s, 0);
  for (int i = 0; i < 3; ++i) Put32(s, 0);
  for (std::uint32_t v : {1024u, 768u, 320u, 240u}) Put32(s, v);
  Put32(s, 14);  // end of file record
  Put32(s, 20);
  Put32(s, 0);
  Put32(s, 16);
  Put32(s, 20);
  return s;
}

// A Windows metafile of its header and the end record, optionally placeable.
std::string Wmf(bool placeable, std::int16_t right, std::int16_t bottom, std::uint16_t inch) {
  std::string s;
  if (placeable) {
    Put32(s, 0x9AC6CDD7);
    Put16(s, 0);
    for (std::int16_t v : {std::int16_t(0), std::int16_t(0), right, bottom}) Put16(s, static_cast<std::uint16_t>(v));
    Put16(s, inch);
    Put32(s, 0);
    Put16(s, 0);
  }
  Put16(s, 1);
  Put16(s, 9);
  Put16(s, 0x300);
  Put32(s, 12);  // words: the header's 9 and the end record's 3
  Put16(s, 0);
  Put32(s, 3);
  Put16(s, 0);
  Put32(s, 3);  // end record
  Put16(s, 0);
  return s;
}

TEST(Metafile, KindsAndSizesAtTheScreensResolution) {
  struct Case {
    const char* what;
    std::string data;
    bool found;
    MetafileInfo::Kind kind;
    int width, height;
  } cases[] = {
      {"enhanced, 1 by 0.5 inch", Emf(2540, 1270), true, MetafileInfo::Kind::Enhanced, 96, 48},
      {"placeable, 2 by 1 inch", Wmf(true, 2880, 1440, 1440), true, MetafileInfo::Kind::Windows, 192, 96},
      {"plain Windows metafile: no size", Wmf(false, 0, 0, 0), true, MetafileInfo::Kind::Windows, 0, 0},
      {"placeable without its metafile", Wmf(true, 100, 100, 96).substr(0, 22), false, {}, 0, 0},
      {"enhanced, cut short", Emf(2540, 2540).substr(0, 100), false, {}, 0, 0},
      {"placeable, zero units per inch", Wmf(true, 100, 100, 0), true, MetafileInfo::Kind::Windows, 0, 0},
      {"a PNG", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'), false, {}, 0, 0},
      {"nothing", std::string(), false, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<MetafileInfo> info = ReadMetafile(c.data);
    ASSERT_EQ(info.has_value(), c.found);
    if (!info) continue;
    EXPECT_EQ(info->kind, c.kind);
    EXPECT_EQ(info->width, c.width);
    EXPECT_EQ(info->height, c.height);
    // The records handed to the system stay inside the data.
    EXPECT_GE(info->records.data(), c.data.data());
    EXPECT_LE(info->records.data() + info->records.size(), c.data.data() + c.data.size());
  }
}

}  // namespace
}  // namespace kem::pictures
