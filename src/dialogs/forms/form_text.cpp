#include "dialogs/forms/form_text.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "common/text.h"
#include "dialogs/forms/form_binary.h"

namespace kem::forms {

// ---------------------------------------------------------------------------------------
// Writing

namespace {

constexpr const char* kEol = "\r\n";
constexpr std::size_t kStringChunk = 64;
constexpr std::size_t kBinaryLine = 32;

std::string Indent(int n) { return std::string(static_cast<std::size_t>(n) * 2, ' '); }

// One code unit sequence as quoted pieces and #N codes, split into chunks joined by '+'.
std::string QuoteUnits(const std::u16string& units, int indent) {
  if (units.empty()) return "''";
  std::string out;
  for (std::size_t start = 0; start < units.size(); start += kStringChunk) {
    if (start > 0) out += std::string(" +") + kEol + Indent(indent + 1);
    bool inQuote = false;
    std::size_t end = std::min(units.size(), start + kStringChunk);
    for (std::size_t i = start; i < end; ++i) {
      char16_t c = units[i];
      if (c >= 32 && c <= 126) {
        if (!inQuote) out.push_back('\'');
        inQuote = true;
        if (c == '\'') out.push_back('\'');
        out.push_back(static_cast<char>(c));
      } else {
        if (inQuote) out.push_back('\'');
        inQuote = false;
        out += "#" + std::to_string(static_cast<unsigned>(c));
      }
    }
    if (inQuote) out.push_back('\'');
  }
  return out;
}

std::u16string BytesAsUnits(std::string_view s) {
  std::u16string u;
  u.reserve(s.size());
  for (char c : s) u.push_back(static_cast<unsigned char>(c));
  return u;
}

std::string FormatCurrency(std::int64_t scaled) {
  std::uint64_t a = scaled < 0 ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string frac = std::to_string(a % 10000);
  frac = std::string(4 - frac.size(), '0') + frac;
  while (frac.size() > 1 && frac.back() == '0') frac.pop_back();
  return (scaled < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac + "c";
}

void WriteValue(std::string& out, const Value& v, int indent);

void WriteProperties(std::string& out, const std::vector<Property>& props, int indent) {
  for (const auto& p : props) {
    out += Indent(indent) + p.name + " = ";
    WriteValue(out, p.value, indent);
    out += kEol;
  }
}

void WriteValue(std::string& out, const Value& v, int indent) {
  switch (v.kind) {
    case ValueKind::Null:
    case ValueKind::Nil: out += "nil"; break;
    case ValueKind::Int8:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: out += std::to_string(v.integer); break;
    case ValueKind::Extended:
    case ValueKind::Double: out += FormatReal(v.real); break;
    case ValueKind::Single: out += FormatSingle(static_cast<float>(v.real)) + "s"; break;
    case ValueKind::Date: out += FormatReal(v.real) + "d"; break;
    case ValueKind::Currency: out += FormatCurrency(v.integer); break;
    case ValueKind::String:
    case ValueKind::LString: out += QuoteUnits(BytesAsUnits(v.text), indent); break;
    case ValueKind::WString: out += QuoteUnits(v.wide, indent); break;
    case ValueKind::Utf8String: out += QuoteUnits(Utf8ToUtf16(v.text), indent); break;
    case ValueKind::Ident: out += v.text; break;
    case ValueKind::False: out += "False"; break;
    case ValueKind::True: out += "True"; break;
    case ValueKind::Set: {
      out += "[";
      for (std::size_t i = 0; i < v.names.size(); ++i) {
        if (i) out += ", ";
        out += v.names[i];
      }
      out += "]";
      break;
    }
    case ValueKind::Binary: {
      static const char* kHex = "0123456789ABCDEF";
      out += "{";
      for (std::size_t i = 0; i < v.text.size(); ++i) {
        if (i % kBinaryLine == 0) out += kEol + Indent(indent + 1);
        auto b = static_cast<unsigned char>(v.text[i]);
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
      }
      out += "}";
      break;
    }
    case ValueKind::List:
      out += "(";
      for (const auto& item : v.items) {
        out += kEol + Indent(indent + 1);
        WriteValue(out, item, indent + 1);
      }
      out += ")";
      break;
    case ValueKind::Collection:
      out += "<";
      for (const auto& item : v.collection) {
        out += kEol + Indent(indent + 1) + "item";
        if (item.order) out += " [" + std::to_string(*item.order) + "]";
        out += kEol;
        WriteProperties(out, item.properties, indent + 2);
        out += Indent(indent + 1) + "end";
      }
      out += ">";
      break;
  }
}

void WriteObject(std::string& out, const FormObject& o, int indent) {
  out += Indent(indent);
  out += (o.flags & kInherited) ? "inherited " : (o.flags & kInline) ? "inline " : "object ";
  if (!o.name.empty()) out += o.name + ": ";
  out += o.className;
  if (o.flags & kChildPos) out += " [" + std::to_string(o.childPos) + "]";
  out += kEol;
  WriteProperties(out, o.properties, indent + 1);
  for (const auto& c : o.children) WriteObject(out, c, indent + 1);
  out += Indent(indent) + "end" + kEol;
}

}  // namespace

std::string FormatReal(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

std::string FormatSingle(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

std::string ValueToText(const Value& value) {
  std::string out;
  WriteValue(out, value, 0);
  return out;
}

std::string FormToText(const FormObject& root) {
  std::string out;
  WriteObject(out, root, 0);
  return out;
}

// ---------------------------------------------------------------------------------------
// Parsing

namespace {

enum class Tok { End, Ident, Integer, Real, String, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string text;       // identifier, symbol, or the number's text
  std::u16string units;   // string literal code units
  std::int64_t integer = 0;
  double real = 0;
  char suffix = 0;        // 's', 'c', 'd' for typed floats
  int line = 1;
};

bool IdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IdentChar(char c) { return IdentStart(c) || (c >= '0' && c <= '9'); }
bool Digit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(std::string_view text, std::string_view file) : s_(text), file_(file) {
    // An editor's byte-order mark in front of the first line is not part of the form.
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    Next();
  }

  [[noreturn]] void Fail(const std::string& what, int line) const {
    throw FormError(std::string(file_) + ":" + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(what, tok_.line); }

  FormObject ParseRoot() {
    FormObject root = ParseObject(0);
    if (tok_.kind != Tok::End) Fail("text after the final 'end'");
    return root;
  }

 private:
  std::string Describe() const {
    switch (tok_.kind) {
      case Tok::End: return "end of file";
      case Tok::String: return "a string";
      case Tok::Integer:
      case Tok::Real: return "number " + tok_.text;
      default: return "'" + tok_.text + "'";
    }
  }
  bool IsSymbol(char c) const { return tok_.kind == Tok::Symbol && tok_.text[0] == c; }
  bool IsWord(std::string_view w) const { return tok_.kind == Tok::Ident && SameText(tok_.text, w); }
  void Expect(char c) {
    if (!IsSymbol(c)) Fail(std::string("'") + c + "' expected but " + Describe() + " found");
    Next();
  }
  std::string ExpectIdent(const char* what) {
    if (tok_.kind != Tok::Ident) Fail(std::string(what) + " expected but " + Describe() + " found");
    std::string t = tok_.text;
    if (t.size() > 255) Fail(std::string(what) + " longer than 255 characters");
    Next();
    return t;
  }
  std::int64_t ExpectInteger() {
    if (tok_.kind != Tok::Integer) Fail("integer expected but " + Describe() + " found");
    std::int64_t v = tok_.integer;
    Next();
    return v;
  }

  void SkipBlanks() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\0') {
        ++pos_;
      } else {
        break;
      }
    }
  }

  void Next() {
    SkipBlanks();
    tok_ = Token{};
    tok_.line = line_;
    if (pos_ >= s_.size()) return;
    char c = s_[pos_];
    if (IdentStart(c)) {
      std::size_t start = pos_;
      for (;;) {
        while (pos_ < s_.size() && IdentChar(s_[pos_])) ++pos_;
        if (pos_ + 1 < s_.size() && s_[pos_] == '.' && IdentStart(s_[pos_ + 1])) {
          ++pos_;
          continue;
        }
        break;
      }
      tok_.kind = Tok::Ident;
      tok_.text = std::string(s_.substr(start, pos_ - start));
    } else if (c == '\'' || c == '#') {
      LexString();
    } else if (Digit(c) || c == '$' || ((c == '-' || c == '+') && pos_ + 1 < s_.size() &&
                                        (Digit(s_[pos_ + 1]) || s_[pos_ + 1] == '$'))) {
      LexNumber();
    } else {
      tok_.kind = Tok::Symbol;
      tok_.text = std::string(1, c);
      ++pos_;
    }
  }

  void LexString() {
    tok_.kind = Tok::String;
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= s_.size() || s_[pos_] == '\n' || s_[pos_] == '\r') Fail("unterminated string", line_);
          if (s_[pos_] == '\'') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
              tok_.units.push_back('\'');
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          tok_.units.push_back(static_cast<unsigned char>(s_[pos_++]));
        }
      } else if (c == '#') {
        ++pos_;
        std::uint32_t v = 0;
        bool any = false;
        if (pos_ < s_.size() && s_[pos_] == '$') {
          ++pos_;
          while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
            char h = s_[pos_++];
            v = v * 16 + static_cast<std::uint32_t>(Digit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
            any = true;
            if (v > 0xFFFF) Fail("character code above 65535", line_);
          }
        } else {
          while (pos_ < s_.size() && Digit(s_[pos_])) {
            v = v * 10 + static_cast<std::uint32_t>(s_[pos_++] - '0');
            any = true;
            if (v > 0xFFFF) Fail("character code above 65535", line_);
          }
        }
        if (!any) Fail("character code expected after '#'", line_);
        tok_.units.push_back(static_cast<char16_t>(v));
      } else {
        break;
      }
    }
  }

  void LexNumber() {
    std::size_t start = pos_;
    bool negative = false;
    if (s_[pos_] == '-' || s_[pos_] == '+') negative = s_[pos_++] == '-';
    if (s_[pos_] == '$') {
      ++pos_;
      std::uint64_t v = 0;
      std::size_t digits = 0;
      while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
        char h = s_[pos_++];
        if (++digits > 16) Fail("hexadecimal number too large", line_);
        v = v * 16 + static_cast<std::uint64_t>(Digit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
      }
      if (digits == 0) Fail("hexadecimal digits expected after '$'", line_);
      tok_.kind = Tok::Integer;
      tok_.integer = static_cast<std::int64_t>(negative ? 0 - v : v);
      tok_.text = std::string(s_.substr(start, pos_ - start));
      return;
    }
    while (pos_ < s_.size() && Digit(s_[pos_])) ++pos_;
    bool isReal = false;
    if (pos_ + 1 < s_.size() && s_[pos_] == '.' && Digit(s_[pos_ + 1])) {
      isReal = true;
      ++pos_;
      while (pos_ < s_.size() && Digit(s_[pos_])) ++pos_;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      std::size_t e = pos_ + 1;
      if (e < s_.size() && (s_[e] == '+' || s_[e] == '-')) ++e;
      if (e < s_.size() && Digit(s_[e])) {
        isReal = true;
        pos_ = e;
        while (pos_ < s_.size() && Digit(s_[pos_])) ++pos_;
      }
    }
    std::string_view body = s_.substr(start, pos_ - start);
    char suffix = 0;
    if (pos_ < s_.size() && (s_[pos_] | 0x20) >= 'a' && (s_[pos_] | 0x20) <= 'z') {
      suffix = static_cast<char>(s_[pos_] | 0x20);
      if (suffix != 's' && suffix != 'c' && suffix != 'd') Fail("invalid number " + std::string(body) + s_[pos_], line_);
      ++pos_;
      if (pos_ < s_.size() && IdentChar(s_[pos_])) Fail("invalid number", line_);
    }
    tok_.text = std::string(s_.substr(start, pos_ - start));
    if (suffix == 'c') {
      tok_.kind = Tok::Real;
      tok_.suffix = 'c';
      tok_.integer = ParseCurrency(body);
      return;
    }
    std::string_view digits = body;
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    if (isReal || suffix) {
      double d = 0;
      auto r = std::from_chars(digits.data(), digits.data() + digits.size(), d);
      if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || !std::isfinite(d)) {
        Fail("invalid number " + std::string(body), line_);
      }
      tok_.kind = Tok::Real;
      tok_.real = d;
      tok_.suffix = suffix;
      if (suffix == 's') {
        float f = 0;
        auto rf = std::from_chars(digits.data(), digits.data() + digits.size(), f);
        if (rf.ec != std::errc() || !std::isfinite(f)) Fail("invalid number " + std::string(body), line_);
        tok_.real = f;
      }
      return;
    }
    std::int64_t v = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) {
      Fail("integer out of range: " + std::string(body), line_);
    }
    tok_.kind = Tok::Integer;
    tok_.integer = v;
  }

  std::int64_t ParseCurrency(std::string_view body) {
    bool negative = false;
    if (!body.empty() && (body[0] == '-' || body[0] == '+')) {
      negative = body[0] == '-';
      body.remove_prefix(1);
    }
    if (body.find_first_of("eE") != std::string_view::npos) Fail("currency with an exponent", line_);
    std::size_t point = body.find('.');
    std::string_view whole = body.substr(0, point);
    std::string frac = point == std::string_view::npos ? "" : std::string(body.substr(point + 1));
    if (frac.size() > 4) Fail("currency with more than four decimals", line_);
    frac.append(4 - frac.size(), '0');
    std::uint64_t w = 0;
    auto r = std::from_chars(whole.data(), whole.data() + whole.size(), w);
    constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX) / 10000;
    if (r.ec != std::errc() || w > kMax) Fail("currency out of range", line_);
    std::uint64_t v = w * 10000 + std::stoull(frac);
    if (v > static_cast<std::uint64_t>(INT64_MAX)) Fail("currency out of range", line_);
    return negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
  }

  Value StringValue(std::u16string units) {
    bool wide = false;
    for (char16_t u : units) wide = wide || u > 0xFF;
    if (wide) return Value::Wide(std::move(units));
    std::string bytes;
    bytes.reserve(units.size());
    for (char16_t u : units) bytes.push_back(static_cast<char>(u));
    return Value::Str(std::move(bytes));
  }

  Value ParseValue(int depth) {
    if (depth > kMaxFormDepth) Fail("values nested too deeply");
    switch (tok_.kind) {
      case Tok::Integer: {
        Value v = Value::Integer(tok_.integer);
        Next();
        return v;
      }
      case Tok::Real: {
        Value v;
        if (tok_.suffix == 'c') {
          v.kind = ValueKind::Currency;
          v.integer = tok_.integer;
        } else {
          v = Value::Real(tok_.real, tok_.suffix == 's'   ? ValueKind::Single
                                     : tok_.suffix == 'd' ? ValueKind::Date
                                                          : ValueKind::Extended);
        }
        Next();
        return v;
      }
      case Tok::String: {
        std::u16string units = tok_.units;
        Next();
        while (IsSymbol('+')) {
          Next();
          if (tok_.kind != Tok::String) Fail("string expected after '+' but " + Describe() + " found");
          units += tok_.units;
          Next();
        }
        return StringValue(std::move(units));
      }
      case Tok::Ident: {
        std::string t = tok_.text;
        if (t.size() > 255) Fail("identifier longer than 255 characters");
        Next();
        if (SameText(t, "True")) return Value::Boolean(true);
        if (SameText(t, "False")) return Value::Boolean(false);
        if (SameText(t, "nil")) return Value::NilValue();
        return Value::Identifier(std::move(t));
      }
      case Tok::Symbol: break;
      case Tok::End: Fail("value expected but end of file found");
    }
    char c = tok_.text[0];
    if (c == '[') {
      Next();
      std::vector<std::string> names;
      if (!IsSymbol(']')) {
        names.push_back(ExpectIdent("set element"));
        while (IsSymbol(',')) {
          Next();
          names.push_back(ExpectIdent("set element"));
        }
      }
      Expect(']');
      return Value::SetOf(std::move(names));
    }
    if (c == '(') {
      Next();
      std::vector<Value> items;
      while (!IsSymbol(')')) {
        if (tok_.kind == Tok::End) Fail("')' expected but end of file found");
        items.push_back(ParseValue(depth + 1));
      }
      Next();
      return Value::ListOf(std::move(items));
    }
    if (c == '{') return ParseBinary();
    if (c == '<') {
      Next();
      Value v;
      v.kind = ValueKind::Collection;
      while (!IsSymbol('>')) {
        if (!IsWord("item")) Fail("'item' expected but " + Describe() + " found");
        Next();
        CollectionItem item;
        if (IsSymbol('[')) {
          Next();
          item.order = ExpectInteger();
          if (*item.order < INT32_MIN || *item.order > INT32_MAX) Fail("collection item index out of range");
          Expect(']');
        }
        while (!IsWord("end")) {
          if (depth + 1 > kMaxFormDepth) Fail("values nested too deeply");
          item.properties.push_back(ParseProperty(depth + 1));
        }
        Next();
        v.collection.push_back(std::move(item));
      }
      Next();
      return v;
    }
    Fail("value expected but " + Describe() + " found");
  }

  // Hexadecimal digits up to '}', blanks and line breaks between them ignored. The
  // tokeniser has already passed the '{'.
  Value ParseBinary() {
    std::string bytes;
    int half = -1;
    for (;;) {
      if (pos_ >= s_.size()) Fail("'}' expected but end of file found", line_);
      char c = s_[pos_++];
      if (c == '}') break;
      if (c == '\n') {
        ++line_;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r') continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) Fail("invalid character in binary data", line_);
      int d = Digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
      if (half < 0) {
        half = d;
      } else {
        bytes.push_back(static_cast<char>(half * 16 + d));
        half = -1;
      }
    }
    if (half >= 0) Fail("odd number of hexadecimal digits in binary data", line_);
    Next();
    return Value::Bytes(std::move(bytes));
  }

  Property ParseProperty(int depth) {
    Property p;
    p.name = ExpectIdent("property name");
    Expect('=');
    p.value = ParseValue(depth);
    return p;
  }

  bool AtObjectStart() const { return IsWord("object") || IsWord("inherited") || IsWord("inline"); }

  FormObject ParseObject(int depth) {
    if (depth > kMaxFormDepth) Fail("objects nested too deeply");
    FormObject o;
    if (IsWord("inherited"))
      o.flags = kInherited;
    else if (IsWord("inline"))
      o.flags = kInline;
    else if (!IsWord("object"))
      Fail("'object' expected but " + Describe() + " found");
    Next();
    std::string first = ExpectIdent("component or class name");
    if (IsSymbol(':')) {
      Next();
      o.name = std::move(first);
      o.className = ExpectIdent("class name");
    } else {
      o.className = std::move(first);
    }
    if (o.className.find('.') != std::string::npos) Fail("invalid class name " + o.className);
    if (IsSymbol('[')) {
      Next();
      o.flags |= kChildPos;
      o.childPos = ExpectInteger();
      Expect(']');
    }
    while (!IsWord("end") && !AtObjectStart()) {
      if (tok_.kind == Tok::End) Fail("'end' expected but end of file found");
      o.properties.push_back(ParseProperty(depth));
    }
    while (!IsWord("end")) {
      if (!AtObjectStart()) Fail("'end' expected but " + Describe() + " found");
      o.children.push_back(ParseObject(depth + 1));
    }
    Next();
    return o;
  }

  std::string_view s_;
  std::string_view file_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token tok_;
};

}  // namespace

FormObject ParseTextForm(std::string_view text, std::string_view fileName) {
  Parser p(text, fileName);
  return p.ParseRoot();
}

}  // namespace kem::forms
