#include "dialogs/forms/property_text.h"

#include <charconv>
#include <cmath>

#include "common/text.h"
#include "dialogs/forms/form_text.h"

namespace kem::forms {

namespace {

constexpr const char* kHex = "0123456789ABCDEF";

std::string Hex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::optional<std::string> Unhex(std::string_view text) {
  if (text.size() % 2) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 2);
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int h = digit(text[i]), l = digit(text[i + 1]);
    if (h < 0 || l < 0) return std::nullopt;
    out.push_back(static_cast<char>(h * 16 + l));
  }
  return out;
}

bool IsIdentifier(std::string_view s) {
  if (s.empty() || s.size() > 255) return false;
  bool start = true;
  for (char c : s) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    bool digit = c >= '0' && c <= '9';
    if (c == '.') {
      if (start) return false;
      start = true;
      continue;
    }
    if (start ? !letter : !(letter || digit)) return false;
    start = false;
  }
  return !start;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<std::string> MatchIdentifier(std::string_view text, std::span<const std::string_view> ids) {
  for (auto id : ids) {
    if (SameText(id, text)) return std::string(id);
  }
  auto n = ParseIntegerText(text);
  if (n && *n >= 0 && static_cast<std::uint64_t>(*n) < ids.size()) return std::string(ids[static_cast<std::size_t>(*n)]);
  return std::nullopt;
}

struct ColorName {
  std::string_view name;
  std::int64_t value;
};

constexpr ColorName kColors[] = {
    {"clBlack", 0x000000},   {"clMaroon", 0x000080}, {"clGreen", 0x008000},   {"clOlive", 0x008080},
    {"clNavy", 0x800000},    {"clPurple", 0x800080}, {"clTeal", 0x808000},    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},  {"clRed", 0x0000FF},    {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},    {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},   {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6}, {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
    {"clNone", 0x1FFFFFFF},  {"clDefault", 0x20000000},
    {"clScrollBar", 0x80000000}, {"clBackground", 0x80000001}, {"clActiveCaption", 0x80000002},
    {"clInactiveCaption", 0x80000003}, {"clMenu", 0x80000004}, {"clWindow", 0x80000005},
    {"clWindowFrame", 0x80000006}, {"clMenuText", 0x80000007}, {"clWindowText", 0x80000008},
    {"clCaptionText", 0x80000009}, {"clActiveBorder", 0x8000000A}, {"clInactiveBorder", 0x8000000B},
    {"clAppWorkSpace", 0x8000000C}, {"clHighlight", 0x8000000D}, {"clHighlightText", 0x8000000E},
    {"clBtnFace", 0x8000000F}, {"clBtnShadow", 0x80000010}, {"clGrayText", 0x80000011},
    {"clBtnText", 0x80000012}, {"clInactiveCaptionText", 0x80000013}, {"clBtnHighlight", 0x80000014},
    {"cl3DDkShadow", 0x80000015}, {"cl3DLight", 0x80000016}, {"clInfoText", 0x80000017},
    {"clInfoBk", 0x80000018}, {"clHotLight", 0x8000001A}, {"clGradientActiveCaption", 0x8000001B},
    {"clGradientInactiveCaption", 0x8000001C}, {"clMenuHighlight", 0x8000001D}, {"clMenuBar", 0x8000001E},
};

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  // A final line break ends an empty last line, so that a list whose last line is empty
  // comes back whole.
  lines.emplace_back(text.substr(start));
  return lines;
}

PropertyType TypeOfStored(const Value& v) {
  if (v.IsInteger()) return PropertyType::Integer;
  if (v.IsBoolean()) return PropertyType::Boolean;
  if (v.IsString()) return PropertyType::String;
  switch (v.kind) {
    case ValueKind::Ident:
    case ValueKind::Nil: return PropertyType::Ident;
    case ValueKind::Set: return PropertyType::Set;
    case ValueKind::List: return PropertyType::Strings;
    case ValueKind::Binary: return PropertyType::Graphic;
    case ValueKind::Extended:
    case ValueKind::Single:
    case ValueKind::Double:
    case ValueKind::Date:
    case ValueKind::Currency: return PropertyType::Real;
    default: return PropertyType::String;
  }
}

}  // namespace

std::optional<std::int64_t> ParseIntegerText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t v = 0;
  if (text[0] == '$') {
    text.remove_prefix(1);
    if (text.empty() || text.size() > 16) return std::nullopt;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v, 16);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return static_cast<std::int64_t>(negative ? 0 - v : v);
  }
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  if (negative) {
    if (v > static_cast<std::uint64_t>(INT64_MAX) + 1) return std::nullopt;
    return static_cast<std::int64_t>(0 - v);
  }
  if (v > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

std::optional<std::int64_t> ColorNumber(std::string_view text) {
  if (auto n = ParseIntegerText(text)) return n;
  for (const auto& c : kColors) {
    if (SameText(c.name, text)) return c.value;
  }
  return std::nullopt;
}

std::string ValueToPropertyText(const Value& v) {
  switch (v.kind) {
    case ValueKind::Int8:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: return std::to_string(v.integer);
    case ValueKind::Currency: {
      std::string t = ValueToText(v);
      t.pop_back();  // the currency suffix
      return t;
    }
    case ValueKind::Single: return FormatSingle(static_cast<float>(v.real));
    case ValueKind::Extended:
    case ValueKind::Double:
    case ValueKind::Date: return FormatReal(v.real);
    case ValueKind::String:
    case ValueKind::LString:
    case ValueKind::WString:
    case ValueKind::Utf8String: return v.NarrowText();
    case ValueKind::Ident: return v.text;
    case ValueKind::True: return "True";
    case ValueKind::False: return "False";
    case ValueKind::Set: {
      std::string out = "[";
      for (std::size_t i = 0; i < v.names.size(); ++i) {
        if (i) out += ",";
        out += v.names[i];
      }
      return out + "]";
    }
    case ValueKind::List: {
      std::string out;
      for (std::size_t i = 0; i < v.items.size(); ++i) {
        if (i) out += "\r\n";
        out += ValueToPropertyText(v.items[i]);
      }
      return out;
    }
    case ValueKind::Binary: return Hex(v.text);
    default: return {};
  }
}

std::optional<Value> PropertyTextToValue(std::string_view text, const PropertyInfo* info, const Value* current) {
  PropertyType type;
  if (info) {
    type = info->type;
  } else if (current) {
    type = TypeOfStored(*current);
  } else {
    return std::nullopt;
  }
  switch (type) {
    case PropertyType::Integer: {
      auto n = ParseIntegerText(text);
      if (!n) return std::nullopt;
      return Value::Integer(*n);
    }
    case PropertyType::Boolean: {
      if (SameText(text, "True")) return Value::Boolean(true);
      if (SameText(text, "False")) return Value::Boolean(false);
      auto n = ParseIntegerText(text);
      if (!n) return std::nullopt;
      return Value::Boolean(*n != 0);
    }
    case PropertyType::String:
      if (current && current->kind == ValueKind::WString) {
        std::u16string w;
        for (char c : text) w.push_back(static_cast<unsigned char>(c));
        return Value::Wide(std::move(w));
      }
      return Value::Str(std::string(text));
    case PropertyType::Enum: {
      auto id = MatchIdentifier(text, info->identifiers);
      if (!id) return std::nullopt;
      return Value::Identifier(std::move(*id));
    }
    case PropertyType::Set: {
      std::string_view body = Trim(text);
      if (!body.empty() && body.front() == '[') {
        if (body.back() != ']') return std::nullopt;
        body = body.substr(1, body.size() - 2);
      }
      std::vector<std::string> names;
      body = Trim(body);
      while (!body.empty()) {
        std::size_t comma = body.find(',');
        std::string_view part = Trim(body.substr(0, comma));
        body = comma == std::string_view::npos ? std::string_view{} : body.substr(comma + 1);
        if (info && !info->identifiers.empty()) {
          std::optional<std::string> id;
          for (auto known : info->identifiers) {
            if (SameText(known, part)) id = std::string(known);
          }
          if (!id) return std::nullopt;
          names.push_back(std::move(*id));
        } else {
          if (!IsIdentifier(part)) return std::nullopt;
          names.emplace_back(part);
        }
        if (comma != std::string_view::npos && Trim(body).empty()) return std::nullopt;
      }
      return Value::SetOf(std::move(names));
    }
    case PropertyType::Color: {
      if (auto n = ParseIntegerText(text)) return Value::Integer(*n);
      for (const auto& c : kColors) {
        if (SameText(c.name, text)) return Value::Identifier(std::string(c.name));
      }
      return std::nullopt;
    }
    case PropertyType::Ident:
      if (text.empty()) return Value::NilValue();
      // Some of these (a font's character set) are stored as a number when no name fits.
      if (auto n = ParseIntegerText(text)) return Value::Integer(*n);
      if (!IsIdentifier(text)) return std::nullopt;
      return Value::Identifier(std::string(text));
    case PropertyType::Strings: return Value::StringList(SplitLines(text));
    case PropertyType::Graphic: {
      auto bytes = Unhex(text);
      if (!bytes) return std::nullopt;
      return Value::Bytes(std::move(*bytes));
    }
    case PropertyType::Real: {
      if (current && current->kind == ValueKind::Currency) {
        // Currency: up to four decimals, kept exact.
        std::string_view t = text;
        bool negative = !t.empty() && t[0] == '-';
        if (negative || (!t.empty() && t[0] == '+')) t.remove_prefix(1);
        std::size_t point = t.find('.');
        std::string whole(t.substr(0, point));
        std::string frac = point == std::string_view::npos ? "" : std::string(t.substr(point + 1));
        if (whole.empty() || frac.size() > 4) return std::nullopt;
        frac.append(4 - frac.size(), '0');
        auto w = ParseIntegerText(whole);
        auto f = ParseIntegerText(frac);
        if (!w || !f || whole[0] == '$' || frac[0] == '$' || *w > INT64_MAX / 10000 - 1) return std::nullopt;
        Value v;
        v.kind = ValueKind::Currency;
        v.integer = (*w * 10000 + *f) * (negative ? -1 : 1);
        return v;
      }
      double d = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), d);
      if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(d)) return std::nullopt;
      return Value::Real(d, current && current->IsReal() ? current->kind : ValueKind::Extended);
    }
  }
  return std::nullopt;
}

}  // namespace kem::forms
