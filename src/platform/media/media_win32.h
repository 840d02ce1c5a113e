// The Win32 half of media copying and extraction: the file service (all work done through
// the wide-character functions, ANSI paths converted with one code page) and the
// extraction retry question.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "media/block_media.h"

namespace kem::platform {

// codePage converts the ANSI paths (0: the process's ANSI code page).
std::unique_ptr<MediaFileService> CreateMediaFileService(std::uint32_t codePage);

// The retry question; after timeout without an answer it chooses Download by itself.
std::unique_ptr<ExtractRetryPrompt> CreateExtractRetryPrompt(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));

}  // namespace kem::platform
