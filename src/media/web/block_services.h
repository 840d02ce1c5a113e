// The loader's file work, folder moves, offline copy and unpacking, served by media copying
// and block unpacking over their file service.
#pragma once

#include <memory>

#include "media/block_media.h"
#include "media/web/web_media.h"

namespace kem {

// The loader's file work over the media file service.
std::shared_ptr<WebMediaMachine> MediaFilesMachine(MediaFileService& files);

// Fills Machine, MoveFolder, CopyOffline and Unpack of services from media, which must
// outlive them.
void UseBlockMedia(WebMediaServices& services, MediaServices& media);

}  // namespace kem
