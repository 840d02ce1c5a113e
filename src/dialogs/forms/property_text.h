// Property texts: the single-text form of a property value that control rules compare and
// assign ("True", "False", decimal integers, enumeration identifiers, strings). A value
// read from a form file, turned into its text and set again, gives back the same value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dialogs/forms/control_kinds.h"
#include "dialogs/forms/form_value.h"

namespace kem::forms {

// Integers in decimal, booleans "True"/"False", identifiers as written, strings as they
// are, sets "[a,b]", string lists as their lines joined by CR LF, binary data in
// hexadecimal, floating point in the shortest exact form, nil as the empty text.
std::string ValueToPropertyText(const Value& value);

// Converts a property text into a value of the property's type (info), or, for a
// property outside the known ones, of the kind of its current value. Booleans accept
// True/False without regard to case and integers; enumerations and sets accept their
// identifiers without regard to case (stored in their declared spelling) or an ordinal;
// integers accept decimal and $hexadecimal. nullopt when the text does not convert.
std::optional<Value> PropertyTextToValue(std::string_view text, const PropertyInfo* info,
                                         const Value* current);

// Decimal or $hexadecimal integer with an optional sign, nothing else around it.
std::optional<std::int64_t> ParseIntegerText(std::string_view text);

// The numeric value of a colour: an integer, or a colour identifier (clRed = 0x0000FF,
// clBtnFace = 0x8000000F as a system colour). nullopt for an unknown identifier.
std::optional<std::int64_t> ColorNumber(std::string_view text);

}  // namespace kem::forms
