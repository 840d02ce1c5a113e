#include "media/web/download.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "engine/message_table.h"

namespace kem {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

std::optional<std::uint64_t> Number(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

// "bytes a-b/total": a and total (total nullopt for "*").
bool ParseContentRange(std::string_view s, std::uint64_t& first, std::optional<std::uint64_t>& total) {
  if (!StartsWithNoCase(s, "bytes ")) return false;
  s.remove_prefix(6);
  const auto dash = s.find('-'), slash = s.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
  auto a = Number(s.substr(0, dash));
  auto b = Number(s.substr(dash + 1, slash - dash - 1));
  if (!a || !b || *b < *a) return false;
  first = *a;
  std::string_view t = s.substr(slash + 1);
  if (t == "*") {
    total.reset();
  } else {
    total = Number(t);
    if (!total || *total <= *b) return false;
  }
  return true;
}

}  // namespace

std::string ThousandsText(std::uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

int DownloadPercent(std::uint64_t progress, std::uint64_t max) {
  if (max == 0) return 100;
  // progress * 100 overflows only past 1.8e17 bytes; a double is exact enough there.
  const std::uint64_t p = progress <= UINT64_MAX / 100
                              ? progress * 100 / max
                              : static_cast<std::uint64_t>(static_cast<double>(progress) * 100.0 / static_cast<double>(max));
  return static_cast<int>(std::min<std::uint64_t>(p + 1, 100));
}

std::string LightStatusLine(const MessageTable& messages, std::uint32_t code, std::string_view text,
                            std::uint64_t progress, std::uint64_t max) {
  if (code > 33) code = 0;
  std::string word = code == 0 ? std::string() : messages.Get(54 + static_cast<int>(code));
  std::string line = word.empty() ? std::string(text) : word + " " + std::string(text);
  const std::string transferring = messages.Get(59);
  if (!transferring.empty() && line.compare(0, transferring.size(), transferring) == 0) {
    line = ThousandsText(progress) + " " + messages.Get(22);
    if (max > 0) line += ", " + std::to_string(DownloadPercent(progress, max)) + messages.Get(21);
  }
  return line;
}

std::string ReceivedLine(const MessageTable& messages, std::uint64_t received, std::uint64_t total) {
  std::string line = ThousandsText(received) + " " + messages.Get(22);
  if (total > 0) line += ", " + std::to_string(DownloadPercent(received, total)) + messages.Get(21);
  return line;
}

UrlCredentials SplitUrlCredentials(std::string_view url) {
  UrlCredentials out;
  out.Url = std::string(url);
  std::size_t start;
  if (StartsWithNoCase(url, "http://"))
    start = 7;
  else if (StartsWithNoCase(url, "https://"))
    start = 8;
  else
    return out;
  const std::size_t slash = url.find('/', start);
  const std::string_view authority = url.substr(start, slash == std::string_view::npos ? url.npos : slash - start);
  const std::size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return out;
  const std::string_view info = authority.substr(0, at);
  const std::size_t colon = info.find(':');
  out.User = std::string(info.substr(0, colon));
  if (colon != std::string_view::npos) out.Password = std::string(info.substr(colon + 1));
  out.HasUser = true;
  out.Url = std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
  return out;
}

std::string UrlForLog(std::string_view url) { return SplitUrlCredentials(url).Url; }

std::string ResolveLocation(std::string_view base, std::string_view location) {
  if (StartsWithNoCase(location, "http://") || StartsWithNoCase(location, "https://")) return std::string(location);
  const std::size_t scheme = base.find("://");
  const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t pathStart = std::min(base.find('/', hostStart), base.size());
  if (location.size() >= 2 && location[0] == '/' && location[1] == '/')
    return std::string(base.substr(0, scheme == std::string_view::npos ? 0 : scheme + 1)) + std::string(location);
  if (!location.empty() && location[0] == '/') return std::string(base.substr(0, pathStart)) + std::string(location);
  std::string_view path = base.substr(pathStart);
  path = path.substr(0, std::min(path.find_first_of("?#"), path.size()));
  const std::size_t lastSlash = path.rfind('/');
  std::string dir = lastSlash == std::string_view::npos ? "/" : std::string(path.substr(0, lastSlash + 1));
  return std::string(base.substr(0, pathStart)) + dir + std::string(location);
}

HttpHeaders ParseHttpHeaders(std::string_view raw) {
  HttpHeaders h;
  bool first = true;
  while (!raw.empty()) {
    std::size_t end = raw.find('\n');
    std::string_view line = raw.substr(0, end);
    raw = end == std::string_view::npos ? std::string_view() : raw.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      first = false;
      // "HTTP/1.1 206 Partial Content"
      const std::size_t sp = line.find(' ');
      if (sp != std::string_view::npos) {
        std::string_view code = line.substr(sp + 1, 3);
        if (auto n = Number(code)) h.Status = static_cast<int>(*n);
      }
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    const std::string value = Trim(line.substr(colon + 1));
    auto is = [&](std::string_view n) { return name.size() == n.size() && StartsWithNoCase(name, n); };
    if (is("content-length")) h.ContentLength = Number(value);
    else if (is("content-range")) h.ContentRange = value;
    else if (is("etag")) h.ETag = value;
    else if (is("last-modified")) h.LastModified = value;
    else if (is("location")) h.Location = value;
  }
  return h;
}

ValueOverride::ValueOverride(ValueSlot& slot, const StoredValue& value) : slot_(slot), old_(slot.Read()) {
  set_ = slot_.Write(value);
}

ValueOverride::~ValueOverride() {
  if (!set_) return;
  if (old_)
    slot_.Write(*old_);
  else
    slot_.Delete();
}

StoredValue DwordValue(std::uint32_t value) {
  StoredValue v;
  v.Type = 4;  // REG_DWORD
  for (int i = 0; i < 4; ++i) v.Bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return v;
}

std::uint64_t ResumeOffset(std::uint64_t present, bool resume) {
  return resume && present > 2048 ? present - 2048 : 0;
}

namespace {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Why an error status fails the URL; the statuses that need the user's action say which.
std::string StatusReason(int status) {
  std::string reason = "status " + std::to_string(status);
  if (status == 407)
    reason += ": the proxy refused the request (no credentials, wrong ones, or an authentication the client "
              "cannot give)";
  if (status == 401) reason += ": the server wants credentials";
  return reason;
}

// Sends the request and follows redirects (at most kMaxRedirects); the final answer.
std::optional<HttpHeaders> SendFollowing(HttpTransport& transport, const std::string& method, std::string& url,
                                         const HeaderList& headers, std::unique_ptr<HttpBody>& body,
                                         std::vector<std::string>& log, std::string& reason) {
  for (int hop = 0;; ++hop) {
    body.reset();
    auto answer = transport.Send(method, url, headers, body, reason);
    if (!answer) {
      log.push_back(method + " " + UrlForLog(url) + ": no answer (" + reason + ")");
      return std::nullopt;
    }
    log.push_back(method + " " + UrlForLog(url) + ": status " + std::to_string(answer->Status));
    const bool redirect = answer->Status == 301 || answer->Status == 302 || answer->Status == 303 ||
                          answer->Status == 307 || answer->Status == 308;
    if (!redirect || answer->Location.empty()) return answer;
    if (hop >= kMaxRedirects) {
      reason = "more than " + std::to_string(kMaxRedirects) + " redirects";
      return std::nullopt;
    }
    url = ResolveLocation(url, answer->Location);
  }
}

}  // namespace

DownloadOutcome HttpDownload(HttpTransport& transport, TargetFile& target, const MessageTable& messages,
                             const DownloadRequest& request, const DownloadProgress& progress,
                             std::vector<std::string>& log) {
  DownloadOutcome out;
  auto fail = [&](std::string reason) {
    out.Ok = false;
    out.Reason = std::move(reason);
    log.push_back("Download failed: " + UrlForLog(request.Url) + ": " + out.Reason);
    return out;
  };
  const std::uint64_t present = target.Size().value_or(0);

  // HEAD: the size and the validator for If-Range. No answer is not fatal; an error status is.
  std::string url = request.Url, reason;
  std::unique_ptr<HttpBody> body;
  HttpHeaders head;
  if (auto h = SendFollowing(transport, "HEAD", url, {}, body, log, reason)) {
    head = *h;
    if (head.Status >= 400) return fail(StatusReason(head.Status));
  } else if (reason.find("redirects") != std::string::npos) {
    return fail(reason);
  }
  body.reset();
  const std::string validator = !head.ETag.empty() ? head.ETag : head.LastModified;

  // Resuming needs a validator: without one a changed file would be spliced onto the old.
  std::uint64_t offset = validator.empty() ? 0 : ResumeOffset(present, request.Resume);
  if (head.ContentLength && offset > *head.ContentLength) offset = 0;

  for (int attempt = 0; attempt < 2; ++attempt) {
    HeaderList headers;
    if (offset > 0) {
      headers.emplace_back("Range", "bytes=" + std::to_string(offset) + "-");
      headers.emplace_back("If-Range", validator);
    }
    std::string getUrl = request.Url;
    auto answer = SendFollowing(transport, "GET", getUrl, headers, body, log, reason);
    if (!answer) return fail(reason);
    if (answer->Status >= 400) return fail(StatusReason(answer->Status));

    std::uint64_t start = 0;
    std::optional<std::uint64_t> total;
    if (answer->Status == 206) {
      std::uint64_t first = 0;
      if (offset == 0 || !ParseContentRange(answer->ContentRange, first, total) || first != offset) {
        // A part we did not ask for: ask once more for the whole file.
        log.push_back("Partial answer at another offset than " + std::to_string(offset) + " (" +
                      answer->ContentRange + "); asking for the whole file");
        if (attempt == 0 && offset > 0) {
          offset = 0;
          continue;
        }
        return fail("partial answer at the wrong offset");
      }
      start = offset;
      if (!total && answer->ContentLength) total = offset + *answer->ContentLength;
    } else if (answer->Status == 200) {
      start = 0;
      total = answer->ContentLength;
    } else {
      return fail("unexpected status " + std::to_string(answer->Status));
    }
    if (!total && head.ContentLength && answer->Status == 200) total = head.ContentLength;
    if (!body) return fail("no body");

    // The cause, when the file system named one: "write failed after 4000 bytes: the disk is full".
    auto cause = [&] {
      const std::string why = target.FailureText();
      return why.empty() ? std::string() : ": " + why;
    };
    if (!target.OpenAt(start)) return fail("the target cannot be written" + cause());
    std::uint64_t written = start;
    const std::uint64_t shown = total.value_or(0);
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      long n = body->Read(buffer.data(), buffer.size());
      if (n < 0) {
        target.CloseAt(written);
        return fail("connection failed after " + std::to_string(written) + " bytes");
      }
      if (n == 0) break;
      std::size_t size = static_cast<std::size_t>(n);
      if (total && written + size > *total) {
        target.CloseAt(start);
        return fail("the body is longer than " + std::to_string(*total) + " bytes");
      }
      if (!target.Write(buffer.data(), size)) {
        target.CloseAt(written);
        return fail("write failed after " + std::to_string(written) + " bytes" + cause());
      }
      written += size;
      // An unknown total shows no percent yet.
      const int percent = total ? DownloadPercent(written, shown) : 0;
      if (progress && !progress(percent, ReceivedLine(messages, written, shown))) {
        body->Abort();
        target.CloseAt(written);
        return fail("cancelled after " + std::to_string(written) + " bytes");
      }
    }
    target.CloseAt(written);
    if (total && written != *total)
      return fail("the body ended at " + std::to_string(written) + " of " + std::to_string(*total) + " bytes");
    log.push_back("Downloaded " + UrlForLog(request.Url) + ": " + std::to_string(written) + " bytes" +
                  (start > 0 ? " (resumed at " + std::to_string(start) + ")" : ""));
    out.Ok = true;
    return out;
  }
  return fail("no usable answer");
}

}  // namespace kem
