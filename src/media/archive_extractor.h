// The archive extractor over the engine's archive operations (kem.lib).
#pragma once

#include <memory>

#include "media/block_media.h"

namespace kem {

class ArchiveHost;

// host serves the listing that precedes every extraction; it outlives the extractor.
std::unique_ptr<ArchiveExtractor> CreateArchiveExtractor(ArchiveHost& host);

}  // namespace kem
