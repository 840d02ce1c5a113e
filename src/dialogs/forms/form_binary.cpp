#include "dialogs/forms/form_binary.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/file_bytes.h"
#include "common/text.h"

namespace kem::forms {

namespace {

constexpr std::string_view kSignature = "TPF0";

class Reader {
 public:
  Reader(std::string_view data, std::string_view file) : d_(data), file_(file) {}

  [[noreturn]] void Fail(const std::string& what, std::size_t at) const {
    throw FormError(std::string(file_) + ": " + what + " at offset " + std::to_string(at));
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(what, pos_); }

  std::size_t Pos() const { return pos_; }
  std::size_t Remaining() const { return d_.size() - pos_; }

  std::string_view Take(std::size_t n, const char* what) {
    if (n > Remaining()) {
      Fail(std::string(what) + " of " + std::to_string(n) + " bytes runs past the end of the data (" +
           std::to_string(Remaining()) + " left)");
    }
    auto r = d_.substr(pos_, n);
    pos_ += n;
    return r;
  }
  std::uint8_t Peek() {
    if (pos_ >= d_.size()) Fail("unexpected end of data");
    return static_cast<std::uint8_t>(d_[pos_]);
  }
  std::uint8_t Byte() {
    std::uint8_t b = Peek();
    ++pos_;
    return b;
  }
  std::uint64_t Unsigned(int n) {
    auto s = Take(static_cast<std::size_t>(n), "value");
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[static_cast<std::size_t>(i)]);
    return v;
  }
  std::string ShortString(const char* what) {
    std::size_t n = Byte();
    return std::string(Take(n, what));
  }

  Value ReadValue(int depth);
  FormObject ReadObject(int depth);
  std::int64_t ReadIntegerValue();
  void ReadProperties(std::vector<Property>& out, int depth);

 private:
  std::string_view d_;
  std::string_view file_;
  std::size_t pos_ = 0;
};

std::int64_t Reader::ReadIntegerValue() {
  std::size_t at = pos_;
  auto kind = static_cast<ValueKind>(Byte());
  switch (kind) {
    case ValueKind::Int8: return static_cast<std::int8_t>(Unsigned(1));
    case ValueKind::Int16: return static_cast<std::int16_t>(Unsigned(2));
    case ValueKind::Int32: return static_cast<std::int32_t>(Unsigned(4));
    case ValueKind::Int64: return static_cast<std::int64_t>(Unsigned(8));
    default: Fail("integer expected", at);
  }
}

void Reader::ReadProperties(std::vector<Property>& out, int depth) {
  while (Peek() != 0) {
    Property p;
    p.name = ShortString("property name");
    p.value = ReadValue(depth);
    out.push_back(std::move(p));
  }
  ++pos_;
}

Value Reader::ReadValue(int depth) {
  if (depth > kMaxFormDepth) Fail("values nested too deeply");
  std::size_t at = pos_;
  std::uint8_t code = Byte();
  if (code > kLastValueKind) Fail("unknown value kind " + std::to_string(code), at);
  Value v;
  v.kind = static_cast<ValueKind>(code);
  switch (v.kind) {
    case ValueKind::Null: Fail("value expected, end of list found", at);
    case ValueKind::List:
      while (Peek() != 0) v.items.push_back(ReadValue(depth + 1));
      ++pos_;
      break;
    case ValueKind::Int8: v.integer = static_cast<std::int8_t>(Unsigned(1)); break;
    case ValueKind::Int16: v.integer = static_cast<std::int16_t>(Unsigned(2)); break;
    case ValueKind::Int32: v.integer = static_cast<std::int32_t>(Unsigned(4)); break;
    case ValueKind::Int64: v.integer = static_cast<std::int64_t>(Unsigned(8)); break;
    case ValueKind::Currency: v.integer = static_cast<std::int64_t>(Unsigned(8)); break;
    case ValueKind::Extended: {
      auto s = Take(10, "extended value");
      v.real = ExtendedToDouble(reinterpret_cast<const unsigned char*>(s.data()));
      break;
    }
    case ValueKind::Single: {
      auto bits = static_cast<std::uint32_t>(Unsigned(4));
      float f;
      std::memcpy(&f, &bits, 4);
      v.real = f;
      break;
    }
    case ValueKind::Date:
    case ValueKind::Double: {
      std::uint64_t bits = Unsigned(8);
      std::memcpy(&v.real, &bits, 8);
      break;
    }
    case ValueKind::String:
    case ValueKind::Ident: v.text = ShortString(v.kind == ValueKind::Ident ? "identifier" : "string"); break;
    case ValueKind::LString:
    case ValueKind::Utf8String:
    case ValueKind::Binary: {
      auto n = static_cast<std::size_t>(Unsigned(4));
      v.text = std::string(Take(n, v.kind == ValueKind::Binary ? "binary data" : "string"));
      break;
    }
    case ValueKind::WString: {
      auto n = Unsigned(4);
      if (n > Remaining() / 2) {
        Fail("wide string of " + std::to_string(n) + " characters runs past the end of the data");
      }
      auto s = Take(static_cast<std::size_t>(n) * 2, "wide string");
      v.wide.resize(static_cast<std::size_t>(n));
      for (std::size_t i = 0; i < n; ++i) {
        v.wide[i] = static_cast<char16_t>(static_cast<std::uint8_t>(s[2 * i]) |
                                          (static_cast<std::uint8_t>(s[2 * i + 1]) << 8));
      }
      break;
    }
    case ValueKind::False:
    case ValueKind::True:
    case ValueKind::Nil: break;
    case ValueKind::Set:
      for (;;) {
        std::string name = ShortString("set element");
        if (name.empty()) break;
        v.names.push_back(std::move(name));
      }
      break;
    case ValueKind::Collection:
      while (Peek() != 0) {
        CollectionItem item;
        std::uint8_t k = Peek();
        if (k == static_cast<std::uint8_t>(ValueKind::Int8) || k == static_cast<std::uint8_t>(ValueKind::Int16) ||
            k == static_cast<std::uint8_t>(ValueKind::Int32)) {
          item.order = ReadIntegerValue();
        }
        if (Byte() != static_cast<std::uint8_t>(ValueKind::List)) Fail("collection item expected", pos_ - 1);
        if (depth + 1 > kMaxFormDepth) Fail("values nested too deeply");
        ReadProperties(item.properties, depth + 1);
        v.collection.push_back(std::move(item));
      }
      ++pos_;
      break;
  }
  if ((v.IsReal() && v.kind != ValueKind::Currency) && !std::isfinite(v.real)) {
    Fail("invalid floating-point value", at);
  }
  return v;
}

FormObject Reader::ReadObject(int depth) {
  if (depth > kMaxFormDepth) Fail("objects nested too deeply");
  FormObject o;
  std::uint8_t b = Peek();
  if ((b & 0xF0) == 0xF0) {
    ++pos_;
    o.flags = b & 0x0F;
    if (o.flags & kChildPos) o.childPos = ReadIntegerValue();
  }
  std::size_t at = pos_;
  o.className = ShortString("class name");
  if (o.className.empty()) Fail("object without a class name", at);
  o.name = ShortString("component name");
  ReadProperties(o.properties, depth);
  while (Peek() != 0) o.children.push_back(ReadObject(depth + 1));
  ++pos_;
  return o;
}

class Writer {
 public:
  std::string out;

  void Byte(std::uint8_t b) { out.push_back(static_cast<char>(b)); }
  void Unsigned(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) Byte(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void ShortString(std::string_view s, const char* what) {
    if (s.size() > 255) {
      throw FormError(std::string(what) + " longer than 255 bytes: " + std::string(s.substr(0, 40)) + "...");
    }
    Byte(static_cast<std::uint8_t>(s.size()));
    out.append(s);
  }
  void Kind(ValueKind k) { Byte(static_cast<std::uint8_t>(k)); }
  static bool Fits(std::int64_t v, ValueKind k) {
    switch (k) {
      case ValueKind::Int8: return v >= INT8_MIN && v <= INT8_MAX;
      case ValueKind::Int16: return v >= INT16_MIN && v <= INT16_MAX;
      case ValueKind::Int32: return v >= INT32_MIN && v <= INT32_MAX;
      case ValueKind::Int64: return true;
      default: return false;
    }
  }
  // Keeps the stored width when it holds the number; otherwise the smallest that does.
  void Integer(std::int64_t v, ValueKind preferred) {
    ValueKind k = Fits(v, preferred) ? preferred : Value::Integer(v).kind;
    Kind(k);
    switch (k) {
      case ValueKind::Int8: Unsigned(static_cast<std::uint64_t>(v), 1); break;
      case ValueKind::Int16: Unsigned(static_cast<std::uint64_t>(v), 2); break;
      case ValueKind::Int32: Unsigned(static_cast<std::uint64_t>(v), 4); break;
      default: Unsigned(static_cast<std::uint64_t>(v), 8); break;
    }
  }
  void Properties(const std::vector<Property>& props) {
    for (const auto& p : props) {
      if (p.name.empty()) throw FormError("property without a name");
      ShortString(p.name, "property name");
      WriteValue(p.value);
    }
    Byte(0);
  }
  void WriteValue(const Value& v);
  void WriteObject(const FormObject& o);
};

void Writer::WriteValue(const Value& v) {
  switch (v.kind) {
    case ValueKind::Null:
    case ValueKind::Nil: Kind(ValueKind::Nil); break;
    case ValueKind::List:
      Kind(ValueKind::List);
      for (const auto& item : v.items) WriteValue(item);
      Byte(0);
      break;
    case ValueKind::Int8:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64: Integer(v.integer, v.kind); break;
    case ValueKind::Currency:
      Kind(v.kind);
      Unsigned(static_cast<std::uint64_t>(v.integer), 8);
      break;
    case ValueKind::Extended: {
      Kind(v.kind);
      unsigned char b[10];
      DoubleToExtended(v.real, b);
      out.append(reinterpret_cast<const char*>(b), 10);
      break;
    }
    case ValueKind::Single: {
      Kind(v.kind);
      float f = static_cast<float>(v.real);
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      Unsigned(bits, 4);
      break;
    }
    case ValueKind::Date:
    case ValueKind::Double: {
      Kind(v.kind);
      std::uint64_t bits;
      std::memcpy(&bits, &v.real, 8);
      Unsigned(bits, 8);
      break;
    }
    case ValueKind::String:
    case ValueKind::LString:
      if (v.kind == ValueKind::String && v.text.size() <= 255) {
        Kind(ValueKind::String);
        ShortString(v.text, "string");
      } else {
        Kind(ValueKind::LString);
        Unsigned(v.text.size(), 4);
        out.append(v.text);
      }
      break;
    case ValueKind::Utf8String:
    case ValueKind::Binary:
      Kind(v.kind);
      Unsigned(v.text.size(), 4);
      out.append(v.text);
      break;
    case ValueKind::Ident:
      Kind(v.kind);
      ShortString(v.text, "identifier");
      break;
    case ValueKind::WString:
      Kind(v.kind);
      Unsigned(v.wide.size(), 4);
      for (char16_t c : v.wide) Unsigned(c, 2);
      break;
    case ValueKind::False:
    case ValueKind::True: Kind(v.kind); break;
    case ValueKind::Set:
      Kind(v.kind);
      for (const auto& n : v.names) {
        if (n.empty()) throw FormError("empty set element");
        ShortString(n, "set element");
      }
      Byte(0);
      break;
    case ValueKind::Collection:
      Kind(v.kind);
      for (const auto& item : v.collection) {
        if (item.order) {
          Value ord = Value::Integer(*item.order);
          if (ord.kind == ValueKind::Int64) throw FormError("collection item index out of range");
          Integer(*item.order, ord.kind);
        }
        Kind(ValueKind::List);
        Properties(item.properties);
      }
      Byte(0);
      break;
  }
}

void Writer::WriteObject(const FormObject& o) {
  // The reader takes a leading byte 0xF0..0xFF as the flags byte, and so would it take the
  // length byte of a class name of 240 bytes or more: such an object gets a flags byte even
  // when it has no flags.
  if (o.flags != 0 || o.className.size() >= 0xF0) {
    Byte(static_cast<std::uint8_t>(0xF0 | (o.flags & 0x0F)));
    if (o.flags & kChildPos) Integer(o.childPos, Value::Integer(o.childPos).kind);
  }
  if (o.className.empty()) throw FormError("object without a class name");
  ShortString(o.className, "class name");
  ShortString(o.name, "component name");
  Properties(o.properties);
  for (const auto& c : o.children) WriteObject(c);
  Byte(0);
}

}  // namespace

double ExtendedToDouble(const unsigned char b[10]) {
  std::uint64_t mant = 0;
  for (int i = 7; i >= 0; --i) mant = (mant << 8) | b[i];
  int se = b[8] | (b[9] << 8);
  bool negative = (se & 0x8000) != 0;
  int exp = se & 0x7FFF;
  double r;
  if (exp == 0x7FFF) {
    r = (mant << 1) == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
  } else if (mant == 0) {
    r = 0.0;
  } else {
    r = std::ldexp(static_cast<double>(mant), exp - 16383 - 63);
  }
  return negative ? -r : r;
}

void DoubleToExtended(double v, unsigned char b[10]) {
  std::memset(b, 0, 10);
  bool negative = std::signbit(v);
  double a = std::fabs(v);
  int se = 0;
  if (std::isinf(a)) {
    se = 0x7FFF;
    b[7] = 0x80;
  } else if (std::isnan(a)) {
    se = 0x7FFF;
    b[7] = 0xC0;
  } else if (a != 0.0) {
    int e;
    double m = std::frexp(a, &e);  // a = m * 2^e, 0.5 <= m < 1
    auto mant = static_cast<std::uint64_t>(std::ldexp(m, 64));
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(mant >> (8 * i));
    se = e - 1 + 16383;
  }
  if (negative) se |= 0x8000;
  b[8] = static_cast<unsigned char>(se);
  b[9] = static_cast<unsigned char>(se >> 8);
}

FormObject ReadBinaryForm(std::string_view bytes, std::string_view fileName) {
  Reader r(bytes, fileName);
  if (r.Remaining() == 0) r.Fail("empty form file");
  if (r.Peek() == 0xFF) {
    // Form resource header: type (ordinal 10, RCDATA), name, memory flags, data size.
    r.Byte();
    if (r.Unsigned(2) != 10) r.Fail("not a form resource (resource type is not RCDATA)", 1);
    if (r.Peek() == 0xFF) {
      r.Byte();
      r.Unsigned(2);
    } else {
      std::size_t n = 0;
      while (r.Byte() != 0) {
        if (++n > 255) r.Fail("resource name too long");
      }
    }
    r.Unsigned(2);
    r.Unsigned(4);
  }
  std::size_t at = r.Pos();
  if (r.Remaining() < kSignature.size() || bytes.substr(at, kSignature.size()) != kSignature) {
    r.Fail("form signature \"TPF0\" not found", at);
  }
  r.Take(kSignature.size(), "signature");
  return r.ReadObject(0);
}

std::string ReadFileBytes(const std::string& path) {
  std::optional<std::string> data = ReadWholeFile(path);
  if (!data) throw FormError(path + ": cannot open or read the file");
  return std::move(*data);
}

FormObject LoadFormFile(const std::string& path) { return ReadBinaryForm(ReadFileBytes(path), path); }

std::string WriteBinaryForm(const FormObject& root, bool withResourceHeader) {
  Writer w;
  w.out.append(kSignature);
  w.WriteObject(root);
  if (!withResourceHeader) return std::move(w.out);
  // The resource name is the class name in capitals, zero-terminated: bytes that would end
  // it early (NUL) or read as an ordinal marker (a leading 0xFF) are left out, or a class
  // name read from a damaged file would make the rewritten header unreadable.
  std::string name;
  for (char c : UpperCase(root.className)) {
    if (c == '\0' || (name.empty() && static_cast<unsigned char>(c) == 0xFF)) continue;
    if (name.size() == 255) break;
    name.push_back(c);
  }
  std::string header;
  header.push_back(static_cast<char>(0xFF));
  header.push_back(10);
  header.push_back(0);
  header.append(name);
  header.push_back(0);
  header.push_back(0x30);
  header.push_back(0x10);
  auto size = static_cast<std::uint32_t>(w.out.size());
  for (int i = 0; i < 4; ++i) header.push_back(static_cast<char>(size >> (8 * i)));
  return header + w.out;
}

}  // namespace kem::forms
