// The component model of a dialog form: the root form and the tree of its components with
// their published properties as typed values, read by the dialog runtime to build windows
// and by control rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/forms/control_kinds.h"
#include "dialogs/forms/form_value.h"

namespace kem::forms {

struct FontSpec {
  std::string name;
  std::int64_t height = -11;  // negative: character height in pixels
  std::string color;          // colour text (identifier or integer), see ColorNumber
  std::vector<std::string> style;  // fsBold, fsItalic, fsUnderline, fsStrikeOut
  std::string charset;        // identifier (DEFAULT_CHARSET) or integer text
};

// A view of one object of the tree (the form or one of its components) with its kind.
// Views stay valid while the tree's structure (the objects, not their properties) is
// unchanged.
class Control {
 public:
  Control(FormObject& object, ControlKind kind) : obj_(&object), kind_(kind) {}

  FormObject& Object() const { return *obj_; }
  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return obj_->name; }
  const std::string& ClassName() const { return obj_->className; }

  // The stored value of a property (published or stored name, any letter case), or null.
  const Value* Stored(std::string_view property) const;
  // The property's schema entry for this kind, or null for properties outside it.
  const PropertyInfo* Info(std::string_view property) const;
  // True when the property is one of the kind's or is stored in the file.
  bool HasProperty(std::string_view property) const;

  // Current value: the stored one, else the kind's default; nullopt when the control has
  // no such property.
  std::optional<Value> Get(std::string_view property) const;
  // Stores a value (replacing a stored one, else appending under the stored name).
  void Set(std::string_view property, Value value);

  // Property texts as rules use them; nullopt for a missing property. SetText returns
  // false (and changes nothing) when the property is missing, is Name, or the text does
  // not convert.
  std::optional<std::string> GetText(std::string_view property) const;
  bool SetText(std::string_view property, std::string_view text);

  // Typed reads with the kind's defaults; fallback when missing or of another type.
  std::string String(std::string_view property, std::string_view fallback = {}) const;
  std::int64_t Integer(std::string_view property, std::int64_t fallback = 0) const;
  bool Boolean(std::string_view property, bool fallback = false) const;
  std::string Identifier(std::string_view property, std::string_view fallback = {}) const;
  std::vector<std::string> SetElements(std::string_view property) const;
  std::vector<std::string> Strings(std::string_view property) const;  // "Lines", "Items"
  std::optional<std::string> Graphic(std::string_view property) const;  // "Picture", "Glyph"
  FontSpec Font() const;

  // Common shortcuts.
  std::string Caption() const { return String("Caption"); }
  std::string Hint() const { return String("Hint"); }
  std::int64_t Tag() const { return Integer("Tag"); }

 private:
  FormObject* obj_;
  ControlKind kind_;
};

class FormModel {
 public:
  FormModel() = default;
  explicit FormModel(FormObject root) : root_(std::move(root)) {}

  // Loading; errors are FormError naming the file.
  static FormModel LoadFile(const std::string& path);
  static FormModel FromBinary(std::string_view bytes, std::string_view fileName);
  static FormModel FromText(std::string_view text, std::string_view fileName);

  std::string ToBinary() const;
  std::string ToText() const;

  FormObject& Root() { return root_; }
  const FormObject& Root() const { return root_; }

  // The dialog form itself (kind Form).
  Control Form();
  // Every component below the form, in stream order (parents before their children),
  // each with the kind of its class.
  std::vector<Control> Components();
  // The component with this name, without regard to case (the form itself excluded).
  std::optional<Control> FindComponent(std::string_view name);

  // Classes below the form that are not registered control kinds.
  std::vector<std::string> UnregisteredClasses() const;

 private:
  FormObject root_;
};

}  // namespace kem::forms
