// The engine's archive operations over kem.lib: list and extract, with the default
// callbacks, the one-time password hand-out and the error texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kem {

// Unpacks the whole support archive into the folder: no password, default callbacks,
// overwrite and arrangement flags set. False with the error text on failure.
bool ExtractSupportArchive(const std::string& archivePath, const std::string& destinationFolder,
                           std::string& errorText);

}  // namespace kem
