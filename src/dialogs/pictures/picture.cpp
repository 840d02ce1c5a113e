#include "dialogs/pictures/picture.h"

namespace kem::pictures {

namespace {

std::uint32_t Le32(std::string_view d, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(d[at]) | (static_cast<std::uint8_t>(d[at + 1]) << 8) |
                                    (static_cast<std::uint8_t>(d[at + 2]) << 16) |
                                    (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d[at + 3])) << 24));
}

bool IsClassName(std::string_view s) {
  if (s.empty() || s[0] != 'T') return false;
  for (char c : s) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// The data after a class-name prefix, or the whole data when it has none.
std::string_view AfterClassName(std::string_view data) {
  if (data.empty()) return data;
  std::size_t n = static_cast<std::uint8_t>(data[0]);
  if (n == 0 || n + 1 > data.size() || !IsClassName(data.substr(1, n))) return data;
  return data.substr(1 + n);
}

std::string_view WithoutLength(std::string_view data) {
  if (DetectPictureFormat(data) != PictureFormat::Unknown) return data;
  if (data.size() >= 4) {
    std::uint32_t len = Le32(data, 0);
    if (len <= data.size() - 4 && (DetectPictureFormat(data.substr(4)) != PictureFormat::Unknown ||
                                   len == data.size() - 4)) {
      return data.substr(4, len);
    }
  }
  return data;
}

}  // namespace

PictureFormat DetectPictureFormat(std::string_view d) {
  if (d.size() >= 8 && d.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) return PictureFormat::Png;
  if (d.size() >= 3 && d.substr(0, 3) == "\xFF\xD8\xFF") return PictureFormat::Jpeg;
  if (d.size() >= 2 && d.substr(0, 2) == "BM") return PictureFormat::Bmp;
  if (d.size() >= 6 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || d[2] == 2) && d[3] == 0 && (d[4] != 0 || d[5] != 0)) {
    return PictureFormat::Ico;
  }
  return PictureFormat::Unknown;
}

Image DecodePicture(std::string_view data) {
  switch (DetectPictureFormat(data)) {
    case PictureFormat::Bmp: return DecodeBmp(data);
    case PictureFormat::Ico: return DecodeIco(data);
    case PictureFormat::Png: return DecodePng(data);
    case PictureFormat::Jpeg: return DecodeJpeg(data);
    case PictureFormat::Unknown: break;
  }
  throw PictureError("unknown picture format");
}

std::string GraphicClassName(std::string_view data) {
  std::string_view rest = AfterClassName(data);
  if (rest.size() == data.size()) return {};
  return std::string(data.substr(1, data.size() - rest.size() - 1));
}

std::string_view GraphicPayload(std::string_view data) {
  std::string_view plain = WithoutLength(data);
  if (DetectPictureFormat(plain) != PictureFormat::Unknown) return plain;
  return WithoutLength(AfterClassName(data));
}

Image DecodeFormGraphic(std::string_view data) {
  std::string_view payload = GraphicPayload(data);
  if (DetectPictureFormat(payload) == PictureFormat::Unknown) {
    std::string cls = GraphicClassName(data);
    if (!cls.empty()) throw PictureError("picture class " + cls + " is not supported");
    throw PictureError("unknown picture format");
  }
  return DecodePicture(payload);
}

void MakeBottomLeftColorTransparent(Image& image) {
  if (image.width == 0 || image.height == 0) return;
  const std::uint8_t* key = image.Pixel(0, image.height - 1);
  std::uint8_t b = key[0], g = key[1], r = key[2];
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    if (image.pixels[i] == b && image.pixels[i + 1] == g && image.pixels[i + 2] == r) image.pixels[i + 3] = 0;
  }
}

Image AllocateImage(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0) throw PictureError("picture without pixels");
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels) {
    throw PictureError("picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  }
  Image img;
  img.width = static_cast<std::uint32_t>(width);
  img.height = static_cast<std::uint32_t>(height);
  img.pixels.assign(static_cast<std::size_t>(width * height * 4), 0);
  return img;
}

}  // namespace kem::pictures
