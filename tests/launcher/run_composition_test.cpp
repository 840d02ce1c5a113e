// The production composition of a run (every statement group and phase participant the
// engine runs with), driven natively over fakes of the machine.
#include "launcher/run_composition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commands/fake_commands.h"
#include "engine/services/plugins.h"
#include "engine/statement_kinds.h"
#include "installer/fake_installer.h"
#include "installer/fake_installer_cache.h"
#include "media/fake_media.h"
#include "support/script_fixture.h"

namespace kem::test {
namespace {

class NoLanguages : public LanguageService {
 public:
  std::vector<std::string> ListFiles(const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> ReadFile(const std::string&) override { return std::nullopt; }
  int UserLanguageId() override { return 0; }
  int UserDefaultLanguageId() override { return 0; }
  std::string EnglishLanguageName(int) override { return {}; }
  std::optional<std::size_t> ChooseLanguage(const Choice&) override { return std::nullopt; }
};

class RecordingPlugins : public PluginHost {
 public:
  PluginCallResult Call(const PluginCall&, const PluginProgress&) override {
    ++calls;
    return PluginCallResult{0, "", ""};
  }
  int calls = 0;
};

class RunCompositionTest : public ScriptTest {
 protected:
  RunServices Machine() {
    return RunServices{installer,  machine,       nullptr,  cache,      languages, plugins,  files,
                       registry,   systemQueries, programs, mediaFiles, archives,  retry,    {},
                       {},         {}};
  }

  // Runs the script with the engine's own composition; dialogs as the launcher hands them.
  void RunComposed(const DialogOperations* dialogs = nullptr) {
    ctx.Data = script.Build();
    if (prepare) prepare(ctx.Data);
    RunComposition composition(ctx, Machine(), dialogs);
    Interpreter interpreter(ctx, host.AsServices(), composition.Statements(), composition.Hooks());
    try {
      interpreter.Run({}, kDatabase);
    } catch (const ProcessTerminated& t) {
      terminated = t.exitCode;
    }
  }

  FakeInstallerCache cache{host};
  FakeFiles files;
  FakeRegistry registry;
  FakeSystemQueries systemQueries;
  FakePrograms programs;
  FakeMediaFiles mediaFiles;
  FakeArchives archives{mediaFiles};
  FakeRetryPrompt retry;
  std::shared_ptr<NoLanguages> languages = std::make_shared<NoLanguages>();
  std::shared_ptr<RecordingPlugins> plugins = std::make_shared<RecordingPlugins>();
};

// A statement group left out of the wiring would make every such statement do nothing.
// Only the peripheral services the engine leaves unimplemented have no handler.
TEST_F(RunCompositionTest, EveryStatementOutsideTheLoopHasItsHandler) {
  const std::set<StatementKind> unimplemented = {
      StatementKind::RemoveAssemblies, StatementKind::CreateIisSite,    StatementKind::DeleteIisSite,
      StatementKind::ControlIisSite,   StatementKind::CreateVirtualFolder, StatementKind::DeleteVirtualFolder,
      StatementKind::GetIisSiteList,   StatementKind::GetIisSiteIndex,  StatementKind::GetIisProperty,
      StatementKind::SetIisProperty,   StatementKind::IisAnonymousUser,
  };
  for (bool pages : {false, true}) {
    DialogOperations operations;
    RunComposition composition(ctx, Machine(), pages ? &operations : nullptr);
    for (const StatementKindInfo& info : StatementKinds()) {
      if (info.group == StatementGroup::ControlFlow) continue;
      const StatementHandler* handler = composition.Statements().Find(info.kind);
      EXPECT_EQ(handler && *handler, !unimplemented.contains(info.kind)) << info.name << (pages ? " (with pages)" : "");
    }
  }
}

// The pages see the run's progress while it goes and leave the screen once, at its end,
// after the other parts' exit steps; the first-install components and the switch
// properties are prepared before the first statement.
TEST_F(RunCompositionTest, PagesComponentsAndProgressFollowTheRun) {
  std::vector<std::string> events;
  DialogOperations pages;
  pages.Present = [&](Interpreter&, const std::string& key, bool, std::string&) -> std::uintptr_t {
    events.push_back("show " + key);
    return 1;
  };
  pages.Refresh = [&](const std::string& text, std::int64_t position) {
    events.push_back("refresh " + text + " " + std::to_string(position));
  };
  pages.Close = [&](Interpreter& in) {
    events.push_back("close, LANGUAGE=" + in.Vars().Get("LANGUAGE") + "|" +
                     std::to_string(in.Context().State.Components.Names.size()));
  };
  script.Add("Set Variable", {"PROGRESSTEXT", "Copying"});
  script.Add("Set Variable", {"PROGRESS", "40"});
  const std::string welcome = Key(Dialog("Welcome"));
  script.Add("Set Variable", {"DONE", "yes"});
  RunComposed(&pages);
  EXPECT_EQ(GetVar("DONE"), "yes");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "close, LANGUAGE=|1");
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.starts_with("close"); }),
            1);
  EXPECT_NE(std::find(events.begin(), events.end(), "refresh Copying 40"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "show " + welcome), events.end());
  EXPECT_EQ(Engine().Components.Names, (StringList{"VRAX-PREDEF-COMPONENT"}));
}

// In a web build the installer session's files come first: the loader runs before "Apply
// Changes" and moves the data folder to the installed product's cache folder (a removal
// loads nothing more). Other builds leave the data folder alone.
TEST_F(RunCompositionTest, AWebBuildLoadsItsMediaBeforeTheSession) {
  struct Case {
    int mediaMode;
    bool moved;
  } cases[] = {{2, true}, {0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mediaMode);
    NewScript();
    Startup().SilentMode = true;
    Startup().DataFolder = "C:\\App\\data\\";
    script.Data().MediaMode = c.mediaMode;
    script.Add("Set Variable", {"REMOVE", "TRUE"});
    script.Add("Apply Changes", {"progress", "R", "FALSE", "FALSE"});
    RunComposed();
    EXPECT_EQ(Startup().DataFolder != "C:\\App\\data\\", c.moved) << Startup().DataFolder;
  }
}

}  // namespace
}  // namespace kem::test
