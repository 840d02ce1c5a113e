// The layout of an HTML page for the wizard's HTML view: the document's blocks broken
// into lines of boxes (words, pictures, list markers, rules) in page coordinates. What
// text and pictures measure is asked of a TextMeasurer, so the same layout runs on the
// screen's fonts in the view and on a fixed-pitch fake in the tests.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/html/html_document.h"

namespace kem::html {

// A rectangle in page coordinates (the top of the page is 0); right and bottom exclusive.
struct LayoutRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Fonts are named by a key: the size step (0 body text, 1 to 6 the headings) and the
// style. The measurer turns a key into a real font.
int FontKey(int size, bool bold, bool italic, bool underline);
inline int FontSizeOf(int key) { return key / 8; }
inline bool FontBold(int key) { return (key & 4) != 0; }
inline bool FontItalic(int key) { return (key & 2) != 0; }
inline bool FontUnderline(int key) { return (key & 1) != 0; }
// Font sizes in percent of the page's font: body text, then headings 1 to 6.
int FontSizePercent(int size);

struct FontMetrics {
  int height = 0, ascent = 0, descent = 0;
};

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  virtual FontMetrics Metrics(int font) = 0;
  // Width of the text in the font, in pixels.
  virtual int Width(int font, std::u16string_view text) = 0;
  // How many leading characters of the text fit into width pixels.
  virtual std::size_t Fit(int font, std::u16string_view text, int width) = 0;
  // The natural size of a picture file in pixels; nullopt when it cannot be shown.
  struct Size {
    int width = 0, height = 0;
  };
  virtual std::optional<Size> PictureSize(const std::string& file) = 0;
  // A text of the page (in the setup's code page) as the screen's wide text.
  virtual std::u16string Widen(std::string_view text) = 0;
};

struct LayoutBox {
  enum class Kind { Text, Picture, Bullet, Number, Rule };
  Kind kind = Kind::Text;
  LayoutRect rect;
  std::u16string text;  // Text, Number; Picture: its alternative text
  int font = 0;
  int link = -1;
  std::string picture;  // Picture: the file
  int ascent = 0;
};

struct LayoutOptions {
  int width = 0;   // the view's client width in pixels
  int dpi = 96;    // the screen's; margins and sizes given in the page scale with it
  std::string file;        // where the page was read from (pictures are relative to it)
  std::string baseFolder;  // pictures of a page without a file are taken from here
};

struct PageLayout {
  std::vector<LayoutBox> boxes;
  int contentHeight = 0;
};

// Pixels at the screen's resolution of v pixels at 96 dpi (rounded).
int ScaleToDpi(int v, int dpi);

PageLayout LayOutPage(const Document& doc, const LayoutOptions& options, TextMeasurer& measure);

// Where an anchor's block starts: the height of the blocks before it.
int AnchorTop(const Document& doc, std::size_t block, const LayoutOptions& options, TextMeasurer& measure);

}  // namespace kem::html
