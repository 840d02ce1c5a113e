// A streaming reader for 7z archives: container parsing (plain and encoded headers), the
// Copy, LZMA, LZMA2, branch-converter (BCJ x86 and friends), Delta and 7zAES coders, and a
// CRC check of every file. Decoding keeps memory near the dictionary size plus buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kem::sevenzip {

// Why an operation failed. The archive library maps each kind to its numeric code.
enum class ErrorKind {
  kNotFound,          // the archive file does not exist
  kSelection,         // a selected entry name is not in the archive
  kUnsupported,       // not a 7z archive, unsupported method, wrong or missing password
  kUnsafeName,        // an entry name would leave the destination folder
  kDataError,         // damaged or truncated archive, CRC mismatch
  kCancelled,         // a callback asked to stop
  kWriteError,        // an output file or folder could not be written
  kLimit,             // a declared size exceeds what the reader allows (memory)
  kReadError,         // the archive file could not be read
};

class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// Converts an entry name (UTF-16 as stored) to a single-byte text, and a password given as a
// single-byte text to UTF-16 for the key derivation.
using NameConverter = std::function<std::string(std::u16string_view)>;
using PasswordConverter = std::function<std::u16string(std::string_view)>;

// Windows-1252, the defaults: characters without a counterpart become '?'.
std::string Utf16ToWindows1252(std::u16string_view text);
std::u16string Windows1252ToUtf16(std::string_view text);

// Random-access input.
class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to size bytes at offset; returns the count (less only at the end of the file).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// Opens a file of the local file system (std::FILE based).
std::unique_ptr<InputFile> OpenInputFile(const std::string& path);
// An archive held in memory (the caller keeps the bytes alive).
std::unique_ptr<InputFile> MemoryInputFile(const void* data, size_t size);

// Asked at most once per archive object, when the first encrypted stream is met. An empty
// optional means no password is available.
using PasswordProvider = std::function<std::optional<std::string>()>;

struct ReaderOptions {
  NameConverter nameConverter;          // default Utf16ToWindows1252
  PasswordConverter passwordConverter;  // default Windows1252ToUtf16
  uint64_t maxHeaderSize = 64ull << 20;         // decoded header limit
  uint64_t maxDictionarySize = 1536ull << 20;   // decoder memory limit
  uint32_t maxKeyDerivationPower = 24;          // 2^n SHA-256 rounds at most
};

struct Entry {
  std::u16string wideName;  // as stored in the archive
  std::string name;         // converted, path separators as backslashes
  bool isDirectory = false;
  bool hasStream = false;   // false for directories and empty files
  bool isAnti = false;
  uint64_t size = 0;
  uint64_t packedSize = 0;  // the folder's packed size on its first file, 0 otherwise
  bool hasCrc = false;
  uint32_t crc = 0;
  bool hasModificationTime = false;
  uint64_t modificationTime = 0;  // FILETIME: 100 ns units since 1601, UTC
  bool hasAttributes = false;
  uint32_t attributes = 0;
  bool encrypted = false;
  int folder = -1;          // index of the folder that holds the data, -1 without data
};

// Receives the data of the entries that Archive::Extract decodes.
class ExtractSink {
 public:
  virtual ~ExtractSink() = default;
  // Start of an entry with data. False skips its data (it is still decoded and checked).
  virtual bool BeginEntry(size_t index) = 0;
  virtual void Data(const uint8_t* data, size_t size) = 0;
  // End of an entry whose data decoded fully and matched its CRC.
  virtual void EndEntry(size_t index) = 0;
};

class Archive {
 public:
  // Reads the signature and the headers. Throws ArchiveError.
  Archive(std::unique_ptr<InputFile> file, PasswordProvider passwords = {}, ReaderOptions options = {});
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  const std::vector<Entry>& Entries() const;
  // Decodes the data of the entries whose flag is set (wanted.size() == Entries().size()),
  // in entry order, into the sink. Only entries with data are passed to the sink. A CRC
  // mismatch or a short stream throws ArchiveError (kDataError, or kUnsupported inside an
  // encrypted folder, where a wrong password looks the same).
  void Extract(const std::vector<bool>& wanted, ExtractSink& sink);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kem::sevenzip
