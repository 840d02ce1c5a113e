// The product's translation files, generated from one translation source per language.
//
// A source (UTF-8 text, named in the manifest's [translations] section) holds one entry
// per line: key, original text and translation, separated by tabs. The key is
// "{ID}/k" for text k of a statement (its translatable parameters in order),
// "var:NAME" for a "Localization Variable" of NAME, "dialog:NAME/CONTROL" for the caption
// or text of a control of dialog NAME and "dialog:NAME" for the dialog's own caption. Empty lines and lines starting with
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
namespace forms {
struct FormObject;
}
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

// A caption or text of a dialog (single-line texts only), in the setup's code page.
struct DialogText {
  std::string dialog;   // the dialog's name (its form file without ".dfm")
  std::string control;  // empty for the dialog's own caption
  std::string text;
};

// The translatable texts of a dialog form: the form's caption, and each control's Caption
// and Text, in form order.
std::vector<DialogText> DialogTexts(const std::string& dialogName, const forms::FormObject& root);

// The translatable texts of the compiled script, in script order (commented-out
// statements have none), then those of the dialogs.
std::vector<TranslatableText> TranslatableTexts(const SetupData& data, const std::vector<DialogText>& dialogs = {});

struct GeneratedFile {
  std::string name;
  std::string bytes;
};

// The translation files of the project. Errors (unusable names, unreadable or malformed
// sources, duplicate keys) go to errors, doubts (untranslated, stale, orphaned entries) to
// warnings. Nothing when the manifest names no translation.
std::vector<GeneratedFile> TranslationFiles(const Project& project, const SetupData& data,
                                            const std::vector<DialogText>& dialogs, std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings);

// "kembuild translations": the translator's source of language, written anew from the
// script: every text with its translation where the old source has one for the same
// original, stale entries marked, new ones with an empty translation.
std::string UpdatedTranslationSource(const Project& project, const SetupData& data,
                                     const std::vector<DialogText>& dialogs, const std::string& language,
                                     const std::string& oldSource);

}  // namespace kem::builder
