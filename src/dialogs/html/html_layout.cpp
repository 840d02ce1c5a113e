#include "dialogs/html/html_layout.h"

#include <algorithm>
#include <cstdlib>

#include "dialogs/html/html_links.h"

namespace kem::html {

namespace {

constexpr int kMaxIndentLevels = 8;
constexpr int kSizePercent[7] = {100, 200, 150, 117, 100, 83, 67};

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(long long a, long long b, long long c) {
  if (c == 0) return -1;
  long long p = a * b;
  const bool negative = (p < 0) != (c < 0);
  p = std::llabs(p);
  c = std::llabs(c);
  const long long r = (p + c / 2) / c;
  return static_cast<int>(negative ? -r : r);
}

struct LineItem {
  LayoutBox box;
  int width = 0, ascent = 0, descent = 0;
};

}  // namespace

int FontKey(int size, bool bold, bool italic, bool underline) {
  return size * 8 + (bold ? 4 : 0) + (italic ? 2 : 0) + (underline ? 1 : 0);
}

int FontSizePercent(int size) { return kSizePercent[std::clamp(size, 0, 6)]; }

int ScaleToDpi(int v, int dpi) { return MulDivRound(v, dpi, 96); }

PageLayout LayOutPage(const Document& doc, const LayoutOptions& options, TextMeasurer& measure) {
  PageLayout out;
  std::vector<LayoutBox>& boxes = out.boxes;
  auto px = [&](int v) { return ScaleToDpi(v, options.dpi); };
  const int margin = px(6);
  const int indent = px(20);
  const int right = std::max<int>(options.width - margin, margin + px(20));
  const FontMetrics base = measure.Metrics(0);
  const int baseLine = base.height;
  int y = margin;
  std::vector<LineItem> line;
  int x = 0, left = margin;

  auto flush = [&](bool emptyKeepsHeight) {
    if (line.empty()) {
      if (emptyKeepsHeight) y += baseLine;
      x = left;
      return;
    }
    int ascent = 0, descent = 0;
    for (const LineItem& i : line) ascent = std::max(ascent, i.ascent), descent = std::max(descent, i.descent);
    for (LineItem& i : line) {
      i.box.rect.top = y + ascent - i.ascent;
      i.box.rect.bottom = i.box.rect.top + i.ascent + i.descent;
      i.box.ascent = i.ascent;
      boxes.push_back(std::move(i.box));
    }
    line.clear();
    y += ascent + descent;
    x = left;
  };

  for (std::size_t bi = 0; bi < doc.blocks.size(); ++bi) {
    const Block& block = doc.blocks[bi];
    const bool heading = block.kind == BlockKind::Heading;
    const bool listItem = block.kind == BlockKind::ListItem;
    if (block.kind == BlockKind::Rule) {
      y += baseLine / 2;
      LayoutBox rule;
      rule.kind = LayoutBox::Kind::Rule;
      rule.rect = {margin, y, right, y + 2};
      boxes.push_back(rule);
      y += 2 + baseLine / 2;
      continue;
    }
    if (heading && bi > 0) y += baseLine / 2;
    left = margin + (listItem ? std::min(block.level, kMaxIndentLevels) * indent : 0);
    x = left;
    const int size = heading ? std::clamp(block.level, 1, 6) : 0;
    const bool wrap = block.kind != BlockKind::Preformatted;
    const std::size_t firstBox = boxes.size();
    for (const Run& run : block.runs) {
      if (run.kind == Run::Kind::Break) {
        flush(true);
        continue;
      }
      const int key = FontKey(size, heading || run.style.bold, run.style.italic, run.style.underline || run.style.link >= 0);
      const FontMetrics tm = measure.Metrics(key);
      if (run.kind == Run::Kind::Image) {
        LayoutBox box;
        box.kind = LayoutBox::Kind::Picture;
        box.link = run.style.link;
        box.font = key;
        box.text = measure.Widen(run.text);
        box.picture = LocalFileOf(run.source, options.file, options.baseFolder);
        const std::optional<TextMeasurer::Size> picture =
            box.picture.empty() ? std::nullopt : measure.PictureSize(box.picture);
        int w = run.width >= 0 ? px(run.width) : -1, h = run.height >= 0 ? px(run.height) : -1;
        const int natW = picture ? px(picture->width) : 0, natH = picture ? px(picture->height) : 0;
        if (w < 0 && h < 0) {
          if (picture) {
            w = natW, h = natH;
          } else {
            // No picture and no size: a frame around the alternative text.
            w = measure.Width(key, box.text) + px(8), h = tm.height + px(4);
          }
        } else if (w < 0) {
          w = picture && natH > 0 ? MulDivRound(natW, h, natH) : h;
        } else if (h < 0) {
          h = picture && natW > 0 ? MulDivRound(natH, w, natW) : w;
        }
        // A picture wider than the view is made to fit it.
        const int room = right - left;
        if (w > room && room > 0) {
          h = MulDivRound(h, room, w);
          w = room;
        }
        w = std::max(w, 1), h = std::max(h, 1);
        if (x + w > right && !line.empty()) flush(false);
        box.rect = {x, 0, x + w, 0};
        line.push_back({std::move(box), w, h, tm.descent});
        x += w;
        continue;
      }
      const std::u16string text = measure.Widen(run.text);
      std::size_t i = 0;
      while (i < text.size()) {
        // The next word with its trailing blanks (a <pre> run stays whole).
        std::size_t end = wrap ? text.find(u' ', i) : text.size();
        if (end == std::u16string::npos) end = text.size();
        std::size_t spaced = end;
        while (spaced < text.size() && text[spaced] == u' ') ++spaced;
        std::u16string word = text.substr(i, end - i);
        std::u16string piece = text.substr(i, spaced - i);
        i = spaced;
        if (word.empty() && x == left && wrap) continue;  // blanks at the start of a line
        int pieceWidth = measure.Width(key, piece);
        int wordWidth = measure.Width(key, word);
        if (wrap && x + wordWidth > right && !line.empty()) {
          flush(false);
          if (word.empty()) continue;
        }
        // A word longer than the line is broken between characters.
        while (wrap && x + wordWidth > right && word.size() > 1) {
          std::size_t fit = std::max<std::size_t>(measure.Fit(key, word, right - x), 1);
          fit = std::min(fit, word.size());
          std::u16string head = word.substr(0, fit);
          const int headWidth = measure.Width(key, head);
          LayoutBox box;
          box.text = head;
          box.font = key;
          box.link = run.style.link;
          box.rect = {x, 0, x + headWidth, 0};
          line.push_back({std::move(box), headWidth, tm.ascent, tm.descent});
          flush(false);
          word.erase(0, head.size());
          piece.erase(0, head.size());
          pieceWidth = measure.Width(key, piece);
          wordWidth = measure.Width(key, word);
        }
        LayoutBox box;
        box.text = piece;
        box.font = key;
        box.link = run.style.link;
        // A link's box ends at its last word; the blank after it is no part of it.
        box.rect = {x, 0, x + (run.style.link >= 0 && i >= text.size() ? wordWidth : pieceWidth), 0};
        line.push_back({std::move(box), pieceWidth, tm.ascent, tm.descent});
        x += pieceWidth;
      }
    }
    flush(false);
    if (listItem) {
      // The bullet or number sits before the item's first line.
      const int firstTop = firstBox < boxes.size() ? boxes[firstBox].rect.top : y;
      const int firstAscent = firstBox < boxes.size() ? boxes[firstBox].ascent : base.ascent;
      LayoutBox marker;
      marker.font = 0;
      if (block.number > 0) {
        marker.kind = LayoutBox::Kind::Number;
        const std::string number = std::to_string(block.number) + ".";
        marker.text.assign(number.begin(), number.end());
        const int w = measure.Width(0, marker.text);
        marker.rect = {left - px(4) - w, firstTop + firstAscent - base.ascent, left - px(4),
                       firstTop + firstAscent + base.descent};
      } else {
        marker.kind = LayoutBox::Kind::Bullet;
        const int d = std::max(px(5), 3);
        const int cy = firstTop + firstAscent - base.ascent / 3;
        marker.rect = {left - px(12), cy - d / 2, left - px(12) + d, cy - d / 2 + d};
      }
      boxes.push_back(std::move(marker));
      if (firstBox >= boxes.size() - 1) y = std::max<int>(y, firstTop + baseLine);
    }
    const bool nextIsItem = bi + 1 < doc.blocks.size() && doc.blocks[bi + 1].kind == BlockKind::ListItem;
    y += listItem && nextIsItem ? px(2) : baseLine / 2;
  }
  out.contentHeight = y + margin;
  return out;
}

int AnchorTop(const Document& doc, std::size_t block, const LayoutOptions& options, TextMeasurer& measure) {
  Document before;
  before.blocks.assign(doc.blocks.begin(), doc.blocks.begin() + static_cast<std::ptrdiff_t>(std::min(block, doc.blocks.size())));
  const PageLayout layout = LayOutPage(before, options, measure);
  const int margin = ScaleToDpi(6, options.dpi);
  return std::max(0, layout.contentHeight - margin - margin);
}

}  // namespace kem::html
