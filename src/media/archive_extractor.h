// The archive extractor over the engine's archive operations (kem.lib).
#pragma once

#include <memory>

#include "media/block_media.h"

namespace kem {

std::unique_ptr<ArchiveExtractor> CreateArchiveExtractor();

}  // namespace kem
