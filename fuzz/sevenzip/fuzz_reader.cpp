// libFuzzer target: open an archive from the input, list it and decode every entry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"

namespace {

class NullSink final : public kem::sevenzip::ExtractSink {
 public:
  bool BeginEntry(size_t) override { return true; }
  void Data(const uint8_t*, size_t size) override { bytes_ += size; }
  void EndEntry(size_t) override {}

 private:
  uint64_t bytes_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kem::sevenzip;
  ReaderOptions options;
  // Keep single allocations and key derivation small enough for the fuzzer's limits.
  options.maxHeaderSize = 1u << 20;
  options.maxDictionarySize = 16u << 20;
  options.maxKeyDerivationPower = 4;
  try {
    Archive archive(MemoryInputFile(data, size), [] { return std::optional<std::string>("pw"); }, options);
    uint64_t total = 0;
    for (const Entry& e : archive.Entries()) {
      (void)IsSafeEntryName(e.name);
      total += e.size;
    }
    // Declared sizes are not trusted; bound the work per input.
    if (total > (64u << 20)) return 0;
    NullSink sink;
    archive.Extract(std::vector<bool>(archive.Entries().size(), true), sink);
  } catch (const ArchiveError&) {
  }
  return 0;
}
