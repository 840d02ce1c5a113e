// The text form of a form stream, as authors write it:
//
//   object WelcomeDialog: TPoolTemplate
//     Caption = 'Welcome'
//     object Label1: TLabel
//       Caption = 'Install to $TARGETDIR$'
//     end
//   end
//
// Texts are single-byte (ANSI); characters outside 32..126 are written as #N codes, and a
// string holding a #N code above 255 is a wide string.
#pragma once

#include <string>
#include <string_view>

#include "dialogs/forms/form_value.h"

namespace kem::forms {

// Renders a form in the text form (lines end with CR LF).
std::string FormToText(const FormObject& root);

// Parses a text form. Throws FormError "fileName:line: message".
FormObject ParseTextForm(std::string_view text, std::string_view fileName);

// Text of one value as the text form writes it (used by messages and tests).
std::string ValueToText(const Value& value);

// Formats and parses floating-point numbers the way the text form does: the shortest
// text that reads back to the same number, always with a point or an exponent.
std::string FormatReal(double v);
std::string FormatSingle(float v);

}  // namespace kem::forms
