// Form files from anywhere: the binary reader and the text parser must refuse bad input
// with a FormError, and whatever the reader accepts must survive writing and reading back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_model.h"
#include "dialogs/forms/form_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem::forms;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    FormObject form = ReadBinaryForm(bytes, "fuzz.dfm");
    std::string written = WriteBinaryForm(form);
    if (!(ReadBinaryForm(written, "rewritten.dfm") == form)) std::abort();
    FormModel model(form);
    for (auto& c : model.Components()) (void)c.GetText("Caption");
    try {
      (void)ParseTextForm(FormToText(form), "fuzz.txt");
    } catch (const FormError&) {
      // Property names from a binary file need not be valid identifiers of the text form.
    }
  } catch (const FormError&) {
  }
  try {
    (void)ParseTextForm(bytes, "fuzz.txt");
  } catch (const FormError&) {
  }
  return 0;
}
