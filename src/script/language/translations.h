// The product's translations: four line-aligned files in the support folder ("<title>.mtx"
// keys, "translations.Map" dialog names, "translations.Original" texts as written,
// "translations.<language>" texts in that language) and the two look-ups over them.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/string_list.h"

namespace kem {

// The lines of a translation or language file: CR LF or LF line ends; a last line
// without a line end counts, an empty file has no lines.
std::vector<std::string> TranslationLines(std::string_view text);

// A language name that can name a file in the support folder: not empty, no folder
// separator, drive colon or parent step.
bool UsableLanguageName(std::string_view language);

// The key of a "Localization Variable" text.
std::string LocalizationKey(std::string_view variableName);

class Translations {
 public:
  // Replaces the four lists.
  void Load(std::string_view mapText, std::string_view languageText, std::string_view originalText,
            std::string_view keysText);
  void Clear();
  std::size_t Count() const { return keys_.Count(); }

  // The translation of a statement text: text k (1-based) of the statement whose key is
  // given. mode is the value of "#LOCMODE#" ("NEWONLY" when undefined): "VARSONLY"
  // translates the "Localization Variable" keys only; "NEWONLY" keeps a text that differs
  // from the original (the script changed it). A key not found, an entry past the end of
  // any list or an entry keyed for another statement leaves the text unchanged.
  // expandCompilerVars is applied to the translation.
  std::string TranslateStatement(std::string_view text, std::string_view key, int k, std::string_view mode,
                                 const std::function<std::string(std::string_view)>& expandCompilerVars) const;

  // The translation of a dialog text: the first entry whose dialog is the given one (the
  // dialog's file name, with or without ".dfm") and whose key is the control's name (the
  // dialog's own name for its caption); nullopt when there is none or it is empty.
  std::optional<std::string> TranslateDialog(std::string_view dialog, std::string_view control) const;

 private:
  static std::string DialogKey(std::string_view dialog, std::string_view control);

  std::vector<std::string> map_, language_, original_;
  HashedStringList keys_;
  std::unordered_map<std::string, std::size_t> dialogIndex_;
};

}  // namespace kem
