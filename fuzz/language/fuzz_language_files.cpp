// The language readers over arbitrary bytes. The input is split at NUL bytes: the first
// part is read as a language file into the message table (the second part names the
// user's language), and the parts are read as the four translation files, then looked up.
// Findings: a crash, a message text holding a line end, a translation that is neither the
// text itself nor a line of the language file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/message_table.h"
#include "script/language/translations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  for (std::size_t pos = 0;;) {
    std::size_t nul = input.find('\0', pos);
    parts.push_back(input.substr(pos, nul == std::string_view::npos ? std::string_view::npos : nul - pos));
    if (nul == std::string_view::npos) break;
    pos = nul + 1;
  }
  while (parts.size() < 4) parts.emplace_back();

  kem::MessageTable table;
  table.Load(parts[0], parts[1]);
  for (int n = 0; n <= kem::kMessageCount + 1; ++n)
    if (table.Get(n).find('\n') != std::string::npos) std::abort();

  kem::Translations t;
  t.Load(parts[0], parts[1], parts[2], parts[3]);
  const std::vector<std::string> keys = kem::TranslationLines(parts[3]);
  const std::vector<std::string> language = kem::TranslationLines(parts[1]);
  const std::vector<std::string> map = kem::TranslationLines(parts[0]);
  auto isLanguageLine = [&](const std::string& s) {
    for (const auto& l : language)
      if (l == s) return true;
    return false;
  };
  for (std::size_t i = 0; i < keys.size() && i < 64; ++i) {
    for (int k = 0; k <= 3; ++k) {
      for (const char* mode : {"NEWONLY", "VARSONLY", "ALL"}) {
        const std::string text = i < keys.size() ? keys[i] : std::string();
        std::string r = t.TranslateStatement(text, keys[i], k, mode, nullptr);
        if (r != text && !isLanguageLine(r)) std::abort();
      }
    }
    if (i < map.size()) {
      auto r = t.TranslateDialog(map[i], keys[i]);
      if (r && !isLanguageLine(*r)) std::abort();
    }
  }
  return 0;
}
