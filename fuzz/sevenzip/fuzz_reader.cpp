// libFuzzer target: open an archive from the input, list it, decode every entry, and run the
// extraction of every listed name into a folder that writes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"

namespace {

// Accepts every folder and file without touching the disk, so that the selection, the name
// checks and the path joins of the extraction run on every input.
class NullFile final : public kem::sevenzip::OutputFile {
 public:
  void Write(const uint8_t*, size_t) override {}
  void Commit(const kem::sevenzip::Entry&) override {}
  void Abort() noexcept override {}
};

class NullFolder final : public kem::sevenzip::OutputFolder {
 public:
  char16_t Separator() const override { return u'\\'; }
  std::u16string Root(const std::u16string& destination) override { return destination; }
  size_t PathLimit(bool directory) const override { return directory ? 247 : 259; }
  Existing Query(const std::u16string&) override { return {}; }
  void CreateDirectories(const std::u16string&) override {}
  std::unique_ptr<kem::sevenzip::OutputFile> Create(const std::u16string&) override {
    return std::make_unique<NullFile>();
  }
  void FinishDirectory(const std::u16string&, const kem::sevenzip::Entry&) override {}
};

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
      (void)IsSafeEntryName(e.wideName);
      total += e.size;
    }
    // Declared sizes are not trusted; bound the work per input.
    if (total > (64u << 20)) return 0;
    NullSink sink;
    archive.Extract(std::vector<bool>(archive.Entries().size(), true), sink);
    // Through the extraction too, with every listed name selected (the data is decoded again).
    std::vector<std::string> names;
    for (const Entry& e : archive.Entries())
      if (!e.isAnti) names.push_back(e.name);
    NullFolder folder;
    ExtractRequest request;
    request.destination = u"C:\\dest";
    request.selection = std::move(names);
    request.withoutFolders = (size & 1) != 0;
    ExtractToFolder(archive, folder, request);
  } catch (const ArchiveError&) {
  }
  return 0;
}
