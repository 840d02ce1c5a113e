#include <windows.h>

#include "platform/text/text.h"

namespace kem::platform {

bool CodePageHolds(std::u16string_view text, std::uint32_t codePage) {
  if (text.empty()) return true;
  const UINT cp = codePage ? codePage : CP_ACP;
  if (cp == CP_UTF8 || cp == CP_UTF7) return true;
  auto wide = reinterpret_cast<const wchar_t*>(text.data());
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(text.size()), nullptr, 0, nullptr,
                              &usedDefault);
  return n > 0 && !usedDefault;
}

}  // namespace kem::platform
