#include "engine/stub_size.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/setup_data.h"

namespace kem {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A synthetic PE: DOS header, "PE\0\0", file header, 224-byte optional header, sections.
std::vector<std::uint8_t> MakeImage(std::vector<std::pair<std::uint32_t, std::uint32_t>> sections, std::size_t fileSize) {
  std::vector<std::uint8_t> b(fileSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  const std::uint32_t pe = 0x80;
  std::memcpy(&b[0x3C], &pe, 4);
  std::memcpy(&b[pe], "PE\0\0", 4);
  const std::uint16_t count = static_cast<std::uint16_t>(sections.size());
  std::memcpy(&b[pe + 4 + 2], &count, 2);
  std::size_t table = pe + 4 + 244;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    std::memcpy(&b[table + i * 40 + 16], &sections[i].second, 4);  // SizeOfRawData
    std::memcpy(&b[table + i * 40 + 20], &sections[i].first, 4);   // PointerToRawData
  }
  return b;
}

TEST(StubSize, LargestSectionEndWins) {
  auto img = MakeImage({{0x400, 0x200}, {0x1000, 0x600}, {0x600, 0x100}}, 0x2000);
  EXPECT_EQ(ComputeStubSize(img), 0x1600u);
  EXPECT_EQ(StubSizeOfFile(img), 0x1600u);
}

TEST(StubSize, RejectsWhatIsNotAnImage) {
  EXPECT_THROW(ComputeStubSize(Bytes("")), SetupDataError);
  EXPECT_THROW(ComputeStubSize(Bytes(std::string(100, 'x'))), SetupDataError);
  auto img = MakeImage({{0x400, 0x200}}, 0x1000);
  img[0x80] = 'X';  // PE signature broken
  EXPECT_THROW(ComputeStubSize(img), SetupDataError);
  auto farHeader = MakeImage({{0x400, 0x200}}, 0x1000);
  const std::uint32_t pe = 0xFFFFFF00u;
  std::memcpy(&farHeader[0x3C], &pe, 4);
  EXPECT_THROW(ComputeStubSize(farHeader), SetupDataError);
  // A section table that runs past the bytes, and sections that end past the file.
  auto manySections = MakeImage({{0x400, 0x200}}, 0x200);
  const std::uint16_t many = 500;
  std::memcpy(&manySections[0x80 + 6], &many, 2);
  EXPECT_THROW(ComputeStubSize(manySections), SetupDataError);
  auto pastEnd = MakeImage({{0x400, 0x2000}}, 0x1000);
  EXPECT_THROW(StubSizeOfFile(pastEnd), SetupDataError);
}

#ifdef KEM_TINY_PE
TEST(StubSize, RealStrippedProgramEndsAtItsLastSection) {
  std::vector<const char*> images = {KEM_TINY_PE};
#ifdef KEM_TINY_PE64
  images.push_back(KEM_TINY_PE64);  // a 64-bit image: a longer optional header
#endif
  for (const char* image : images) {
    std::ifstream f(image, std::ios::binary);
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(file.size(), 1024u) << image;
    EXPECT_EQ(StubSizeOfFile(file), file.size()) << image;
    // Appended data does not move the image end.
    std::vector<std::uint8_t> withData = file;
    for (char c : std::string("$\r\n$\r\n")) withData.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(StubSizeOfFile(withData), file.size()) << image;
  }
}
#endif

}  // namespace
}  // namespace kem
