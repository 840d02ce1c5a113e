// A file's version resource, read through version.dll loaded from the system folder.
#pragma once

#include <string>
#include <vector>

namespace kem::platform {

// The whole resource; empty when the file has none or it cannot be read.
std::vector<char> VersionResource(const std::string& path);
// A value of the resource (VerQueryValue's sub-block) with at least minBytes; null otherwise.
const void* VersionValue(const std::vector<char>& resource, const char* subBlock, unsigned minBytes);

}  // namespace kem::platform
