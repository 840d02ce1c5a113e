// Values of the binary form-stream encoding and the objects they describe.
//
// A form file is a tree of objects; each object has a class name, a component name, an
// ordered list of properties (name = value; names may be dotted, as in "Font.Name") and
// its child objects. Every value keeps the kind it was stored with, so a file read and
// written again keeps its encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kem::forms {

// Raised for every malformed form file, text form or rules file. The message names the
// file and what is wrong.
class FormError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value kinds of the stream, with their byte codes.
enum class ValueKind : std::uint8_t {
  Null = 0,  // end of a list; never held by a Value
  List = 1,
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,  // 80-bit floating point
  String = 6,    // one-byte length
  Ident = 7,
  False = 8,
  True = 9,
  Binary = 10,
  Set = 11,
  LString = 12,  // four-byte length
  Nil = 13,
  Collection = 14,
  Single = 15,
  Currency = 16,  // 64-bit integer scaled by 10000
  Date = 17,      // 64-bit floating point, days
  WString = 18,   // UTF-16LE
  Int64 = 19,
  Utf8String = 20,
  Double = 21,
};
constexpr std::uint8_t kLastValueKind = 21;

std::string_view ValueKindName(ValueKind kind);

struct CollectionItem;

struct Value {
  ValueKind kind = ValueKind::Nil;
  std::int64_t integer = 0;        // Int8..Int64; Currency as the scaled integer
  double real = 0;                 // Extended, Single, Date, Double
  std::string text;                // String, LString, Ident, Utf8String (UTF-8), Binary (bytes)
  std::u16string wide;             // WString
  std::vector<std::string> names;  // Set: element identifiers
  std::vector<Value> items;        // List
  std::vector<CollectionItem> collection;

  bool IsInteger() const noexcept;
  bool IsReal() const noexcept;
  bool IsString() const noexcept;  // String, LString, WString, Utf8String
  bool IsBoolean() const noexcept { return kind == ValueKind::False || kind == ValueKind::True; }

  // Texts of string values as single-byte text: ANSI kinds unchanged, wide and UTF-8
  // strings with characters up to 255 kept and others as '?'.
  std::string NarrowText() const;

  // Factories. Integers take the smallest kind that holds them; strings the one-byte
  // length form up to 255 bytes, the four-byte form above.
  static Value Integer(std::int64_t v);
  static Value Real(double v, ValueKind kind = ValueKind::Extended);
  static Value Str(std::string s);
  static Value Wide(std::u16string s);
  static Value Identifier(std::string s);
  static Value Boolean(bool b);
  static Value Bytes(std::string bytes);
  static Value SetOf(std::vector<std::string> names);
  static Value ListOf(std::vector<Value> items);
  static Value StringList(const std::vector<std::string>& lines);
  static Value NilValue();

  friend bool operator==(const Value&, const Value&);
};

struct Property {
  std::string name;
  Value value;
  friend bool operator==(const Property&, const Property&) = default;
};

struct CollectionItem {
  std::optional<std::int64_t> order;  // the optional index written before an item
  std::vector<Property> properties;
  friend bool operator==(const CollectionItem&, const CollectionItem&) = default;
};

// Filer flags of an object: inherited from an ancestor form, inline (frame), and the
// child position that follows the flags.
enum ObjectFlag : std::uint8_t { kInherited = 1, kChildPos = 2, kInline = 4 };

struct FormObject {
  std::string className;
  std::string name;
  std::uint8_t flags = 0;
  std::int64_t childPos = 0;  // meaningful when flags has kChildPos
  std::vector<Property> properties;
  std::vector<FormObject> children;

  friend bool operator==(const FormObject&, const FormObject&) = default;
};

// Wide text helpers shared by the reader and the text form.
std::u16string Utf8ToUtf16(std::string_view utf8);  // invalid sequences give U+FFFD
std::string Utf16ToUtf8(std::u16string_view s);

}  // namespace kem::forms
