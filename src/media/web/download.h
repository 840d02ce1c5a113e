// Downloads of web media blocks: what the loader asks of a downloader, and the HTTP
// client's conduct over a small transport that the Windows side provides (and tests fake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kem {

class MessageTable;

struct ProxySettings {
  std::string Server;
  std::string Port;
  std::string User;
  std::string Password;
};

struct DownloadRequest {
  std::string Url;
  std::string Target;
  ProxySettings Proxy;
  bool Resume = true;
};

// Called for every status report or received chunk: percent (0..100) and the status line.
// Returns false when the download is to stop.
using DownloadProgress = std::function<bool(int percent, const std::string& line)>;

struct DownloadOutcome {
  bool Ok = false;
  std::string Reason;  // why it failed (for the trace log)
};

// One download engine (the lightweight one or the HTTP client).
class Downloader {
 public:
  virtual ~Downloader() = default;
  // Lines for the trace log go to log (never with credentials).
  virtual DownloadOutcome Download(const DownloadRequest& request, const DownloadProgress& progress,
                                   std::vector<std::string>& log) = 0;
  // Ends a download that waits for a server that stopped sending (from any thread); the
  // download then fails.
  virtual void Abort() {}
};

// --- Texts and figures -----------------------------------------------------------------

// 1234567 -> "1,234,567".
std::string ThousandsText(std::uint64_t n);
// progress * 100 / max + 1, capped at 100; a maximum of 0 (nothing to wait for) shows 100.
int DownloadPercent(std::uint64_t progress, std::uint64_t max);
// The status line of the lightweight downloader for one status report: the status word
// (messages 55 to 87 for codes 1 to 33), a blank and the text; while data is transferred,
// the byte count with ", " + percent + "% complete" when the maximum is known.
std::string LightStatusLine(const MessageTable& messages, std::uint32_t code, std::string_view text,
                            std::uint64_t progress, std::uint64_t max);
// The HTTP client's line: bytes received, with the percent when the total is known.
std::string ReceivedLine(const MessageTable& messages, std::uint64_t received, std::uint64_t total);

// The user-information part of an http(s) URL, split off.
struct UrlCredentials {
  std::string Url;  // without the user information
  std::string User;
  std::string Password;
  bool HasUser = false;
};
UrlCredentials SplitUrlCredentials(std::string_view url);

// Where a resumed download starts: 2,048 bytes before the end of what is there (the tail
// may be damaged), or 0 when not resuming or no more than 2,048 bytes are there.
std::uint64_t ResumeOffset(std::uint64_t present, bool resume);

// --- HTTP client ------------------------------------------------------------------------

struct HttpHeaders {
  int Status = 0;
  std::optional<std::uint64_t> ContentLength;
  std::string ContentRange;  // raw "bytes a-b/total"
  std::string ETag;
  std::string LastModified;
  std::string Location;
};

// The body of one answer, read in chunks.
class HttpBody {
 public:
  virtual ~HttpBody() = default;
  // Bytes read into buffer; 0 at the end of the body; -1 when the connection failed.
  virtual long Read(char* buffer, std::size_t size) = 0;
  // Stops a read in progress or the next one (any thread).
  virtual void Abort() {}
};

// One request per call; redirects are not followed here (the client follows them).
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Sends the request; nullopt when no answer came (reason says why).
  virtual std::optional<HttpHeaders> Send(const std::string& method, const std::string& url,
                                          const std::vector<std::pair<std::string, std::string>>& headers,
                                          std::unique_ptr<HttpBody>& body, std::string& reason) = 0;
};

// The download target: a file written from an offset.
class TargetFile {
 public:
  virtual ~TargetFile() = default;
  // Size of the file; nullopt when it does not exist.
  virtual std::optional<std::uint64_t> Size() = 0;
  // Opens the file (creating it) cut to the first bytes bytes; writes go after them.
  virtual bool OpenAt(std::uint64_t bytes) = 0;
  virtual bool Write(const char* data, std::size_t size) = 0;
  // Why the last OpenAt or Write failed ("the disk is full"); empty when unknown.
  virtual std::string FailureText() { return {}; }
  // Closes the file, cut to bytes (what was written and is good).
  virtual void CloseAt(std::uint64_t bytes) = 0;
};

// Maximum number of redirects followed for one URL.
inline constexpr int kMaxRedirects = 10;

// The HTTP client: HEAD for the size and the validator, then a GET from the resume
// offset with If-Range; only a 206 at the asked offset appends, a 200 rewrites from 0.
// Success only when the target ends at the full length.
DownloadOutcome HttpDownload(HttpTransport& transport, TargetFile& target, const MessageTable& messages,
                             const DownloadRequest& request, const DownloadProgress& progress,
                             std::vector<std::string>& log);

// The answer's headers from the raw header block (status line, then "Name: value" lines).
HttpHeaders ParseHttpHeaders(std::string_view raw);

// One registry value as it is stored: its type and bytes.
struct StoredValue {
  std::uint32_t Type = 0;
  std::string Bytes;
  bool operator==(const StoredValue&) const = default;
};
class ValueSlot {
 public:
  virtual ~ValueSlot() = default;
  virtual std::optional<StoredValue> Read() = 0;
  virtual bool Write(const StoredValue& value) = 0;
  virtual bool Delete() = 0;
};
// Sets a value for its own lifetime and then puts back exactly what was there: the old
// type and bytes, or no value at all.
class ValueOverride {
 public:
  ValueOverride(ValueSlot& slot, const StoredValue& value);
  ~ValueOverride();
  ValueOverride(const ValueOverride&) = delete;
  ValueOverride& operator=(const ValueOverride&) = delete;

 private:
  ValueSlot& slot_;
  std::optional<StoredValue> old_;
  bool set_ = false;
};
// The DWORD value in the form a registry slot stores it (little-endian).
StoredValue DwordValue(std::uint32_t value);

// The URL as the trace log may show it (no user information).
std::string UrlForLog(std::string_view url);
// A redirect's location made absolute against the URL that answered.
std::string ResolveLocation(std::string_view base, std::string_view location);

}  // namespace kem
