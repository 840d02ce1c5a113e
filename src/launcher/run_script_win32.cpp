// The launcher's run-script call in the engine: the interpreter with the Windows services
// and every statement group built so far.
#include "commands/command_statements.h"
#include "components/component_statements.h"
#include "installer/installer_cache.h"
#include "installer/plugin_calls.h"
#include "installer/session_statements.h"
#include "installer/verbose_trace.h"
#include "media/archive_extractor.h"
#include "media/archive_statement.h"
#include "media/web/block_services.h"
#include "media/web/web_media.h"
#include "installer/system_change_statements.h"
#include "platform/archive/archive_host.h"
#include "platform/cache/installer_cache_win32.h"
#include "platform/commands/commands_win32.h"
#include "platform/installer/installer_win32.h"
#include "platform/language/language_win32.h"
#include "platform/media/media_win32.h"
#include "platform/network/download_prompts_win32.h"
#include "platform/network/web_download_win32.h"
#include "platform/plugins/plugin_host_win32.h"
#include "platform/services_win32.h"
#include "platform/shell/pin_win32.h"
#include "platform/system/system_win32.h"
#include "script/interpreter/interpreter.h"
#include "launcher/run_script.h"
#include "script/language/language_hooks.h"
#include "script/statements/dialog_statements.h"
#include "script/statements/message_statements.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"

namespace kem {

void RunScript(EngineContext& context, const std::function<bool(std::size_t)>& hook, const std::string& databasePath,
               const DialogOperations* dialogs) {
  platform::Win32Services services;
  StatementTable statements;
  InterpreterHooks hooks;
  RegisterVariableStatements(statements);
  RegisterTerminationStatements(statements);
  RegisterMessageStatements(statements);
  auto installer = platform::CreateInstallerService();
  auto system = platform::CreateSystemService();
  RegisterComponentStatements(statements);
  // Web media: the block named last, and the loader that file-carrying statements call
  // first in a web build (its services are filled below, once media copying exists).
  auto webState = std::make_shared<WebMediaState>();
  auto webServices = std::make_shared<WebMediaServices>();
  MediaLoad webLoad = [webState, webServices](Interpreter& in, std::size_t, const std::string& media) {
    LoadWebMedia(in, *webState, *webServices, media);
  };
  RegisterSystemChangeStatements(statements, SystemChangeServices{*installer, *system, webLoad});
  AddComponentHooks(hooks);
  AddSystemChangeHooks(hooks);
  auto session = NewSessionRunState();
  auto pins = platform::CreateShortcutPinService();
  auto cacheMachine = platform::CreateInstallerCacheService();
  auto product = std::make_shared<InstalledProduct>(InstallerCacheServices{*cacheMachine, *installer, *system});
  AddInstallerCacheHooks(hooks, product);
  RegisterSessionStatements(statements, SessionServices{*installer, *system, pins.get(), product.get()}, session);
  AddSessionHooks(hooks, session);
  // The language is chosen after the other preparation; in maintenance the installed
  // product's cache folder remembers it.
  AddLanguageHooks(hooks, platform::CreateLanguageService(), [product](Interpreter& in) {
    std::string base = in.DatabasePath();
    if (auto p = base.find_last_of("\\/"); p != std::string::npos) base.erase(0, p + 1);
    if (auto dot = base.find_last_of('.'); dot != std::string::npos) base.resize(dot);
    const bool machineRoot = !in.Machine().Files.FileExists(product->CacheFolder(in, false) + base + ".dat");
    return product->CacheFolder(in, machineRoot) + base + ".lan";
  });
  if (context.Startup.VerboseTrace) AddVerboseTraceHooks(hooks);
  AddPluginHooks(hooks, PluginServices{platform::CreatePluginHost(), *system});
  auto commandFiles = platform::CreateCommandFileService();
  auto registryQueries = platform::CreateRegistryQueryService();
  auto systemQueries = platform::CreateSystemQueryService();
  auto programs = platform::CreateProgramService();
  RegisterCommandStatements(statements, hooks,
                            CommandServices{*commandFiles, *registryQueries, *systemQueries, *programs});
  auto mediaFiles = platform::CreateMediaFileService(context.Data.CodePage);
  auto archiveHost = platform::CreateArchiveHost();
  auto archives = CreateArchiveExtractor(*archiveHost);
  auto retryPrompt = platform::CreateExtractRetryPrompt();
  MediaRunState mediaState;
  MediaServices media{*mediaFiles, *archives, *retryPrompt, mediaState};
  RegisterArchiveStatements(statements, media);
  UseBlockMedia(*webServices, media);
  webServices->NewDownloader = [&context](DownloaderState& state) {
    return platform::CreateWebDownloader(state, context.Messages, context.Data.CodePage);
  };
  webServices->CacheFolder = [product](Interpreter& in) {
    return product->CacheFolder(in, IsTrue(in.Vars().Get("ALLUSERS")));
  };
  auto messageText = [&context](int n) { return context.Message(n); };
  webServices->AskResume = [&context, messageText](Interpreter&, bool resume) {
    return platform::AskDownloadRetry(context.State.WindowHandleOfNonModal, messageText, resume);
  };
  webServices->AskProxy = [&context, messageText](Interpreter&, ProxySettings& proxy) {
    return platform::AskProxySettings(context.State.WindowHandleOfNonModal, messageText, proxy);
  };
  RegisterWebMediaStatements(statements, webState);
  AddWebMediaLoading(statements, hooks, webLoad);
  if (dialogs) {
    RegisterDialogStatements(statements, *dialogs);
    hooks.Progress.Write = dialogs->Progress;
    hooks.Progress.Refresh = dialogs->Refresh;
    hooks.Progress.PromptState = dialogs->PromptState;
    hooks.RestoreFromTray = dialogs->RestoreFromTray;
    // The pages leave the screen at the end of the script, after whatever else ends there.
    if (dialogs->Close)
      hooks.ExitScript = [before = std::move(hooks.ExitScript), close = dialogs->Close](Interpreter& in) {
        if (before) before(in);
        close(in);
      };
  } else {
    RegisterDialogStatements(statements);
  }
  Interpreter interpreter(context, services.Get(), statements, std::move(hooks));
  interpreter.Run(hook, databasePath);
}

}  // namespace kem
