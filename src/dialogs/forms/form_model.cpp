#include "dialogs/forms/form_model.h"

#include "common/text.h"
#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_text.h"
#include "dialogs/forms/property_text.h"

namespace kem::forms {

namespace {

Property* FindStored(FormObject& o, std::string_view name, const PropertyInfo* info) {
  for (auto& p : o.properties) {
    if (SameText(p.name, name) || (info && !info->storedName.empty() && SameText(p.name, info->storedName))) {
      return &p;
    }
  }
  return nullptr;
}

void CollectComponents(FormObject& o, std::vector<Control>& out) {
  for (auto& c : o.children) {
    out.emplace_back(c, KindOfClass(c.className));
    CollectComponents(c, out);
  }
}

void CollectUnregistered(const FormObject& o, std::vector<std::string>& out) {
  for (const auto& c : o.children) {
    if (KindOfClass(c.className) == ControlKind::Unknown) out.push_back(c.className);
    CollectUnregistered(c, out);
  }
}

}  // namespace

const PropertyInfo* Control::Info(std::string_view property) const { return FindPropertyInfo(kind_, property); }

const Value* Control::Stored(std::string_view property) const {
  const Property* p = FindStored(*obj_, property, Info(property));
  return p ? &p->value : nullptr;
}

bool Control::HasProperty(std::string_view property) const {
  return Info(property) != nullptr || Stored(property) != nullptr;
}

std::optional<Value> Control::Get(std::string_view property) const {
  const PropertyInfo* info = Info(property);
  if (info && SameText(info->name, "Name")) return Value::Str(obj_->name);
  if (const Value* v = Stored(property)) return *v;
  if (!info) return std::nullopt;
  if (info->type == PropertyType::Strings) return Value::ListOf({});
  if (info->type == PropertyType::Graphic) return Value::Bytes({});
  return PropertyTextToValue(info->defaultText, info, nullptr);
}

void Control::Set(std::string_view property, Value value) {
  const PropertyInfo* info = Info(property);
  if (Property* p = FindStored(*obj_, property, info)) {
    p->value = std::move(value);
    return;
  }
  std::string name = info ? std::string(info->storedName.empty() ? info->name : info->storedName)
                          : std::string(property);
  obj_->properties.push_back(Property{std::move(name), std::move(value)});
}

std::optional<std::string> Control::GetText(std::string_view property) const {
  auto v = Get(property);
  if (!v) return std::nullopt;
  return ValueToPropertyText(*v);
}

bool Control::SetText(std::string_view property, std::string_view text) {
  const PropertyInfo* info = Info(property);
  if (info && SameText(info->name, "Name")) return false;
  const Value* current = Stored(property);
  if (!info && !current) return false;
  auto v = PropertyTextToValue(text, info, current);
  if (!v) return false;
  Set(property, std::move(*v));
  return true;
}

std::string Control::String(std::string_view property, std::string_view fallback) const {
  auto v = Get(property);
  if (!v || !v->IsString()) return std::string(fallback);
  return v->NarrowText();
}

std::int64_t Control::Integer(std::string_view property, std::int64_t fallback) const {
  auto v = Get(property);
  if (!v || !v->IsInteger()) return fallback;
  return v->integer;
}

bool Control::Boolean(std::string_view property, bool fallback) const {
  auto v = Get(property);
  if (!v || !v->IsBoolean()) return fallback;
  return v->kind == ValueKind::True;
}

std::string Control::Identifier(std::string_view property, std::string_view fallback) const {
  auto v = Get(property);
  if (!v || v->kind != ValueKind::Ident) return std::string(fallback);
  return v->text;
}

std::vector<std::string> Control::SetElements(std::string_view property) const {
  auto v = Get(property);
  if (!v || v->kind != ValueKind::Set) return {};
  return v->names;
}

std::vector<std::string> Control::Strings(std::string_view property) const {
  auto v = Get(property);
  std::vector<std::string> out;
  if (!v || v->kind != ValueKind::List) return out;
  for (const auto& item : v->items) out.push_back(ValueToPropertyText(item));
  return out;
}

std::optional<std::string> Control::Graphic(std::string_view property) const {
  const Value* v = Stored(property);
  if (!v || v->kind != ValueKind::Binary) return std::nullopt;
  return v->text;
}

FontSpec Control::Font() const {
  FontSpec f;
  f.name = String("Font.Name", "MS Sans Serif");
  f.height = Integer("Font.Height", -11);
  f.color = GetText("Font.Color").value_or("clWindowText");
  f.style = SetElements("Font.Style");
  f.charset = GetText("Font.Charset").value_or("DEFAULT_CHARSET");
  return f;
}

FormModel FormModel::LoadFile(const std::string& path) { return FormModel(LoadFormFile(path)); }

FormModel FormModel::FromBinary(std::string_view bytes, std::string_view fileName) {
  return FormModel(ReadBinaryForm(bytes, fileName));
}

FormModel FormModel::FromText(std::string_view text, std::string_view fileName) {
  return FormModel(ParseTextForm(text, fileName));
}

std::string FormModel::ToBinary() const { return WriteBinaryForm(root_); }
std::string FormModel::ToText() const { return FormToText(root_); }

Control FormModel::Form() { return Control(root_, ControlKind::Form); }

std::vector<Control> FormModel::Components() {
  std::vector<Control> out;
  CollectComponents(root_, out);
  return out;
}

std::optional<Control> FormModel::FindComponent(std::string_view name) {
  if (name.empty()) return std::nullopt;
  for (auto& c : Components()) {
    if (SameText(c.Name(), name)) return c;
  }
  return std::nullopt;
}

std::vector<std::string> FormModel::UnregisteredClasses() const {
  std::vector<std::string> out;
  CollectUnregistered(root_, out);
  return out;
}

}  // namespace kem::forms
