#include "media/archive_extractor.h"

#include "media/archive_operations.h"

namespace kem {
namespace {

// The library's progress callback carries no context: the extraction running on this
// thread finds its receiver here.
thread_local const ArchiveExtractor::Progress* currentProgress = nullptr;

int32_t KEM_ARCHIVE_CALL ProgressThunk(const char* name, uint32_t doneLow, uint32_t doneHigh, uint32_t totalLow,
                                       uint32_t totalHigh) {
  if (!currentProgress || !*currentProgress) return 1;
  const std::uint64_t done = (static_cast<std::uint64_t>(doneHigh) << 32) | doneLow;
  const std::uint64_t total = (static_cast<std::uint64_t>(totalHigh) << 32) | totalLow;
  return (*currentProgress)(name ? std::string(name) : std::string(), done, total) ? 1 : 0;
}

class KemLibExtractor : public ArchiveExtractor {
 public:
  explicit KemLibExtractor(ArchiveHost& host) : host_(host) {}
  bool Extract(const std::string& archivePath, const std::string& password, const std::string& destinationFolder,
               bool overwrite, bool arrangement, const Progress& progress, std::string& errorText) override {
    const Progress* before = currentProgress;
    currentProgress = &progress;
    ArchiveExtractCallbacks callbacks;
    callbacks.progress = &ProgressThunk;
    bool ok = false;
    try {
      ok = ExtractFromArchive(host_, archivePath, password, destinationFolder, callbacks, nullptr, overwrite, arrangement,
                              errorText);
    } catch (...) {
      currentProgress = before;
      throw;
    }
    currentProgress = before;
    return ok;
  }

 private:
  ArchiveHost& host_;
};

}  // namespace

std::unique_ptr<ArchiveExtractor> CreateArchiveExtractor(ArchiveHost& host) {
  return std::make_unique<KemLibExtractor>(host);
}

}  // namespace kem
