#include "kembuild/web_blocks.h"

#include <gcrypt.h>
#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "common/text.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "kembuild/code_page.h"
#include "media/sevenzip/decoders.h"
#include "media/sevenzip/format.h"

namespace fs = std::filesystem;

namespace kem::builder {

// --- Passwords ------------------------------------------------------------------------------

std::optional<std::string> ScrambleBlockPassword(std::string_view password, std::size_t* badCharacter) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  std::string out;
  out.reserve(password.size() * 2);
  for (std::size_t i = 0; i < password.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(password[i]);
    for (unsigned digit : {byte & 15u, static_cast<unsigned>(byte >> 4)}) {
      const unsigned char position = static_cast<unsigned char>(out.size() % 256);
      char c = static_cast<char>(kUpper[digit] ^ position);
      if (c == '\r' || c == '\n') c = static_cast<char>(kLower[digit] ^ position);
      if (c == '\r' || c == '\n') {
        if (badCharacter) *badCharacter = i;
        return std::nullopt;
      }
      out += c;
    }
  }
  return out;
}

std::string BlockPasswordOf(const Project& p, std::string_view block) {
  for (std::string_view wanted : {block, std::string_view(kOfflineMedia)})
    for (const auto& b : p.webBlocks)
      if (SameText(b.name, wanted)) return b.value;
  return {};
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  const auto* b = reinterpret_cast<const unsigned char*>(utf8.data());
  for (std::size_t i = 0; i < utf8.size();) {
    std::uint32_t c = b[i];
    std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + n > utf8.size()) break;
    if (n == 2) c = ((c & 0x1Fu) << 6) | (b[i + 1] & 0x3Fu);
    else if (n == 3) c = ((c & 0x0Fu) << 12) | ((b[i + 1] & 0x3Fu) << 6) | (b[i + 2] & 0x3Fu);
    else if (n == 4)
      c = ((c & 0x07u) << 18) | ((b[i + 1] & 0x3Fu) << 12) | ((b[i + 2] & 0x3Fu) << 6) | (b[i + 3] & 0x3Fu);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += n;
  }
  return out;
}

// --- Planning -------------------------------------------------------------------------------

namespace {

// Why a block name cannot name a folder and an archive file, or empty.
std::string BlockNameProblem(const std::string& utf8) {
  if (utf8 == "." || utf8 == ".." || utf8 == "$")
    return "a web block's name cannot be \".\", \"..\" or \"$\"";
  for (char c : utf8)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      return "a web block's name becomes a folder and a file name (NAME.7zip): it cannot hold \\ / : * ? \" < > | "
             "or control characters";
  if (utf8.back() == '.' || utf8.back() == ' ')
    return "a web block's name becomes a folder and a file name (NAME.7zip): it cannot end with a dot or a blank";
  if (SameText(utf8, kOfflineMedia))
    return "OFFLINE is the folder of the data shipped beside the setup; give the block another name";
  return {};
}

}  // namespace

WebPlan PlanWebBuild(const Project& p, const std::vector<bool>& carriesFiles, std::vector<Diagnostic>& errors,
                     std::vector<Diagnostic>& warnings) {
  WebPlan plan;
  const CodePage cp(p.codePage);
  std::map<std::string, std::string> canonical;   // upper-cased name -> first spelling
  std::map<std::string, std::size_t> fileStatements;  // upper-cased name -> file-carrying statements
  std::string current;            // the block of the statements that follow; empty: offline
  bool explicitOffline = false;   // an empty-named "Web Media Block" said so
  plan.media.resize(p.statements.size());
  for (std::size_t i = 0; i < p.statements.size(); ++i) {
    const ScriptStatement& s = p.statements[i];
    if (!s.commentedOut && ResolveStatementKind(s.name) == StatementKind::WebMediaBlock) {
      const std::string name = s.Param(param::WebMediaBlock::Block);
      if (name.empty()) {
        current.clear();
        explicitOffline = true;
        continue;
      }
      if (std::string problem = BlockNameProblem(cp.ToUtf8(name)); !problem.empty()) {
        errors.push_back({s.file, s.line + 1, problem});
        continue;
      }
      auto [it, fresh] = canonical.emplace(UpperCase(name), name);
      if (fresh) {
        plan.blocks.push_back(name);
        if (BlockPasswordOf(p, name).empty())
          errors.push_back({s.file, s.line + 1,
                            "web block " + cp.ToUtf8(name) + " has no password: add " + cp.ToUtf8(name) +
                                " = PASSWORD to [web-blocks] in " + kManifestName +
                                " (its archive is encrypted with it)"});
      }
      current = it->second;
      continue;
    }
    if (i >= carriesFiles.size() || !carriesFiles[i]) continue;
    plan.media[i] = current.empty() ? std::string(kOfflineMedia) : current;
    if (s.commentedOut) continue;
    if (!current.empty()) ++fileStatements[UpperCase(current)];
    else if (!explicitOffline)
      warnings.push_back({s.file, s.line + 1,
                          s.name + " has no Web Media Block before it: its files ship in data\\OFFLINE\\ beside the "
                                   "setup (write Web Media Block \"\" \"\" before it to say so)",
                          true});
  }
  for (const auto& b : plan.blocks)
    if (!fileStatements.count(UpperCase(b))) {
      const auto& s = *std::find_if(p.statements.begin(), p.statements.end(), [&](const ScriptStatement& st) {
        return !st.commentedOut && ResolveStatementKind(st.name) == StatementKind::WebMediaBlock &&
               SameText(st.Param(param::WebMediaBlock::Block), b);
      });
      warnings.push_back({s.file, s.line + 1, "web block " + cp.ToUtf8(b) + " carries no files", true});
    }

  std::set<std::string> commentedOut;  // upper-cased names of commented-out blocks
  for (const auto& s : p.statements)
    if (s.commentedOut && ResolveStatementKind(s.name) == StatementKind::WebMediaBlock && !s.params.empty())
      commentedOut.insert(UpperCase(s.Param(param::WebMediaBlock::Block)));
  for (const auto& b : p.webBlocks) {
    const std::string name = cp.ToUtf8(b.name);
    if (!SameText(b.name, kOfflineMedia) && !canonical.count(UpperCase(b.name)) && commentedOut.count(UpperCase(b.name))) {
      warnings.push_back({kManifestName, b.line,
                          "web block " + name + " is named only by commented-out Web Media Block statements; its "
                                                "password is left out of the setup",
                          true});
      continue;
    }
    if (!SameText(b.name, kOfflineMedia) && !canonical.count(UpperCase(b.name))) {
      errors.push_back({kManifestName, b.line,
                        "web block " + name + " is not named by any Web Media Block statement (names compare "
                                              "without regard to case; \"offline\" gives the password of blocks "
                                              "without their own)"});
      continue;
    }
    if (b.value.empty()) {
      errors.push_back({kManifestName, b.line, "the password of web block " + name + " is empty"});
      continue;
    }
    std::size_t bad = 0;
    auto stored = ScrambleBlockPassword(b.value, &bad);
    if (!stored) {
      errors.push_back({kManifestName, b.line,
                        "the password of web block " + name + " cannot be stored in the setup data (its character " +
                            std::to_string(bad + 1) + " would turn into a line break there); change that character"});
      continue;
    }
    // The archive library turns the password into UTF-16 with the system's ANSI code page.
    if (std::any_of(b.value.begin(), b.value.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      warnings.push_back({kManifestName, b.line,
                          "the password of web block " + name + " holds characters outside ASCII: the setup can "
                          "unpack the block only on systems whose ANSI code page is " + std::to_string(p.codePage) +
                          ", the setup's",
                          true});
    plan.sources.push_back(b.name);
    plan.sources.push_back(std::move(*stored));
  }
  return plan;
}

// --- Block archives -------------------------------------------------------------------------

namespace {

// 2000-01-01 00:00:00 UTC as a FILETIME: every packed file carries this time.
constexpr std::uint64_t kFixedFileTime = 125911584000000000ull;
constexpr std::uint32_t kArchiveAttribute = 0x20;
constexpr std::uint8_t kKeyDerivationPower = 19;  // 2^19 SHA-256 rounds, as the common 7z tools use
constexpr std::size_t kChunk = 1 << 20;

using namespace sevenzip::format;

class Bytes {
 public:
  void Byte(std::uint8_t b) { data_.push_back(b); }
  void Number(std::uint64_t v) {
    std::uint8_t first = 0, mask = 0x80;
    int i = 0;
    for (; i < 8; ++i) {
      if (v < (std::uint64_t{1} << (7 * (i + 1)))) {
        first |= static_cast<std::uint8_t>(v >> (8 * i));
        break;
      }
      first |= mask;
      mask >>= 1;
    }
    Byte(first);
    for (; i > 0; --i) {
      Byte(static_cast<std::uint8_t>(v));
      v >>= 8;
    }
  }
  void Fixed(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) Byte(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Append(const std::vector<std::uint8_t>& other) { data_.insert(data_.end(), other.begin(), other.end()); }
  void Bits(const std::vector<bool>& bits) {
    std::uint8_t b = 0;
    int n = 0;
    for (bool bit : bits) {
      b = static_cast<std::uint8_t>((b << 1) | (bit ? 1 : 0));
      if (++n == 8) {
        Byte(b);
        b = 0;
        n = 0;
      }
    }
    if (n) Byte(static_cast<std::uint8_t>(b << (8 - n)));
  }
  // A property: its id, its size, its bytes.
  void Property(std::uint8_t id, const Bytes& body) {
    Byte(id);
    Number(body.data_.size());
    Append(body.data_);
  }
  const std::vector<std::uint8_t>& data() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

void InitCrypto() {
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

class Sha256 {
 public:
  Sha256() {
    InitCrypto();
    if (gcry_md_open(&md_, GCRY_MD_SHA256, 0) != 0) throw std::runtime_error("SHA-256 is not available");
  }
  ~Sha256() { gcry_md_close(md_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Add(const void* p, std::size_t n) { gcry_md_write(md_, p, n); }
  void Add(std::string_view s) { Add(s.data(), s.size()); }
  std::array<std::uint8_t, 32> Digest() {
    std::array<std::uint8_t, 32> d{};
    std::memcpy(d.data(), gcry_md_read(md_, GCRY_MD_SHA256), d.size());
    return d;
  }

 private:
  gcry_md_hd_t md_ = nullptr;
};

// AES-256-CBC over a sequence of calls; the last call pads its tail with zeros.
class Encryptor {
 public:
  Encryptor(const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv) {
    InitCrypto();
    if (gcry_cipher_open(&cipher_, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0)
      throw std::runtime_error("AES is not available");
    gcry_cipher_setkey(cipher_, key.data(), key.size());
    gcry_cipher_setiv(cipher_, iv.data(), iv.size());
  }
  ~Encryptor() { gcry_cipher_close(cipher_); }
  Encryptor(const Encryptor&) = delete;
  Encryptor& operator=(const Encryptor&) = delete;
  // buffer.size() must be a multiple of 16 unless last; the tail is then padded.
  void Run(std::vector<std::uint8_t>& buffer, bool last) {
    if (last) buffer.resize((buffer.size() + 15) / 16 * 16, 0);
    if (!buffer.empty() && gcry_cipher_encrypt(cipher_, buffer.data(), buffer.size(), nullptr, 0) != 0)
      throw std::runtime_error("AES encryption failed");
  }

 private:
  gcry_cipher_hd_t cipher_ = nullptr;
};

// An initialisation vector that the same contents and key always give, and that differs
// with either. It is derived from the key, not from the password: checking a guessed
// password against it costs the whole key derivation, even for someone who knows the files.
std::array<std::uint8_t, 16> DerivedIv(std::string_view purpose, const std::array<std::uint8_t, 32>& key,
                                       const std::array<std::uint8_t, 32>& contents) {
  Sha256 h;
  h.Add("kembuild block archive iv|");
  h.Add(purpose);
  h.Add("|");
  h.Add(key.data(), key.size());
  h.Add(contents.data(), contents.size());
  const auto d = h.Digest();
  std::array<std::uint8_t, 16> iv{};
  std::copy(d.begin(), d.begin() + 16, iv.begin());
  return iv;
}

std::vector<std::uint8_t> AesProperties(const std::array<std::uint8_t, 16>& iv) {
  // Cycles power with the "IV present" bit; no salt; 16 IV bytes.
  std::vector<std::uint8_t> p = {static_cast<std::uint8_t>(kKeyDerivationPower | 0x40), 0x0F};
  p.insert(p.end(), iv.begin(), iv.end());
  return p;
}

void AesCoder(Bytes& b, const std::array<std::uint8_t, 16>& iv) {
  const auto props = AesProperties(iv);
  b.Byte(0x24);  // 4-byte method id, with properties
  for (int shift = 24; shift >= 0; shift -= 8) b.Byte(static_cast<std::uint8_t>(kMethodAes >> shift));
  b.Number(props.size());
  b.Append(props);
}

// The pack and unpack information of one folder over one packed stream.
void StreamsInfo(Bytes& b, std::uint64_t packPos, std::uint64_t packSize, const Bytes& folder,
                 const std::vector<std::uint64_t>& unpackSizes, std::optional<std::uint32_t> crc) {
  b.Byte(kPackInfo);
  b.Number(packPos);
  b.Number(1);
  b.Byte(kSize);
  b.Number(packSize);
  b.Byte(kEnd);
  b.Byte(kUnpackInfo);
  b.Byte(kFolder);
  b.Number(1);
  b.Byte(0);  // not external
  b.Append(folder.data());
  b.Byte(kCodersUnpackSize);
  for (auto s : unpackSizes) b.Number(s);
  if (crc) {
    b.Byte(kCrc);
    b.Byte(1);
    b.Fixed(*crc, 4);
  }
  b.Byte(kEnd);
}

void WriteAll(std::FILE* f, const void* p, std::size_t n, const fs::path& path) {
  if (n && std::fwrite(p, 1, n, f) != n)
    throw std::runtime_error("cannot write " + path.filename().string() + ": " + std::strerror(errno));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Open(const fs::path& path, const char* mode) {
  File f(std::fopen(path.c_str(), mode));
  if (!f) throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
  return f;
}

}  // namespace

void WriteBlockArchive(const std::vector<BlockArchiveFile>& files, const std::u16string& password,
                       const fs::path& archivePath, const fs::path& workDir) {
  struct Packed {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
  };
  std::vector<Packed> packed;
  std::uint64_t total = 0;
  for (const auto& f : files) {
    std::error_code ec;
    const auto size = fs::file_size(f.source, ec);
    if (ec) throw std::runtime_error("cannot read " + f.source.string() + ": " + ec.message());
    packed.push_back({Utf8ToUtf16(f.name), size, 0});
    total += size;
  }

  // 1. The files' contents, LZMA2-compressed as one stream, into a temporary file.
  const fs::path compressedPath = workDir / (archivePath.filename().string() + ".lzma2");
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove(p, ec);
    }
  } removeCompressed{compressedPath};
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 7)) throw std::runtime_error("LZMA2 is not available");
  // The dictionary need not outgrow the data (less memory here and in the setup).
  options.dict_size = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(total, 1u << 16, options.dict_size));
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::uint8_t lzmaProps = 0;
  {
    std::uint32_t propsSize = 0;
    if (lzma_properties_size(&propsSize, filters) != LZMA_OK || propsSize != 1) throw std::runtime_error("LZMA2 properties");
    if (lzma_properties_encode(filters, &lzmaProps) != LZMA_OK) throw std::runtime_error("LZMA2 properties");
  }
  std::uint64_t compressedSize = 0;
  std::array<std::uint8_t, 32> compressedDigest{};
  if (total > 0) {
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&z, filters) != LZMA_OK) throw std::runtime_error("cannot start the LZMA2 encoder");
    struct End {
      lzma_stream* z;
      ~End() { lzma_end(z); }
    } end{&z};
    File out = Open(compressedPath, "wb");
    Sha256 digest;
    std::vector<std::uint8_t> in(kChunk), buffer(kChunk);
    auto pump = [&](lzma_action action) {
      for (;;) {
        z.next_out = buffer.data();
        z.avail_out = buffer.size();
        const lzma_ret r = lzma_code(&z, action);
        if (r != LZMA_OK && r != LZMA_STREAM_END) throw std::runtime_error("the LZMA2 encoder failed");
        const std::size_t n = buffer.size() - z.avail_out;
        WriteAll(out.get(), buffer.data(), n, compressedPath);
        digest.Add(buffer.data(), n);
        compressedSize += n;
        if (action == LZMA_RUN ? z.avail_in == 0 : r == LZMA_STREAM_END) return;
      }
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (packed[i].size == 0) continue;
      File src = Open(files[i].source, "rb");
      std::uint64_t read = 0;
      std::uint32_t crc = 0;
      for (;;) {
        const std::size_t n = std::fread(in.data(), 1, in.size(), src.get());
        if (n == 0) break;
        crc = lzma_crc32(in.data(), n, crc);
        read += n;
        z.next_in = in.data();
        z.avail_in = n;
        pump(LZMA_RUN);
      }
      if (std::ferror(src.get()) || read != packed[i].size)
        throw std::runtime_error("cannot read " + files[i].source.string() + " (it changed while the build read it)");
      packed[i].crc = crc;
    }
    pump(LZMA_FINISH);
    if (std::fflush(out.get()) != 0) throw std::runtime_error("cannot write " + compressedPath.string());
    compressedDigest = digest.Digest();
  }

  sevenzip::AesParameters keyParameters;
  keyParameters.cyclesPower = kKeyDerivationPower;
  const auto key = sevenzip::DeriveAesKey(keyParameters, password);

  File out = Open(archivePath, "wb");
  std::vector<std::uint8_t> signature(32, 0);
  WriteAll(out.get(), signature.data(), signature.size(), archivePath);

  // 2. The compressed stream, encrypted.
  std::uint64_t dataPackSize = 0;
  const auto dataIv = DerivedIv("data", key, compressedDigest);
  if (total > 0) {
    Encryptor aes(key, dataIv);
    File in = Open(compressedPath, "rb");
    std::vector<std::uint8_t> buffer;
    std::uint64_t left = compressedSize;
    while (left > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      buffer.resize(n);
      if (std::fread(buffer.data(), 1, n, in.get()) != n) throw std::runtime_error("cannot read " + compressedPath.string());
      left -= n;
      aes.Run(buffer, left == 0);
      WriteAll(out.get(), buffer.data(), buffer.size(), archivePath);
      dataPackSize += buffer.size();
    }
  }

  // 3. The header.
  Bytes header;
  header.Byte(kHeader);
  std::vector<const Packed*> withData;
  std::vector<bool> emptyStream;
  for (const auto& f : packed) {
    emptyStream.push_back(f.size == 0);
    if (f.size) withData.push_back(&f);
  }
  if (!withData.empty()) {
    header.Byte(kMainStreamsInfo);
    Bytes folder;
    folder.Number(2);
    folder.Byte(0x21);  // a 1-byte method id, with properties
    folder.Byte(static_cast<std::uint8_t>(kMethodLzma2));
    folder.Number(1);
    folder.Byte(lzmaProps);
    AesCoder(folder, dataIv);
    folder.Number(0);  // the one bind pair: LZMA2's input (in stream 0) <- AES's output (out stream 1)
    folder.Number(1);
    StreamsInfo(header, 0, dataPackSize, folder, {total, compressedSize}, std::nullopt);
    header.Byte(kSubStreamsInfo);
    if (withData.size() != 1) {
      header.Byte(kNumUnpackStream);
      header.Number(withData.size());
      header.Byte(kSize);
      for (std::size_t i = 0; i + 1 < withData.size(); ++i) header.Number(withData[i]->size);
    }
    header.Byte(kCrc);
    header.Byte(1);
    for (const auto* f : withData) header.Fixed(f->crc, 4);
    header.Byte(kEnd);
    header.Byte(kEnd);
  }
  if (!packed.empty()) {
    header.Byte(kFilesInfo);
    header.Number(packed.size());
    if (withData.size() != packed.size()) {
      Bytes bits;
      bits.Bits(emptyStream);
      header.Property(kEmptyStream, bits);
      Bytes files;  // every empty stream is an empty file, none a folder
      files.Bits(std::vector<bool>(packed.size() - withData.size(), true));
      header.Property(kEmptyFile, files);
    }
    Bytes names;
    names.Byte(0);
    for (const auto& f : packed) {
      for (char16_t c : f.name) names.Fixed(c, 2);
      names.Fixed(0, 2);
    }
    header.Property(kName, names);
    Bytes times;
    times.Byte(1);
    times.Byte(0);
    for (std::size_t i = 0; i < packed.size(); ++i) times.Fixed(kFixedFileTime, 8);
    header.Property(kMTime, times);
    Bytes attributes;
    attributes.Byte(1);
    attributes.Byte(0);
    for (std::size_t i = 0; i < packed.size(); ++i) attributes.Fixed(kArchiveAttribute, 4);
    header.Property(kWinAttributes, attributes);
    header.Byte(kEnd);
  }
  header.Byte(kEnd);

  // 4. The header, encrypted, and the encoded header that says how to read it.
  std::vector<std::uint8_t> headerBytes = header.data();
  const std::uint32_t headerCrc = lzma_crc32(headerBytes.data(), headerBytes.size(), 0);
  Sha256 headerDigest;
  headerDigest.Add(headerBytes.data(), headerBytes.size());
  const auto headerIv = DerivedIv("header", key, headerDigest.Digest());
  const std::uint64_t headerSize = headerBytes.size();
  {
    Encryptor aes(key, headerIv);
    aes.Run(headerBytes, true);
  }
  WriteAll(out.get(), headerBytes.data(), headerBytes.size(), archivePath);
  Bytes encoded;
  encoded.Byte(kEncodedHeader);
  Bytes headerFolder;
  headerFolder.Number(1);
  AesCoder(headerFolder, headerIv);
  StreamsInfo(encoded, dataPackSize, headerBytes.size(), headerFolder, {headerSize}, headerCrc);
  encoded.Byte(kEnd);
  WriteAll(out.get(), encoded.data().data(), encoded.data().size(), archivePath);

  // 5. The signature header.
  Bytes start;
  start.Fixed(dataPackSize + headerBytes.size(), 8);
  start.Fixed(encoded.data().size(), 8);
  start.Fixed(lzma_crc32(encoded.data().data(), encoded.data().size(), 0), 4);
  std::memcpy(signature.data(), kSignature, sizeof kSignature);
  signature[7] = 4;  // format version 0.4
  const std::uint32_t startCrc = lzma_crc32(start.data().data(), start.data().size(), 0);
  for (int i = 0; i < 4; ++i) signature[8 + i] = static_cast<std::uint8_t>(startCrc >> (8 * i));
  std::copy(start.data().begin(), start.data().end(), signature.begin() + 12);
  if (std::fseek(out.get(), 0, SEEK_SET) != 0) throw std::runtime_error("cannot write " + archivePath.string());
  WriteAll(out.get(), signature.data(), signature.size(), archivePath);
  if (std::fflush(out.get()) != 0 || std::ferror(out.get()))
    throw std::runtime_error("cannot write " + archivePath.filename().string() + ": " + std::strerror(errno));
}

}  // namespace kem::builder
