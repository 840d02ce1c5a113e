#include "media/sevenzip/decoders.h"

#include "media/sevenzip/sdk_lzma.h"

#include <gcrypt.h>
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace kem::sevenzip {

namespace {

constexpr size_t kInputBufferSize = 1 << 16;

[[noreturn]] void Damaged(const char* what) { throw ArchiveError(ErrorKind::kDataError, what); }

class PackStage final : public Stage {
 public:
  PackStage(InputFile& file, uint64_t offset, uint64_t size) : file_(file), offset_(offset), left_(size) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    if (left_ == 0) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
    size_t got = file_.ReadAt(offset_, buffer, want);
    if (got == 0) Damaged("The archive is truncated");
    offset_ += got;
    left_ -= got;
    return got;
  }

 private:
  InputFile& file_;
  uint64_t offset_;
  uint64_t left_;
};

class CopyStage final : public Stage {
 public:
  CopyStage(std::unique_ptr<Stage> input, uint64_t outSize) : input_(std::move(input)), left_(outSize) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    if (left_ == 0) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
    size_t got = input_->Read(buffer, want);
    if (got == 0) Damaged("The packed stream is shorter than its data");
    left_ -= got;
    return got;
  }

 private:
  std::unique_ptr<Stage> input_;
  uint64_t left_;
};

lzma_vli FilterId(FilterSpec::Kind kind) {
  switch (kind) {
    case FilterSpec::kLzma: return LZMA_FILTER_LZMA1;
    case FilterSpec::kLzma2: return LZMA_FILTER_LZMA2;
    case FilterSpec::kX86: return LZMA_FILTER_X86;
    case FilterSpec::kPowerPc: return LZMA_FILTER_POWERPC;
    case FilterSpec::kIa64: return LZMA_FILTER_IA64;
    case FilterSpec::kArm: return LZMA_FILTER_ARM;
    case FilterSpec::kArmThumb: return LZMA_FILTER_ARMTHUMB;
    case FilterSpec::kSparc: return LZMA_FILTER_SPARC;
    case FilterSpec::kArm64: return LZMA_FILTER_ARM64;
    case FilterSpec::kDelta: return LZMA_FILTER_DELTA;
  }
  return LZMA_VLI_UNKNOWN;
}

class LzmaStage final : public Stage {
 public:
  LzmaStage(std::unique_ptr<Stage> input, const std::vector<FilterSpec>& chain, uint64_t outSize,
            uint64_t maxDictionarySize)
      : input_(std::move(input)), left_(outSize), in_(kInputBufferSize) {
    if (chain.empty() || chain.size() > LZMA_FILTERS_MAX) throw ArchiveError(ErrorKind::kUnsupported, "Unsupported coder chain");
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    std::vector<void*> options;
    auto release = [&] {
      for (void* o : options) free(o);
    };
    size_t n = 0;
    for (const FilterSpec& f : chain) {
      lzma_filter& filter = filters[n++];
      filter.id = FilterId(f.kind);
      filter.options = nullptr;
      if (f.kind == FilterSpec::kLzma2 && f.properties.size() != 1) {
        release();
        Damaged("Bad LZMA2 properties");
      }
      if (f.kind == FilterSpec::kLzma && f.properties.size() != 5) {
        release();
        Damaged("Bad LZMA properties");
      }
      if (f.kind == FilterSpec::kLzma2 && f.properties[0] > 40) {
        release();
        Damaged("Bad LZMA2 dictionary size");
      }
      if (f.kind == FilterSpec::kDelta && f.properties.size() != 1) {
        release();
        Damaged("Bad delta properties");
      }
      if (f.kind == FilterSpec::kDelta) {
        auto* delta = static_cast<lzma_options_delta*>(calloc(1, sizeof(lzma_options_delta)));
        if (!delta) throw std::bad_alloc();
        delta->type = LZMA_DELTA_TYPE_BYTE;
        delta->dist = f.properties[0] + 1u;
        filter.options = delta;
        options.push_back(delta);
        continue;
      }
      if (!f.properties.empty() && f.kind != FilterSpec::kLzma && f.kind != FilterSpec::kLzma2) {
        // Branch converters with a start offset are not produced by current writers.
        release();
        throw ArchiveError(ErrorKind::kUnsupported, "Unsupported branch converter properties");
      }
      if (f.kind == FilterSpec::kLzma || f.kind == FilterSpec::kLzma2) {
        lzma_ret r = lzma_properties_decode(&filter, nullptr, f.properties.data(), f.properties.size());
        if (r != LZMA_OK) {
          release();
          if (r == LZMA_MEM_ERROR) throw std::bad_alloc();
          Damaged("Bad LZMA properties");
        }
        options.push_back(filter.options);
        auto* lz = static_cast<lzma_options_lzma*>(filter.options);
        if (f.kind == FilterSpec::kLzma) {
          // LZMA streams of 7z usually end without a marker: tell the decoder the exact
          // size, so that it reports the end and the filters before it flush their tail.
          filter.id = LZMA_FILTER_LZMA1EXT;
          lz->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
          lz->ext_size_low = static_cast<uint32_t>(outSize);
          lz->ext_size_high = static_cast<uint32_t>(outSize >> 32);
        }
        // The dictionary never needs to exceed the data it decodes.
        uint64_t need = std::max<uint64_t>(outSize, 4096);
        if (lz->dict_size > need) lz->dict_size = static_cast<uint32_t>(need);
        if (lz->dict_size > maxDictionarySize) {
          release();
          throw ArchiveError(ErrorKind::kLimit, "The dictionary is larger than allowed");
        }
      }
    }
    filters[n].id = LZMA_VLI_UNKNOWN;
    filters[n].options = nullptr;
    lzma_ret r = lzma_raw_decoder(&stream_, filters);
    release();
    if (r == LZMA_MEM_ERROR) throw ArchiveError(ErrorKind::kLimit, "Not enough memory for the decoder");
    if (r != LZMA_OK) throw ArchiveError(ErrorKind::kUnsupported, "Unsupported coder chain");
  }
  ~LzmaStage() override { lzma_end(&stream_); }

  size_t Read(uint8_t* buffer, size_t size) override {
    if (left_ == 0) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
    stream_.next_out = buffer;
    stream_.avail_out = want;
    while (stream_.avail_out > 0) {
      if (stream_.avail_in == 0 && !inputEnded_) {
        size_t got = input_->Read(in_.data(), in_.size());
        if (got == 0) inputEnded_ = true;
        stream_.next_in = in_.data();
        stream_.avail_in = got;
      }
      size_t before = stream_.avail_out;
      size_t inBefore = stream_.avail_in;
      lzma_ret r = lzma_code(&stream_, LZMA_RUN);
      if (r == LZMA_STREAM_END) {
        if (stream_.avail_out > 0) Damaged("The compressed stream ends before its data");
        break;
      }
      if (r == LZMA_MEM_ERROR) throw ArchiveError(ErrorKind::kLimit, "Not enough memory for the decoder");
      if (r != LZMA_OK && r != LZMA_BUF_ERROR) Damaged("Data error in compressed stream");
      if (stream_.avail_out == before && stream_.avail_in == inBefore && inputEnded_)
        Damaged("The compressed stream is truncated");
    }
    size_t produced = want - stream_.avail_out;
    left_ -= produced;
    return produced;
  }

 private:
  std::unique_ptr<Stage> input_;
  uint64_t left_;
  std::vector<uint8_t> in_;
  bool inputEnded_ = false;
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

// Plain LZMA and LZMA2 go through the SDK decoder, the faster of the two.
class SdkStage final : public Stage {
 public:
  SdkStage(std::unique_ptr<Stage> input, const FilterSpec& spec, uint64_t outSize, uint64_t maxDictionarySize)
      : input_(std::move(input)), left_(outSize), in_(kInputBufferSize) {
    int r = kem_sdk_create(&decoder_, spec.kind == FilterSpec::kLzma2 ? 1 : 0, spec.properties.data(),
                           spec.properties.size(), outSize, maxDictionarySize);
    if (r == KEM_SDK_LIMIT) throw ArchiveError(ErrorKind::kLimit, "The dictionary is larger than allowed");
    if (r != KEM_SDK_OK) Damaged("Bad LZMA properties");
  }
  ~SdkStage() override { kem_sdk_destroy(decoder_); }

  size_t Read(uint8_t* buffer, size_t size) override {
    if (left_ == 0) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
    size_t produced = 0;
    while (produced < want) {
      if (pos_ == end_ && !inputEnded_) {
        end_ = input_->Read(in_.data(), in_.size());
        pos_ = 0;
        if (end_ == 0) inputEnded_ = true;
      }
      size_t inSize = end_ - pos_, outSize = want - produced;
      int r = kem_sdk_decode(decoder_, in_.data() + pos_, &inSize, buffer + produced, &outSize);
      pos_ += inSize;
      produced += outSize;
      if (r == KEM_SDK_DATA_ERROR) Damaged("Data error in compressed stream");
      if (r == KEM_SDK_END && produced < want) Damaged("The compressed stream ends before its data");
      if (inSize == 0 && outSize == 0 && inputEnded_) Damaged("The compressed stream is truncated");
    }
    left_ -= produced;
    return produced;
  }

 private:
  std::unique_ptr<Stage> input_;
  uint64_t left_;
  std::vector<uint8_t> in_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool inputEnded_ = false;
  KemSdkDecoder* decoder_ = nullptr;
};

void InitCrypto() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

class AesStage final : public Stage {
 public:
  AesStage(std::unique_ptr<Stage> input, const std::array<uint8_t, 32>& key, const std::array<uint8_t, 16>& iv,
           uint64_t outSize)
      : input_(std::move(input)), left_(outSize), buffer_(kInputBufferSize) {
    InitCrypto();
    if (gcry_cipher_open(&cipher_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0)
      throw ArchiveError(ErrorKind::kUnsupported, "AES is not available");
    gcry_cipher_setkey(cipher_, key.data(), key.size());
    gcry_cipher_setiv(cipher_, iv.data(), iv.size());
  }
  ~AesStage() override { gcry_cipher_close(cipher_); }

  size_t Read(uint8_t* buffer, size_t size) override {
    if (left_ == 0) return 0;
    if (pos_ == end_) Refill();
    size_t n = static_cast<size_t>(std::min<uint64_t>({size, end_ - pos_, left_}));
    std::memcpy(buffer, buffer_.data() + pos_, n);
    pos_ += n;
    left_ -= n;
    return n;
  }

 private:
  void Refill() {
    // Fill whole blocks: the packed stream is padded to the block size.
    size_t filled = 0;
    while (filled < buffer_.size()) {
      size_t got = input_->Read(buffer_.data() + filled, buffer_.size() - filled);
      if (got == 0) break;
      filled += got;
    }
    filled -= filled % 16;
    if (filled == 0) Damaged("The encrypted stream is truncated");
    gcry_cipher_decrypt(cipher_, buffer_.data(), filled, nullptr, 0);
    pos_ = 0;
    end_ = filled;
  }

  std::unique_ptr<Stage> input_;
  uint64_t left_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  gcry_cipher_hd_t cipher_ = nullptr;
};

}  // namespace

std::unique_ptr<Stage> MakePackStage(InputFile& file, uint64_t offset, uint64_t size) {
  return std::make_unique<PackStage>(file, offset, size);
}

std::unique_ptr<Stage> MakeCopyStage(std::unique_ptr<Stage> input, uint64_t outSize) {
  return std::make_unique<CopyStage>(std::move(input), outSize);
}

std::unique_ptr<Stage> MakeLzmaStage(std::unique_ptr<Stage> input, const std::vector<FilterSpec>& chain,
                                     uint64_t outSize, uint64_t maxDictionarySize) {
  if (chain.size() == 1 && (chain[0].kind == FilterSpec::kLzma || chain[0].kind == FilterSpec::kLzma2))
    return std::make_unique<SdkStage>(std::move(input), chain[0], outSize, maxDictionarySize);
  return std::make_unique<LzmaStage>(std::move(input), chain, outSize, maxDictionarySize);
}

AesParameters ParseAesProperties(const std::vector<uint8_t>& p) {
  AesParameters result;
  if (p.empty()) Damaged("Bad AES properties");
  result.cyclesPower = p[0] & 0x3F;
  if ((p[0] & 0xC0) == 0) return result;
  if (p.size() < 2) Damaged("Bad AES properties");
  size_t saltSize = ((p[0] >> 7) & 1) + (p[1] >> 4);
  size_t ivSize = ((p[0] >> 6) & 1) + (p[1] & 0x0F);
  if (p.size() != 2 + saltSize + ivSize) Damaged("Bad AES properties");
  result.salt.assign(p.begin() + 2, p.begin() + 2 + saltSize);
  std::copy(p.begin() + 2 + saltSize, p.end(), result.iv.begin());
  return result;
}

std::array<uint8_t, 32> DeriveAesKey(const AesParameters& parameters, const std::u16string& password) {
  std::vector<uint8_t> pw;
  pw.reserve(password.size() * 2);
  for (char16_t c : password) {
    pw.push_back(static_cast<uint8_t>(c & 0xFF));
    pw.push_back(static_cast<uint8_t>(c >> 8));
  }
  std::array<uint8_t, 32> key{};
  if (parameters.cyclesPower == 0x3F) {
    size_t pos = 0;
    for (uint8_t b : parameters.salt)
      if (pos < key.size()) key[pos++] = b;
    for (uint8_t b : pw)
      if (pos < key.size()) key[pos++] = b;
    return key;
  }
  InitCrypto();
  gcry_md_hd_t md;
  if (gcry_md_open(&md, GCRY_MD_SHA256, 0) != 0) throw ArchiveError(ErrorKind::kUnsupported, "SHA-256 is not available");
  // Hash many rounds per call: each round is salt + password + 64-bit round counter.
  const size_t roundSize = parameters.salt.size() + pw.size() + 8;
  const uint64_t rounds = uint64_t{1} << parameters.cyclesPower;
  const size_t batch = static_cast<size_t>(std::min<uint64_t>(rounds, std::max<size_t>(1, 65536 / roundSize)));
  std::vector<uint8_t> block(batch * roundSize);
  for (size_t i = 0; i < batch; ++i) {
    uint8_t* r = block.data() + i * roundSize;
    std::copy(parameters.salt.begin(), parameters.salt.end(), r);
    std::copy(pw.begin(), pw.end(), r + parameters.salt.size());
  }
  uint64_t counter = 0;
  while (counter < rounds) {
    size_t count = static_cast<size_t>(std::min<uint64_t>(batch, rounds - counter));
    for (size_t i = 0; i < count; ++i) {
      uint8_t* c = block.data() + i * roundSize + roundSize - 8;
      uint64_t v = counter + i;
      for (int k = 0; k < 8; ++k) c[k] = static_cast<uint8_t>(v >> (8 * k));
    }
    gcry_md_write(md, block.data(), count * roundSize);
    counter += count;
  }
  std::memcpy(key.data(), gcry_md_read(md, GCRY_MD_SHA256), key.size());
  gcry_md_close(md);
  return key;
}

std::unique_ptr<Stage> MakeAesStage(std::unique_ptr<Stage> input, const std::array<uint8_t, 32>& key,
                                    const std::array<uint8_t, 16>& iv, uint64_t outSize) {
  return std::make_unique<AesStage>(std::move(input), key, iv, outSize);
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) { return lzma_crc32(data, size, crc); }

}  // namespace kem::sevenzip
