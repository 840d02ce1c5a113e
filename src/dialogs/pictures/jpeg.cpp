// JPEG through libjpeg, reading from memory. libjpeg reports fatal errors through a
// callback that must not return; it jumps back here and the error becomes a PictureError.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "dialogs/pictures/picture.h"

namespace kem::pictures {

namespace {

// A progressive file may carry any number of scans; more than this is not a picture but
// an attempt to keep the decoder busy.
constexpr int kMaxScans = 1000;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings (corrupt but readable data) are not reported

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "too many scans");
    std::longjmp(err->jump, 1);
  }
}

// Everything that can jump lives in this function, with no C++ object alive across the
// jump besides those declared before setjmp; the result is reported through out.
bool Decode(std::string_view data, Image& out, std::string& error) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = 0;
  JSAMPROW row = nullptr;
  std::vector<std::uint8_t>* line = new std::vector<std::uint8_t>();
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    delete line;
    error = err.message;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  progress.progress_monitor = OnProgress;
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  cinfo.out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxPictureSide ||
      cinfo.image_height > kMaxPictureSide ||
      std::uint64_t(cinfo.image_width) * cinfo.image_height > kMaxPicturePixels) {
    std::snprintf(err.message, sizeof err.message, "picture too large or empty (%u x %u)",
                  static_cast<unsigned>(cinfo.image_width), static_cast<unsigned>(cinfo.image_height));
    std::longjmp(err.jump, 1);
  }
  jpeg_start_decompress(&cinfo);
  out.width = cinfo.output_width;
  out.height = cinfo.output_height;
  out.pixels.assign(std::size_t(out.width) * out.height * 4, 255);
  int comps = cinfo.output_components;
  line->resize(std::size_t(out.width) * static_cast<std::size_t>(comps));
  row = line->data();
  bool adobeInverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION y = cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    std::uint8_t* p = out.Pixel(0, y);
    for (JDIMENSION x = 0; x < out.width; ++x, p += 4) {
      const std::uint8_t* s = row + std::size_t(x) * static_cast<std::size_t>(comps);
      if (comps == 1) {
        p[0] = p[1] = p[2] = s[0];
      } else if (comps == 3) {
        p[0] = s[2];
        p[1] = s[1];
        p[2] = s[0];
      } else {
        // CMYK: Adobe writes the inks inverted.
        unsigned c = s[0], m = s[1], yy = s[2], k = s[3];
        if (!adobeInverted) {
          c = 255 - c;
          m = 255 - m;
          yy = 255 - yy;
          k = 255 - k;
        }
        p[2] = static_cast<std::uint8_t>(c * k / 255);
        p[1] = static_cast<std::uint8_t>(m * k / 255);
        p[0] = static_cast<std::uint8_t>(yy * k / 255);
      }
    }
  }
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  delete line;
  return true;
}

}  // namespace

Image DecodeJpeg(std::string_view data) {
  if (data.size() < 3 || data.substr(0, 3) != "\xFF\xD8\xFF") throw PictureError("not a JPEG file");
  Image img;
  std::string error;
  if (!Decode(data, img, error)) throw PictureError("JPEG: " + (error.empty() ? std::string("corrupt data") : error));
  return img;
}

}  // namespace kem::pictures
