// Pictures from form files: every decoder must refuse bad input with a PictureError.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dialogs/pictures/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem::pictures;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    Image img = DecodePng(bytes);
    if (img.pixels.size() != std::size_t(img.width) * img.height * 4) __builtin_trap();
  } catch (const PictureError&) {
  }
  try {
    (void)DecodeFormGraphic(bytes);
  } catch (const PictureError&) {
  }
  return 0;
}
