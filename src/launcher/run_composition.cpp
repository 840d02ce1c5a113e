#include "launcher/run_composition.h"

#include <string>
#include <utility>

#include "commands/command_statements.h"
#include "components/component_statements.h"
#include "installer/plugin_calls.h"
#include "installer/system_change_statements.h"
#include "installer/verbose_trace.h"
#include "media/archive_statement.h"
#include "media/web/block_services.h"
#include "script/statements/message_statements.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"

namespace kem {

namespace {

// The pages leave the screen at the end of the script, after whatever else ends there.
class PagePhases : public RunParticipant {
 public:
  explicit PagePhases(std::function<void(Interpreter&)> close) : close_(std::move(close)) {}
  void ExitScript(Interpreter& in) override { close_(in); }

 private:
  std::function<void(Interpreter&)> close_;
};

}  // namespace

RunComposition::RunComposition(EngineContext& context, const RunServices& services, const DialogOperations* dialogs)
    : session_(NewSessionRunState()),
      product_(std::make_shared<InstalledProduct>(
          InstallerCacheServices{services.Cache, services.Installer, services.System})),
      media_{services.MediaFiles, services.Archives, services.RetryPrompt, mediaState_} {
  // The statement groups and the participants of the phases, in the order each phase
  // calls them (a later group's statement of the same kind would replace an earlier one).
  RegisterVariableStatements(statements_);
  RegisterTerminationStatements(statements_);
  RegisterMessageStatements(statements_);
  RegisterComponentStatements(statements_);
  // Web media: the block named last, and the loader that file-carrying statements call
  // first in a web build.
  MediaLoad webLoad = [state = webState_, web = webServices_](Interpreter& in, std::size_t, const std::string& media) {
    LoadWebMedia(in, *state, *web, media);
  };
  RegisterSystemChangeStatements(statements_, SystemChangeServices{services.Installer, services.System, webLoad});
  AddComponentHooks(hooks_);
  AddSystemChangeHooks(hooks_);
  AddInstallerCacheHooks(hooks_, product_);
  RegisterSessionStatements(statements_,
                            SessionServices{services.Installer, services.System, services.Pins, product_.get()},
                            session_);
  AddSessionHooks(hooks_, session_);
  // The language is chosen after the other preparation; in maintenance the installed
  // product's cache folder remembers it.
  AddLanguageHooks(hooks_, services.Languages, [product = product_](Interpreter& in) {
    std::string base = in.DatabasePath();
    if (auto p = base.find_last_of("\\/"); p != std::string::npos) base.erase(0, p + 1);
    if (auto dot = base.find_last_of('.'); dot != std::string::npos) base.resize(dot);
    const bool machineRoot = !in.Machine().Files.FileExists(product->CacheFolder(in, false) + base + ".dat");
    return product->CacheFolder(in, machineRoot) + base + ".lan";
  });
  if (context.Startup.VerboseTrace) AddVerboseTraceHooks(hooks_);
  AddPluginHooks(hooks_, PluginServices{services.Plugins, services.System});
  // The commands' participant closes a text file the script left open.
  RegisterCommandStatements(statements_, hooks_,
                            CommandServices{services.CommandFiles, services.RegistryQueries, services.SystemQueries,
                                            services.Programs});
  RegisterArchiveStatements(statements_, media_);
  RegisterWebMediaStatements(statements_, webState_);
  AddWebMediaLoading(hooks_, webLoad);
  if (dialogs) {
    RegisterDialogStatements(statements_, *dialogs);
    hooks_.Progress.Write = dialogs->Progress;
    hooks_.Progress.Refresh = dialogs->Refresh;
    hooks_.Progress.PromptState = dialogs->PromptState;
    hooks_.RestoreFromTray = dialogs->RestoreFromTray;
    if (dialogs->Close) hooks_.Phases.Add(std::make_shared<PagePhases>(dialogs->Close));
  } else {
    RegisterDialogStatements(statements_);
  }

  // Web media's services, once media copying exists.
  UseBlockMedia(*webServices_, media_);
  webServices_->NewDownloader = services.NewDownloader;
  webServices_->CacheFolder = [product = product_](Interpreter& in) {
    return product->CacheFolder(in, IsTrue(in.Vars().Get("ALLUSERS")));
  };
  webServices_->AskResume = services.AskResume;
  webServices_->AskProxy = services.AskProxy;
}

}  // namespace kem
