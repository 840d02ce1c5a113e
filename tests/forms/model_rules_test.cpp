// Component model, property texts and control rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_model.h"
#include "dialogs/forms/form_rules.h"
#include "dialogs/forms/property_text.h"

namespace kem::forms {
namespace {

FormModel Welcome() {
  return FormModel::FromText(ReadFileBytes(std::string(KEM_FORMS_DATA) + "/welcome.txt"), "welcome.txt");
}

TEST(FormModel, ComponentsKindsAndTypedProperties) {
  FormModel m = Welcome();
  EXPECT_EQ(m.Form().Kind(), ControlKind::Form);
  EXPECT_EQ(m.Form().Caption(), "Welcome to $PRODUCTNAME$");
  EXPECT_EQ(m.Form().Identifier("Position"), "poScreenCenter");

  std::vector<std::string> names;
  for (auto& c : m.Components()) names.push_back(c.Name());
  // Stream order: a parent before its children.
  auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("GroupBox1"), at("Panel1"));
  EXPECT_LT(at("Panel1"), at("MaskEdit1"));
  EXPECT_EQ(names.size(), 18u);

  auto memo = m.FindComponent("MEMO1");
  ASSERT_TRUE(memo);
  EXPECT_EQ(memo->Kind(), ControlKind::Memo);
  EXPECT_EQ(memo->Strings("Lines"), (std::vector<std::string>{"Please read the following agreement.", "", "It's short."}));
  EXPECT_TRUE(memo->Boolean("ReadOnly"));
  EXPECT_EQ(memo->Tag(), 2);
  EXPECT_EQ(memo->Integer("MaxLength", -1), 0);  // not stored: the kind's default
  EXPECT_TRUE(memo->Boolean("Visible"));         // likewise
  EXPECT_EQ(memo->Hint(), "");

  auto edit = m.FindComponent("edit1");
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->Hint(), "TARGETDIR");
  EXPECT_EQ(edit->Integer("MaxLength"), 260);
  EXPECT_EQ(edit->String("Text"), "");
  EXPECT_FALSE(edit->HasProperty("Caption"));

  auto label = m.FindComponent("Label1");
  FontSpec font = label->Font();
  EXPECT_EQ(font.name, "MS Sans Serif");
  EXPECT_EQ(font.style, (std::vector<std::string>{"fsBold", "fsUnderline"}));
  EXPECT_TRUE(label->Boolean("Transparent"));

  auto image = m.FindComponent("Image1");
  ASSERT_TRUE(image->Graphic("Picture"));
  EXPECT_EQ(image->Graphic("Picture")->substr(0, 8), "\x07TBitmap");
  EXPECT_TRUE(m.FindComponent("BitBtn1")->Graphic("Glyph"));
  EXPECT_TRUE(InheritsFrom(ControlKind::BitBtn, ControlKind::Button));
  EXPECT_FALSE(InheritsFrom(ControlKind::Button, ControlKind::BitBtn));

  EXPECT_FALSE(m.FindComponent("WelcomeDialog"));  // the form is not one of its components
  EXPECT_FALSE(m.FindComponent(""));
}

TEST(FormModel, UnknownClassesAndPropertiesAreKept) {
  FormModel m = FormModel::FromText(ReadFileBytes(std::string(KEM_FORMS_DATA) + "/pages.txt"), "pages.txt");
  EXPECT_EQ(m.UnregisteredClasses(), (std::vector<std::string>{"TRFDesignerHelper"}));
  auto animate = m.FindComponent("Animate1");
  EXPECT_EQ(animate->GetText("StopFrame"), "34");  // outside the known properties, still readable
  EXPECT_TRUE(animate->SetText("StopFrame", "12"));
  EXPECT_EQ(animate->Integer("StopFrame"), 12);
  EXPECT_FALSE(animate->SetText("StopFrame", "many"));
  FormModel again = FormModel::FromBinary(m.ToBinary(), "pages.dfm");
  EXPECT_EQ(again.FindComponent("Animate1")->Integer("StopFrame"), 12);
  EXPECT_TRUE(again.FindComponent("TreeView1")->Stored("Items.NodeData"));
}

// Every stored property of the fixture read as text and set from that text again keeps its
// value: the property texts round-trip the form file's own values.
TEST(PropertyText, RoundTripsEveryStoredValue) {
  for (const char* file : {"welcome.txt", "pages.txt"}) {
    FormModel m = FormModel::FromText(ReadFileBytes(std::string(KEM_FORMS_DATA) + "/" + file), file);
    std::vector<Control> all = m.Components();
    all.push_back(m.Form());
    for (auto& c : all) {
      for (const auto& p : std::vector<Property>(c.Object().properties)) {
        auto text = c.GetText(p.name);
        ASSERT_TRUE(text) << c.Name() << "." << p.name;
        ASSERT_TRUE(c.SetText(p.name, *text)) << c.Name() << "." << p.name << " = " << *text;
        EXPECT_EQ(*c.Stored(p.name), p.value) << c.Name() << "." << p.name << " = " << *text;
      }
    }
  }
}

TEST(PropertyText, ConversionsByType) {
  FormModel m = Welcome();
  Control edit = *m.FindComponent("Edit1");
  Control combo = *m.FindComponent("ComboBox1");
  Control panel = *m.FindComponent("Panel1");
  struct Case {
    Control* control;
    const char* property;
    const char* text;
    bool accepted;
    const char* readBack;
  } cases[] = {
      {&edit, "Enabled", "false", true, "False"},
      {&edit, "Enabled", "TRUE", true, "True"},
      {&edit, "Enabled", "0", true, "False"},
      {&edit, "Enabled", "Maybe", false, "False"},
      {&edit, "Left", "-12", true, "-12"},
      {&edit, "Left", "$10", true, "16"},
      {&edit, "Left", "12px", false, "16"},
      {&edit, "Left", "", false, "16"},
      {&edit, "Text", "C:\\Program Files\\App", true, "C:\\Program Files\\App"},
      {&edit, "Text", "", true, ""},
      {&combo, "Style", "csdropdown", true, "csDropDown"},
      {&combo, "Style", "2", true, "csDropDownList"},
      {&combo, "Style", "csNothing", false, "csDropDownList"},
      {&panel, "Anchors", "[akLeft, akBottom]", true, "[akLeft,akBottom]"},
      {&panel, "Anchors", "akRight", true, "[akRight]"},
      {&panel, "Anchors", "[]", true, "[]"},
      {&panel, "Anchors", "[akNowhere]", false, "[]"},
      {&panel, "Color", "clred", true, "clRed"},
      {&panel, "Color", "255", true, "255"},
      {&panel, "Color", "reddish", false, "255"},
      {&combo, "Items", "One\r\nTwo", true, "One\r\nTwo"},
      {&edit, "Font.Charset", "ANSI_CHARSET", true, "ANSI_CHARSET"},
      {&edit, "Font.Charset", "238", true, "238"},
      {&edit, "Name", "Renamed", false, "Edit1"},
      {&edit, "NoSuchProperty", "1", false, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.control->SetText(c.property, c.text), c.accepted) << c.property << " := " << c.text;
    auto back = c.control->GetText(c.property);
    if (c.readBack) {
      EXPECT_EQ(back, c.readBack) << c.property << " := " << c.text;
    } else {
      EXPECT_FALSE(back) << c.property;
    }
  }
  // A property set by text is stored under its stored name and survives the binary form.
  FormModel again = FormModel::FromBinary(m.ToBinary(), "w.dfm");
  EXPECT_EQ(again.FindComponent("ComboBox1")->Strings("Items"), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(again.FindComponent("Edit1")->Integer("Left"), 16);
}

TEST(ControlRules, ParseLines) {
  struct Case {
    const char* line;
    std::optional<ControlRule> rule;
  } cases[] = {
      {"IF (Memo1.MaxLength = 2147483647)  THEN  RadioButton1.Enabled := True;",
       ControlRule{"Memo1", "MaxLength", false, "2147483647", "RadioButton1", "Enabled", "True"}},
      {"IF (Edit1.Text <> )  THEN  Button1.Enabled := False;",
       ControlRule{"Edit1", "Text", true, "", "Button1", "Enabled", "False"}},
      {"IF (Edit1.Text = Edit2.Text)  THEN  Label1.Caption := Edit1.Text;\r",
       ControlRule{"Edit1", "Text", false, "Edit2.Text", "Label1", "Caption", "Edit1.Text"}},
      // The operator is looked for in the condition only; value B runs to the last ';'.
      {"IF (Edit1.Text = x)  THEN  Label1.Caption := a <> b; c;",
       ControlRule{"Edit1", "Text", false, "x", "Label1", "Caption", "a <> b; c"}},
      {"IF (Panel1.Font.Color = clRed)  THEN  Label1.Font.Style := [fsBold]",
       ControlRule{"Panel1", "Font.Color", false, "clRed", "Label1", "Font.Style", "[fsBold]"}},
      {"", std::nullopt},
      {"IF (", std::nullopt},
      {"IF (Memo1.MaxLength = 1) THEN RadioButton1.Enabled := True;", std::nullopt},  // single blanks
      {"IF (Memo1MaxLength = 1)  THEN  RadioButton1.Enabled := True;", std::nullopt},
      {"IF (Memo1.MaxLength = 1)  THEN  RadioButton1.Enabled = True;", std::nullopt},
  };
  for (const auto& c : cases) {
    auto r = ParseRuleLine(c.line);
    ASSERT_EQ(r.has_value(), c.rule.has_value()) << c.line;
    if (!r) continue;
    EXPECT_EQ(r->controlA, c.rule->controlA) << c.line;
    EXPECT_EQ(r->propertyA, c.rule->propertyA) << c.line;
    EXPECT_EQ(r->notEqual, c.rule->notEqual) << c.line;
    EXPECT_EQ(r->valueA, c.rule->valueA) << c.line;
    EXPECT_EQ(r->controlB, c.rule->controlB) << c.line;
    EXPECT_EQ(r->propertyB, c.rule->propertyB) << c.line;
    EXPECT_EQ(r->valueB, c.rule->valueB) << c.line;
  }
  EXPECT_EQ(ParseRules("IF (A.B = 1)  THEN  C.D := 2;\r\n\r\nnonsense\nIF (E.F <> 3)  THEN  G.H := 4;").size(), 2u);
}

// Each case applies its rules to a fresh copy of the welcome form and reads one property.
TEST(ControlRules, ApplyToTheModel) {
  struct Case {
    const char* label;
    std::string rules;
    const char* control;
    const char* property;
    const char* expected;
  } cases[] = {
      {"scroll end not reached", "IF (Memo1.MaxLength = 2147483647)  THEN  RzRadioButton1.Enabled := True;",
       "RzRadioButton1", "Enabled", "False"},
      {"scroll end reached",
       "IF (Edit1.Tag = 2)  THEN  Memo1.MaxLength := 2147483647;\n"
       "IF (Memo1.MaxLength = 2147483647)  THEN  RzRadioButton1.Enabled := True;",
       "RzRadioButton1", "Enabled", "True"},
      {"not equal holds", "IF (Edit1.Hint <> SOMETHING)  THEN  Button1.Caption := Changed;", "Button1", "Caption",
       "Changed"},
      {"not equal fails", "IF (Edit1.Hint <> TARGETDIR)  THEN  Button1.Caption := Changed;", "Button1", "Caption",
       "&Next >"},
      {"comparison is exact", "IF (Edit1.Hint = targetdir)  THEN  Button1.Caption := Changed;", "Button1", "Caption",
       "&Next >"},
      {"names without regard to case", "IF (rzcheckbox1.CHECKED = True)  THEN  button1.caption := Yes;", "Button1",
       "Caption", "Yes"},
      {"value A references a control", "IF (Edit1.MaxLength = Edit1.MaxLength)  THEN  Edit1.Text := same;", "Edit1",
       "Text", "same"},
      {"value B references a control", "IF (Edit1.Tag = 2)  THEN  Edit1.Text := Label1.Caption;", "Edit1", "Text",
       "Install to $TARGETDIR$"},
      {"reference to a missing control is kept as written", "IF (Edit1.Tag = 2)  THEN  Edit1.Text := 1.5;", "Edit1",
       "Text", "1.5"},
      {"missing control A reads as empty", "IF (Nothing.Text = )  THEN  Edit1.Text := empty;", "Edit1", "Text",
       "empty"},
      {"missing control B is skipped", "IF (Edit1.Tag = 2)  THEN  Nothing.Text := x;\nIF (Edit1.Tag = 2)  THEN  Edit1.Text := after;",
       "Edit1", "Text", "after"},
      {"missing property B is skipped", "IF (Edit1.Tag = 2)  THEN  Edit1.Caption := x;", "Edit1", "Text", ""},
      {"value that does not convert is skipped", "IF (Edit1.Tag = 2)  THEN  Edit1.Enabled := Maybe;", "Edit1",
       "Enabled", "True"},
      {"default of an unstored property", "IF (Label1.Visible = True)  THEN  Label1.Caption := shown;", "Label1",
       "Caption", "shown"},
      {"later rules see earlier ones",
       "IF (Edit1.Tag = 2)  THEN  Edit1.Text := a;\nIF (Edit1.Text = a)  THEN  Edit1.Text := b;", "Edit1", "Text",
       "b"},
      {"enumeration identifiers", "IF (ComboBox1.Style = csDropDownList)  THEN  ComboBox1.Style := csSimple;",
       "ComboBox1", "Style", "csSimple"},
  };
  for (const auto& c : cases) {
    FormModel m = Welcome();
    ModelPropertyAccess access(m);
    ApplyRules(ParseRules(c.rules), access);
    EXPECT_EQ(m.FindComponent(c.control)->GetText(c.property), c.expected) << c.label;
  }
}

TEST(ControlRules, RulesOnMissingControlsLeaveTheFormUnchanged) {
  FormModel m = Welcome();
  std::string before = m.ToBinary();
  ModelPropertyAccess access(m);
  ApplyRules(ParseRules("IF (Ghost.Enabled = True)  THEN  Ghost.Enabled := False;\n"
                        "IF (Edit1.Ghost = )  THEN  Edit1.Ghost := 1;"),
             access);
  EXPECT_EQ(m.ToBinary(), before);
}

TEST(ControlRules, RulesFile) {
  auto dir = std::filesystem::temp_directory_path() / ("kem_rules_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "welcome.dfm.kemf").string();
  std::ofstream(path, std::ios::binary) << "IF (Memo1.MaxLength = 2147483647)  THEN  RadioButton1.Enabled := True;\r\n";
  EXPECT_EQ(LoadRulesFile(path).size(), 1u);
  EXPECT_THROW(LoadRulesFile((dir / "missing.kemf").string()), FormError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kem::forms
