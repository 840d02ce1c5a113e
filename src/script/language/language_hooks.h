// The language of a run: the choice at start (a small dialog lists the languages the
// support folder has translations for), the language remembered by an installed product,
// and the translation tables that follow the variable LANGUAGE.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kem {

class Interpreter;
struct InterpreterHooks;

// What the language choice needs of the machine; the Win32 half lives in
// platform/language.
class LanguageService {
 public:
  virtual ~LanguageService() = default;
  // Names (without folder) of the files in folder whose names start with prefix (letter
  // case ignored).
  virtual std::vector<std::string> ListFiles(const std::string& folder, const std::string& prefix) = 0;
  // The whole file; nullopt when it cannot be read.
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // The user default locale's language (for the message table) and default language
  // (for the selection dialog); 0 when the system does not say.
  virtual int UserLanguageId() = 0;
  virtual int UserDefaultLanguageId() = 0;
  // The system's English name of a language identifier; empty when it has none.
  virtual std::string EnglishLanguageName(int id) = 0;
  // The selection dialog: caption, label, OK and Cancel texts, the languages and the
  // preselected one. The chosen index, or nullopt for Cancel.
  struct Choice {
    std::string Caption, Label, Ok, Cancel;
    std::vector<std::string> Languages;
    std::size_t Preselected = 0;
  };
  virtual std::optional<std::size_t> ChooseLanguage(const Choice& choice) = 0;
};

// The file holding the language an installed product was set up in (cache folder +
// database base name + ".lan"); empty when there is none to look at.
using RememberedLanguageFile = std::function<std::string(Interpreter&)>;

// The languages available in the support folder: the endings of its "translations.*"
// files other than the Map and Original files and the shared message files, sorted
// without regard to case.
std::vector<std::string> AvailableLanguages(const std::vector<std::string>& fileNames);

// Plugs the languages into a run: the choice at start (after the other preparation, so
// after the switch properties are queued) and the reload when LANGUAGE changes; installs
// the context's statement and dialog translations. Chain it after the hooks that prepare
// the run.
void AddLanguageHooks(InterpreterHooks& hooks, std::shared_ptr<LanguageService> service,
                      RememberedLanguageFile rememberedLanguage);

}  // namespace kem
