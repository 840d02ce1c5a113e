#include "platform/dialogs/picture_bitmap.h"

#include <cstdint>

namespace kem::platform {

GdiObject PictureOverBackground(const pictures::Image& image, COLORREF back) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = static_cast<LONG>(image.width);
  bi.bmiHeader.biHeight = -static_cast<LONG>(image.height);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  GdiObject bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bmp.Get() || !bits) return GdiObject();
  auto* out = static_cast<std::uint8_t*>(bits);
  const int br = GetRValue(back), bg = GetGValue(back), bb = GetBValue(back);
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    const int a = image.pixels[i + 3];
    out[i + 0] = static_cast<std::uint8_t>((image.pixels[i + 0] * a + bb * (255 - a)) / 255);
    out[i + 1] = static_cast<std::uint8_t>((image.pixels[i + 1] * a + bg * (255 - a)) / 255);
    out[i + 2] = static_cast<std::uint8_t>((image.pixels[i + 2] * a + br * (255 - a)) / 255);
    out[i + 3] = 255;
  }
  return bmp;
}

}  // namespace kem::platform
