// The launcher's run-script call in the engine: the run's composition over the Windows
// services.
#include "launcher/run_composition.h"
#include "launcher/run_script.h"
#include "media/archive_extractor.h"
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

namespace kem {

void RunScript(EngineContext& context, const std::function<bool(std::size_t)>& hook, const std::string& databasePath,
               const DialogOperations* dialogs) {
  platform::Win32Services services;
  auto installer = platform::CreateInstallerService();
  auto system = platform::CreateSystemService();
  auto pins = platform::CreateShortcutPinService();
  auto cache = platform::CreateInstallerCacheService();
  auto commandFiles = platform::CreateCommandFileService();
  auto registryQueries = platform::CreateRegistryQueryService();
  auto systemQueries = platform::CreateSystemQueryService();
  auto programs = platform::CreateProgramService();
  auto mediaFiles = platform::CreateMediaFileService(context.Data.CodePage);
  auto archiveHost = platform::CreateArchiveHost();
  auto archives = CreateArchiveExtractor(*archiveHost);
  auto retryPrompt = platform::CreateExtractRetryPrompt();
  auto messageText = [&context](int n) { return context.Message(n); };
  RunServices run{
      *installer,
      *system,
      pins.get(),
      *cache,
      platform::CreateLanguageService(),
      platform::CreatePluginHost(),
      *commandFiles,
      *registryQueries,
      *systemQueries,
      *programs,
      *mediaFiles,
      *archives,
      *retryPrompt,
      [&context](DownloaderState& state) {
        return platform::CreateWebDownloader(state, context.Messages, context.Data.CodePage);
      },
      [&context, messageText](Interpreter&, bool resume) {
        return platform::AskDownloadRetry(context.State.WindowHandleOfNonModal, messageText, resume);
      },
      [&context, messageText](Interpreter&, ProxySettings& proxy) {
        return platform::AskProxySettings(context.State.WindowHandleOfNonModal, messageText, proxy);
      }};
  RunComposition composition(context, run, dialogs);
  Interpreter interpreter(context, services.Get(), composition.Statements(), composition.Hooks());
  interpreter.Run(hook, databasePath);
}

}  // namespace kem
