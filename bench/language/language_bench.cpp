// The cost of translations: 1,000,000 "Set Variable" statements (a GoTo loop of ten per
// round) with translation files of 20,000 entries, with LANGUAGE set (every value looked
// up and translated) against no language; and the time to load the four files.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "engine/engine_context.h"
#include "engine/services.h"
#include "script/interpreter/interpreter.h"
#include "script/language/language_hooks.h"
#include "script/language/translations.h"
#include "script/statements/dialog_statements.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"
#include "support/quiet_host.h"
#include "support/script_builder.h"

namespace {

constexpr const char* kSupport = "C:\\Temp\\kem1\\";

// The quiet machine with the support folder's files in memory, and the languages.
class BenchHost : public kem::test::QuietHost, public kem::LanguageService {
 public:
  std::map<std::string, std::string> files;
  bool FileExists(const std::string& p) override { return p.rfind(kSupport, 0) != 0 || files.count(p); }
  std::int64_t ClockSecond() override { return 0; }
  // Languages.
  std::vector<std::string> ListFiles(const std::string&, const std::string&) override {
    return {"translations.German"};
  }
  std::optional<std::string> ReadFile(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  int UserLanguageId() override { return 1031; }
  int UserDefaultLanguageId() override { return 1031; }
  std::string EnglishLanguageName(int) override { return {}; }
  std::optional<std::size_t> ChooseLanguage(const Choice& c) override { return c.Preselected; }
};

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double RunScript(const kem::SetupData& data, std::shared_ptr<BenchHost> host, bool language) {
  kem::EngineContext ctx;
  ctx.Startup.ProgramPath = "C:\\App\\setup.exe";
  ctx.Startup.ProgramFolder = "C:\\App\\";
  ctx.Startup.TempFolder = ctx.Startup.TempDirVariable = "C:\\Temp\\";
  ctx.Startup.SupportFolder = kSupport;
  ctx.Startup.SilentMode = true;
  ctx.Data = data;
  ctx.Data.CompiledTitle = "Bench";
  ctx.Data.DefaultLanguage = language ? "German" : "";
  kem::StatementTable table;
  kem::RegisterVariableStatements(table);
  kem::RegisterTerminationStatements(table);
  kem::RegisterDialogStatements(table);
  kem::InterpreterHooks hooks;
  kem::AddLanguageHooks(hooks, host, {});
  kem::Interpreter interpreter(ctx, kem::Services{*host, *host, *host, *host, *host, *host}, table, hooks);
  double cpu = CpuSeconds();
  interpreter.Run({}, "C:\\Temp\\kem1\\setup.msi");
  double used = CpuSeconds() - cpu;
  if (ctx.Vars.Get("A0") != (language ? "translated" : "value")) std::fprintf(stderr, "unexpected A0: %s\n", ctx.Vars.Get("A0").c_str());
  return used;
}

}  // namespace

int main() {
  constexpr int kPerIteration = 10;
  constexpr int kIterations = 100000;
  constexpr int kEntries = 20000;
  kem::test::ScriptBuilder script;
  script.Add("Set Variable", {"N", "0"});
  script.Add("Set Variable", {"B", "value"});
  script.Add("Label", {"top"});
  std::vector<std::string> ids;
  for (int i = 0; i < kPerIteration; ++i)
    ids.push_back(kem::test::ScriptBuilder::IdOf(script.Add("Set Variable", {"A" + std::to_string(i), "$B$"})));
  script.Add("Mathematics", {"$N$", "1", "0", "N"});
  script.Add("If", {"N", "2", std::to_string(kIterations - 1), "TRUE"});
  script.Add("GoTo Label", {"top"});
  script.Add("End");
  const kem::SetupData data = script.Build();

  // 20,000 entries: the loop's ten statements spread among others.
  auto host = std::make_shared<BenchHost>();
  std::string keys, map, original, german;
  for (int i = 0; i < kEntries; ++i) {
    const bool ours = i % (kEntries / kPerIteration) == kEntries / kPerIteration - 1;
    keys += (ours ? ids[i / (kEntries / kPerIteration)] : "{FFFFFFFF-0000-0000-0000-" + std::to_string(100000000 + i) + "}") + "\r\n";
    map += "\r\n";
    original += std::string(ours ? "$B$" : "Some original text " + std::to_string(i)) + "\r\n";
    german += std::string(ours ? "translated" : "Irgendein Text " + std::to_string(i)) + "\r\n";
  }
  host->files[std::string(kSupport) + "setup.msi"] = "";
  host->files[std::string(kSupport) + "Bench.mtx"] = keys;
  host->files[std::string(kSupport) + "translations.Map"] = map;
  host->files[std::string(kSupport) + "translations.Original"] = original;
  host->files[std::string(kSupport) + "translations.German"] = german;

  auto start = std::chrono::steady_clock::now();
  kem::Translations t;
  t.Load(map, german, original, keys);
  const double load = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const double off = RunScript(data, host, false);
  const double on = RunScript(data, host, true);
  std::printf("translations: %d entries loaded in %.1f ms; %d Set Variable: language off %.3f CPU s, on %.3f CPU s, "
              "ratio %.2f\n",
              kEntries, load * 1000, kPerIteration * kIterations, off, on, on / off);
  return 0;
}
