// Plug-in statements over a scripted plug-in: where the library is looked for, the
// variables going in and coming back (through the plug-in kit's own comma-text helpers),
// failures that keep the store, the empty result, the missing library and a cancel during
// the call.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/services/plugins.h"
#include "installer/plugin_calls.h"
#include "support/script_fixture.h"
#include "kem_plugin.h"
#include "script/store/variable_manager.h"

namespace kem::test {
namespace {

// A plug-in written as a function over the variables, using the kit's helpers as a real
// plug-in does.
class ScriptedPlugin : public PluginHost {
 public:
  std::function<std::int32_t(kem_vars&, const PluginCall&, const PluginProgress&)> body;
  std::vector<PluginCall> calls;

  PluginCallResult Call(const PluginCall& call, const PluginProgress& progress) override {
    calls.push_back(call);
    PluginCallResult result;
    kem_vars vars;
    if (kem_vars_parse(&vars, call.Variables.c_str()) != 0) return result;
    result.Code = body ? body(vars, call, progress) : 0;
    if (result.Code > 0) {
      char* text = kem_vars_format(&vars);
      result.Result = text;
      result.Code = static_cast<std::int32_t>(result.Result.size());
      std::free(text);
    } else if (result.Code == -1) {
      result.Failure = "scripted failure";
    }
    kem_vars_free(&vars);
    return result;
  }
};

class PluginTest : public ScriptTest {
 public:
  void SetUp() override {
    ScriptTest::SetUp();
    plugin = std::make_shared<ScriptedPlugin>();
    AddPluginHooks(hooks, PluginServices{plugin, machine});
    prepare = [this](SetupData& d) {
      d.PluginStatements.push_back("Call Plugin");
      while (d.StatementMedia.Count() < d.StatementNames.Count()) d.StatementMedia.Add("");
      for (auto& [index, entry] : media) d.StatementMedia.Set(index, entry);
    };
    Startup().ProgramDataFolder = "C:\\App\\data\\";
    host.files.insert("C:\\Temp\\kem1\\lib.dll");
  }
  std::size_t Call(const std::string& parameter, const std::string& library = "plugins\\lib.dll") {
    return script.Add("Call Plugin", {parameter, library});
  }

  std::shared_ptr<ScriptedPlugin> plugin;
  std::map<std::size_t, std::string> media;
};

TEST_F(PluginTest, TheResultReplacesTheStoreAndTheParameterArrivesAsWritten) {
  script.Add("Set Variable", {"GONE", "soon"});
  script.Add("Set Variable", {"TRICKY", "a, \"b\" c"});
  script.Add("Set Variable", {"EMPTY", ""});
  Call("x=$TRICKY$");
  plugin->body = [](kem_vars& vars, const PluginCall&, const PluginProgress& progress) {
    progress(50, nullptr);  // no text: nothing changes on screen
    kem_vars_remove(&vars, "GONE");
    kem_vars_set(&vars, "ADDED", "new, \"quoted\" value");
    kem_vars_set(&vars, "SEEN", kem_vars_get(&vars, "tricky"));
    return 1;
  };
  Run();
  ASSERT_EQ(plugin->calls.size(), 1u);
  EXPECT_EQ(plugin->calls[0].Parameter, "x=$TRICKY$");
  EXPECT_EQ(plugin->calls[0].LibraryPath, "C:\\Temp\\kem1\\lib.dll");
  EXPECT_FALSE(VarExists("GONE"));
  EXPECT_EQ(GetVar("ADDED"), "new, \"quoted\" value");
  EXPECT_EQ(GetVar("SEEN"), "a, \"b\" c");
  EXPECT_TRUE(VarExists("EMPTY"));
  EXPECT_EQ(GetVar("PROGRESSTEXT"), "");
}

TEST_F(PluginTest, LibraryPathByMediaEntryAndBuild) {
  struct Case {
    std::int64_t mediaMode;
    std::string entry;
    std::vector<std::string> present;
    std::string expected;
  };
  const Case cases[] = {
      {0, "", {}, "C:\\Temp\\kem1\\lib.dll"},
      {0, "MEDIA1\\", {}, "C:\\App\\data\\MEDIA1\\plugins\\lib.dll"},
      {2, "MEDIA1\\", {"C:\\Cache\\data\\MEDIA1\\plugins\\lib.dll"}, "C:\\Cache\\data\\MEDIA1\\plugins\\lib.dll"},
      {2, "MEDIA1\\", {}, "C:\\App\\data\\MEDIA1\\plugins\\lib.dll"},
  };
  for (const auto& c : cases) {
    NewScript();
    plugin->calls.clear();
    script.Add("Set Variable", {"DATADIR", "C:\\Cache\\data\\"});
    media = {{Call("p"), c.entry}};
    host.files = {kDatabase};
    for (const auto& f : c.present) host.files.insert(f);
    host.files.insert(c.expected);
    auto before = prepare;
    prepare = [&, before](SetupData& d) {
      before(d);
      d.MediaMode = c.mediaMode;
    };
    Run();
    prepare = before;
    ASSERT_EQ(plugin->calls.size(), 1u) << c.expected;
    EXPECT_EQ(plugin->calls[0].LibraryPath, c.expected);
  }
}

TEST_F(PluginTest, FailureKeepsTheStoreAndAnEmptyResultFailsOnlyWhenAbortOnError) {
  script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script.Add("Set Variable", {"KEPT", "yes"});
  Call("fail");
  script.Add("Set Variable", {"AFTER1", "reached"});
  Call("nothing");
  script.Add("Set Variable", {"AFTER2", "reached"});
  script.Add("Set Variable", {"ABORTONERROR", "TRUE"});
  Call("nothing");
  script.Add("Set Variable", {"AFTER3", "reached"});
  plugin->body = [](kem_vars& vars, const PluginCall& call, const PluginProgress&) {
    kem_vars_remove(&vars, "KEPT");
    return call.Parameter == "fail" ? -1 : 0;
  };
  Run();
  EXPECT_EQ(plugin->calls.size(), 3u);
  EXPECT_EQ(GetVar("KEPT"), "yes");
  EXPECT_EQ(GetVar("AFTER2"), "reached");
  EXPECT_FALSE(VarExists("AFTER3"));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("General setup failure"), std::string::npos) << host.boxes[0].text;
}

TEST_F(PluginTest, MissingLibraryIsReportedAndSkippedButNotShownInSilentRuns) {
  Call("p", "plugins\\absent.dll");
  script.Add("Set Variable", {"AFTER", "reached"});
  Run();
  EXPECT_TRUE(plugin->calls.empty());
  EXPECT_EQ(GetVar("AFTER"), "reached");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, std::string(kPluginMissingMessage));
  EXPECT_EQ(host.boxes[0].caption, WindowCaption());

  NewScript();
  Startup().SilentMode = true;
  Call("p", "plugins\\absent.dll");
  Run();
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(PluginTest, CancelDuringTheCallSurvivesTheImportedResult) {
  script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  Call("p");
  script.Add("Set Variable", {"AFTER", "reached"});
  plugin->body = [this](kem_vars& vars, const PluginCall&, const PluginProgress& progress) {
    ctx.Vars.Set("VRAX_IsCancelled", "TRUE");  // the user's click on Cancel
    int reports = 0;
    while (progress(reports % 100, "working") && reports < 100000) ++reports;
    kem_vars_set(&vars, "PLUGINDONE", reports < 100000 ? "stopped" : "ran on");
    return 1;
  };
  Run();
  EXPECT_EQ(GetVar("PLUGINDONE"), "stopped");
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
  EXPECT_EQ(GetVar("AFTER"), "reached");
}

// A silent run waits for a plug-in no longer than VRAX_PLUGIN_TIMEOUT: the call is asked to
// stop, left running when it does not, its result (if any) is dropped, and the run goes
// on as after a cancel (or ends, with ABORTONERROR). A run with pages waits: its user can
// cancel.
TEST_F(PluginTest, ASilentRunsPluginCallEndsAtItsDeadlineAsACancel) {
  struct Case {
    const char* name;
    bool silent;
    bool honoursStop;   // ends when asked to stop; otherwise answers only when released
    bool abortOnError;
    bool imported;      // the plug-in's result reaches the store
    bool goesOn;        // the statement after it runs
  } cases[] = {
      {"never answers", true, false, false, false, true},
      {"answers when asked to stop", true, true, false, false, true},
      {"abort on error ends the script", true, true, true, false, false},
      {"a run with pages waits", false, true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewScript();
    plugin->calls.clear();
    Startup().SilentMode = c.silent;
    if (c.silent) script.Add("Set Variable", {"SILENT", "TRUE"});
    script.Add("Set Variable", {"ABORTONERROR", c.abortOnError ? "TRUE" : "FALSE"});
    script.Add("Set Variable", {"VRAX_PLUGIN_TIMEOUT", "1"});
    script.Add("Set Variable", {"KEPT", "yes"});
    Call("p");
    script.Add("Set Variable", {"AFTER", "reached"});
    // The plug-in's thread may outlive the statement: what it shares with the test lives on.
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    const auto started = std::chrono::steady_clock::now();
    plugin->body = [c, release, ended, started](kem_vars& vars, const PluginCall&, const PluginProgress& progress) {
      while (!release->load()) {
        const bool asked = !progress(50, "working");
        if (asked && c.honoursStop) break;
        if (!c.silent && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(1500)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      kem_vars_remove(&vars, "KEPT");
      kem_vars_set(&vars, "PLUGINRESULT", "imported");
      ended->store(true);
      return 1;
    };
    TraceFile trace;
    SetTraceLogPath(trace.Path());
    Run();
    release->store(true);
    for (int i = 0; i < 500 && !ended->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(VarExists("PLUGINRESULT"), c.imported);
    EXPECT_EQ(GetVar("KEPT"), c.imported ? "" : "yes");
    EXPECT_EQ(VarExists("AFTER"), c.goesOn);
    if (c.silent) {
      EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
      const std::vector<std::string> lines = trace.Lines();
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.find("no answer within 1 s") != std::string::npos; }));
    }
    if (c.goesOn && c.silent) EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  }
}

TEST_F(PluginTest, RedirectionIsOffDuringTheCallExceptForTheSystemInstallerLibrary) {
  standIn64BitMode = true;
  script.Add("Set 64 Bit Mode", {"x64"});
  Call("p");
  host.files.insert("C:\\Temp\\kem1\\mMSIExec.dll");
  Call("p", "mMSI.dll\\mMSIExec.dll");
  plugin->body = [](kem_vars&, const PluginCall&, const PluginProgress&) { return 1; };
  Run();
  EXPECT_EQ(plugin->calls.size(), 2u);
  EXPECT_EQ(host.redirection, (std::vector<bool>{true, false}));
}

// The kit reads what the engine writes and writes what the engine reads, value for value.
TEST(PluginKit, VariablesTextRoundTripsThroughTheStore) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"PLAIN", "C:\\Program Files\\App\\"}, {"COMMA", "a,b"},        {"QUOTES", "say \"hi\" \"\""},
      {"BLANKS", "  lead and trail  "},        {"CONTROL", "line\r\nbreak\ttab"}, {"HIGH", "caf\xE9 \x82\xA0"},
      {"ONLYQUOTE", "\""},                      {"EMPTY", ""},
  };
  TVariableManager store;
  for (const auto& [name, value] : values) store.Set(name, value);
  kem_vars vars;
  ASSERT_EQ(kem_vars_parse(&vars, store.Export().c_str()), 0);
  ASSERT_EQ(vars.count, values.size());
  for (const auto& [name, value] : values) {
    ASSERT_NE(kem_vars_get(&vars, name.c_str()), nullptr) << name;
    EXPECT_EQ(kem_vars_get(&vars, name.c_str()), value) << name;
  }
  char* text = kem_vars_format(&vars);
  kem_vars_free(&vars);
  TVariableManager back;
  back.Import(text);
  std::free(text);
  EXPECT_EQ(back.Count(), values.size());
  for (const auto& [name, value] : values) EXPECT_EQ(back.Get(name), value) << name;
}

// The last variable of a store with an empty value survives the kit's reading, and an odd
// last entry is dropped as the engine drops it.
TEST(PluginKit, EdgesOfTheCommaText) {
  kem_vars vars;
  ASSERT_EQ(kem_vars_parse(&vars, "A,1,B,"), 0);
  ASSERT_EQ(vars.count, 2u);
  EXPECT_STREQ(kem_vars_get(&vars, "b"), "");
  kem_vars_free(&vars);
  ASSERT_EQ(kem_vars_parse(&vars, "A,1,ODD"), 0);
  EXPECT_EQ(vars.count, 1u);
  kem_vars_free(&vars);
}

}  // namespace
}  // namespace kem::test
