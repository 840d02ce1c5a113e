// Pictures carried by dialog forms (image pictures, button glyphs, form icons), decoded
// to 32-bit pixels with alpha.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kem::pictures {

// Raised for every picture that cannot be decoded; the message says what is wrong.
class PictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Pixels in rows from the top, each pixel four bytes blue, green, red, alpha (straight,
// not premultiplied); alpha 255 is opaque.
struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 4

  const std::uint8_t* Pixel(std::uint32_t x, std::uint32_t y) const { return &pixels[(std::size_t(y) * width + x) * 4]; }
  std::uint8_t* Pixel(std::uint32_t x, std::uint32_t y) { return &pixels[(std::size_t(y) * width + x) * 4]; }
};

// Largest picture accepted: each side and the pixel count (larger ones are refused before
// any pixel memory is taken).
constexpr std::uint32_t kMaxPictureSide = 16384;
constexpr std::uint64_t kMaxPicturePixels = 16u * 1024 * 1024;

enum class PictureFormat { Unknown, Bmp, Ico, Png, Jpeg };

PictureFormat DetectPictureFormat(std::string_view data);

// Decoders by format. Data is the whole file as stored.
Image DecodeBmp(std::string_view data);  // with the "BM" file header
Image DecodeDib(std::string_view data);  // a device-independent bitmap without file header
Image DecodeIco(std::string_view data);  // the largest, deepest image of an icon or cursor file
Image DecodePng(std::string_view data);
Image DecodeJpeg(std::string_view data);

// Any of the formats above, recognised by its signature.
Image DecodePicture(std::string_view data);

// The binary data of a form's picture property: optionally the picture class name as a
// length-prefixed text ("TBitmap", "TJPEGImage", ...), then optionally a 32-bit length,
// then the picture file. GraphicClassName returns the class name or "" when the data has
// none; GraphicPayload the picture file inside. DecodeFormGraphic decodes it; a class the
// decoders do not handle (a metafile) raises PictureError naming the class.
std::string GraphicClassName(std::string_view data);
std::string_view GraphicPayload(std::string_view data);
Image DecodeFormGraphic(std::string_view data);

// Glyph transparency: every pixel of the bottom-left pixel's colour becomes transparent.
void MakeBottomLeftColorTransparent(Image& image);

// Checks the size against the limits and allocates the pixels; throws PictureError.
Image AllocateImage(std::uint64_t width, std::uint64_t height);

}  // namespace kem::pictures
