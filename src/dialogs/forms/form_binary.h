// The binary form stream: an optional resource header, the signature "TPF0", then the
// root object with its properties and children.
#pragma once

#include <string>
#include <string_view>

#include "dialogs/forms/form_value.h"

namespace kem::forms {

// Deepest nesting of objects, lists and collections accepted by the reader and the text
// parser; deeper input is rejected as malformed.
constexpr int kMaxFormDepth = 64;

// Reads a form from memory. The data may start with a form resource header or directly
// with "TPF0". Throws FormError naming fileName, the fault and its byte offset.
FormObject ReadBinaryForm(std::string_view bytes, std::string_view fileName);

// Reads a whole file into memory; throws FormError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// ReadBinaryForm over a file's contents.
FormObject LoadFormFile(const std::string& path);

// Writes a form as a binary stream, with a form resource header (named after the root
// class, upper-cased) unless withResourceHeader is false. Throws FormError for values
// that the encoding cannot hold (an identifier longer than 255 bytes).
std::string WriteBinaryForm(const FormObject& root, bool withResourceHeader = true);

// Conversions of the 80-bit extended floating-point format (little-endian).
double ExtendedToDouble(const unsigned char bytes[10]);
void DoubleToExtended(double v, unsigned char bytes[10]);

}  // namespace kem::forms
