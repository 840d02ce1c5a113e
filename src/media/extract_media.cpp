#include "engine/statement_error.h"
#include "media/block_media.h"

namespace kem {

WebBlockUnpackResult UnpackWebBlock(Interpreter&, MediaServices&, const WebBlockUnpack&) {
  throw StatementError("Unable to extract installation data downloaded from the web");
}

}  // namespace kem
