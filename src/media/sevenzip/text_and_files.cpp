// Code page conversion defaults and the plain input files.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/sevenzip/sevenzip.h"

namespace kem::sevenzip {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string Utf16ToWindows1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    char mapped = '?';
    for (int k = 0; k < 32; ++k)
      if (kHighControls[k] == c && c != 0) mapped = static_cast<char>(0x80 + k);
    out.push_back(mapped);
  }
  return out;
}

std::u16string Windows1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0)
      out.push_back(kHighControls[b - 0x80] ? kHighControls[b - 0x80] : static_cast<char16_t>(b));
    else
      out.push_back(static_cast<char16_t>(b));
  }
  return out;
}

namespace {

class StdFile final : public InputFile {
 public:
  explicit StdFile(std::FILE* f) : f_(f) {
    std::fseek(f_, 0, SEEK_END);
#if defined(_WIN32)
    size_ = static_cast<uint64_t>(_ftelli64(f_));
#else
    size_ = static_cast<uint64_t>(ftello(f_));
#endif
  }
  ~StdFile() override { std::fclose(f_); }
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset >= size_) return 0;
    if (offset != pos_) {
#if defined(_WIN32)
      if (_fseeki64(f_, static_cast<int64_t>(offset), SEEK_SET) != 0) throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
#else
      if (fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0) throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
#endif
    }
    size_t got = std::fread(buffer, 1, size, f_);
    if (got < size && std::ferror(f_)) throw ArchiveError(ErrorKind::kReadError, "Cannot read the archive");
    pos_ = offset + got;
    return got;
  }

 private:
  std::FILE* f_;
  uint64_t size_ = 0;
  uint64_t pos_ = ~uint64_t{0};
};

class MemoryFile final : public InputFile {
 public:
  MemoryFile(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset >= size_) return 0;
    size_t n = std::min<uint64_t>(size, size_ - offset);
    std::memcpy(buffer, data_ + offset, n);
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

std::unique_ptr<InputFile> OpenInputFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw ArchiveError(ErrorKind::kNotFound, "The archive file was not found");
  return std::make_unique<StdFile>(f);
}

std::unique_ptr<InputFile> MemoryInputFile(const void* data, size_t size) {
  return std::make_unique<MemoryFile>(data, size);
}

}  // namespace kem::sevenzip
