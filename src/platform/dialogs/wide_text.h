// The page's texts between the setup's code page and the wide forms the window calls take.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/text.h"

namespace kem::platform {

inline std::wstring Wide(std::string_view text, std::uint32_t codePage) {
  std::u16string w = AnsiToUtf16(text, codePage);
  return std::wstring(w.begin(), w.end());
}

inline std::string Narrow(std::wstring_view text, std::uint32_t codePage) {
  return Utf16ToAnsi(std::u16string(text.begin(), text.end()), codePage);
}

}  // namespace kem::platform
