// The control kinds a dialog form may use, and the published properties of each that the
// dialog runtime reads or a control rule may read or set, with their types and the
// values they have when the form file does not store them.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kem::forms {

enum class ControlKind {
  Unknown,  // a class outside the registered kinds (kept, never bound)
  Form,     // the dialog form itself (the root object)
  Label, Edit, Memo, Button, RzCheckBox, RzRadioButton, ListBox, ComboBox, GroupBox, Panel,
  BitBtn, SpeedButton, MaskEdit, Image, Shape, Bevel, StaticText, Gauge, PageControl, TabSheet,
  RichEdit, TrackBar, ProgressBar, UpDown, Animate, CheckListBox, TreeView, HTMLViewer,
  FileListBox, DirectoryListBox, DriveComboBox, FilterComboBox, PTShellTree, PTShellList,
  PTShellCombo, FlashFrame, RzFormShape, RzBmpButton, VistaGlass,
};

// The 39 registered control kinds, in registration order.
std::span<const ControlKind> RegisteredControlKinds();

// "TLabel" -> Label, compared without regard to case; Unknown for other classes. The root
// object's kind is Form whatever its class is called (see KindOfObject in form_model.h).
ControlKind KindOfClass(std::string_view className);
// Label -> "TLabel"; Form -> "TForm"; Unknown -> "".
std::string_view ClassNameOfKind(ControlKind kind);

// True when kind is base or derives from it among the registered kinds (a bitmap button
// is also a button). Used by the binding, which matches rows by kind and base kind.
bool InheritsFrom(ControlKind kind, ControlKind base);

// Kinds that are shown as designed and never bound.
bool IsNeverBound(ControlKind kind);

enum class PropertyType {
  Integer,
  Boolean,
  String,
  Enum,     // one identifier of a fixed list
  Set,      // identifiers of a fixed list, written [a,b]
  Color,    // a colour identifier (clBtnFace) or an integer
  Ident,    // a free identifier (a reference to another component)
  Strings,  // a string list, stored as NAME.Strings
  Graphic,  // picture data, stored as NAME.Data
  Real,
};

struct PropertyInfo {
  std::string_view name;          // published name, as rules write it ("Font.Color")
  PropertyType type;
  std::string_view defaultText;   // property text when the file does not store it
  std::span<const std::string_view> identifiers;  // Enum and Set elements
  std::string_view storedName;    // name in the form file when it differs ("Lines.Strings")
};

// The known properties of a kind, or nullptr. Names compare without regard to case; the
// stored name ("Lines.Strings") finds the property too.
const PropertyInfo* FindPropertyInfo(ControlKind kind, std::string_view name);
std::span<const PropertyInfo> PropertiesOfKind(ControlKind kind);

}  // namespace kem::forms
