#include "launcher/support_folder.h"

#include <stdexcept>

namespace kem {

std::string ClaimSupportFolder(const std::string& tempFolder,
                               const std::function<FolderClaim(const std::string& path)>& claim) {
  int failures = 0;
  for (int n = 1; n <= kMaxSupportFolders; ++n) {
    std::string candidate = tempFolder + "kem" + std::to_string(n);
    switch (claim(candidate)) {
      case FolderClaim::Created:
        return candidate + "\\";
      case FolderClaim::Exists:
        failures = 0;
        break;
      case FolderClaim::Failed:
        if (++failures >= kMaxFailedSupportFolders)
          throw std::runtime_error("Unable to create a support folder in " + tempFolder);
        break;
    }
  }
  throw std::runtime_error("No free support folder in " + tempFolder);
}

}  // namespace kem
