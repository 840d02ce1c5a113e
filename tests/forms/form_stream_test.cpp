// Binary form stream and text form: fixtures round-trip, a stream built byte by byte pins
// the encoding, and malformed input is refused with a message naming the file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "dialogs/forms/control_kinds.h"
#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_text.h"

namespace kem::forms {
namespace {

std::string Fixture(const std::string& name) { return ReadFileBytes(std::string(KEM_FORMS_DATA) + "/" + name); }

std::string WithCrLf(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void Walk(const FormObject& o, const std::function<void(const FormObject&)>& f) {
  f(o);
  for (const auto& c : o.children) Walk(c, f);
}

void CollectKinds(const Value& v, std::set<ValueKind>& kinds) {
  kinds.insert(v.kind);
  for (const auto& i : v.items) CollectKinds(i, kinds);
  for (const auto& item : v.collection)
    for (const auto& p : item.properties) CollectKinds(p.value, kinds);
}

class FixtureRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureRoundTrip, TextBinaryTextIsStable) {
  std::string text = Fixture(GetParam());
  FormObject parsed = ParseTextForm(text, GetParam());
  std::string binary = WriteBinaryForm(parsed);
  FormObject reread = ReadBinaryForm(binary, "compiled");
  EXPECT_EQ(reread, parsed);
  // The fixtures are written in the canonical layout, so the text comes back unchanged.
  EXPECT_EQ(FormToText(reread), WithCrLf(text));
  // Binary -> text -> binary keeps every byte.
  EXPECT_EQ(WriteBinaryForm(ParseTextForm(FormToText(reread), "again")), binary);
  // Without the resource header too.
  EXPECT_EQ(ReadBinaryForm(WriteBinaryForm(parsed, false), "plain"), parsed);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRoundTrip, ::testing::Values("welcome.txt", "pages.txt", "values.txt"));

TEST(FormFixtures, CoverEveryRegisteredKindAndValueKind) {
  std::set<ControlKind> kinds;
  std::set<ValueKind> values;
  for (const char* name : {"welcome.txt", "pages.txt", "values.txt"}) {
    Walk(ParseTextForm(Fixture(name), name), [&](const FormObject& o) {
      kinds.insert(KindOfClass(o.className));
      for (const auto& p : o.properties) CollectKinds(p.value, values);
    });
  }
  for (ControlKind k : RegisteredControlKinds()) EXPECT_TRUE(kinds.count(k)) << ClassNameOfKind(k);
  EXPECT_EQ(RegisteredControlKinds().size(), 39u);
  // Every kind the text form can express; UTF-8 strings and doubles only come from binary
  // files (see the hand-made stream below).
  for (int k = 1; k <= kLastValueKind; ++k) {
    auto kind = static_cast<ValueKind>(k);
    if (kind == ValueKind::Utf8String || kind == ValueKind::Double) continue;
    EXPECT_TRUE(values.count(kind)) << ValueKindName(kind);
  }
}

// A stream assembled byte by byte.
class Bytes {
 public:
  Bytes& B(std::initializer_list<int> bytes) {
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return *this;
  }
  Bytes& Str(std::string_view t) {
    s.push_back(static_cast<char>(t.size()));
    s.append(t);
    return *this;
  }
  Bytes& Raw(std::string_view t) {
    s.append(t);
    return *this;
  }
  Bytes& U32(std::uint32_t v) { return B({int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255), int(v >> 24)}); }
  std::string s;
};

std::string HandMadeStream() {
  Bytes b;
  b.B({0xFF, 0x0A, 0x00}).Raw("TFORM1").B({0x00, 0x30, 0x10});
  std::size_t sizeAt = b.s.size();
  b.U32(0);
  std::size_t streamStart = b.s.size();
  b.Raw("TPF0").Str("TForm1").Str("Form1");
  b.Str("I8").B({2, 0xFE});                                   // -2
  b.Str("I16").B({3, 0x00, 0x80});                            // -32768
  b.Str("I32").B({4, 0x78, 0x56, 0x34, 0x12});                // 0x12345678
  b.Str("I64").B({19, 1, 0, 0, 0, 1, 0, 0, 0});               // 2^32 + 1
  b.Str("Ext").B({5, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F});  // 1.5
  b.Str("Sgl").B({15, 0x00, 0x00, 0x20, 0x40});               // 2.5f
  b.Str("Dbl").B({21, 0, 0, 0, 0, 0, 0, 0x10, 0xC0});         // -4.0
  b.Str("Cur").B({16, 0x10, 0x27, 0, 0, 0, 0, 0, 0});         // 1.0 (10000)
  b.Str("Dat").B({17, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F});         // 1.0
  b.Str("S").B({6}).Str("abc");
  b.Str("L").B({12}).U32(2).Raw("xy");
  b.Str("W").B({18}).U32(2).B({0xAC, 0x20, 0x41, 0x00});      // U+20AC 'A'
  b.Str("U").B({20}).U32(3).Raw("\xE2\x82\xAC");              // U+20AC in UTF-8
  b.Str("Id").B({7}).Str("clRed");
  b.Str("F").B({8});
  b.Str("T").B({9});
  b.Str("Bin").B({10}).U32(3).B({0, 0xFF, 0x10});
  b.Str("Set").B({11}).Str("fsBold").Str("fsItalic").B({0});
  b.Str("Nil").B({13});
  b.Str("Lst").B({1, 2, 7, 6}).Str("z").B({1, 0, 0});          // (7 'z' ())
  b.Str("Col").B({14, 1}).Str("W").B({2, 5, 0}).B({2, 3, 1, 0}).B({0});  // < item W=5 end item [3] end >
  b.B({0});                                                    // end of properties
  b.B({0xF3, 2, 4}).Str("TButton").Str("Button1").B({0, 0});   // inherited, child position 4
  b.B({0xF4}).Str("TFrame").Str("").B({0, 0});                 // inline, no name
  b.B({0});                                                    // end of children
  std::uint32_t size = static_cast<std::uint32_t>(b.s.size() - streamStart);
  for (int i = 0; i < 4; ++i) b.s[sizeAt + i] = static_cast<char>(size >> (8 * i));
  return b.s;
}

TEST(BinaryForm, HandMadeStreamReadsEveryKind) {
  std::string bytes = HandMadeStream();
  FormObject f = ReadBinaryForm(bytes, "hand.dfm");
  EXPECT_EQ(f.className, "TForm1");
  EXPECT_EQ(f.name, "Form1");
  auto get = [&](std::string_view n) -> const Value& {
    for (const auto& p : f.properties)
      if (p.name == n) return p.value;
    ADD_FAILURE() << n;
    static Value none;
    return none;
  };
  EXPECT_EQ(get("I8").integer, -2);
  EXPECT_EQ(get("I16").integer, -32768);
  EXPECT_EQ(get("I32").integer, 0x12345678);
  EXPECT_EQ(get("I64").integer, (std::int64_t{1} << 32) + 1);
  EXPECT_EQ(get("Ext").real, 1.5);
  EXPECT_EQ(get("Sgl").real, 2.5);
  EXPECT_EQ(get("Sgl").kind, ValueKind::Single);
  EXPECT_EQ(get("Dbl").real, -4.0);
  EXPECT_EQ(get("Cur").integer, 10000);
  EXPECT_EQ(get("Dat").real, 1.0);
  EXPECT_EQ(get("S").text, "abc");
  EXPECT_EQ(get("L").kind, ValueKind::LString);
  EXPECT_EQ(get("W").wide, u"\u20AC" u"A");
  EXPECT_EQ(get("U").kind, ValueKind::Utf8String);
  EXPECT_EQ(get("Id").text, "clRed");
  EXPECT_EQ(get("F").kind, ValueKind::False);
  EXPECT_EQ(get("T").kind, ValueKind::True);
  EXPECT_EQ(get("Bin").text, std::string("\x00\xFF\x10", 3));
  EXPECT_EQ(get("Set").names, (std::vector<std::string>{"fsBold", "fsItalic"}));
  EXPECT_EQ(get("Nil").kind, ValueKind::Nil);
  ASSERT_EQ(get("Lst").items.size(), 3u);
  EXPECT_EQ(get("Lst").items[2].kind, ValueKind::List);
  ASSERT_EQ(get("Col").collection.size(), 2u);
  EXPECT_FALSE(get("Col").collection[0].order);
  EXPECT_EQ(get("Col").collection[1].order, 3);
  ASSERT_EQ(f.children.size(), 2u);
  EXPECT_EQ(f.children[0].flags, kInherited | kChildPos);
  EXPECT_EQ(f.children[0].childPos, 4);
  EXPECT_EQ(f.children[1].flags, kInline);

  // Writing gives back the same bytes, including the resource header.
  EXPECT_EQ(WriteBinaryForm(f), bytes);

  std::string text = FormToText(f);
  EXPECT_NE(text.find("  Ext = 1.5\r\n"), std::string::npos);
  EXPECT_NE(text.find("  Sgl = 2.5s\r\n"), std::string::npos);
  EXPECT_NE(text.find("  Cur = 1.0c\r\n"), std::string::npos);
  EXPECT_NE(text.find("  Dat = 1.0d\r\n"), std::string::npos);
  EXPECT_NE(text.find("  W = #8364'A'\r\n"), std::string::npos);
  EXPECT_NE(text.find("  U = #8364\r\n"), std::string::npos);
  EXPECT_NE(text.find("  Bin = {\r\n    00FF10}\r\n"), std::string::npos);
  EXPECT_NE(text.find("  Col = <\r\n    item\r\n      W = 5\r\n    end\r\n    item [3]\r\n    end>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("  inherited Button1: TButton [4]\r\n"), std::string::npos);
  EXPECT_NE(text.find("  inline TFrame\r\n"), std::string::npos);
}

TEST(BinaryForm, ClassNamesThatCannotNameAResourceStillRewrite) {
  // A class name holding NUL bytes (or starting with 0xFF) read from a damaged file: the
  // rewritten resource header must still read back to the same form.
  for (std::string cls : {std::string("\0\0TPF0x", 7), std::string("\xFF" "Class"), std::string("T\0Form", 6)}) {
    FormObject form;
    form.className = cls;
    form.name = "Name";
    FormObject again = ReadBinaryForm(WriteBinaryForm(form), "rewritten.dfm");
    EXPECT_TRUE(again == form) << cls.size();
  }
}

TEST(BinaryForm, ClassNamesOf240BytesOrMoreAreNotReadAsFlags) {
  // The length byte of such a name lies in 0xF0..0xFF, where the reader expects the flags
  // byte; the object must keep its name, flags and children through both forms.
  for (std::size_t length : {239u, 240u, 255u}) {
    for (std::uint8_t flags : {std::uint8_t{0}, std::uint8_t{kInherited}, std::uint8_t{kInline | kChildPos}}) {
      FormObject child;
      child.className = "T" + std::string(length - 1, 'c');
      child.name = "Child";
      child.flags = flags;
      child.childPos = (flags & kChildPos) ? 2 : 0;
      FormObject form;
      form.className = "T" + std::string(length - 1, 'r');
      form.name = "Root";
      form.flags = flags;
      form.childPos = (flags & kChildPos) ? 1 : 0;
      form.properties.push_back({"Tag", Value::Integer(7)});
      form.children = {child, child};
      SCOPED_TRACE(std::to_string(length) + " bytes, flags " + std::to_string(flags));
      EXPECT_EQ(ReadBinaryForm(WriteBinaryForm(form), "rewritten.dfm"), form);
      EXPECT_EQ(ReadBinaryForm(WriteBinaryForm(form, false), "plain.dfm"), form);
      FormObject fromText = ParseTextForm(FormToText(form), "long.txt");
      EXPECT_EQ(fromText, form);
      EXPECT_EQ(ReadBinaryForm(WriteBinaryForm(fromText), "compiled.dfm"), form);
    }
  }
}

TEST(BinaryForm, FoundByFuzzingReadsBackAsWritten) {
  // A flags byte without flags in front of a 240-byte class name of arbitrary bytes.
  std::string bytes = Fixture("class-name-read-as-flags.dfm");
  FormObject form = ReadBinaryForm(bytes, "found.dfm");
  EXPECT_EQ(form.flags, 0);
  EXPECT_EQ(form.className.size(), 240u);
  std::string written = WriteBinaryForm(form);
  EXPECT_EQ(ReadBinaryForm(written, "rewritten.dfm"), form);
  EXPECT_EQ(WriteBinaryForm(ReadBinaryForm(written, "rewritten.dfm")), written);
  // The class name is no identifier, so the text form may refuse it, but only with a FormError.
  try {
    EXPECT_EQ(ParseTextForm(FormToText(form), "found.txt"), form);
  } catch (const FormError&) {
  }
}

TEST(BinaryForm, ExtendedConversionIsExact) {
  for (double v : {0.0, 1.0, -1.5, 3.141592653589793, 1e-300, 6.02e23, 4.9e-324}) {
    unsigned char b[10];
    DoubleToExtended(v, b);
    EXPECT_EQ(ExtendedToDouble(b), v) << v;
  }
}

TEST(BinaryForm, EveryTruncationIsAnErrorNamingTheFile) {
  std::string bytes = HandMadeStream();
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    try {
      ReadBinaryForm(std::string_view(bytes).substr(0, n), "cut.dfm");
      ADD_FAILURE() << "accepted " << n << " bytes";
    } catch (const FormError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("cut.dfm: ", 0), 0u) << e.what();
    }
  }
}

TEST(BinaryForm, MalformedStreamsAreRefused) {
  auto form = [](std::string props) { return "TPF0" + std::string("\x05TForm\x01" "F", 8) + props; };
  struct Case {
    const char* label;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"signature", "TPF1\x05TForm", "\"TPF0\" not found"},
      {"resource type", std::string("\xFF\x05\x00X\x00\x30\x10\0\0\0\0TPF0", 15), "not a form resource"},
      {"unknown kind", form(std::string("\x01P\x16", 3)), "unknown value kind 22"},
      {"absurd long string", form(std::string("\x01P\x0C\xFF\xFF\xFF\x7F", 7)), "runs past the end"},
      {"absurd binary", form(std::string("\x01P\x0A\xFF\xFF\xFF\xFF", 7)), "runs past the end"},
      {"absurd wide string", form(std::string("\x01P\x12\xFF\xFF\xFF\xFF", 7)), "runs past the end"},
      {"end of list as value", form(std::string("\x01P\x00", 3)), "value expected"},
      {"collection item", form(std::string("\x01P\x0E\x06", 4)), "collection item expected"},
      {"child position", std::string("TPF0\xF2\x06", 6), "integer expected"},
      {"no class", std::string("TPF0\x00", 5), "without a class name"},
      {"empty", "", "empty form file"},
  };
  for (const auto& c : cases) {
    try {
      ReadBinaryForm(c.bytes, "bad.dfm");
      ADD_FAILURE() << c.label;
    } catch (const FormError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.label << ": " << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("bad.dfm: ", 0), 0u) << e.what();
    }
  }
}

TEST(BinaryForm, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  std::string lists = "TPF0" + std::string("\x05TForm\x01" "F\x01P", 10) + std::string(100000, '\x01');
  EXPECT_THROW(ReadBinaryForm(lists, "deep.dfm"), FormError);
  std::string objects = "TPF0";
  for (int i = 0; i < 100000; ++i) objects += std::string("\x01T\x00\x00", 4);
  EXPECT_THROW(ReadBinaryForm(objects, "deep.dfm"), FormError);
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "object T\n";
  EXPECT_THROW(ParseTextForm(text, "deep.txt"), FormError);
  EXPECT_THROW(ParseTextForm("object F: T\n P = " + std::string(100000, '(') + "\nend\n", "deep.txt"), FormError);
}

TEST(TextForm, ErrorsNameFileAndLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"object F: TForm\n  Caption = 'open\nend\n", "f.txt:2: unterminated string"},
      {"object F: TForm\n  Left = =\nend\n", "f.txt:2: value expected but '=' found"},
      {"object F: TForm\n  Left 5\nend\n", "f.txt:2: '=' expected"},
      {"object F: TForm\n  Left = 99999999999999999999\nend\n", "f.txt:2: integer out of range"},
      {"object F: TForm\n  Data = {0A1}\nend\n", "f.txt:2: odd number of hexadecimal digits"},
      {"object F: TForm\n  Data = {0G}\nend\n", "f.txt:2: invalid character in binary data"},
      {"object F: TForm\n  S = [a, ]\nend\n", "f.txt:2: set element expected"},
      {"object F: TForm\n  C = <\n    thing\n  >\nend\n", "f.txt:3: 'item' expected"},
      {"object F: TForm\n  S = 'a' +\nend\n", "f.txt:3: string expected after '+'"},
      {"object F: TForm\n  object B: TButton\n  end\n  Left = 1\nend\n", "f.txt:4: 'end' expected"},
      {"object F: TForm\n  Left = 1\n", "f.txt:3: 'end' expected but end of file found"},
      {"object F: TForm\nend\nend\n", "f.txt:3: text after the final 'end'"},
      {"form F: TForm\nend\n", "f.txt:1: 'object' expected"},
      {"object F: TForm\n  C = 1.5x\nend\n", "f.txt:2: invalid number"},
      {"object F: TForm\n  C = 1.23456c\nend\n", "f.txt:2: currency with more than four decimals"},
      {"object F: TForm\n  C = #70000\nend\n", "f.txt:2: character code above 65535"},
  };
  for (const auto& c : cases) {
    try {
      ParseTextForm(c.text, "f.txt");
      ADD_FAILURE() << c.text;
    } catch (const FormError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.text << " -> " << e.what();
    }
  }
}

TEST(TextForm, AcceptsAuthorsVariations) {
  // Lower-case keywords, hexadecimal numbers, #$ codes, strings joined over lines, a
  // byte-order mark and LF line ends are all read; the canonical text is written back.
  FormObject f = ParseTextForm(
      "\xEF\xBB\xBFOBJECT F: TForm\n  Color = $00FF00\n  S = 'a'#$41 +\n 'b'\n  B = true\n  N = NIL\nEND\n", "v.txt");
  ASSERT_EQ(f.properties.size(), 4u);
  EXPECT_EQ(f.properties[0].value.integer, 0xFF00);
  EXPECT_EQ(f.properties[1].value.text, "aAb");
  EXPECT_EQ(f.properties[2].value.kind, ValueKind::True);
  EXPECT_EQ(f.properties[3].value.kind, ValueKind::Nil);
  EXPECT_EQ(FormToText(f), "object F: TForm\r\n  Color = 65280\r\n  S = 'aAb'\r\n  B = True\r\n  N = nil\r\nend\r\n");
}

TEST(TextForm, StringKindsFollowTheirContent) {
  FormObject f = ParseTextForm("object F: T\n  A = 'x'\n  B = #255\n  C = #256\nend\n", "k.txt");
  EXPECT_EQ(f.properties[0].value.kind, ValueKind::String);
  EXPECT_EQ(f.properties[1].value.kind, ValueKind::String);
  EXPECT_EQ(f.properties[1].value.text, "\xFF");
  EXPECT_EQ(f.properties[2].value.kind, ValueKind::WString);
  std::string longText = "object F: T\n  A = '" + std::string(256, 'a') + "'\nend\n";
  EXPECT_EQ(ParseTextForm(longText, "k.txt").properties[0].value.kind, ValueKind::LString);
}

}  // namespace
}  // namespace kem::forms
