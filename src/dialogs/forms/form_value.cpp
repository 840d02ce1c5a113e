#include "dialogs/forms/form_value.h"

namespace kem::forms {

std::string_view ValueKindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Null: return "end of list";
    case ValueKind::List: return "list";
    case ValueKind::Int8: return "8-bit integer";
    case ValueKind::Int16: return "16-bit integer";
    case ValueKind::Int32: return "32-bit integer";
    case ValueKind::Extended: return "extended float";
    case ValueKind::String: return "short string";
    case ValueKind::Ident: return "identifier";
    case ValueKind::False: return "False";
    case ValueKind::True: return "True";
    case ValueKind::Binary: return "binary data";
    case ValueKind::Set: return "set";
    case ValueKind::LString: return "long string";
    case ValueKind::Nil: return "nil";
    case ValueKind::Collection: return "collection";
    case ValueKind::Single: return "single float";
    case ValueKind::Currency: return "currency";
    case ValueKind::Date: return "date";
    case ValueKind::WString: return "wide string";
    case ValueKind::Int64: return "64-bit integer";
    case ValueKind::Utf8String: return "UTF-8 string";
    case ValueKind::Double: return "double float";
  }
  return "unknown";
}

bool Value::IsInteger() const noexcept {
  return kind == ValueKind::Int8 || kind == ValueKind::Int16 || kind == ValueKind::Int32 ||
         kind == ValueKind::Int64;
}

bool Value::IsReal() const noexcept {
  return kind == ValueKind::Extended || kind == ValueKind::Single || kind == ValueKind::Date ||
         kind == ValueKind::Double || kind == ValueKind::Currency;
}

bool Value::IsString() const noexcept {
  return kind == ValueKind::String || kind == ValueKind::LString || kind == ValueKind::WString ||
         kind == ValueKind::Utf8String;
}

std::string Value::NarrowText() const {
  if (kind == ValueKind::WString || kind == ValueKind::Utf8String) {
    std::u16string w = kind == ValueKind::WString ? wide : Utf8ToUtf16(text);
    std::string out;
    out.reserve(w.size());
    for (char16_t c : w) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return out;
  }
  return text;
}

Value Value::Integer(std::int64_t v) {
  Value r;
  r.integer = v;
  if (v >= -128 && v <= 127)
    r.kind = ValueKind::Int8;
  else if (v >= -32768 && v <= 32767)
    r.kind = ValueKind::Int16;
  else if (v >= INT32_MIN && v <= INT32_MAX)
    r.kind = ValueKind::Int32;
  else
    r.kind = ValueKind::Int64;
  return r;
}

Value Value::Real(double v, ValueKind kind) {
  Value r;
  r.kind = kind;
  r.real = v;
  return r;
}

Value Value::Str(std::string s) {
  Value r;
  r.kind = s.size() <= 255 ? ValueKind::String : ValueKind::LString;
  r.text = std::move(s);
  return r;
}

Value Value::Wide(std::u16string s) {
  Value r;
  r.kind = ValueKind::WString;
  r.wide = std::move(s);
  return r;
}

Value Value::Identifier(std::string s) {
  Value r;
  r.kind = ValueKind::Ident;
  r.text = std::move(s);
  return r;
}

Value Value::Boolean(bool b) {
  Value r;
  r.kind = b ? ValueKind::True : ValueKind::False;
  return r;
}

Value Value::Bytes(std::string bytes) {
  Value r;
  r.kind = ValueKind::Binary;
  r.text = std::move(bytes);
  return r;
}

Value Value::SetOf(std::vector<std::string> names) {
  Value r;
  r.kind = ValueKind::Set;
  r.names = std::move(names);
  return r;
}

Value Value::ListOf(std::vector<Value> items) {
  Value r;
  r.kind = ValueKind::List;
  r.items = std::move(items);
  return r;
}

Value Value::StringList(const std::vector<std::string>& lines) {
  std::vector<Value> items;
  items.reserve(lines.size());
  for (const auto& l : lines) items.push_back(Str(l));
  return ListOf(std::move(items));
}

Value Value::NilValue() { return Value{}; }

bool operator==(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ValueKind::Int8:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64:
    case ValueKind::Currency: return a.integer == b.integer;
    case ValueKind::Extended:
    case ValueKind::Single:
    case ValueKind::Date:
    case ValueKind::Double: return a.real == b.real;
    case ValueKind::String:
    case ValueKind::LString:
    case ValueKind::Ident:
    case ValueKind::Utf8String:
    case ValueKind::Binary: return a.text == b.text;
    case ValueKind::WString: return a.wide == b.wide;
    case ValueKind::Set: return a.names == b.names;
    case ValueKind::List: return a.items == b.items;
    case ValueKind::Collection: return a.collection == b.collection;
    default: return true;
  }
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  std::size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace kem::forms
