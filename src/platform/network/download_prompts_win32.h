// The two questions after a failed download: retry as a resume or with a fresh copy (it
// answers OK by itself when nobody does), and the proxy settings for the HTTP client.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "media/web/web_media.h"

namespace kem::platform {

// Owned by the window (0: none), texts from message. resume: the choice shown first.
ResumeAnswer AskDownloadRetry(std::uintptr_t owner, const std::function<std::string(int)>& message, bool resume,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));

// Yes keeps the edited settings in proxy; No leaves it alone.
bool AskProxySettings(std::uintptr_t owner, const std::function<std::string(int)>& message, ProxySettings& proxy);

}  // namespace kem::platform
