// The composition of a run: every statement group and every participant of the run's
// phases, wired over the services the caller supplies. Portable: the Windows build hands
// it the platform's services (run_script_win32.cpp), the native tests hand it fakes.
#pragma once

#include <functional>
#include <memory>

#include "engine/engine_context.h"
#include "installer/installer_cache.h"
#include "installer/session_statements.h"
#include "media/block_media.h"
#include "media/web/download.h"
#include "media/web/web_media.h"
#include "script/interpreter/interpreter.h"
#include "script/language/language_hooks.h"
#include "script/statements/dialog_statements.h"

namespace kem {

class CommandFileService;
class InstallerCacheService;
class InstallerService;
class MediaFileService;
class PluginHost;
class ProgramService;
class RegistryQueryService;
class ShortcutPinService;
class SystemQueryService;
class SystemService;

// The services a run's statements use beyond the interpreter's own, owned by the caller
// for the whole run.
struct RunServices {
  InstallerService& Installer;
  SystemService& System;
  ShortcutPinService* Pins;  // none: pinning is skipped
  InstallerCacheService& Cache;
  std::shared_ptr<LanguageService> Languages;
  std::shared_ptr<PluginHost> Plugins;
  CommandFileService& CommandFiles;
  RegistryQueryService& RegistryQueries;
  SystemQueryService& SystemQueries;
  ProgramService& Programs;
  MediaFileService& MediaFiles;
  ArchiveExtractor& Archives;
  ExtractRetryPrompt& RetryPrompt;
  // Web media: a downloader for one block, and the prompts of a failed download.
  std::function<std::unique_ptr<Downloader>(DownloaderState&)> NewDownloader;
  std::function<ResumeAnswer(Interpreter&, bool resume)> AskResume;
  std::function<bool(Interpreter&, ProxySettings&)> AskProxy;
};

// The statement table and the hooks of one run, with the state the statement groups share
// for that run. dialogs, when given, shows the preloaded pages; without it every display
// is silent. Neither copyable nor movable: the statements hold references into it.
class RunComposition {
 public:
  RunComposition(EngineContext& context, const RunServices& services, const DialogOperations* dialogs);
  RunComposition(const RunComposition&) = delete;
  RunComposition& operator=(const RunComposition&) = delete;

  const StatementTable& Statements() const { return statements_; }
  const InterpreterHooks& Hooks() const { return hooks_; }

 private:
  StatementTable statements_;
  InterpreterHooks hooks_;
  std::shared_ptr<WebMediaState> webState_ = std::make_shared<WebMediaState>();
  std::shared_ptr<WebMediaServices> webServices_ = std::make_shared<WebMediaServices>();
  std::shared_ptr<SessionRunState> session_;
  std::shared_ptr<InstalledProduct> product_;
  MediaRunState mediaState_;
  MediaServices media_;
};

}  // namespace kem
