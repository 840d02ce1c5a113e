// PNG: chunks, filters and interlacing are handled here; zlib only inflates the image data.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "dialogs/pictures/picture.h"

namespace kem::pictures {

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

struct Header {
  std::uint32_t width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  int channels = 0;
  int BitsPerPixel() const { return depth * channels; }
  std::uint64_t RowBytes(std::uint32_t w) const { return (std::uint64_t(w) * BitsPerPixel() + 7) / 8; }
};

struct Pass {
  std::uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kWhole = {0, 0, 1, 1};

std::uint32_t PassSize(std::uint32_t total, std::uint32_t start, std::uint32_t step) {
  return total > start ? (total - start + step - 1) / step : 0;
}

// Inflates the image data into a buffer of exactly the expected size, which grows as the
// data arrives so that a header promising a large picture costs nothing until the data
// is really there.
class Inflater {
 public:
  explicit Inflater(std::size_t total) : total_(total) {
    std::memset(&z_, 0, sizeof z_);
    if (inflateInit(&z_) != Z_OK) throw PictureError("PNG: cannot start decompression");
  }
  ~Inflater() { inflateEnd(&z_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  void Feed(const std::uint8_t* data, std::size_t size) {
    if (finished_) return;  // data after the end of the stream is ignored
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    while (z_.avail_in > 0 && !finished_) {
      if (produced_ == out_.size() && out_.size() < total_) {
        out_.resize(std::min(total_, std::max<std::size_t>(out_.size() * 2, 64 * 1024)));
      }
      std::uint8_t probe;
      bool full = produced_ == out_.size();
      z_.next_out = full ? &probe : out_.data() + produced_;
      z_.avail_out = full ? 1u : static_cast<uInt>(std::min<std::size_t>(out_.size() - produced_, 1u << 30));
      uInt before = z_.avail_out;
      int rc = inflate(&z_, Z_NO_FLUSH);
      if (full && z_.avail_out == 0) throw PictureError("PNG: more image data than the picture holds");
      if (!full) produced_ += before - z_.avail_out;
      if (rc == Z_STREAM_END) {
        finished_ = true;
      } else if (rc == Z_BUF_ERROR) {
        if (z_.avail_in == 0 || before == z_.avail_out) break;
      } else if (rc != Z_OK) {
        throw PictureError("PNG: corrupt image data");
      }
    }
  }
  bool Complete() const { return produced_ == total_; }
  std::vector<std::uint8_t>& Data() { return out_; }

 private:
  z_stream z_;
  std::size_t total_;
  std::size_t produced_ = 0;
  std::vector<std::uint8_t> out_;
  bool finished_ = false;
};

int Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = p > a ? p - a : a - p;
  int pb = p > b ? p - b : b - p;
  int pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Undoes the row filters of one pass in place; rows are 1 filter byte + rowBytes.
void Unfilter(std::uint8_t* data, std::uint32_t rows, std::size_t rowBytes, std::size_t bpp) {
  std::uint8_t* prev = nullptr;
  for (std::uint32_t y = 0; y < rows; ++y) {
    std::uint8_t* row = data + y * (rowBytes + 1);
    int filter = row[0];
    std::uint8_t* cur = row + 1;
    switch (filter) {
      case 0: break;
      case 1:
        for (std::size_t i = bpp; i < rowBytes; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + cur[i - bpp]);
        break;
      case 2:
        if (prev)
          for (std::size_t i = 0; i < rowBytes; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + prev[i]);
        break;
      case 3:
        for (std::size_t i = 0; i < rowBytes; ++i) {
          int left = i >= bpp ? cur[i - bpp] : 0;
          int up = prev ? prev[i] : 0;
          cur[i] = static_cast<std::uint8_t>(cur[i] + ((left + up) >> 1));
        }
        break;
      case 4:
        for (std::size_t i = 0; i < rowBytes; ++i) {
          int left = i >= bpp ? cur[i - bpp] : 0;
          int up = prev ? prev[i] : 0;
          int upLeft = (prev && i >= bpp) ? prev[i - bpp] : 0;
          cur[i] = static_cast<std::uint8_t>(cur[i] + Paeth(left, up, upLeft));
        }
        break;
      default: throw PictureError("PNG: unknown row filter " + std::to_string(filter));
    }
    prev = cur;
  }
}

struct Palette {
  std::uint8_t rgba[256][4];
  std::size_t size = 0;
};

struct Transparency {
  bool present = false;
  std::uint16_t gray = 0, r = 0, g = 0, b = 0;
};

std::uint32_t Sample(const std::uint8_t* row, std::uint32_t index, int depth) {
  switch (depth) {
    case 1: return (row[index / 8] >> (7 - index % 8)) & 1;
    case 2: return (row[index / 4] >> (6 - 2 * (index % 4))) & 3;
    case 4: return (row[index / 2] >> ((index & 1) ? 0 : 4)) & 15;
    case 8: return row[index];
    default: return (row[2 * index] << 8) | row[2 * index + 1];
  }
}

void StorePass(Image& img, const Header& h, const Palette& pal, const Transparency& trns, const std::uint8_t* data,
               const Pass& pass) {
  std::uint32_t pw = PassSize(h.width, pass.x0, pass.dx), ph = PassSize(h.height, pass.y0, pass.dy);
  std::size_t rowBytes = static_cast<std::size_t>(h.RowBytes(pw));
  std::uint32_t maxSample = (1u << h.depth) - 1;
  auto scale = [&](std::uint32_t v) -> std::uint8_t {
    if (h.depth == 16) return static_cast<std::uint8_t>(v >> 8);
    return static_cast<std::uint8_t>(v * 255 / maxSample);
  };
  for (std::uint32_t y = 0; y < ph; ++y) {
    const std::uint8_t* row = data + y * (rowBytes + 1) + 1;
    for (std::uint32_t x = 0; x < pw; ++x) {
      std::uint8_t* p = img.Pixel(pass.x0 + x * pass.dx, pass.y0 + y * pass.dy);
      std::uint32_t base = x * static_cast<std::uint32_t>(h.channels);
      switch (h.colorType) {
        case 0: {
          std::uint32_t g = Sample(row, base, h.depth);
          p[0] = p[1] = p[2] = scale(g);
          p[3] = (trns.present && g == trns.gray) ? 0 : 255;
          break;
        }
        case 2: {
          std::uint32_t r = Sample(row, base, h.depth), g = Sample(row, base + 1, h.depth),
                        b = Sample(row, base + 2, h.depth);
          p[0] = scale(b);
          p[1] = scale(g);
          p[2] = scale(r);
          p[3] = (trns.present && r == trns.r && g == trns.g && b == trns.b) ? 0 : 255;
          break;
        }
        case 3: {
          std::uint32_t i = Sample(row, base, h.depth);
          if (i >= pal.size) throw PictureError("PNG: colour index outside the palette");
          p[0] = pal.rgba[i][2];
          p[1] = pal.rgba[i][1];
          p[2] = pal.rgba[i][0];
          p[3] = pal.rgba[i][3];
          break;
        }
        case 4: {
          std::uint8_t g = scale(Sample(row, base, h.depth));
          p[0] = p[1] = p[2] = g;
          p[3] = scale(Sample(row, base + 1, h.depth));
          break;
        }
        case 6:
          p[0] = scale(Sample(row, base + 2, h.depth));
          p[1] = scale(Sample(row, base + 1, h.depth));
          p[2] = scale(Sample(row, base, h.depth));
          p[3] = scale(Sample(row, base + 3, h.depth));
          break;
      }
    }
  }
}

}  // namespace

Image DecodePng(std::string_view file) {
  const auto* d = reinterpret_cast<const std::uint8_t*>(file.data());
  std::size_t size = file.size();
  if (size < 8 || std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) != 0) throw PictureError("not a PNG file");
  std::size_t pos = 8;

  Header h;
  Palette pal;
  Transparency trns;
  bool haveHeader = false, sawData = false, dataDone = false, ended = false;
  std::unique_ptr<Inflater> inflater;

  while (!ended) {
    if (size - pos < 12) {
      if (dataDone || (sawData && inflater)) break;  // a missing end chunk is tolerated
      throw PictureError("PNG: file truncated");
    }
    std::uint32_t len = Be32(d + pos);
    const std::uint8_t* type = d + pos + 4;
    if (len > 0x7FFFFFFFu || len > size - pos - 12) throw PictureError("PNG: chunk runs past the end of the file");
    const std::uint8_t* body = d + pos + 8;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, type, 4 + len));
    if (crc != Be32(body + len)) throw PictureError("PNG: chunk checksum mismatch");
    pos += 12 + std::size_t{len};
    std::string_view name(reinterpret_cast<const char*>(type), 4);

    if (!haveHeader && name != "IHDR") throw PictureError("PNG: header chunk missing");
    if (name == "IHDR") {
      if (haveHeader || len != 13) throw PictureError("PNG: invalid header chunk");
      haveHeader = true;
      h.width = Be32(body);
      h.height = Be32(body + 4);
      h.depth = body[8];
      h.colorType = body[9];
      h.interlace = body[12];
      if (body[10] != 0 || body[11] != 0 || h.interlace > 1) throw PictureError("PNG: unsupported compression, filter or interlace method");
      bool ok = false;
      switch (h.colorType) {
        case 0: ok = h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8 || h.depth == 16; h.channels = 1; break;
        case 2: ok = h.depth == 8 || h.depth == 16; h.channels = 3; break;
        case 3: ok = h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8; h.channels = 1; break;
        case 4: ok = h.depth == 8 || h.depth == 16; h.channels = 2; break;
        case 6: ok = h.depth == 8 || h.depth == 16; h.channels = 4; break;
      }
      if (!ok) {
        throw PictureError("PNG: invalid colour type " + std::to_string(h.colorType) + " with bit depth " +
                           std::to_string(h.depth));
      }
      if (h.width == 0 || h.height == 0 || h.width > kMaxPictureSide || h.height > kMaxPictureSide ||
          std::uint64_t(h.width) * h.height > kMaxPicturePixels) {
        throw PictureError("PNG: picture too large or empty (" + std::to_string(h.width) + " x " +
                           std::to_string(h.height) + ")");
      }
    } else if (name == "PLTE") {
      if (len % 3 != 0 || len / 3 > 256 || len == 0 || sawData) throw PictureError("PNG: invalid palette");
      pal.size = len / 3;
      for (std::size_t i = 0; i < pal.size; ++i) {
        pal.rgba[i][0] = body[3 * i];
        pal.rgba[i][1] = body[3 * i + 1];
        pal.rgba[i][2] = body[3 * i + 2];
        pal.rgba[i][3] = 255;
      }
    } else if (name == "tRNS") {
      if (h.colorType == 3) {
        if (len > pal.size) throw PictureError("PNG: more transparency entries than palette entries");
        for (std::size_t i = 0; i < len; ++i) pal.rgba[i][3] = body[i];
      } else if (h.colorType == 0 && len == 2) {
        trns.present = true;
        trns.gray = static_cast<std::uint16_t>((body[0] << 8) | body[1]);
      } else if (h.colorType == 2 && len == 6) {
        trns.present = true;
        trns.r = static_cast<std::uint16_t>((body[0] << 8) | body[1]);
        trns.g = static_cast<std::uint16_t>((body[2] << 8) | body[3]);
        trns.b = static_cast<std::uint16_t>((body[4] << 8) | body[5]);
      } else {
        throw PictureError("PNG: invalid transparency chunk");
      }
    } else if (name == "IDAT") {
      if (dataDone) throw PictureError("PNG: image data chunks not consecutive");
      if (h.colorType == 3 && pal.size == 0) throw PictureError("PNG: palette missing");
      if (!inflater) {
        std::uint64_t total = 0;
        if (h.interlace) {
          for (const auto& p : kAdam7) {
            std::uint32_t pw = PassSize(h.width, p.x0, p.dx), ph = PassSize(h.height, p.y0, p.dy);
            if (pw && ph) total += (h.RowBytes(pw) + 1) * ph;
          }
        } else {
          total = (h.RowBytes(h.width) + 1) * h.height;
        }
        inflater = std::make_unique<Inflater>(static_cast<std::size_t>(total));
      }
      sawData = true;
      inflater->Feed(body, len);
    } else if (name == "IEND") {
      ended = true;
    } else {
      if (sawData) dataDone = true;
      if (!(type[0] & 0x20)) throw PictureError("PNG: unknown critical chunk " + std::string(name));
      continue;
    }
    if (name != "IDAT" && sawData) dataDone = true;
  }
  if (!inflater) throw PictureError("PNG: image data missing");
  if (!inflater->Complete()) throw PictureError("PNG: image data truncated");
  std::vector<std::uint8_t>& raw = inflater->Data();

  Image img = AllocateImage(h.width, h.height);
  std::size_t bpp = static_cast<std::size_t>(std::max(1, h.BitsPerPixel() / 8));
  if (!h.interlace) {
    Unfilter(raw.data(), h.height, static_cast<std::size_t>(h.RowBytes(h.width)), bpp);
    StorePass(img, h, pal, trns, raw.data(), kWhole);
  } else {
    std::size_t at = 0;
    for (const auto& p : kAdam7) {
      std::uint32_t pw = PassSize(h.width, p.x0, p.dx), ph = PassSize(h.height, p.y0, p.dy);
      if (!pw || !ph) continue;
      std::size_t rowBytes = static_cast<std::size_t>(h.RowBytes(pw));
      Unfilter(raw.data() + at, ph, rowBytes, bpp);
      StorePass(img, h, pal, trns, raw.data() + at, p);
      at += (rowBytes + 1) * ph;
    }
  }
  return img;
}

}  // namespace kem::pictures
