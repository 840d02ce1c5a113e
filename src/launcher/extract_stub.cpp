// Stand-in for the archive operations while the engine is built without kem.lib: every
// extraction fails.
#include "media/archive_operations.h"

namespace kem {

bool ExtractSupportArchive(const std::string&, const std::string&, std::string& errorText) {
  errorText = "General failure opening archive";
  return false;
}

}  // namespace kem
