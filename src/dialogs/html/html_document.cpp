#include "dialogs/html/html_document.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "common/text.h"

namespace kem::html {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }

struct NamedEntity {
  const char* name;
  char32_t code;
};

// The named character references pages commonly use (case matters, as in HTML).
constexpr std::array<NamedEntity, 62> kEntities{{
    {"amp", '&'},       {"lt", '<'},         {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
    {"nbsp", 0xA0},     {"copy", 0xA9},      {"reg", 0xAE},      {"trade", 0x2122},  {"hellip", 0x2026},
    {"mdash", 0x2014},  {"ndash", 0x2013},   {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"laquo", 0xAB},     {"raquo", 0xBB},    {"bull", 0x2022},   {"middot", 0xB7},
    {"euro", 0x20AC},   {"pound", 0xA3},     {"yen", 0xA5},      {"cent", 0xA2},     {"sect", 0xA7},
    {"deg", 0xB0},      {"plusmn", 0xB1},    {"times", 0xD7},    {"divide", 0xF7},   {"para", 0xB6},
    {"frac12", 0xBD},   {"frac14", 0xBC},    {"frac34", 0xBE},   {"iexcl", 0xA1},    {"iquest", 0xBF},
    {"shy", 0xAD},      {"micro", 0xB5},     {"auml", 0xE4},     {"ouml", 0xF6},     {"uuml", 0xFC},
    {"Auml", 0xC4},     {"Ouml", 0xD6},      {"Uuml", 0xDC},     {"szlig", 0xDF},    {"eacute", 0xE9},
    {"egrave", 0xE8},   {"ecirc", 0xEA},     {"aacute", 0xE1},   {"agrave", 0xE0},   {"acirc", 0xE2},
    {"ccedil", 0xE7},   {"Eacute", 0xC9},    {"oacute", 0xF3},   {"uacute", 0xFA},   {"iacute", 0xED},
    {"ntilde", 0xF1},   {"Ntilde", 0xD1},    {"aring", 0xE5},    {"Aring", 0xC5},    {"oslash", 0xF8},
    {"Oslash", 0xD8},   {"aelig", 0xE6},
}};

std::string DefaultEncode(char32_t c) {
  if (c < 256) return std::string(1, static_cast<char>(static_cast<unsigned char>(c)));
  return "?";
}

class Parser {
 public:
  Parser(std::string_view html, const CodePointEncoder& encode) : in_(html), encode_(encode) {}

  Document Parse() {
    while (pos_ < in_.size()) {
      const char c = in_[pos_];
      if (c == '<' && Markup()) continue;
      if (c == '&') {
        Text(Reference());
        continue;
      }
      const std::size_t next = in_.find_first_of("<&", pos_ + 1);
      const std::size_t end = next == std::string_view::npos ? in_.size() : next;
      Text(std::string(in_.substr(pos_, end - pos_)));
      pos_ = end;
    }
    EndBlock();
    return std::move(doc_);
  }

 private:
  std::string Encode(char32_t c) const {
    if (c < 128) return std::string(1, static_cast<char>(c));
    return encode_ ? encode_(c) : DefaultEncode(c);
  }

  // A character reference at pos_ ("&" when it is none).
  std::string Reference() {
    std::size_t p = pos_ + 1;
    if (p < in_.size() && in_[p] == '#') {
      ++p;
      const bool hex = p < in_.size() && (in_[p] == 'x' || in_[p] == 'X');
      if (hex) ++p;
      const std::size_t start = p;
      std::uint32_t value = 0;
      bool overflow = false;
      while (p < in_.size() && (hex ? std::isxdigit(static_cast<unsigned char>(in_[p])) != 0 : IsDigit(in_[p]))) {
        const char d = in_[p++];
        const std::uint32_t digit =
            IsDigit(d) ? static_cast<std::uint32_t>(d - '0') : static_cast<std::uint32_t>((d | 0x20) - 'a' + 10);
        if (value > 0x10FFFF) overflow = true;
        else value = value * (hex ? 16 : 10) + digit;
      }
      if (p == start) {
        ++pos_;
        return "&";
      }
      if (p < in_.size() && in_[p] == ';') ++p;
      pos_ = p;
      if (overflow || value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
      return Encode(value);
    }
    std::size_t q = p;
    while (q < in_.size() && q - p < 10 && IsAlnum(in_[q])) ++q;
    if (q < in_.size() && in_[q] == ';') {
      const std::string_view name = in_.substr(p, q - p);
      for (const NamedEntity& e : kEntities)
        if (name == e.name) {
          pos_ = q + 1;
          return Encode(e.code);
        }
    }
    ++pos_;
    return "&";
  }

  // Decodes the character references of an attribute value or title.
  std::string Decode(std::string_view text) {
    Parser inner(text, encode_);
    std::string out;
    while (inner.pos_ < text.size()) {
      if (text[inner.pos_] == '&') {
        out += inner.Reference();
      } else {
        out.push_back(text[inner.pos_++]);
      }
    }
    return out;
  }

  static std::string Collapse(std::string_view text) {
    std::string out;
    bool space = false;
    for (char c : text) {
      if (IsSpace(c)) {
        space = !out.empty();
        continue;
      }
      if (space) out.push_back(' ');
      space = false;
      out.push_back(c);
    }
    return out;
  }

  using Attributes = std::vector<std::pair<std::string, std::string>>;

  static std::string Attribute(const Attributes& attributes, std::string_view name) {
    for (const auto& [n, v] : attributes)
      if (n == name) return v;
    return {};
  }
  static bool HasAttribute(const Attributes& attributes, std::string_view name) {
    return std::any_of(attributes.begin(), attributes.end(), [&](const auto& a) { return a.first == name; });
  }

  // Markup at pos_ ('<'): a comment, declaration or tag is consumed and handled; false
  // when the '<' starts no markup (it is then text).
  bool Markup() {
    const std::size_t p = pos_ + 1;
    if (p >= in_.size()) return false;
    if (in_.substr(p, 3) == "!--") {
      const std::size_t end = in_.find("-->", p + 3);
      pos_ = end == std::string_view::npos ? in_.size() : end + 3;
      return true;
    }
    if (in_[p] == '!' || in_[p] == '?') {
      const std::size_t end = in_.find('>', p);
      pos_ = end == std::string_view::npos ? in_.size() : end + 1;
      return true;
    }
    const bool closing = in_[p] == '/';
    std::size_t q = closing ? p + 1 : p;
    if (q >= in_.size() || !IsAlpha(in_[q])) return false;
    const std::size_t nameStart = q;
    while (q < in_.size() && IsAlnum(in_[q])) ++q;
    const std::string name = LowerCase(in_.substr(nameStart, q - nameStart));
    Attributes attributes;
    // Attributes up to the closing '>' (quoted values may hold one).
    while (q < in_.size() && in_[q] != '>') {
      if (IsSpace(in_[q]) || in_[q] == '/') {
        ++q;
        continue;
      }
      const std::size_t an = q;
      while (q < in_.size() && !IsSpace(in_[q]) && in_[q] != '=' && in_[q] != '>' && in_[q] != '/') ++q;
      if (q == an) {  // a stray '=': skip it
        ++q;
        continue;
      }
      std::string attrName = LowerCase(in_.substr(an, q - an));
      while (q < in_.size() && IsSpace(in_[q])) ++q;
      std::string value;
      if (q < in_.size() && in_[q] == '=') {
        ++q;
        while (q < in_.size() && IsSpace(in_[q])) ++q;
        if (q < in_.size() && (in_[q] == '"' || in_[q] == '\'')) {
          const char quote = in_[q++];
          const std::size_t end = in_.find(quote, q);
          const std::size_t stop = end == std::string_view::npos ? in_.size() : end;
          value = Decode(in_.substr(q, stop - q));
          q = end == std::string_view::npos ? in_.size() : end + 1;
        } else {
          const std::size_t vs = q;
          while (q < in_.size() && !IsSpace(in_[q]) && in_[q] != '>') ++q;
          value = Decode(in_.substr(vs, q - vs));
        }
      }
      attributes.emplace_back(std::move(attrName), std::move(value));
    }
    pos_ = q < in_.size() ? q + 1 : in_.size();
    if (closing) EndTag(name);
    else StartTag(name, attributes);
    return true;
  }

  // The raw text up to the closing tag of name (script, style, title); pos_ moves past it.
  std::string_view RawUntilClose(std::string_view name) {
    const std::size_t start = pos_;
    std::size_t p = pos_;
    while ((p = in_.find("</", p)) != std::string_view::npos) {
      if (SameText(in_.substr(p + 2, name.size()), name) &&
          (p + 2 + name.size() >= in_.size() || !IsAlnum(in_[p + 2 + name.size()]))) {
        const std::size_t end = in_.find('>', p);
        pos_ = end == std::string_view::npos ? in_.size() : end + 1;
        return in_.substr(start, p - start);
      }
      p += 2;
    }
    pos_ = in_.size();
    return in_.substr(start);
  }

  void StartTag(const std::string& name, const Attributes& attributes) {
    if (HasAttribute(attributes, "id")) Anchored(Attribute(attributes, "id"));
    if (name == "script" || name == "style" || name == "textarea" || name == "select") {
      RawUntilClose(name);
    } else if (name == "title") {
      const std::string title = Collapse(Decode(RawUntilClose("title")));
      if (!titled_) doc_.title = title, titled_ = true;
    } else if (name == "meta") {
      if (SameText(Attribute(attributes, "http-equiv"), "refresh") && !doc_.refresh)
        doc_.refresh = Refresh(Attribute(attributes, "content"));
    } else if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
      StartBlock(BlockKind::Heading, name[1] - '0');
    } else if (name == "p" || name == "div" || name == "center" || name == "blockquote" || name == "address" ||
               name == "table" || name == "tr" || name == "dl" || name == "dt" || name == "dd" || name == "form" ||
               name == "body" || name == "caption" || name == "fieldset") {
      StartBlock(BlockKind::Paragraph);
    } else if (name == "pre") {
      StartBlock(BlockKind::Preformatted);
    } else if (name == "br") {
      AddRun(Run::Kind::Break, {});
    } else if (name == "hr") {
      EndBlock();
      doc_.blocks.push_back(Block{BlockKind::Rule, 0, 0, {}});
    } else if (name == "ul" || name == "ol" || name == "menu" || name == "dir") {
      EndBlock();
      lists_.push_back({name == "ol", 0});
    } else if (name == "li") {
      if (lists_.empty()) lists_.push_back({false, 0});
      ListLevel& list = lists_.back();
      StartBlock(BlockKind::ListItem, static_cast<int>(std::min<std::size_t>(lists_.size(), 1000)),
                 list.ordered ? ++list.count : 0);
    } else if (name == "td" || name == "th") {
      if (!current_.runs.empty()) space_ = true;
    } else if (name == "b" || name == "strong") {
      ++bold_;
    } else if (name == "i" || name == "em" || name == "cite" || name == "var" || name == "dfn") {
      ++italic_;
    } else if (name == "u" || name == "ins") {
      ++underline_;
    } else if (name == "a") {
      if (HasAttribute(attributes, "name")) Anchored(Attribute(attributes, "name"));
      if (HasAttribute(attributes, "href")) {
        link_ = static_cast<int>(doc_.links.size());
        doc_.links.push_back(Attribute(attributes, "href"));
      } else {
        link_ = -1;
      }
    } else if (name == "img") {
      Run image;
      image.kind = Run::Kind::Image;
      image.source = Attribute(attributes, "src");
      image.text = Collapse(Attribute(attributes, "alt"));
      image.width = Pixels(Attribute(attributes, "width"));
      image.height = Pixels(Attribute(attributes, "height"));
      image.style = Style();
      if (pre_ == 0 && space_ && !current_.runs.empty() && current_.runs.back().kind != Run::Kind::Break) Blank();
      space_ = false;
      current_.runs.push_back(std::move(image));
    }
  }

  void EndTag(const std::string& name) {
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
      EndBlock();
    } else if (name == "p" || name == "div" || name == "center" || name == "blockquote" || name == "address" ||
               name == "table" || name == "tr" || name == "dl" || name == "dt" || name == "dd" || name == "form" ||
               name == "li" || name == "caption" || name == "fieldset") {
      EndBlock();
    } else if (name == "pre") {
      EndBlock();
    } else if (name == "ul" || name == "ol" || name == "menu" || name == "dir") {
      EndBlock();
      if (!lists_.empty()) lists_.pop_back();
    } else if (name == "b" || name == "strong") {
      bold_ = std::max(bold_ - 1, 0);
    } else if (name == "i" || name == "em" || name == "cite" || name == "var" || name == "dfn") {
      italic_ = std::max(italic_ - 1, 0);
    } else if (name == "u" || name == "ins") {
      underline_ = std::max(underline_ - 1, 0);
    } else if (name == "a") {
      link_ = -1;
    } else if (name == "td" || name == "th") {
      space_ = !current_.runs.empty();
    }
  }

  static int Pixels(const std::string& value) {
    std::size_t i = 0;
    while (i < value.size() && IsSpace(value[i])) ++i;
    std::int64_t n = 0;
    const std::size_t start = i;
    while (i < value.size() && IsDigit(value[i]) && n <= 100000) n = n * 10 + (value[i++] - '0');
    if (i == start || n > 100000) return -1;
    if (i < value.size() && value[i] == '%') return -1;  // relative sizes are not kept
    return static_cast<int>(n);
  }

  // content="5; URL=page.htm" (also "5;url='page.htm'", "5, URL=...", "5").
  static MetaRefresh Refresh(const std::string& content) {
    MetaRefresh r;
    std::size_t i = 0;
    while (i < content.size() && IsSpace(content[i])) ++i;
    while (i < content.size() && IsDigit(content[i])) {
      if (r.delay < 100000000) r.delay = r.delay * 10 + (content[i] - '0');
      ++i;
    }
    while (i < content.size() && (IsDigit(content[i]) || content[i] == '.')) ++i;
    while (i < content.size() && (IsSpace(content[i]) || content[i] == ';' || content[i] == ',')) ++i;
    std::string_view rest = std::string_view(content).substr(i);
    if (rest.size() >= 3 && SameText(rest.substr(0, 3), "url")) {
      std::size_t j = 3;
      while (j < rest.size() && IsSpace(rest[j])) ++j;
      if (j < rest.size() && rest[j] == '=') {
        ++j;
        while (j < rest.size() && IsSpace(rest[j])) ++j;
        rest = rest.substr(j);
      }
    }
    while (!rest.empty() && IsSpace(rest.back())) rest.remove_suffix(1);
    if (rest.size() >= 2 && (rest.front() == '\'' || rest.front() == '"') && rest.back() == rest.front())
      rest = rest.substr(1, rest.size() - 2);
    r.url = std::string(rest);
    return r;
  }

  TextStyle Style() const { return TextStyle{bold_ > 0, italic_ > 0, underline_ > 0, link_}; }

  void Anchored(const std::string& name) {
    if (name.empty()) return;
    doc_.anchors.push_back({name, doc_.blocks.size()});
  }
  void StartBlock(BlockKind kind, int level = 0, int number = 0) {
    EndBlock();
    current_.kind = kind;
    current_.level = level;
    current_.number = number;
    if (kind == BlockKind::Preformatted) pre_ = 1;
  }

  void EndBlock() {
    // Blanks at the end of a block are not shown.
    while (!current_.runs.empty() && current_.runs.back().kind == Run::Kind::Text && pre_ == 0) {
      std::string& t = current_.runs.back().text;
      while (!t.empty() && t.back() == ' ') t.pop_back();
      if (!t.empty()) break;
      current_.runs.pop_back();
    }
    if (!current_.runs.empty() || current_.kind == BlockKind::ListItem) doc_.blocks.push_back(std::move(current_));
    current_ = Block{};
    space_ = false;
    pre_ = 0;
  }

  void AddRun(Run::Kind kind, std::string text) {
    Run r;
    r.kind = kind;
    r.text = std::move(text);
    r.style = Style();
    current_.runs.push_back(std::move(r));
    space_ = false;
  }

  void AppendText(std::string_view text) {
    const TextStyle style = Style();
    if (current_.runs.empty() || current_.runs.back().kind != Run::Kind::Text || !(current_.runs.back().style == style)) {
      Run r;
      r.style = style;
      current_.runs.push_back(std::move(r));
    }
    current_.runs.back().text += text;
  }

  // A blank between words belongs to the text before it, so a link neither starts nor
  // ends with one: after a link it goes with the text that follows.
  void Blank() {
    Run& last = current_.runs.back();
    if (last.style.link >= 0 && last.style.link != link_) {
      AppendText(" ");
    } else if (last.kind == Run::Kind::Text) {
      last.text += ' ';
    } else {
      Run r;
      r.text.push_back(' ');
      r.style = last.style;
      current_.runs.push_back(std::move(r));
    }
  }

  // Text between markup: blanks collapse to one (kept as written in <pre>).
  void Text(const std::string& text) {
    if (pre_ != 0) {
      std::size_t start = 0;
      for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n') {
          std::string piece = text.substr(start, i - start);
          if (!piece.empty() && piece.back() == '\r') piece.pop_back();
          for (char& c : piece)
            if (c == '\t') c = ' ';
          if (!piece.empty()) AppendText(piece);
          if (i < text.size()) AddRun(Run::Kind::Break, {});
          start = i + 1;
        }
      }
      return;
    }
    for (char c : text) {
      if (IsSpace(c)) {
        space_ = true;
        continue;
      }
      if (space_ && !current_.runs.empty() && current_.runs.back().kind != Run::Kind::Break) Blank();
      space_ = false;
      AppendText(std::string_view(&c, 1));
    }
  }

  struct ListLevel {
    bool ordered = false;
    int count = 0;
  };

  std::string_view in_;
  const CodePointEncoder& encode_;
  std::size_t pos_ = 0;
  Document doc_;
  Block current_;
  std::vector<ListLevel> lists_;
  int bold_ = 0, italic_ = 0, underline_ = 0, link_ = -1, pre_ = 0;
  bool space_ = false, titled_ = false;
};

}  // namespace

std::string Document::Text() const {
  std::string out;
  for (const Block& b : blocks) {
    if (b.kind == BlockKind::Rule) continue;
    if (!out.empty()) out += "\r\n";
    for (const Run& r : b.runs) {
      if (r.kind == Run::Kind::Break) out += "\r\n";
      else out += r.text;
    }
  }
  return out;
}

Document ParseHtml(std::string_view html, const CodePointEncoder& encode) { return Parser(html, encode).Parse(); }

Document PlainTextDocument(std::string_view text) {
  Document doc;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Block b;
    Run r;
    r.text = std::string(line);
    if (!r.text.empty()) b.runs.push_back(std::move(r));
    if (!b.runs.empty()) doc.blocks.push_back(std::move(b));
    start = end + 1;
  }
  return doc;
}

}  // namespace kem::html
