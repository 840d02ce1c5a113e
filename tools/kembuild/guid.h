// GUIDs as the setup data writes them: braces, upper-case hexadecimal, 8-4-4-4-12.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kem::builder {

// The GUID in its canonical upper-case braced form, or nullopt when the text is not a
// braced GUID (either letter case is accepted).
std::optional<std::string> CanonicalGuid(std::string_view text);

// A GUID derived from a text by hashing: the same text always gives the same GUID, so a
// build is reproducible. Shaped as a name-based GUID (version 5, RFC 4122 variant).
std::string DerivedGuid(std::string_view seed);

// 64-bit FNV-1a, seeded; used where the builder needs a stable number from a text.
std::uint64_t HashText(std::string_view text, std::uint64_t seed = 0xCBF29CE484222325ull);

}  // namespace kem::builder
