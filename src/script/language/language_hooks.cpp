#include "script/language/language_hooks.h"

#include <algorithm>

#include "common/text.h"
#include "engine/engine_context.h"
#include "script/interpreter/interpreter.h"
#include "script/language/language_names.h"
#include "script/language/translations.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

// The marker of "no language loaded yet": it names no language.
constexpr std::string_view kNothingLoaded = "ZILCH";

struct LanguageState {
  std::shared_ptr<LanguageService> service;
  RememberedLanguageFile remembered;
  Translations tables;
  std::string loaded{kNothingLoaded};
};

std::string FirstLine(const std::string& text) {
  std::vector<std::string> lines = TranslationLines(text);
  return lines.empty() ? std::string() : lines.front();
}

std::string UserLanguageName(LanguageService& service, int id) {
  return LanguageNameOf(id, [&service](int i) { return service.EnglishLanguageName(i); });
}

void InstallLookups(EngineContext& ctx, const std::shared_ptr<LanguageState>& state) {
  // The context keeps the tables for as long as it may translate (no cycle: the state does
  // not hold the context).
  std::shared_ptr<LanguageState> shared = state;
  EngineContext* context = &ctx;
  // The compiler variables are fixed for the run: the mode is read once.
  std::string mode = ExpandCompilerVars(ctx.Data.CompilerVariables, "#LOCMODE#");
  if (mode == "#LOCMODE#") mode = "NEWONLY";
  ctx.SetTranslator([shared, context, mode](std::string_view text, std::string_view key, int k) {
    const HashedStringList& compilerVars = context->Data.CompilerVariables;
    return shared->tables.TranslateStatement(text, key, k, mode, [&compilerVars](std::string_view t) {
      return ExpandCompilerVars(compilerVars, t);
    });
  });
  ctx.SetDialogTranslator([shared](std::string_view dialog, std::string_view control) -> std::optional<std::string> {
    return shared->tables.TranslateDialog(dialog, control);
  });
}

// The choice at start: the available languages, the remembered one in maintenance, the
// dialog when the project asks for it. Returns false when the user cancelled.
bool ChooseAtStart(Interpreter& in, LanguageState& state) {
  EngineContext& ctx = in.Context();
  const SetupData& data = in.Data();
  const std::string& support = ctx.Startup.SupportFolder;
  TVariableManager& vars = in.Vars();
  std::string current;
  state.loaded = std::string(kNothingLoaded);
  state.tables.Clear();
  vars.SetVar("LANGUAGE", "", kOriginInitialization);
  if (!in.Machine().Files.FileExists(support + data.CompiledTitle + ".mtx")) return true;

  const std::vector<std::string> languages = AvailableLanguages(state.service->ListFiles(support, "translations."));
  auto find = [&languages](std::string_view name) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < languages.size(); ++i)
      if (SameText(languages[i], name)) return i;
    return std::nullopt;
  };
  if (!data.DefaultLanguage.empty() && find(data.DefaultLanguage)) current = data.DefaultLanguage;

  const std::string dbBase = [&] {
    std::string name = in.DatabasePath();
    if (auto p = name.find_last_of("\\/"); p != std::string::npos) name.erase(0, p + 1);
    if (auto dot = name.find_last_of('.'); dot != std::string::npos) name.resize(dot);
    return name;
  }();
  const bool patch = in.Machine().Files.FileExists(ctx.Startup.ProgramFolder + dbBase + ".msp");
  const bool maintenance = vars.Get("MAINTENANCE") == "TRUE";

  if (!languages.empty() && data.SelectLanguageAtStart && !maintenance && !patch) {
    std::size_t preselected = 0;
    const std::string user = UserLanguageName(*state.service, state.service->UserDefaultLanguageId());
    if (auto i = find(user))
      preselected = *i;
    else if (auto d = find(data.DefaultLanguage))
      preselected = *d;
    if (ctx.Startup.SilentMode) {
      current = languages[preselected];
    } else {
      LanguageService::Choice choice{ctx.Message(89), ctx.Message(90), ctx.Message(38), ctx.Message(39),
                                     languages, preselected};
      std::optional<std::size_t> chosen = state.service->ChooseLanguage(choice);
      if (!chosen || *chosen >= languages.size()) {
        ctx.Trace("      Language selection cancelled");
        return false;
      }
      current = languages[*chosen];
    }
  }

  if ((maintenance || patch) && state.remembered) {
    if (std::string path = state.remembered(in); !path.empty()) {
      if (std::optional<std::string> text = state.service->ReadFile(path)) current = FirstLine(*text);
    }
  }
  vars.SetVar("LANGUAGE", current, kOriginInitialization);
  return true;
}

// Loads the tables of a language named by LANGUAGE.
void LoadLanguage(Interpreter& in, LanguageState& state, const std::string& language) {
  if (language.empty() || language == state.loaded) return;
  state.loaded = language;
  state.tables.Clear();
  EngineContext& ctx = in.Context();
  // The name becomes part of file names: one that could reach outside the support folder
  // loads nothing.
  if (!UsableLanguageName(language)) {
    ctx.Trace("      Language " + language + " not loaded: not a file name");
    return;
  }
  const std::string& support = ctx.Startup.SupportFolder;
  LanguageService& service = *state.service;
  std::optional<std::string> map = service.ReadFile(support + "translations.Map");
  std::optional<std::string> texts = service.ReadFile(support + "translations." + language);
  std::optional<std::string> original = service.ReadFile(support + "translations.Original");
  std::optional<std::string> keys = service.ReadFile(support + in.Data().CompiledTitle + ".mtx");
  if (map && texts && original && keys)
    state.tables.Load(*map, *texts, *original, *keys);
  else
    ctx.Trace("      No translations for " + language);
  if (std::optional<std::string> shared = service.ReadFile(support + "shared.translations." + language))
    ctx.Messages.Load(*shared, UserLanguageName(service, service.UserLanguageId()));
}

}  // namespace

std::vector<std::string> AvailableLanguages(const std::vector<std::string>& fileNames) {
  std::vector<std::string> languages;
  for (const std::string& name : fileNames) {
    if (name.size() <= 13 || !SameText(std::string_view(name).substr(0, 13), "translations.")) continue;
    if (SameText(name, "translations.Map") || SameText(name, "translations.Original")) continue;
    if (name.find("shared") != std::string::npos) continue;
    std::string language = name.substr(name.find_last_of('.') + 1);
    if (language.empty()) continue;
    languages.push_back(std::move(language));
  }
  std::stable_sort(languages.begin(), languages.end(),
                   [](const std::string& a, const std::string& b) { return UpperCase(a) < UpperCase(b); });
  return languages;
}

namespace {

// The translation lookups, the language chosen at start and the tables of the language
// the script switches to.
class LanguagePhases : public RunParticipant {
 public:
  explicit LanguagePhases(std::shared_ptr<LanguageState> state) : state_(std::move(state)) {}
  void PrepareRun(Interpreter& in) override {
    InstallLookups(in.Context(), state_);
    if (!ChooseAtStart(in, *state_)) in.EndScript();
  }
  void LanguageChanged(Interpreter& in, const std::string& language) override { LoadLanguage(in, *state_, language); }

 private:
  std::shared_ptr<LanguageState> state_;
};

}  // namespace

void AddLanguageHooks(InterpreterHooks& hooks, std::shared_ptr<LanguageService> service,
                      RememberedLanguageFile rememberedLanguage) {
  auto state = std::make_shared<LanguageState>();
  state->service = std::move(service);
  state->remembered = std::move(rememberedLanguage);
  hooks.Phases.Add(std::make_shared<LanguagePhases>(std::move(state)));
}

}  // namespace kem
