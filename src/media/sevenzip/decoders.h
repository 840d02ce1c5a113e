// The decoding stages of a folder: each pulls from the stage before it and yields exactly the
// number of bytes its coder declares.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/sevenzip/sevenzip.h"

namespace kem::sevenzip {

class Stage {
 public:
  virtual ~Stage() = default;
  // Up to size bytes; 0 only once the declared output is complete.
  virtual size_t Read(uint8_t* buffer, size_t size) = 0;
};

// A packed stream: a byte range of the archive file.
std::unique_ptr<Stage> MakePackStage(InputFile& file, uint64_t offset, uint64_t size);
// Passes the input through, checking its length.
std::unique_ptr<Stage> MakeCopyStage(std::unique_ptr<Stage> input, uint64_t outSize);

// One filter of a liblzma raw chain, closest to the output first; the last is LZMA or LZMA2.
struct FilterSpec {
  enum Kind { kLzma, kLzma2, kX86, kPowerPc, kIa64, kArm, kArmThumb, kSparc, kArm64, kDelta } kind;
  std::vector<uint8_t> properties;
};
std::unique_ptr<Stage> MakeLzmaStage(std::unique_ptr<Stage> input, const std::vector<FilterSpec>& chain,
                                     uint64_t outSize, uint64_t maxDictionarySize);

// 7zAES: AES-256-CBC with the key of DeriveAesKey.
struct AesParameters {
  uint32_t cyclesPower = 0;
  std::vector<uint8_t> salt;
  std::array<uint8_t, 16> iv{};
};
AesParameters ParseAesProperties(const std::vector<uint8_t>& properties);
std::array<uint8_t, 32> DeriveAesKey(const AesParameters& parameters, const std::u16string& password);
std::unique_ptr<Stage> MakeAesStage(std::unique_ptr<Stage> input, const std::array<uint8_t, 32>& key,
                                    const std::array<uint8_t, 16>& iv, uint64_t outSize);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace kem::sevenzip
