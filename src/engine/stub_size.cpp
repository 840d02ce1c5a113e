#include "engine/stub_size.h"

#include <cstring>

#include "engine/setup_data.h"

namespace kem {
namespace {

std::uint32_t Read32(std::span<const std::uint8_t> b, std::size_t at) {
  if (at > b.size() || b.size() - at < 4) throw SetupDataError("the program file is not a valid executable image");
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t Read16(std::span<const std::uint8_t> b, std::size_t at) {
  if (at > b.size() || b.size() - at < 2) throw SetupDataError("the program file is not a valid executable image");
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

std::uint32_t ComputeStubSize(std::span<const std::uint8_t> image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
    throw SetupDataError("the program file is not a valid executable image");
  const std::size_t pe = Read32(image, 0x3C);
  if (Read32(image, pe) != 0x00004550u) throw SetupDataError("the program file is not a valid executable image");
  const std::size_t fileHeader = pe + 4;
  const std::size_t sections = Read16(image, fileHeader + 2);
  // The section table follows the optional header: 224 bytes in a 32-bit image; a 64-bit
  // image (optional header magic 0x20B, the 64-bit test build) names its own size.
  std::size_t table = fileHeader + 244;
  if (Read16(image, fileHeader + 20) == 0x20B) table = fileHeader + 20 + Read16(image, fileHeader + 16);
  std::uint64_t stub = 0;
  for (std::size_t i = 0; i < sections; ++i) {
    const std::size_t h = table + i * 40;
    std::uint64_t end = static_cast<std::uint64_t>(Read32(image, h + 20)) + Read32(image, h + 16);
    if (end > stub) stub = end;
  }
  if (stub > 0xFFFFFFFFull) throw SetupDataError("the program file is not a valid executable image");
  return static_cast<std::uint32_t>(stub);
}

std::uint32_t StubSizeOfFile(std::span<const std::uint8_t> file) {
  std::uint32_t stub = ComputeStubSize(file);
  if (stub > file.size()) throw SetupDataError("the executable image's section table points past the end of the file");
  return stub;
}

}  // namespace kem
