// Container parsing: signature header, (encoded) header, streams info, files info; and the
// folder decoding that Archive::Extract runs.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "media/sevenzip/decoders.h"
#include "media/sevenzip/format.h"
#include "media/sevenzip/sevenzip.h"

namespace kem::sevenzip {

namespace {

using namespace format;

constexpr size_t kMaxCoders = 32;
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
// Fuzzing builds look past header checksums so that mutations reach the parser.
constexpr bool kCheckHeaderCrc = false;
#else
constexpr bool kCheckHeaderCrc = true;
#endif

[[noreturn]] void Damaged(const char* what) { throw ArchiveError(ErrorKind::kDataError, what); }
[[noreturn]] void Unsupported(const char* what) { throw ArchiveError(ErrorKind::kUnsupported, what); }

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint64_t Le64(const uint8_t* p) { return Le32(p) | (uint64_t{Le32(p + 4)} << 32); }

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* Position() const { return p_; }
  uint8_t Byte() {
    if (p_ == end_) Damaged("The archive header is truncated");
    return *p_++;
  }
  void Skip(uint64_t n) {
    if (n > Left()) Damaged("The archive header is truncated");
    p_ += n;
  }
  const uint8_t* Bytes(size_t n) {
    const uint8_t* r = p_;
    Skip(n);
    return r;
  }
  uint32_t U32() { return Le32(Bytes(4)); }
  uint64_t U64() { return Le64(Bytes(8)); }
  uint64_t Number() {
    uint8_t first = Byte();
    uint8_t mask = 0x80;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        uint64_t high = first & (mask - 1u);
        value |= high << (8 * i);
        return value;
      }
      value |= uint64_t{Byte()} << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  // A count of items that each take at least one bit of the header.
  size_t Count() {
    uint64_t n = Number();
    if (n > (uint64_t{Left()} + 1) * 8) Damaged("Bad count in the archive header");
    return static_cast<size_t>(n);
  }
  std::vector<bool> Bits(size_t n) {
    std::vector<bool> v(n);
    uint8_t b = 0, mask = 0;
    for (size_t i = 0; i < n; ++i) {
      if (mask == 0) {
        b = Byte();
        mask = 0x80;
      }
      v[i] = (b & mask) != 0;
      mask >>= 1;
    }
    return v;
  }
  std::vector<bool> OptionalBits(size_t n) {
    if (Byte() != 0) return std::vector<bool>(n, true);
    return Bits(n);
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

struct Coder {
  uint64_t method = 0;
  size_t numIn = 1;
  size_t numOut = 1;
  std::vector<uint8_t> properties;
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<std::pair<uint64_t, uint64_t>> bindPairs;  // in index, out index
  std::vector<uint64_t> packedStreams;                   // in indices
  std::vector<uint64_t> unpackSizes;                     // per out stream
  bool hasCrc = false;
  uint32_t crc = 0;
  size_t firstPackStream = 0;
  uint64_t packOffset = 0;  // absolute file offset of the first pack stream
  // Filled by SubStreamsInfo.
  size_t numStreams = 1;

  size_t TotalIn() const {
    size_t n = 0;
    for (auto& c : coders) n += c.numIn;
    return n;
  }
  size_t TotalOut() const {
    size_t n = 0;
    for (auto& c : coders) n += c.numOut;
    return n;
  }
  size_t MainOut() const {
    for (size_t o = 0; o < TotalOut(); ++o) {
      bool bound = std::any_of(bindPairs.begin(), bindPairs.end(), [&](auto& b) { return b.second == o; });
      if (!bound) return o;
    }
    Damaged("Folder without output");
  }
  uint64_t UnpackSize() const { return unpackSizes.at(MainOut()); }
  bool Encrypted() const {
    return std::any_of(coders.begin(), coders.end(), [](const Coder& c) { return c.method == kMethodAes; });
  }
};

struct StreamsInfo {
  uint64_t packPos = 0;
  std::vector<uint64_t> packSizes;
  std::vector<Folder> folders;
  std::vector<uint64_t> subSizes;  // per unpacked stream
  std::vector<bool> subHasCrc;
  std::vector<uint32_t> subCrcs;
};

void ReadDigests(ByteReader& r, size_t n, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
  defined = r.OptionalBits(n);
  crcs.assign(n, 0);
  for (size_t i = 0; i < n; ++i)
    if (defined[i]) crcs[i] = r.U32();
}

void ReadPackInfo(ByteReader& r, StreamsInfo& info) {
  info.packPos = r.Number();
  size_t n = r.Count();
  bool haveSizes = false;
  for (;;) {
    uint8_t id = r.Byte();
    if (id == kEnd) break;
    if (id == kSize) {
      info.packSizes.resize(n);
      for (auto& s : info.packSizes) s = r.Number();
      haveSizes = true;
    } else if (id == kCrc) {
      std::vector<bool> d;
      std::vector<uint32_t> c;
      ReadDigests(r, n, d, c);
    } else {
      r.Skip(r.Number());
    }
  }
  if (!haveSizes && n > 0) Damaged("Pack sizes are missing");
}

void ReadFolder(ByteReader& r, Folder& f) {
  size_t numCoders = r.Count();
  if (numCoders == 0 || numCoders > kMaxCoders) Unsupported("Unsupported number of coders");
  for (size_t i = 0; i < numCoders; ++i) {
    uint8_t flags = r.Byte();
    if (flags & 0x80) Unsupported("Alternative coder methods are not supported");
    size_t idSize = flags & 0x0F;
    if (idSize > 8) Unsupported("Unsupported coder id");
    Coder c;
    const uint8_t* id = r.Bytes(idSize);
    for (size_t k = 0; k < idSize; ++k) c.method = (c.method << 8) | id[k];
    if (flags & 0x10) {
      c.numIn = r.Count();
      c.numOut = r.Count();
      if (c.numIn > kMaxCoders || c.numOut != 1) Unsupported("Unsupported coder streams");
    }
    if (flags & 0x20) {
      uint64_t size = r.Number();
      if (size > r.Left()) Damaged("The archive header is truncated");
      const uint8_t* p = r.Bytes(static_cast<size_t>(size));
      c.properties.assign(p, p + size);
    }
    f.coders.push_back(std::move(c));
  }
  size_t totalOut = f.TotalOut(), totalIn = f.TotalIn();
  if (totalIn > kMaxCoders) Unsupported("Unsupported coder streams");
  size_t numBindPairs = totalOut - 1;
  for (size_t i = 0; i < numBindPairs; ++i) {
    uint64_t in = r.Number(), out = r.Number();
    if (in >= totalIn || out >= totalOut) Damaged("Bad bind pair");
    f.bindPairs.emplace_back(in, out);
  }
  if (totalIn < numBindPairs) Damaged("Bad folder");
  size_t numPacked = totalIn - numBindPairs;
  if (numPacked == 1) {
    for (uint64_t i = 0; i < totalIn; ++i) {
      bool bound = std::any_of(f.bindPairs.begin(), f.bindPairs.end(), [&](auto& b) { return b.first == i; });
      if (!bound) {
        f.packedStreams.push_back(i);
        break;
      }
    }
    if (f.packedStreams.empty()) Damaged("Bad folder");
  } else {
    for (size_t i = 0; i < numPacked; ++i) {
      uint64_t idx = r.Number();
      if (idx >= totalIn) Damaged("Bad folder");
      f.packedStreams.push_back(idx);
    }
  }
}

void ReadUnpackInfo(ByteReader& r, StreamsInfo& info) {
  if (r.Byte() != kFolder) Damaged("Bad unpack info");
  size_t n = r.Count();
  if (r.Byte() != 0) Unsupported("External folders are not supported");
  info.folders.resize(n);
  for (auto& f : info.folders) ReadFolder(r, f);
  if (r.Byte() != kCodersUnpackSize) Damaged("Bad unpack info");
  for (auto& f : info.folders) {
    f.unpackSizes.resize(f.TotalOut());
    for (auto& s : f.unpackSizes) s = r.Number();
  }
  for (;;) {
    uint8_t id = r.Byte();
    if (id == kEnd) break;
    if (id == kCrc) {
      std::vector<bool> d;
      std::vector<uint32_t> c;
      ReadDigests(r, n, d, c);
      for (size_t i = 0; i < n; ++i) {
        info.folders[i].hasCrc = d[i];
        info.folders[i].crc = c[i];
      }
    } else {
      r.Skip(r.Number());
    }
  }
}

void ReadSubStreamsInfo(ByteReader& r, StreamsInfo& info) {
  for (auto& f : info.folders) f.numStreams = 1;
  uint8_t id = r.Byte();
  if (id == kNumUnpackStream) {
    for (auto& f : info.folders) f.numStreams = r.Count();
    id = r.Byte();
  }
  info.subSizes.clear();
  for (auto& f : info.folders) {
    if (f.numStreams == 0) continue;
    uint64_t total = f.UnpackSize(), sum = 0;
    if (id == kSize) {
      for (size_t i = 0; i + 1 < f.numStreams; ++i) {
        uint64_t s = r.Number();
        if (s > total - sum) Damaged("Bad stream sizes");
        info.subSizes.push_back(s);
        sum += s;
      }
    } else if (f.numStreams > 1) {
      Damaged("Stream sizes are missing");
    }
    info.subSizes.push_back(total - sum);
  }
  if (id == kSize) id = r.Byte();
  size_t numDigests = 0;
  for (auto& f : info.folders)
    if (f.numStreams != 1 || !f.hasCrc) numDigests += f.numStreams;
  info.subHasCrc.clear();
  info.subCrcs.clear();
  std::vector<bool> d;
  std::vector<uint32_t> c;
  bool haveDigests = false;
  for (;;) {
    if (id == kEnd) break;
    if (id == kCrc) {
      ReadDigests(r, numDigests, d, c);
      haveDigests = true;
    } else {
      r.Skip(r.Number());
    }
    id = r.Byte();
  }
  size_t k = 0;
  for (auto& f : info.folders) {
    if (f.numStreams == 1 && f.hasCrc) {
      info.subHasCrc.push_back(true);
      info.subCrcs.push_back(f.crc);
      continue;
    }
    for (size_t i = 0; i < f.numStreams; ++i, ++k) {
      info.subHasCrc.push_back(haveDigests && d[k]);
      info.subCrcs.push_back(haveDigests ? c[k] : 0);
    }
  }
}

void ReadStreamsInfo(ByteReader& r, StreamsInfo& info) {
  uint8_t id = r.Byte();
  bool haveSub = false;
  if (id == kPackInfo) {
    ReadPackInfo(r, info);
    id = r.Byte();
  }
  if (id == kUnpackInfo) {
    ReadUnpackInfo(r, info);
    id = r.Byte();
  }
  if (id == kSubStreamsInfo) {
    ReadSubStreamsInfo(r, info);
    haveSub = true;
    id = r.Byte();
  }
  if (id != kEnd) Damaged("Bad streams info");
  if (!haveSub) {
    info.subSizes.clear();
    for (auto& f : info.folders) {
      f.numStreams = 1;
      info.subSizes.push_back(f.UnpackSize());
      info.subHasCrc.push_back(f.hasCrc);
      info.subCrcs.push_back(f.crc);
    }
  }
  // Assign the pack streams to the folders and check that they lie inside the file.
  size_t pack = 0;
  uint64_t offset = 32 + info.packPos;
  if (offset < info.packPos) Damaged("Bad pack position");
  std::vector<uint64_t> packOffsets;
  for (uint64_t s : info.packSizes) {
    packOffsets.push_back(offset);
    if (offset + s < offset) Damaged("Bad pack size");
    offset += s;
  }
  for (auto& f : info.folders) {
    f.firstPackStream = pack;
    if (f.packedStreams.size() > info.packSizes.size() - pack) Damaged("Pack streams are missing");
    f.packOffset = pack < packOffsets.size() ? packOffsets[pack] : 0;
    pack += f.packedStreams.size();
  }
}

}  // namespace

struct Archive::Impl {
  std::unique_ptr<InputFile> file;
  PasswordProvider passwords;
  ReaderOptions options;
  std::vector<Entry> entries;
  StreamsInfo streams;
  std::vector<uint64_t> entryStream;  // index of the unpacked stream of each entry with data
  bool passwordAsked = false;
  std::optional<std::u16string> password;
  // Derived keys by what the derivation reads: password, salt and rounds. Folders of one
  // archive share these and differ only in their IV, so one derivation serves them all.
  std::map<std::tuple<std::u16string, std::vector<uint8_t>, uint32_t>, std::array<uint8_t, 32>> keys;

  const std::u16string& Password() {
    if (!passwordAsked) {
      passwordAsked = true;
      if (passwords) {
        std::optional<std::string> p = passwords();
        if (p) password = options.passwordConverter(*p);
      }
    }
    if (!password) Unsupported("A password is required");
    return *password;
  }

  // Builds the chain of stages that yields the folder's main output.
  std::unique_ptr<Stage> OpenFolder(const StreamsInfo& info, const Folder& f) {
    // Walk from the main output back to the packed stream; every coder has one input.
    std::vector<size_t> chain;  // coder indices, output side first
    std::vector<size_t> outIndex;
    size_t out = f.MainOut();
    std::vector<size_t> firstOut, firstIn;
    size_t o = 0, in = 0;
    for (auto& c : f.coders) {
      firstOut.push_back(o);
      firstIn.push_back(in);
      o += c.numOut;
      in += c.numIn;
    }
    for (;;) {
      size_t coder = 0;
      while (coder + 1 < f.coders.size() && firstOut[coder + 1] <= out) ++coder;
      if (std::find(chain.begin(), chain.end(), coder) != chain.end()) Damaged("Bad folder");
      if (f.coders[coder].numIn != 1) Unsupported("Unsupported coder layout");
      chain.push_back(coder);
      outIndex.push_back(out);
      size_t inStream = firstIn[coder];
      auto bp = std::find_if(f.bindPairs.begin(), f.bindPairs.end(), [&](auto& b) { return b.first == inStream; });
      if (bp == f.bindPairs.end()) {
        if (f.packedStreams.size() != 1 || f.packedStreams[0] != inStream) Unsupported("Unsupported coder layout");
        break;
      }
      out = static_cast<size_t>(bp->second);
    }
    if (f.packedStreams.size() != 1) Unsupported("Unsupported coder layout");
    std::unique_ptr<Stage> stage =
        MakePackStage(*file, f.packOffset, info.packSizes.at(f.firstPackStream));
    // Input side first.
    std::vector<FilterSpec> filters;  // pending branch converters are merged into LZMA chains
    for (size_t k = chain.size(); k-- > 0;) {
      const Coder& c = f.coders[chain[k]];
      uint64_t size = f.unpackSizes.at(outIndex[k]);
      FilterSpec::Kind kind;
      switch (c.method) {
        case kMethodCopy:
          stage = MakeCopyStage(std::move(stage), size);
          continue;
        case kMethodAes: {
          AesParameters p = ParseAesProperties(c.properties);
          if (p.cyclesPower > options.maxKeyDerivationPower && p.cyclesPower != 0x3F)
            Unsupported("Unsupported key derivation");
          const std::u16string& pw = Password();
          auto id = std::make_tuple(pw, p.salt, p.cyclesPower);
          auto it = keys.find(id);
          if (it == keys.end()) it = keys.emplace(std::move(id), DeriveAesKey(p, pw)).first;
          stage = MakeAesStage(std::move(stage), it->second, p.iv, size);
          continue;
        }
        case kMethodLzma: kind = FilterSpec::kLzma; break;
        case kMethodLzma2: kind = FilterSpec::kLzma2; break;
        default: Unsupported("Unsupported compression method");
      }
      // Collect the branch converters that directly follow the decoder.
      filters.assign(1, FilterSpec{kind, c.properties});
      size_t outSize = size;
      while (k > 0) {
        const Coder& next = f.coders[chain[k - 1]];
        FilterSpec::Kind fk;
        switch (next.method) {
          case kMethodX86: fk = FilterSpec::kX86; break;
          case kMethodPowerPc: fk = FilterSpec::kPowerPc; break;
          case kMethodIa64: fk = FilterSpec::kIa64; break;
          case kMethodArm: fk = FilterSpec::kArm; break;
          case kMethodArmThumb: fk = FilterSpec::kArmThumb; break;
          case kMethodSparc: fk = FilterSpec::kSparc; break;
          case kMethodArm64: fk = FilterSpec::kArm64; break;
          case kMethodDelta: fk = FilterSpec::kDelta; break;
          default: fk = FilterSpec::kLzma; break;
        }
        if (fk == FilterSpec::kLzma || filters.size() >= 4) break;
        --k;
        if (f.unpackSizes.at(outIndex[k]) != outSize) Damaged("Bad filter sizes");
        filters.insert(filters.begin(), FilterSpec{fk, next.properties});
      }
      stage = MakeLzmaStage(std::move(stage), filters, outSize, options.maxDictionarySize);
    }
    return stage;
  }

  void ReadFiles(ByteReader& r) {
    size_t numFiles = r.Count();
    // Every real entry costs at least a byte of header (its name or a bit vector entry plus
    // a stream size); more entries than bytes only serve to exhaust memory.
    if (numFiles > r.Left()) Damaged("Bad number of files");
    entries.assign(numFiles, Entry{});
    std::vector<bool> emptyStream(numFiles, false), emptyFile, anti;
    size_t numEmpty = 0;
    for (;;) {
      uint8_t type = r.Byte();
      if (type == kEnd) break;
      uint64_t size = r.Number();
      if (size > r.Left()) Damaged("The archive header is truncated");
      ByteReader p(r.Position(), static_cast<size_t>(size));
      r.Skip(size);
      switch (type) {
        case kEmptyStream:
          emptyStream = p.Bits(numFiles);
          numEmpty = static_cast<size_t>(std::count(emptyStream.begin(), emptyStream.end(), true));
          emptyFile.assign(numEmpty, false);
          anti.assign(numEmpty, false);
          break;
        case kEmptyFile:
          emptyFile = p.Bits(numEmpty);
          break;
        case kAnti:
          anti = p.Bits(numEmpty);
          break;
        case kName: {
          if (p.Byte() != 0) Unsupported("External names are not supported");
          for (auto& e : entries) {
            std::u16string name;
            for (;;) {
              const uint8_t* c = p.Bytes(2);
              char16_t ch = static_cast<char16_t>(c[0] | (c[1] << 8));
              if (ch == 0) break;
              name.push_back(ch);
            }
            e.wideName = std::move(name);
          }
          break;
        }
        case kMTime: {
          std::vector<bool> defined = p.OptionalBits(numFiles);
          if (p.Byte() != 0) Unsupported("External times are not supported");
          for (size_t i = 0; i < numFiles; ++i)
            if (defined[i]) {
              entries[i].hasModificationTime = true;
              entries[i].modificationTime = p.U64();
            }
          break;
        }
        case kWinAttributes: {
          std::vector<bool> defined = p.OptionalBits(numFiles);
          if (p.Byte() != 0) Unsupported("External attributes are not supported");
          for (size_t i = 0; i < numFiles; ++i)
            if (defined[i]) {
              entries[i].hasAttributes = true;
              entries[i].attributes = p.U32();
            }
          break;
        }
        default:
          break;  // times other than the modification time, padding, start positions
      }
    }
    // Map the entries with data onto the unpacked streams of the folders.
    size_t emptyIndex = 0, folder = 0, inFolder = 0, stream = 0;
    entryStream.assign(numFiles, 0);
    for (size_t i = 0; i < numFiles; ++i) {
      Entry& e = entries[i];
      if (emptyStream[i]) {
        e.hasStream = false;
        e.isDirectory = !emptyFile[emptyIndex];
        e.isAnti = anti[emptyIndex];
        ++emptyIndex;
        continue;
      }
      while (folder < streams.folders.size() && inFolder >= streams.folders[folder].numStreams) {
        ++folder;
        inFolder = 0;
      }
      if (folder >= streams.folders.size()) Damaged("More files than streams");
      e.hasStream = true;
      e.folder = static_cast<int>(folder);
      e.size = streams.subSizes[stream];
      e.hasCrc = streams.subHasCrc[stream];
      e.crc = streams.subCrcs[stream];
      e.encrypted = streams.folders[folder].Encrypted();
      if (inFolder == 0) {
        const Folder& f = streams.folders[folder];
        for (size_t k = 0; k < f.packedStreams.size(); ++k) e.packedSize += streams.packSizes[f.firstPackStream + k];
      }
      entryStream[i] = stream;
      ++inFolder;
      ++stream;
    }
    for (Entry& e : entries) {
      if (e.hasAttributes && (e.attributes & 0x10)) e.isDirectory = true;
      std::string name = options.nameConverter(e.wideName);
      std::replace(name.begin(), name.end(), '/', '\\');
      e.name = std::move(name);
    }
  }

  void ReadHeader(ByteReader& r) {
    uint8_t id = r.Byte();
    if (id == kArchiveProperties) {
      for (;;) {
        uint8_t t = r.Byte();
        if (t == kEnd) break;
        r.Skip(r.Number());
      }
      id = r.Byte();
    }
    if (id == kAdditionalStreamsInfo) {
      StreamsInfo ignored;
      ReadStreamsInfo(r, ignored);
      id = r.Byte();
    }
    if (id == kMainStreamsInfo) {
      ReadStreamsInfo(r, streams);
      id = r.Byte();
    }
    if (id == kFilesInfo) {
      ReadFiles(r);
      id = r.Byte();
    } else if (!streams.subSizes.empty()) {
      Damaged("Files info is missing");
    }
    if (id != kEnd) Damaged("Bad archive header");
  }

  // Decodes an encoded header into memory, growing with the data up to the header limit.
  std::vector<uint8_t> DecodeHeader(ByteReader& r) {
    StreamsInfo info;
    ReadStreamsInfo(r, info);
    if (info.folders.empty()) Damaged("Bad encoded header");
    std::vector<uint8_t> out;
    for (const Folder& f : info.folders) {
      uint64_t size = f.UnpackSize();
      if (size > options.maxHeaderSize || out.size() + size > options.maxHeaderSize)
        throw ArchiveError(ErrorKind::kLimit, "The archive header is too large");
      try {
        auto stage = OpenFolder(info, f);
        size_t start = out.size();
        uint64_t left = size;
        while (left > 0) {
          size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, 1 << 20));
          size_t at = out.size();
          out.resize(at + chunk);
          size_t got = stage->Read(out.data() + at, chunk);
          out.resize(at + got);
          if (got == 0) Damaged("The archive header is truncated");
          left -= got;
        }
        if (kCheckHeaderCrc && f.hasCrc && Crc32(out.data() + start, out.size() - start) != f.crc) Damaged("Header CRC mismatch");
      } catch (const ArchiveError& e) {
        if (f.Encrypted() && e.kind() == ErrorKind::kDataError) Unsupported("Wrong password or damaged header");
        throw;
      }
    }
    return out;
  }

  void Open() {
    uint8_t sig[32];
    if (file->Size() < 32 || file->ReadAt(0, sig, 32) != 32) Unsupported("Not a 7z archive");
    if (std::memcmp(sig, kSignature, 6) != 0) Unsupported("Not a 7z archive");
    if (sig[6] != 0) Unsupported("Unsupported 7z version");
    if (kCheckHeaderCrc && Crc32(sig + 12, 20) != Le32(sig + 8)) Damaged("Start header CRC mismatch");
    uint64_t nextOffset = Le64(sig + 12), nextSize = Le64(sig + 20);
    uint32_t nextCrc = Le32(sig + 28);
    if (nextSize == 0) return;  // an archive without entries
    uint64_t fileSize = file->Size();
    if (nextOffset > fileSize - 32 || nextSize > fileSize - 32 - nextOffset) Damaged("The archive is truncated");
    if (nextSize > options.maxHeaderSize) throw ArchiveError(ErrorKind::kLimit, "The archive header is too large");
    std::vector<uint8_t> header(static_cast<size_t>(nextSize));
    if (file->ReadAt(32 + nextOffset, header.data(), header.size()) != header.size()) Damaged("The archive is truncated");
    if (kCheckHeaderCrc && Crc32(header.data(), header.size()) != nextCrc) Damaged("Header CRC mismatch");
    for (int depth = 0;; ++depth) {
      ByteReader r(header.data(), header.size());
      uint8_t id = r.Byte();
      if (id == kHeader) {
        ReadHeader(r);
        return;
      }
      if (id != kEncodedHeader || depth >= 4) Damaged("Bad archive header");
      header = DecodeHeader(r);
    }
  }

  void Extract(const std::vector<bool>& wanted, ExtractSink& sink) {
    if (wanted.size() != entries.size()) throw std::invalid_argument("selection size");
    std::vector<uint8_t> buffer(1 << 18);
    size_t i = 0;
    while (i < entries.size()) {
      if (!entries[i].hasStream) {
        ++i;
        continue;
      }
      // The entries of one folder follow each other; decode it if any of them is wanted.
      int folderIndex = entries[i].folder;
      size_t last = i;
      bool any = false;
      for (size_t k = i; k < entries.size(); ++k) {
        if (!entries[k].hasStream) continue;
        if (entries[k].folder != folderIndex) break;
        last = k;
        any = any || wanted[k];
      }
      if (!any) {
        i = last + 1;
        continue;
      }
      const Folder& f = streams.folders[folderIndex];
      try {
        auto stage = OpenFolder(streams, f);
        for (size_t k = i; k <= last; ++k) {
          const Entry& e = entries[k];
          if (!e.hasStream) continue;
          bool take = wanted[k] && sink.BeginEntry(k);
          uint64_t left = e.size;
          uint32_t crc = 0;
          while (left > 0) {
            size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
            size_t got = stage->Read(buffer.data(), chunk);
            if (got == 0) Damaged("The folder is shorter than its files");
            crc = Crc32(buffer.data(), got, crc);
            if (take) sink.Data(buffer.data(), got);
            left -= got;
          }
          if (e.hasCrc && crc != e.crc) Damaged("CRC mismatch");
          if (take) sink.EndEntry(k);
          if (k == last) break;
        }
      } catch (const ArchiveError& e) {
        if (f.Encrypted() && e.kind() == ErrorKind::kDataError) Unsupported("Wrong password or damaged data");
        throw;
      }
      i = last + 1;
    }
  }
};

Archive::Archive(std::unique_ptr<InputFile> file, PasswordProvider passwords, ReaderOptions options)
    : impl_(std::make_unique<Impl>()) {
  impl_->file = std::move(file);
  impl_->passwords = std::move(passwords);
  if (!options.nameConverter) options.nameConverter = Utf16ToWindows1252;
  if (!options.passwordConverter) options.passwordConverter = Windows1252ToUtf16;
  impl_->options = std::move(options);
  try {
    impl_->Open();
  } catch (const std::bad_alloc&) {
    throw ArchiveError(ErrorKind::kLimit, "Not enough memory for the archive header");
  }
}

Archive::~Archive() = default;

const std::vector<Entry>& Archive::Entries() const { return impl_->entries; }

void Archive::Extract(const std::vector<bool>& wanted, ExtractSink& sink) { impl_->Extract(wanted, sink); }

}  // namespace kem::sevenzip
