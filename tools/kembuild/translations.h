// The product's translation files, generated from one translation source per language.
//
// A source (UTF-8 text, named in the manifest's [translations] section) holds one entry
// per line: key, original text and translation, separated by tabs. The key is
// "{ID}/k" for text k of a statement (its translatable parameters in order) and
// "var:NAME" for a "Localization Variable" of NAME. Empty lines and lines starting with
// "#" are ignored; "kembuild translations" writes a stale entry (the script's text is no
// longer its original) after a "# stale" line.
//
// From the script and the sources the build makes four line-aligned support files, the
// same entries in the same order for every language: TITLE.mtx (keys), translations.Map
// (dialog names, empty for statement texts), translations.Original (the texts as written)
// and translations.LANGUAGE; plus shared.translations.LANGUAGE from a message file when the
// manifest names one.
#pragma once

#include <string>
#include <vector>

#include "kembuild/project.h"

namespace kem {
struct SetupData;
}

namespace kem::builder {

class CodePage;

// One translatable text of the script.
struct TranslatableText {
  std::string sourceKey;  // "{ID}/k" or "var:NAME" (UTF-8 as the source writes it)
  std::string key;        // the engine's key: the statement ID or ZOZADORU$NAME$ZOZADORU
  std::string map;        // dialog name; empty for statement texts
  std::string original;   // in the setup's code page
};

// The translatable texts of the compiled script, in script order (commented-out
// statements have none).
std::vector<TranslatableText> TranslatableTexts(const SetupData& data);

struct GeneratedFile {
  std::string name;
  std::string bytes;
};

// The translation files of the project. Errors (unusable names, unreadable or malformed
// sources, duplicate keys) go to errors, doubts (untranslated, stale, orphaned entries) to
// warnings. Nothing when the manifest names no translation.
std::vector<GeneratedFile> TranslationFiles(const Project& project, const SetupData& data,
                                            std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings);

// "kembuild translations": the translator's source of language, written anew from the
// script: every text with its translation where the old source has one for the same
// original, stale entries marked, new ones with an empty translation.
std::string UpdatedTranslationSource(const Project& project, const SetupData& data, const std::string& language,
                                     const std::string& oldSource);

}  // namespace kem::builder
