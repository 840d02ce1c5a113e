#include "dialogs/html/html_layout.h"

#include <gtest/gtest.h>

#include <map>

namespace kem::html {
namespace {

// Every character is 7 pixels wide (9 in bold), lines are 16 high (12 above the base
// line); headings scale both by their size. Pictures have the sizes the test gives them.
struct FakeMeasurer final : TextMeasurer {
  std::map<std::string, Size> pictures;
  int Advance(int font) const { return (FontBold(font) ? 9 : 7) * FontSizePercent(FontSizeOf(font)) / 100; }
  FontMetrics Metrics(int font) override {
    const int p = FontSizePercent(FontSizeOf(font));
    return {16 * p / 100, 12 * p / 100, 4 * p / 100};
  }
  int Width(int font, std::u16string_view text) override { return static_cast<int>(text.size()) * Advance(font); }
  std::size_t Fit(int font, std::u16string_view text, int width) override {
    return std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(width, 0) / Advance(font)));
  }
  std::optional<Size> PictureSize(const std::string& file) override {
    auto it = pictures.find(file);
    if (it == pictures.end()) return std::nullopt;
    return it->second;
  }
  std::u16string Widen(std::string_view text) override { return std::u16string(text.begin(), text.end()); }
};

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// The texts of the page's text boxes, one string per line (boxes of equal top).
std::vector<std::string> Lines(const PageLayout& layout) {
  std::vector<std::string> lines;
  int top = -1;
  for (const LayoutBox& b : layout.boxes) {
    if (b.kind != LayoutBox::Kind::Text) continue;
    if (lines.empty() || b.rect.top != top) lines.emplace_back(), top = b.rect.top;
    lines.back() += Narrow(b.text);
  }
  return lines;
}

LayoutOptions Width(int width, int dpi = 96) {
  LayoutOptions o;
  o.width = width;
  o.dpi = dpi;
  o.file = "C:\\Setup files\\index.htm";
  return o;
}

TEST(HtmlLayout, WordsWrapInsideTheViewAtEveryWidthAndResolution) {
  FakeMeasurer m;
  const Document d = ParseHtml(
      "<h2>Bienvenue chez l'éditeur</h2><p>The quick brown fox <b>jumps over</b> the lazy dog and "
      "<a href=\"more.htm\">reads more</a> about it.</p><ul><li>first item that is long enough to wrap</li>"
      "<li>second<ol><li>nested</li></ol></li></ul><pre>keep   this   line   whole</pre>");
  for (int dpi : {96, 144}) {
    for (int width : {90, 160, 240, 400}) {
      SCOPED_TRACE("width " + std::to_string(width) + " dpi " + std::to_string(dpi));
      const PageLayout layout = LayOutPage(d, Width(width, dpi), m);
      const int margin = ScaleToDpi(6, dpi);
      int lastBottom = 0;
      for (const LayoutBox& b : layout.boxes) {
        EXPECT_LE(b.rect.left, b.rect.right);
        EXPECT_LE(b.rect.top, b.rect.bottom);
        // Words that are not preformatted stay inside the margins (a word too long for a
        // line is broken between characters instead of running out).
        if (b.kind == LayoutBox::Kind::Text && b.text.find(u"   ") == std::u16string::npos) {
          std::u16string trimmed = b.text;
          while (!trimmed.empty() && trimmed.back() == u' ') trimmed.pop_back();
          EXPECT_LE(b.rect.left + m.Width(b.font, trimmed), std::max(width - margin, margin + ScaleToDpi(20, dpi)))
              << Narrow(b.text);
        }
        lastBottom = std::max(lastBottom, b.rect.bottom);
      }
      EXPECT_GE(layout.contentHeight, lastBottom + margin);
      // Nothing is lost: every word of the page is in a box, in order.
      std::string all;
      for (const std::string& line : Lines(layout)) all += line + " ";
      EXPECT_NE(all.find("lazy"), std::string::npos);
      EXPECT_NE(all.find("keep   this   line   whole"), std::string::npos);
    }
  }
}

TEST(HtmlLayout, LinesBreakBetweenWordsAndTooLongWordsBetweenCharacters) {
  FakeMeasurer m;
  // 100 pixels less the margins of 6 leave 88: twelve characters of 7 pixels.
  const PageLayout layout = LayOutPage(ParseHtml("<p>aaaa bbbb cccc dddddddddddddddddddd e</p>"), Width(100), m);
  EXPECT_EQ(Lines(layout), (std::vector<std::string>{"aaaa bbbb ", "cccc ", "dddddddddddd", "dddddddd e"}));
  // A link's box ends at its last character: the blank after it is not clickable.
  const Document linked = ParseHtml("<p><a href=x>go </a>on</p>");
  const PageLayout l2 = LayOutPage(linked, Width(400), m);
  ASSERT_GE(l2.boxes.size(), 1u);
  EXPECT_EQ(l2.boxes[0].link, 0);
  EXPECT_EQ(l2.boxes[0].rect.right - l2.boxes[0].rect.left, 2 * 7);
}

TEST(HtmlLayout, PicturesScaleWithTheScreenAndShrinkToTheView) {
  FakeMeasurer m;
  m.pictures["C:\\Setup files\\logo.png"] = {40, 20};
  m.pictures["C:\\Setup files\\wide.png"] = {1000, 100};
  struct Case {
    const char* html;
    int width, dpi, w, h;
  } cases[] = {
      {"<img src=logo.png>", 400, 96, 40, 20},
      {"<img src=logo.png>", 400, 144, 60, 30},
      {"<img src=logo.png width=80>", 400, 96, 80, 40},            // the other side follows the picture
      {"<img src=logo.png height=10>", 400, 96, 20, 10},
      {"<img src=wide.png>", 212, 96, 200, 20},                     // 212 - 2 * 6 leave 200
      // A frame around the alternative text (its bytes, as the fake measures them).
      {"<img src=missing.png alt=\"Logo d'été\">", 400, 96, static_cast<int>(std::string("Logo d'été").size()) * 7 + 8,
       16 + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.html);
    const PageLayout layout = LayOutPage(ParseHtml(c.html), Width(c.width, c.dpi), m);
    ASSERT_EQ(layout.boxes.size(), 1u);
    const LayoutBox& b = layout.boxes[0];
    EXPECT_EQ(b.kind, LayoutBox::Kind::Picture);
    EXPECT_EQ(b.rect.right - b.rect.left, c.w);
    // A picture sits on the base line: its box reaches below it by the font's descent.
    EXPECT_EQ(b.rect.bottom - b.rect.top, c.h + m.Metrics(0).descent);
  }
}

TEST(HtmlLayout, ListMarkersSitBeforeTheFirstLineAndAnchorsAtTheirBlock) {
  FakeMeasurer m;
  const Document d = ParseHtml(
      "<p>intro</p><ol><li>one</li><li>two</li></ol><ul><li>dot</li></ul><p id=\"end\">last</p>");
  const PageLayout layout = LayOutPage(d, Width(300), m);
  const LayoutBox* one = nullptr;
  const LayoutBox* number = nullptr;
  const LayoutBox* bullet = nullptr;
  const LayoutBox* last = nullptr;
  for (const LayoutBox& b : layout.boxes) {
    if (b.kind == LayoutBox::Kind::Text && Narrow(b.text) == "one") one = &b;
    if (b.kind == LayoutBox::Kind::Number && Narrow(b.text) == "1." && !number) number = &b;
    if (b.kind == LayoutBox::Kind::Bullet) bullet = &b;
    if (b.kind == LayoutBox::Kind::Text && Narrow(b.text) == "last") last = &b;
  }
  ASSERT_TRUE(one && number && bullet && last);
  EXPECT_LE(number->rect.right, one->rect.left);  // the number ends before the item's text
  EXPECT_EQ(number->rect.top, one->rect.top);
  EXPECT_GT(bullet->rect.top, one->rect.top);
  EXPECT_GE(bullet->rect.left, 0);
  // Scrolled to its anchor, the last paragraph starts at the view's top margin.
  ASSERT_EQ(d.anchors.size(), 1u);
  EXPECT_EQ(AnchorTop(d, d.anchors[0].block, Width(300), m) + ScaleToDpi(6, 96), last->rect.top);
}

}  // namespace
}  // namespace kem::html
