// Where the executable image ends and the appended setup data begins.
#pragma once

#include <cstdint>
#include <span>

namespace kem {

// The stub size of a PE image: the largest PointerToRawData + SizeOfRawData over the
// section table, which starts 244 bytes after the COFF file header (a PE32 optional header
// is 224 bytes). `headers` holds at least the image's headers (the start of the file, or
// the mapped image in memory). Raises SetupDataError when the bytes are not a PE image or
// the headers run past the given bytes.
std::uint32_t ComputeStubSize(std::span<const std::uint8_t> headers);

// The stub size of a whole file's bytes; also raises when the section table points past
// the end of the file.
std::uint32_t StubSizeOfFile(std::span<const std::uint8_t> file);

}  // namespace kem
