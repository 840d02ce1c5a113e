#include "platform/network/web_download_win32.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/message_table.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/text/text.h"

namespace kem::platform {
namespace {

constexpr const char* kAgent = "Mozilla/3.0 (compatible)";
constexpr const char* kInternetSettings = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr DWORD kOptionUserName = 28;  // the process-wide Internet user name and password
constexpr DWORD kOptionPassword = 29;

std::string ErrorText(DWORD code) { return "error " + std::to_string(code); }

// WinINet refused the server's certificate. Wine reports an unknown authority as a failed
// revocation check, since the revocation of an untrusted chain cannot be checked either.
bool CertificateRefused(DWORD e) {
  switch (e) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
      return true;
    default:
      return false;
  }
}

// A file system error as the trace log names it.
std::string FileErrorText(DWORD e) {
  if (e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL) return "the disk is full (" + ErrorText(e) + ")";
  return ErrorText(e);
}

// --- WinINet -----------------------------------------------------------------------------

struct WinInet {
  SystemLibrary Library{L"wininet.dll"};
  decltype(&InternetOpenA) Open = Library.Function<decltype(&InternetOpenA)>("InternetOpenA");
  decltype(&InternetConnectA) Connect = Library.Function<decltype(&InternetConnectA)>("InternetConnectA");
  decltype(&HttpOpenRequestA) OpenRequest = Library.Function<decltype(&HttpOpenRequestA)>("HttpOpenRequestA");
  decltype(&HttpSendRequestA) SendRequest = Library.Function<decltype(&HttpSendRequestA)>("HttpSendRequestA");
  decltype(&HttpQueryInfoA) QueryInfo = Library.Function<decltype(&HttpQueryInfoA)>("HttpQueryInfoA");
  decltype(&InternetReadFile) ReadFile = Library.Function<decltype(&InternetReadFile)>("InternetReadFile");
  decltype(&InternetCloseHandle) Close = Library.Function<decltype(&InternetCloseHandle)>("InternetCloseHandle");
  decltype(&InternetCrackUrlA) CrackUrl = Library.Function<decltype(&InternetCrackUrlA)>("InternetCrackUrlA");
  decltype(&InternetSetOptionA) SetOption = Library.Function<decltype(&InternetSetOptionA)>("InternetSetOptionA");

  bool Complete() const {
    return Open && Connect && OpenRequest && SendRequest && QueryInfo && ReadFile && Close && CrackUrl && SetOption;
  }
};

class InternetHandle {
 public:
  InternetHandle(const WinInet& net, HINTERNET h) : net_(&net), h_(h) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return h_.load(); }
  explicit operator bool() const { return h_.load() != nullptr; }
  // Closing a request handle also ends a read waiting on it (any thread).
  void Reset() {
    if (HINTERNET h = h_.exchange(nullptr)) net_->Close(h);
  }

 private:
  const WinInet* net_;
  std::atomic<HINTERNET> h_;
};

class WinInetBody final : public HttpBody {
 public:
  WinInetBody(const WinInet& net, HINTERNET connection, HINTERNET request, std::function<void(WinInetBody*)> gone)
      : net_(net), connection_(net, connection), request_(net, request), gone_(std::move(gone)) {}
  ~WinInetBody() override {
    if (gone_) gone_(this);
  }
  long Read(char* buffer, std::size_t size) override {
    HINTERNET request = request_.Get();
    if (!request) return -1;
    DWORD read = 0;
    if (!net_.ReadFile(request, buffer, static_cast<DWORD>(size), &read)) return -1;
    return static_cast<long>(read);
  }
  void Abort() override { request_.Reset(); }

 private:
  const WinInet& net_;
  InternetHandle connection_;
  InternetHandle request_;
  std::function<void(WinInetBody*)> gone_;
};

class WinInetTransport final : public HttpTransport {
 public:
  WinInetTransport(const WinInet& net, const ProxySettings& proxy)
      : net_(net), proxy_(proxy), session_(net, OpenSession(net, proxy)) {}

  // The session through the explicit proxy (port 80 unless given), or straight out.
  static HINTERNET OpenSession(const WinInet& net, const ProxySettings& proxy) {
    std::string server;
    if (!proxy.Server.empty()) server = proxy.Server + ":" + (proxy.Port.empty() ? std::string("80") : proxy.Port);
    HINTERNET session = net.Open(kAgent, server.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                                 server.empty() ? nullptr : server.c_str(), server.empty() ? nullptr : "<local>", 0);
    if (session) {
      // A server that stops sending ends the read instead of holding the download forever.
      DWORD timeout = 30000;
      net.SetOption(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
      net.SetOption(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
      net.SetOption(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    }
    return session;
  }

  std::optional<HttpHeaders> Send(const std::string& method, const std::string& url,
                                  const std::vector<std::pair<std::string, std::string>>& headers,
                                  std::unique_ptr<HttpBody>& body, std::string& reason) override {
    if (aborted_) {
      reason = "cancelled";
      return std::nullopt;
    }
    if (!session_) {
      reason = "no Internet session (" + ErrorText(GetLastError()) + ")";
      return std::nullopt;
    }
    // The credentials travel to the server, never in the URL text.
    const UrlCredentials split = SplitUrlCredentials(url);
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    std::vector<char> path(split.Url.size() + 2), extra(split.Url.size() + 2);
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host);
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!net_.CrackUrl(split.Url.c_str(), 0, 0, &parts)) {
      reason = "not a usable URL (" + ErrorText(GetLastError()) + ")";
      return std::nullopt;
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (!secure && parts.nScheme != INTERNET_SCHEME_HTTP) {
      reason = "not an http or https URL";
      return std::nullopt;
    }
    HINTERNET connection =
        net_.Connect(session_.Get(), host, parts.nPort, split.HasUser ? split.User.c_str() : nullptr,
                     split.HasUser ? split.Password.c_str() : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
      reason = "no connection (" + ErrorText(GetLastError()) + ")";
      return std::nullopt;
    }
    std::string object = std::string(path.data()) + extra.data();
    if (object.empty()) object = "/";
    const char* accept[] = {"image/gif", "image/x-xbitmap", "image/jpeg", "image/pjpeg", "*/*", nullptr};
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    if (secure) flags |= INTERNET_FLAG_SECURE;  // certificate errors are not ignored
    HINTERNET request = net_.OpenRequest(connection, method.c_str(), object.c_str(), "HTTP/1.0", nullptr, accept, flags, 0);
    auto made = std::make_unique<WinInetBody>(net_, connection, request, [this](WinInetBody* b) {
      std::lock_guard<std::mutex> lock(lock_);
      if (active_ == b) active_ = nullptr;
    });
    bool cancelled = false;
    {
      std::lock_guard<std::mutex> lock(lock_);
      cancelled = aborted_;
      if (!cancelled) active_ = made.get();
    }
    if (cancelled) {
      reason = "cancelled";
      return std::nullopt;
    }
    if (!request) {
      reason = "no request (" + ErrorText(GetLastError()) + ")";
      return std::nullopt;
    }
    // The timeouts again on the request: not every WinINet passes the session's on.
    DWORD timeout = 30000;
    net_.SetOption(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    net_.SetOption(request, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    if (!proxy_.User.empty()) {
      net_.SetOption(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(proxy_.User.c_str()),
                     static_cast<DWORD>(proxy_.User.size()));
      net_.SetOption(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<char*>(proxy_.Password.c_str()),
                     static_cast<DWORD>(proxy_.Password.size()));
    }
    std::string lines;
    for (const auto& [name, value] : headers) lines += name + ": " + value + "\r\n";
    if (!net_.SendRequest(request, lines.empty() ? nullptr : lines.c_str(), static_cast<DWORD>(lines.size()), nullptr, 0)) {
      const DWORD e = GetLastError();
      reason = CertificateRefused(e) ? "the server's certificate is not trusted (" + ErrorText(e) + ")"
                                     : "no answer (" + ErrorText(e) + ")";
      return std::nullopt;
    }
    DWORD size = 0;
    net_.QueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    std::string raw(size + 1, '\0');
    if (!net_.QueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr)) {
      reason = "no headers (" + ErrorText(GetLastError()) + ")";
      return std::nullopt;
    }
    raw.resize(size);
    body = std::move(made);
    return ParseHttpHeaders(raw);
  }

  // Closes the request being read (any thread); later requests fail at once.
  void Abort() {
    std::lock_guard<std::mutex> lock(lock_);
    aborted_ = true;
    if (active_) active_->Abort();
  }

 private:
  const WinInet& net_;
  ProxySettings proxy_;
  InternetHandle session_;
  std::mutex lock_;
  std::atomic<bool> aborted_{false};
  WinInetBody* active_ = nullptr;
};

// --- The target file ----------------------------------------------------------------------

class Win32TargetFile final : public TargetFile {
 public:
  explicit Win32TargetFile(std::string path) : path_(std::move(path)) {}
  std::optional<std::uint64_t> Size() override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  bool OpenAt(std::uint64_t bytes) override {
    error_ = 0;
    file_ = UniqueHandle(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.Valid()) return Failed(GetLastError());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.Get(), &size)) return Failed(GetLastError());
    if (static_cast<std::uint64_t>(size.QuadPart) < bytes) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(bytes);
    if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get()))
      return Failed(GetLastError());
    return true;
  }
  bool Write(const char* data, std::size_t size) override {
    while (size > 0) {
      DWORD written = 0;
      if (!WriteFile(file_.Get(), data, static_cast<DWORD>(size), &written, nullptr)) return Failed(GetLastError());
      if (written == 0) return Failed(ERROR_DISK_FULL);  // nothing taken: no room
      data += written;
      size -= written;
    }
    return true;
  }
  std::string FailureText() override { return error_ ? FileErrorText(error_) : std::string(); }
  void CloseAt(std::uint64_t bytes) override {
    if (!file_.Valid()) return;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file_.Get(), &size) && static_cast<std::uint64_t>(size.QuadPart) > bytes) {
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(bytes);
      if (SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN)) SetEndOfFile(file_.Get());
    }
    file_ = UniqueHandle();
  }

 private:
  bool Failed(DWORD error) {
    error_ = error;
    return false;
  }

  std::string path_;
  UniqueHandle file_;
  DWORD error_ = 0;
};

std::optional<std::uint64_t> FileSizeOf(const std::string& path) { return Win32TargetFile(path).Size(); }

// --- The lightweight downloader -----------------------------------------------------------

// "ReceiveTimeout" of the current user's Internet settings.
class ReceiveTimeoutSlot final : public ValueSlot {
 public:
  std::optional<StoredValue> Read() override {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
      return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.Get(), "ReceiveTimeout", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return std::nullopt;
    StoredValue v;
    v.Type = type;
    v.Bytes.resize(size);
    if (RegQueryValueExA(key.Get(), "ReceiveTimeout", nullptr, &type,
                         reinterpret_cast<BYTE*>(v.Bytes.data()), &size) != ERROR_SUCCESS)
      return std::nullopt;
    v.Bytes.resize(size);
    return v;
  }
  bool Write(const StoredValue& v) override {
    RegistryKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
      return false;
    return RegSetValueExA(key.Get(), "ReceiveTimeout", 0, v.Type, reinterpret_cast<const BYTE*>(v.Bytes.data()),
                          static_cast<DWORD>(v.Bytes.size())) == ERROR_SUCCESS;
  }
  bool Delete() override {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS)
      return false;
    return RegDeleteValueA(key.Get(), "ReceiveTimeout") == ERROR_SUCCESS;
  }
};

// The status callback of one lightweight download; it also hears the HTTP status, since
// the download function reports an error page as a successful download.
class BindCallback final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  BindCallback(const MessageTable& messages, std::uint32_t codePage, const DownloadProgress& progress, bool fresh)
      : messages_(messages), codePage_(codePage), progress_(progress), fresh_(fresh) {}

  std::string CacheFile;  // as status 14 named it
  std::uint64_t Maximum = 0;
  bool Stopped = false;
  DWORD HttpStatus = 0;  // 0: none heard

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IBindStatusCallback))) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    if (IsEqualIID(riid, __uuidof(IHttpNegotiate))) {
      *out = static_cast<IHttpNegotiate*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the downloading function's stack: counting is for the callers' sake only.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG maximum, ULONG code, LPCWSTR text) override {
    std::string status;
    if (text) status = Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text)), codePage_);
    if (code == BINDSTATUS_CACHEFILENAMEAVAILABLE) CacheFile = status;
    if (maximum > 0) Maximum = maximum;
    const std::string line = LightStatusLine(messages_, code, status, progress, maximum);
    const int percent = maximum > 0 ? DownloadPercent(progress, maximum) : 0;
    if (progress_ && !progress_(percent, line)) {
      Stopped = true;
      return E_ABORT;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    if (flags) *flags = fresh_ ? static_cast<DWORD>(BINDF_GETNEWESTVERSION) : 0u;
    if (info) {
      const ULONG size = info->cbSize;
      ZeroMemory(info, size);
      info->cbSize = size;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    HttpStatus = code;
    return S_OK;
  }

 private:
  const MessageTable& messages_;
  std::uint32_t codePage_;
  const DownloadProgress& progress_;
  bool fresh_;
  ULONG refs_ = 1;
};

// Copies through a new file beside the target that is renamed over it, so the target is
// whole or as it was.
// A copy that stops part way (a full disk) leaves no piece of itself behind; the cause
// stays in GetLastError.
bool CopyWhole(const std::string& from, const std::string& to) {
  const std::string temp = to + ".kemcopy";
  DeleteFileA(temp.c_str());
  auto failed = [&] {
    const DWORD error = GetLastError();
    DeleteFileA(temp.c_str());
    SetLastError(error);
    return false;
  };
  if (!CopyFileA(from.c_str(), temp.c_str(), FALSE)) return failed();
  SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return failed();
  return true;
}

using CacheDownloadFn = HRESULT(WINAPI*)(LPUNKNOWN, LPCSTR, LPSTR, DWORD, DWORD, LPBINDSTATUSCALLBACK);
using FileDownloadFn = HRESULT(WINAPI*)(LPUNKNOWN, LPCSTR, LPCSTR, DWORD, LPBINDSTATUSCALLBACK);

class WebDownloader final : public Downloader {
 public:
  WebDownloader(DownloaderState& state, const MessageTable& messages, std::uint32_t codePage)
      : state_(state), messages_(messages), codePage_(codePage) {}

  DownloadOutcome Download(const DownloadRequest& request, const DownloadProgress& progress,
                           std::vector<std::string>& log) override {
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (aborted_) return {false, "cancelled"};
    }
    if (state_.LightAvailable) {
      DownloadOutcome light = Light(request, progress, log);
      if (state_.LightAvailable) return light;
      log.push_back("The lightweight downloader is not available; the HTTP client takes over");
    }
    if (!net_.Complete()) {
      DownloadOutcome out;
      out.Reason = "wininet.dll is not available";
      log.push_back("Download failed: " + UrlForLog(request.Url) + ": " + out.Reason);
      return out;
    }
    WinInetTransport transport(net_, request.Proxy);
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (aborted_) return {false, "cancelled"};
      transport_ = &transport;
    }
    Win32TargetFile target(request.Target);
    DownloadOutcome out = HttpDownload(transport, target, messages_, request, progress, log);
    std::lock_guard<std::mutex> lock(lock_);
    transport_ = nullptr;
    return out;
  }

  void Abort() override {
    std::lock_guard<std::mutex> lock(lock_);
    aborted_ = true;
    if (transport_) transport_->Abort();
  }

 private:
  DownloadOutcome Light(const DownloadRequest& request, const DownloadProgress& progress,
                        std::vector<std::string>& log) {
    DownloadOutcome out;
    auto fail = [&](std::string reason) {
      out.Reason = std::move(reason);
      log.push_back("Download failed: " + UrlForLog(request.Url) + ": " + out.Reason);
      return out;
    };
    SystemLibrary urlmon(L"urlmon.dll");
    auto toCache = urlmon.Function<CacheDownloadFn>("URLDownloadToCacheFileA");
    auto toFile = urlmon.Function<FileDownloadFn>("URLDownloadToFileA");
    const UrlCredentials split = SplitUrlCredentials(request.Url);
    if (!toCache || !toFile || (split.HasUser && !net_.SetOption)) {
      state_.LightAvailable = false;
      return fail("the URL moniker functions are missing");
    }
    if (!request.Resume && !state_.LastCacheFile.empty()) {
      DeleteFileA(state_.LastCacheFile.c_str());
      state_.LastCacheFile.clear();
    }

    ReceiveTimeoutSlot slot;
    ValueOverride timeout(slot, DwordValue(10000));
    struct Credentials {
      const WinInet& Net;
      bool Set;
      ~Credentials() {
        if (Set) {
          Net.SetOption(nullptr, kOptionUserName, const_cast<char*>(""), 0);
          Net.SetOption(nullptr, kOptionPassword, const_cast<char*>(""), 0);
        }
      }
    } credentials{net_, split.HasUser};
    if (split.HasUser) {
      net_.SetOption(nullptr, kOptionUserName, const_cast<char*>(split.User.c_str()), static_cast<DWORD>(split.User.size()));
      net_.SetOption(nullptr, kOptionPassword, const_cast<char*>(split.Password.c_str()),
                     static_cast<DWORD>(split.Password.size()));
    }

    SystemLibrary ole(L"ole32.dll");
    auto init = ole.Function<HRESULT(WINAPI*)(LPVOID, DWORD)>("CoInitializeEx");
    auto uninit = ole.Function<void(WINAPI*)()>("CoUninitialize");
    const bool com = init && SUCCEEDED(init(nullptr, COINIT_APARTMENTTHREADED));

    BindCallback callback(messages_, codePage_, progress, !request.Resume);
    char cacheFile[MAX_PATH + 1] = {};
    const HRESULT hr = toCache(nullptr, split.Url.c_str(), cacheFile, MAX_PATH, 0, &callback);
    if (com && uninit) uninit();
    log.push_back("Lightweight download " + split.Url + ": result 0x" + [&] {
      char text[16];
      wsprintfA(text, "%08lX", static_cast<unsigned long>(hr));
      return std::string(text);
    }());
    if (!callback.CacheFile.empty()) state_.LastCacheFile = callback.CacheFile;
    if (callback.HttpStatus) log.push_back(UrlForLog(split.Url) + ": status " + std::to_string(callback.HttpStatus));
    if (callback.Stopped) return fail("cancelled");
    if (hr == INET_E_INVALID_CERTIFICATE || hr == INET_E_SECURITY_PROBLEM)
      return fail("the server's certificate is not trusted");
    if (FAILED(hr)) return fail("the download did not complete");
    if (callback.HttpStatus >= 400) return fail("status " + std::to_string(callback.HttpStatus));
    // The file the call returns is the one to copy: the status report may name another.
    const std::string cached = cacheFile;
    state_.LastCacheFile = cached;
    const auto size = FileSizeOf(cached);
    if (!size) return fail("the downloaded file is missing: " + cached);
    // Without a size from the server an empty answer is no block either.
    if (*size == 0) return fail("the download is empty");
    if (callback.Maximum > 0 && *size != callback.Maximum)
      return fail("the downloaded file has " + std::to_string(*size) + " of " + std::to_string(callback.Maximum) +
                  " bytes");
    if (_stricmp(cached.c_str(), request.Target.c_str()) != 0 && !CopyWhole(cached, request.Target))
      return fail("the downloaded file cannot be copied to " + request.Target + " (" + FileErrorText(GetLastError()) +
                  ")");
    if (FileSizeOf(request.Target) != size) return fail("the copy of the downloaded file is incomplete");
    log.push_back("Downloaded " + split.Url + ": " + std::to_string(*size) + " bytes");
    out.Ok = true;
    return out;
  }

  DownloaderState& state_;
  const MessageTable& messages_;
  std::uint32_t codePage_;
  WinInet net_;
  std::mutex lock_;
  bool aborted_ = false;
  WinInetTransport* transport_ = nullptr;
};

}  // namespace

std::unique_ptr<Downloader> CreateWebDownloader(DownloaderState& state, const MessageTable& messages,
                                                std::uint32_t codePage) {
  return std::make_unique<WebDownloader>(state, messages, codePage);
}

}  // namespace kem::platform
