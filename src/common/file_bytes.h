// Reading a whole file through the C runtime's plain file calls. The engine reads its
// forms and texts this way rather than through the C++ streams, whose locale machinery
// would add more to the engine's download than everything else it reads files with.
#pragma once

#include <optional>
#include <string>

namespace kem {

// The file's bytes; nothing when it cannot be opened or read to its end.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace kem
