// Writes small 7z archives for crafted fixtures: the entries in the order given, names as
// UTF-16, the files with data in one Copy folder (each with its CRC), and a plain header.
// Shared by the reader's tests and the archive library's tests under Wine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kem::test {

struct CraftedEntry {
  enum Kind { kFile, kFolder };
  std::u16string name;
  Kind kind = kFile;
  std::string data;  // empty: an empty file
};

class ArchiveWriter {
 public:
  void Add(std::u16string name, std::string data = {}) { entries_.push_back({std::move(name), CraftedEntry::kFile, std::move(data)}); }
  void AddFolder(std::u16string name) { entries_.push_back({std::move(name), CraftedEntry::kFolder, {}}); }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> packed;
    std::vector<const CraftedEntry*> withData;
    std::vector<bool> emptyStream, emptyFile;
    for (const CraftedEntry& e : entries_) {
      bool empty = e.kind == CraftedEntry::kFolder || e.data.empty();
      emptyStream.push_back(empty);
      if (empty) emptyFile.push_back(e.kind == CraftedEntry::kFile);
      if (!empty) {
        withData.push_back(&e);
        packed.insert(packed.end(), e.data.begin(), e.data.end());
      }
    }
    std::vector<uint8_t> h;
    auto byte = [&](uint8_t b) { h.push_back(b); };
    auto number = [&](uint64_t v) {
      uint8_t first = 0, mask = 0x80;
      int i = 0;
      for (; i < 8; ++i) {
        if (v < (uint64_t{1} << (7 * (i + 1)))) {
          first |= static_cast<uint8_t>(v >> (8 * i));
          break;
        }
        first |= mask;
        mask >>= 1;
      }
      byte(first);
      for (; i > 0; --i, v >>= 8) byte(static_cast<uint8_t>(v));
    };
    auto bits = [&](uint8_t id, const std::vector<bool>& v) {
      byte(id);
      number((v.size() + 7) / 8);
      for (size_t i = 0; i < v.size(); i += 8) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8 && i + k < v.size(); ++k)
          if (v[i + k]) b |= static_cast<uint8_t>(0x80 >> k);
        byte(b);
      }
    };
    byte(0x01);  // header
    if (!withData.empty()) {
      byte(0x04);  // main streams
      byte(0x06);  // pack info: position 0, one stream
      number(0);
      number(1);
      byte(0x09);
      number(packed.size());
      byte(0x00);
      byte(0x07);  // one folder: a single Copy coder
      byte(0x0B);
      number(1);
      byte(0x00);
      number(1);
      byte(0x01);
      byte(0x00);
      byte(0x0C);
      number(packed.size());
      byte(0x00);
      byte(0x08);  // the files of the folder, their sizes and CRCs
      byte(0x0D);
      number(withData.size());
      if (withData.size() > 1) {
        byte(0x09);
        for (size_t i = 0; i + 1 < withData.size(); ++i) number(withData[i]->data.size());
      }
      byte(0x0A);
      byte(0x01);
      for (const CraftedEntry* e : withData) Put32(h, Crc(reinterpret_cast<const uint8_t*>(e->data.data()), e->data.size()));
      byte(0x00);
      byte(0x00);
    }
    byte(0x05);  // files
    number(entries_.size());
    if (withData.size() < entries_.size()) {
      bits(0x0E, emptyStream);
      bits(0x0F, emptyFile);
    }
    size_t nameBytes = 1;
    for (const CraftedEntry& e : entries_) nameBytes += 2 * (e.name.size() + 1);
    byte(0x11);
    number(nameBytes);
    byte(0x00);
    for (const CraftedEntry& e : entries_) {
      for (char16_t c : e.name) {
        byte(static_cast<uint8_t>(c));
        byte(static_cast<uint8_t>(c >> 8));
      }
      byte(0);
      byte(0);
    }
    byte(0x00);  // end of files
    byte(0x00);  // end of header

    std::vector<uint8_t> out = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
    std::vector<uint8_t> start;
    Put64(start, packed.size());
    Put64(start, h.size());
    Put32(start, Crc(h.data(), h.size()));
    Put32(out, Crc(start.data(), start.size()));
    out.insert(out.end(), start.begin(), start.end());
    out.insert(out.end(), packed.begin(), packed.end());
    out.insert(out.end(), h.begin(), h.end());
    return out;
  }

 private:
  static void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int k = 0; k < 4; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
  }
  static void Put64(std::vector<uint8_t>& v, uint64_t x) {
    for (int k = 0; k < 8; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
  }
  static uint32_t Crc(const uint8_t* p, size_t n) {
    static const std::array<uint32_t, 256> table = [] {
      std::array<uint32_t, 256> t{};
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        t[i] = c;
      }
      return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
  }

  std::vector<CraftedEntry> entries_;
};

// The hardening fixtures, shared by both suites.
// "first.txt" with data, then the named entry: a file of one byte, or a folder.
inline std::vector<uint8_t> NamedEntryFixture(const std::u16string& name, bool folder) {
  ArchiveWriter writer;
  writer.Add(u"first.txt", "first\n");
  if (folder)
    writer.AddFolder(name);
  else
    writer.Add(name, "x");
  return writer.Bytes();
}
// A million entries named "a", the last of them with data ("last\n").
inline std::vector<uint8_t> DuplicateNamesFixture() {
  ArchiveWriter writer;
  for (int i = 0; i < 999999; ++i) writer.Add(u"a");
  writer.Add(u"a", "last\n");
  return writer.Bytes();
}
// A file below thirty folders of 150 characters each: about 4,500 characters.
inline std::u16string LongPathName() {
  std::u16string name;
  for (int i = 0; i < 30; ++i) name += std::u16string(150, static_cast<char16_t>(u'a' + i % 26)) + u"\\";
  return name + u"deep.txt";
}
// One folder entry of 20,000 levels: "a\" repeated.
inline std::u16string DeepFolderName() {
  std::u16string name;
  name.reserve(40000);
  for (int i = 0; i < 20000; ++i) name += u"a\\";
  return name;
}

}  // namespace kem::test
