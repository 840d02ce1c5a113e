// HTML pages as the wizard's HTML view shows them: a small, tolerant reader of the
// subset an index page needs, into a flat list of blocks holding runs of styled text,
// line breaks and pictures. Anything else (tables, forms, scripts, style sheets, fonts,
// colours) is read past: its text flows on, its markup is dropped. No input makes the
// reader fail.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kem::html {

struct TextStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int link = -1;  // index into Document::links, -1 outside links

  bool operator==(const TextStyle&) const = default;
};

// One piece of a block's content.
struct Run {
  enum class Kind { Text, Break, Image };
  Kind kind = Kind::Text;
  std::string text;    // Text: words with single blanks between them (as written in <pre>); Image: alt text
  TextStyle style;
  std::string source;  // Image: the src attribute as written
  int width = -1;      // Image: the width and height attributes in pixels, -1 when absent
  int height = -1;
};

enum class BlockKind { Paragraph, Heading, ListItem, Rule, Preformatted };

struct Block {
  BlockKind kind = BlockKind::Paragraph;
  int level = 0;   // Heading: 1 to 6; ListItem: nesting depth from 1
  int number = 0;  // ListItem: its number in an ordered list, 0 for a bullet
  std::vector<Run> runs;
};

// <meta http-equiv="refresh" content="DELAY; URL=...">.
struct MetaRefresh {
  std::int64_t delay = 0;  // seconds
  std::string url;         // as written, entities decoded
};

// A named place (<a name> or an id attribute) at the start of a block.
struct Anchor {
  std::string name;
  std::size_t block = 0;
};

struct Document {
  std::string title;
  std::vector<Block> blocks;
  std::vector<std::string> links;  // the href of each link, by its index
  std::vector<Anchor> anchors;
  std::optional<MetaRefresh> refresh;  // the first refresh of the page

  // The visible text: blocks separated by CR LF, pictures by their alt text.
  std::string Text() const;
};

// Turns the code point of a character reference into text of the page's code page; the
// default keeps code points below 256 as single bytes and gives "?" for the others.
using CodePointEncoder = std::function<std::string(char32_t)>;

Document ParseHtml(std::string_view html, const CodePointEncoder& encode = {});
// A page of plain text: one paragraph per line.
Document PlainTextDocument(std::string_view text);

}  // namespace kem::html
