// Where the executable image ends and the appended setup data begins.
#pragma once

#include <cstdint>
#include <span>

namespace kem {

// The stub size of a PE image: the largest PointerToRawData + SizeOfRawData over the
// section table, which starts 244 bytes after the COFF file header (a PE32 optional header
// is 224 bytes). Raises SetupDataError when the bytes are not a PE image or its headers
// point past the end of the given bytes.
std::uint32_t ComputeStubSize(std::span<const std::uint8_t> image);

}  // namespace kem
