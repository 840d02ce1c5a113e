// Helpers shared by the reader's tests and the archive library's tests: the table of test
// archives that make_archives.sh builds, file comparison, and patching a stored name.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace kem::test {

struct ArchiveCase {
  const char* name;      // file name without ".7z"
  const char* password;  // nullptr: not encrypted
  bool encryptedHeader;
};

// Every archive holds the same tree (see make_archives.sh).
inline const ArchiveCase kGoodArchives[] = {
    {"copy", nullptr, false},       {"lzma", nullptr, false},        {"lzma2", nullptr, false},
    {"bcj_lzma", nullptr, false},   {"bcj_lzma2", nullptr, false},   {"delta_lzma2", nullptr, false},
    {"nonsolid", nullptr, false},   {"blocks", nullptr, false},      {"aes_lzma2", "Secret", false},
    {"aes_copy", "Secret", false},  {"aes_header", "Secret", true},  {"aes_lzma_header", "Secret", true},
};

// The files of the tree, path with '/', and the empty folder.
inline const char* const kTreeFiles[] = {"a.txt",         "sub/b.bin",          "sub/deeper/c.dat",
                                         "sub/deeper/small.txt", "empty.txt", "caf\xC3\xA9.txt", "code.bin"};
inline const char* const kTreeFilesAnsi[] = {"a.txt",         "sub\\b.bin",          "sub\\deeper\\c.dat",
                                             "sub\\deeper\\small.txt", "empty.txt", "caf\xE9.txt", "code.bin"};
inline constexpr const char* kEmptyFolder = "emptydir";

inline std::optional<std::vector<uint8_t>> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t TestCrc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// craft.7z stores "PPPPPPevil.txt" in a plain header; replaces the six P with prefix (six
// ASCII characters) and fixes both header CRCs.
inline std::vector<uint8_t> PatchCraftedName(std::vector<uint8_t> bytes, const std::string& prefix) {
  const char16_t* placeholder = u"PPPPPP";
  for (size_t i = 32; i + 12 <= bytes.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < 6 && match; ++k) match = bytes[i + 2 * k] == placeholder[k] && bytes[i + 2 * k + 1] == 0;
    if (!match) continue;
    for (size_t k = 0; k < 6; ++k) bytes[i + 2 * k] = static_cast<uint8_t>(prefix[k]);
    break;
  }
  auto le64 = [&](size_t at) {
    uint64_t v = 0;
    for (int k = 7; k >= 0; --k) v = (v << 8) | bytes[at + k];
    return v;
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  uint64_t offset = le64(12), size = le64(20);
  put32(28, TestCrc32(bytes.data() + 32 + offset, static_cast<size_t>(size)));
  put32(8, TestCrc32(bytes.data() + 12, 20));
  return bytes;
}

// Six-character prefixes that turn "PPPPPPevil.txt" into a name that must not be written.
inline const char* const kUnsafePrefixes[] = {
    "..\\aaa",  // parent folder
    "aa\\..\\",  // parent folder inside the path
    "../aaa",   // parent folder, forward slash
    "\\aaaaa",  // absolute
    "C:aaaa",   // drive letter
    "aa:str",   // alternate data stream
    "CON\\aa",  // device folder
    "NUL.aa",   // device with an extension
    ".. \\aa",  // dots and a space, which Windows reduces to ".."
};

}  // namespace kem::test
