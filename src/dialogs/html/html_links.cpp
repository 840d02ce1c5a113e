#include "dialogs/html/html_links.h"

#include <algorithm>
#include <vector>

#include "common/text.h"

namespace kem::html {
namespace {

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    const int hi = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      // A bad escape ends the decoding: the rest stays as written.
      out.append(text.substr(i));
      break;
    }
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

// A file URL or path as a Windows path: scheme dropped, escapes decoded, '|' for ':'.
std::string LocalPath(std::string_view url) {
  std::string path = DecodeEscapes(url);
  for (std::string_view scheme : {"file:///", "file://", "file:"})
    if (path.size() >= scheme.size() && SameText(std::string_view(path).substr(0, scheme.size()), scheme)) {
      path.erase(0, scheme.size());
      break;
    }
  std::replace(path.begin(), path.end(), '|', ':');
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

std::string FullFileName(std::string_view path, std::string_view folder) {
  std::string joined;
  const bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  const bool drive = path.size() >= 2 && path[1] == ':';
  if (unc || (drive && path.size() >= 3 && path[2] == '\\')) {
    joined = std::string(path);
  } else if (drive) {
    joined = std::string(path.substr(0, 2)) + "\\" + std::string(path.substr(2));
  } else if (!path.empty() && path[0] == '\\') {
    const std::string root = folder.size() >= 2 && folder[1] == ':' ? std::string(folder.substr(0, 2)) : std::string();
    joined = root + std::string(path);
  } else {
    joined = WithTrailingBackslash(folder) + std::string(path);
  }
  // Resolve "." and ".." below the root (drive or server share), which they never leave.
  std::size_t rootLength = 0;
  if (joined.size() >= 2 && joined[0] == '\\' && joined[1] == '\\') {
    std::size_t p = joined.find('\\', 2);
    p = p == std::string::npos ? joined.size() : joined.find('\\', p + 1);
    rootLength = p == std::string::npos ? joined.size() : p + 1;
  } else if (joined.size() >= 3 && joined[1] == ':' && joined[2] == '\\') {
    rootLength = 3;
  } else if (!joined.empty() && joined[0] == '\\') {
    rootLength = 1;
  }
  std::vector<std::string> parts;
  std::size_t start = rootLength;
  const bool trailing = !joined.empty() && joined.back() == '\\' && joined.size() > rootLength;
  while (start < joined.size()) {
    std::size_t end = joined.find('\\', start);
    if (end == std::string::npos) end = joined.size();
    std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::string out = joined.substr(0, rootLength);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '\\';
    out += parts[i];
  }
  if (trailing && !parts.empty()) out += '\\';
  return out;
}

HotSpot DecideHotSpot(std::string_view url, std::string_view currentDocument, std::string_view baseFolder) {
  HotSpot h;
  const std::string upper = UpperCase(url);
  // Parameters start at the first blank, failing that at the first '?'. Whether the URL
  // names a local file is decided on the part before them, so that parameters holding a
  // drive ("/log=C:\\x.txt") do not make a program link look like a URL scheme.
  std::size_t split = url.find(' ');
  if (split == std::string_view::npos) split = url.find('?');
  const std::string_view head = url.substr(0, split);
  const std::size_t colon = head.find(':');
  if (colon == std::string_view::npos || colon <= 1 || UpperCase(head).find("FILE:") != std::string::npos) {
    std::string_view path = url;
    std::string parameters;
    if (split != std::string_view::npos) {
      parameters = std::string(url.substr(split + 1, 255));
      path = url.substr(0, split);
    }
    std::string fragment;
    if (const std::size_t hash = path.find('#'); hash != std::string_view::npos) {
      fragment = std::string(path.substr(hash + 1));
      path = path.substr(0, hash);
    }
    const std::string folder = currentDocument.empty() ? std::string(baseFolder) : FolderOf(currentDocument);
    const std::string local = LocalPath(path);
    const std::string file = local.empty() ? std::string(currentDocument) : FullFileName(local, folder);
    const std::size_t dot = file.find_last_of('.');
    const std::size_t slash = file.find_last_of('\\');
    const std::string ext =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? UpperCase(file.substr(dot)) : "";
    if (!local.empty() && ext == ".WAV") {
      h.action = HotSpot::Action::PlaySound;
      h.target = file;
    } else if (!local.empty() && ext == ".EXE") {
      h.action = HotSpot::Action::RunProgram;
      h.target = file;
      h.parameters = std::move(parameters);
    } else {
      h.action = HotSpot::Action::Navigate;
      h.target = file;
      h.fragment = std::move(fragment);
    }
    return h;
  }
  if (upper.find("MAILTO:") != std::string::npos || upper.find("HTTP:") != std::string::npos ||
      upper.find("HTTPS:") != std::string::npos) {
    h.action = HotSpot::Action::OpenShell;
    h.target = std::string(url);
  }
  return h;
}

std::string LocalFileOf(std::string_view url, std::string_view currentDocument, std::string_view baseFolder) {
  const std::size_t colon = url.find(':');
  if (colon != std::string_view::npos && colon > 1 && UpperCase(url.substr(0, 5)) != "FILE:") return {};
  const std::size_t end = url.find_first_of("?#");
  const std::string local = LocalPath(url.substr(0, end));
  if (local.empty()) return {};
  const std::string folder = currentDocument.empty() ? std::string(baseFolder) : FolderOf(currentDocument);
  return FullFileName(local, folder);
}

std::string NormaliseRefreshUrl(std::string_view url) {
  std::string out = DecodeEscapes(url);
  if (out.find('/') != std::string::npos) {
    for (std::string_view scheme : {"file:///", "file://"})
      if (out.size() >= scheme.size() && SameText(std::string_view(out).substr(0, scheme.size()), scheme)) {
        out.erase(0, scheme.size());
        break;
      }
    std::replace(out.begin(), out.end(), '|', ':');
    std::replace(out.begin(), out.end(), '/', '\\');
  }
  return out;
}

std::string MetaRefreshTarget(std::string_view supportFolder, std::string_view url) {
  return std::string(supportFolder) + NormaliseRefreshUrl(url);
}

std::uint32_t MetaRefreshInterval(std::int64_t delaySeconds) {
  constexpr std::int64_t kMaxSeconds = 0x7FFFFFFF / 1000;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(delaySeconds, 0, kMaxSeconds) * 1000);
}

}  // namespace kem::html
