#include "dialogs/html/html_document.h"

#include <gtest/gtest.h>

namespace kem::html {
namespace {

std::string Runs(const Block& b) {
  std::string out;
  for (const Run& r : b.runs) {
    if (r.kind == Run::Kind::Break) out += "|";
    else if (r.kind == Run::Kind::Image) out += "[img " + r.source + "]";
    else out += r.text;
  }
  return out;
}

TEST(HtmlDocument, AnIndexPageBecomesTitleBlocksLinksAndRefresh) {
  const Document d = ParseHtml(
      "<!DOCTYPE html><html><head><title> Welcome &amp; \n hello </title>"
      "<meta http-equiv=\"Refresh\" content=\"3; URL=page3.htm\"><style>p { color: red }</style>"
      "<script>if (a < b) document.write('<p>no</p>');</script></head>\n"
      "<body><h1>Big   heading</h1>\n<p>Some <b>bold</b> and <i>italic <u>text</u></i>.<br>Next line</p>"
      "<!-- a <p>comment</p> -->"
      "<p><img src=\"logo.png\" width=\"32\" height=20 alt=\"Logo\"> <a href=\"page2.htm\">Second page</a></p>"
      "<ul><li>one<li>two<ol><li>a</li><li>b</li></ol></ul><hr><h3>End</h3></body></html>");
  EXPECT_EQ(d.title, "Welcome & hello");
  ASSERT_TRUE(d.refresh.has_value());
  EXPECT_EQ(d.refresh->delay, 3);
  EXPECT_EQ(d.refresh->url, "page3.htm");
  ASSERT_EQ(d.links.size(), 1u);
  EXPECT_EQ(d.links[0], "page2.htm");

  ASSERT_EQ(d.blocks.size(), 9u);
  EXPECT_EQ(d.blocks[0].kind, BlockKind::Heading);
  EXPECT_EQ(d.blocks[0].level, 1);
  EXPECT_EQ(Runs(d.blocks[0]), "Big heading");
  EXPECT_EQ(Runs(d.blocks[1]), "Some bold and italic text.|Next line");
  const std::vector<html::Run>& runs = d.blocks[1].runs;
  EXPECT_TRUE(runs[1].style.bold);
  EXPECT_FALSE(runs[2].style.bold);
  EXPECT_TRUE(runs[3].style.italic);
  EXPECT_TRUE(runs[4].style.italic && runs[4].style.underline);
  const Block& pictures = d.blocks[2];
  EXPECT_EQ(Runs(pictures), "[img logo.png] Second page");
  EXPECT_EQ(pictures.runs[0].width, 32);
  EXPECT_EQ(pictures.runs[0].height, 20);
  EXPECT_EQ(pictures.runs[0].text, "Logo");
  EXPECT_EQ(pictures.runs.back().style.link, 0);
  EXPECT_EQ(pictures.runs[1].style.link, -1);  // the blank before the link is no part of it
  // Nor is the blank after it.
  const Document after = ParseHtml("<p>a <a href=x>link</a> b");
  ASSERT_EQ(after.blocks[0].runs.size(), 3u);
  EXPECT_EQ(after.blocks[0].runs[1].text, "link");
  EXPECT_EQ(after.blocks[0].runs[2].text, " b");
  struct Item {
    int level, number;
    const char* text;
  };
  const Item items[] = {{1, 0, "one"}, {1, 0, "two"}, {2, 1, "a"}, {2, 2, "b"}};
  for (int i = 0; i < 4; ++i) {
    const Block& b = d.blocks[3 + i];
    EXPECT_EQ(b.kind, BlockKind::ListItem);
    EXPECT_EQ(b.level, items[i].level) << i;
    EXPECT_EQ(b.number, items[i].number) << i;
    EXPECT_EQ(Runs(b), items[i].text) << i;
  }
  EXPECT_EQ(d.blocks[7].kind, BlockKind::Rule);
  EXPECT_EQ(d.blocks[8].level, 3);
  EXPECT_EQ(d.Text(), "Big heading\r\nSome bold and italic text.\r\nNext line\r\nLogo Second page\r\none\r\ntwo\r\na\r\nb\r\nEnd");
}

TEST(HtmlDocument, CharacterReferences) {
  const std::pair<const char*, std::string> cases[] = {
      {"&lt;b&gt; &quot;x&quot; &apos;", "<b> \"x\" '"},
      {"&#65;&#x42;&#X43;&#99", "ABCc"},
      {"caf&eacute; &copy;", "caf\xE9 \xA9"},
      {"&euro;", "?"},             // no single byte by default
      {"&#0; &#xD800; &#99999999999;", "? ? ?"},  // not characters
      {"AT&T &unknown; & &#; &#x;", "AT&T &unknown; & &#; &#x;"},
      {"&AMP;", "&AMP;"},  // names are case-sensitive
  };
  for (const auto& [in, want] : cases) {
    const Document d = ParseHtml(std::string("<p>") + in);
    ASSERT_EQ(d.blocks.size(), 1u) << in;
    EXPECT_EQ(Runs(d.blocks[0]), want) << in;
  }
  // The page's code page decides what a reference becomes.
  const Document d = ParseHtml("&euro;&#8364;&nbsp;", [](char32_t c) { return c == 0x20AC ? std::string("\x80") : "_"; });
  EXPECT_EQ(Runs(d.blocks[0]), "\x80\x80_");
}

TEST(HtmlDocument, RefreshContentForms) {
  const std::tuple<const char*, std::int64_t, const char*> cases[] = {
      {"5; URL=next.htm", 5, "next.htm"},
      {"0;url='a b.htm'", 0, "a b.htm"},
      {"  2 , Url = 'x.htm' ", 2, "x.htm"},
      {"1.5; URL=y.htm", 1, "y.htm"},
      {"7", 7, ""},
      {"99999999999999999999; URL=z", 999999999, "z"},
  };
  for (const auto& [content, delay, url] : cases) {
    const Document d = ParseHtml(std::string("<meta http-equiv=refresh content=\"") + content + "\">");
    ASSERT_TRUE(d.refresh) << content;
    EXPECT_EQ(d.refresh->delay, delay) << content;
    EXPECT_EQ(d.refresh->url, url) << content;
  }
  EXPECT_FALSE(ParseHtml("<meta name=refresh content=\"1; URL=x\">").refresh);
}

TEST(HtmlDocument, PreformattedTextKeepsItsBlanksAndLines) {
  const Document d = ParseHtml("<pre>a  b\r\n\tc</pre><p>  x   y  </p>");
  ASSERT_EQ(d.blocks.size(), 2u);
  EXPECT_EQ(d.blocks[0].kind, BlockKind::Preformatted);
  EXPECT_EQ(Runs(d.blocks[0]), "a  b| c");
  EXPECT_EQ(Runs(d.blocks[1]), "x y");
}

TEST(HtmlDocument, AnchorsMarkTheirBlock) {
  const Document d = ParseHtml("<p>one</p><h2 id=second>two</h2><p><a name=\"third\">three</a></p>");
  ASSERT_EQ(d.anchors.size(), 2u);
  EXPECT_EQ(d.anchors[0].name, "second");
  EXPECT_EQ(d.anchors[0].block, 1u);
  EXPECT_EQ(d.anchors[1].block, 2u);
  EXPECT_TRUE(d.links.empty());  // <a name> is no link
}

// Damaged pages: the reader keeps what it can and never fails.
TEST(HtmlDocument, DamagedMarkupIsReadPast) {
  const std::pair<std::string, std::string> cases[] = {
      {"<p>a < b and c > d", "a < b and c > d"},
      {"<p>open <b>bold <i>both", "open bold both"},
      {"<p>x</b></i></u></a></ul></ol></h1></li>y", "x"},
      {"<p>unterminated <a href=\"x", "unterminated"},
      {"<p>before<!-- never closed", "before"},
      {"<p>a<script>b", "a"},
      {"<p><blink><font color=red>z</font></blink>", "z"},
      {"<p><img src=pic.bmp width=50% height=abc>", "[img pic.bmp]"},
      {std::string("<p>nul\0byte", 11), std::string("nul\0byte", 8)},
  };
  for (const auto& [in, want] : cases) {
    const Document d = ParseHtml(in);
    ASSERT_FALSE(d.blocks.empty()) << in;
    EXPECT_EQ(Runs(d.blocks[0]), want) << in;
  }
  EXPECT_EQ(ParseHtml("<p><img src=a width=50% height=abc>").blocks[0].runs[0].width, -1);
  EXPECT_TRUE(ParseHtml("").blocks.empty());
  EXPECT_TRUE(ParseHtml("<").blocks.size() == 1);
  // Deep nesting stays flat.
  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<ul><li><b>";
  const Document d = ParseHtml(deep + "x");
  EXPECT_EQ(d.blocks.back().level, 1000);
}

TEST(HtmlDocument, PlainTextIsOneParagraphPerLine) {
  const Document d = PlainTextDocument("Add an index.htm file <here>.\r\nSecond & last");
  ASSERT_EQ(d.blocks.size(), 2u);
  EXPECT_EQ(d.Text(), "Add an index.htm file <here>.\r\nSecond & last");
}

}  // namespace
}  // namespace kem::html
