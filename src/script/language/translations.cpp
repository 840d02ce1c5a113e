#include "script/language/translations.h"

#include <algorithm>

#include "common/text.h"

namespace kem {

std::vector<std::string> TranslationLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t e = text.find('\n', pos);
    std::string_view line = e == std::string_view::npos ? text.substr(pos) : text.substr(pos, e - pos);
    pos = e == std::string_view::npos ? text.size() : e + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
  }
  return lines;
}

bool UsableLanguageName(std::string_view language) {
  if (language.empty()) return false;
  if (language.find_first_of("\\/:") != std::string_view::npos) return false;
  return language.find("..") == std::string_view::npos;
}

std::string LocalizationKey(std::string_view variableName) {
  return "ZOZADORU$" + std::string(variableName) + "$ZOZADORU";
}

namespace {

// Upper case without a ".dfm" ending: a dialog is named with or without it, and the
// dialog's own caption is keyed by that name.
std::string DialogName(std::string_view name) {
  std::string d = UpperCase(name);
  if (d.size() > 4 && d.compare(d.size() - 4, 4, ".DFM") == 0) d.resize(d.size() - 4);
  return d;
}

}  // namespace

std::string Translations::DialogKey(std::string_view dialog, std::string_view control) {
  return DialogName(dialog) + '\n' + DialogName(control);
}

void Translations::Clear() {
  map_.clear();
  language_.clear();
  original_.clear();
  keys_.Clear();
  dialogIndex_.clear();
}

void Translations::Load(std::string_view mapText, std::string_view languageText, std::string_view originalText,
                        std::string_view keysText) {
  Clear();
  map_ = TranslationLines(mapText);
  language_ = TranslationLines(languageText);
  original_ = TranslationLines(originalText);
  keys_ = HashedStringList(TranslationLines(keysText));
  const std::size_t n = std::min(map_.size(), keys_.Count());
  dialogIndex_.reserve(n);
  // Statement texts have no dialog: only dialog entries are indexed.
  for (std::size_t i = 0; i < n; ++i)
    if (!map_[i].empty()) dialogIndex_.try_emplace(DialogKey(map_[i], keys_[i]), i);
}

std::string Translations::TranslateStatement(
    std::string_view text, std::string_view key, int k, std::string_view mode,
    const std::function<std::string(std::string_view)>& expandCompilerVars) const {
  if (mode.size() == 8 && SameText(mode, "VARSONLY") &&
      (key.find("ZOZADORU$") == std::string_view::npos || key.find("$ZOZADORU") == std::string_view::npos))
    return std::string(text);
  const std::ptrdiff_t m = keys_.IndexOf(key);
  if (m < 0 || k < 1) return std::string(text);
  const std::size_t entry = static_cast<std::size_t>(m) + static_cast<std::size_t>(k) - 1;
  // An entry outside any list, or one that belongs to another statement, is no translation
  // of this text.
  if (entry >= keys_.Count() || entry >= language_.size() || entry >= original_.size()) return std::string(text);
  if (!SameText(keys_[entry], key)) return std::string(text);
  if (SameText(mode, "NEWONLY") && text != original_[entry]) return std::string(text);
  const std::string& translated = language_[entry];
  if (!expandCompilerVars || translated.find('#') == std::string::npos) return translated;
  return expandCompilerVars(translated);
}

std::optional<std::string> Translations::TranslateDialog(std::string_view dialog, std::string_view control) const {
  auto it = dialogIndex_.find(DialogKey(dialog, control));
  if (it == dialogIndex_.end() || it->second >= language_.size() || language_[it->second].empty())
    return std::nullopt;
  return language_[it->second];
}

}  // namespace kem
