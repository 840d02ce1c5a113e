// The two download engines of web media blocks on Windows: the lightweight one on the URL
// moniker functions, and the HTTP client on WinINet (explicit proxy, HEAD, ranged GET,
// HTTPS with the certificate checked). Both libraries come from the system folder.
#pragma once

#include <cstdint>
#include <memory>

#include "media/web/web_media.h"

namespace kem {
class MessageTable;
}

namespace kem::platform {

// The downloader of one download: the lightweight engine while it is available, the HTTP
// client otherwise. codePage converts the status texts.
std::unique_ptr<Downloader> CreateWebDownloader(DownloaderState& state, const MessageTable& messages,
                                                std::uint32_t codePage);

}  // namespace kem::platform
