// The numbers of the 7z format that its reader and its writer share: the signature, the
// property ids of the headers and the coder method ids.
#pragma once

#include <cstdint>

namespace kem::sevenzip::format {

inline constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

enum PropertyId : std::uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
  kDummy = 0x19,
};

inline constexpr std::uint64_t kMethodCopy = 0x00;
inline constexpr std::uint64_t kMethodDelta = 0x03;
inline constexpr std::uint64_t kMethodX86 = 0x03030103;
inline constexpr std::uint64_t kMethodPowerPc = 0x03030205;
inline constexpr std::uint64_t kMethodIa64 = 0x03030401;
inline constexpr std::uint64_t kMethodArm = 0x03030501;
inline constexpr std::uint64_t kMethodArmThumb = 0x03030701;
inline constexpr std::uint64_t kMethodSparc = 0x03030805;
inline constexpr std::uint64_t kMethodArm64 = 0x0A;
inline constexpr std::uint64_t kMethodLzma = 0x030101;
inline constexpr std::uint64_t kMethodLzma2 = 0x21;
inline constexpr std::uint64_t kMethodAes = 0x06F10701;

}  // namespace kem::sevenzip::format
