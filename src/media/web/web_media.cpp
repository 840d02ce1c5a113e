#include "media/web/web_media.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "common/text.h"
#include "engine/engine_context.h"
#include "engine/setup_data.h"
#include "engine/statement_error.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"
#include "script/worker/worker.h"

namespace kem {

namespace {

std::string Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return std::string(s);
}

std::string WithoutTrailingBackslash(std::string s) {
  while (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  return s;
}

std::string FileNameOf(const std::string& path) {
  const auto p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ParentOf(const std::string& path) {
  const auto p = path.find_last_of("\\/");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

// WorkerActive for the whole load; a worker's wait clears it when it ends, so it is set
// again after each.
class LoadActive {
 public:
  explicit LoadActive(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~LoadActive() { flag_ = false; }
  void Again() { flag_ = true; }
  LoadActive(const LoadActive&) = delete;
  LoadActive& operator=(const LoadActive&) = delete;

 private:
  std::atomic<bool>& flag_;
};

// Around a prompt: the taskbar progress paused meanwhile.
template <typename F>
auto Prompted(Interpreter& in, F&& f) {
  auto& prompt = in.Hooks().Progress.PromptState;
  if (prompt) prompt(true, false);
  struct Restore {
    std::function<void(bool, bool)>& p;
    ~Restore() {
      if (p) p(false, false);
    }
  } restore{prompt};
  return f();
}

struct GrabResult {
  bool Ok = false;
  std::vector<std::string> Log;
};

// The download thread: every URL in turn into the target until one succeeds.
GrabResult Grab(Interpreter& in, WebMediaState& state, const WebMediaServices& services, std::string caption) {
  auto result = std::make_shared<GrabResult>();
  const WebBlockContext block = state.Block;
  auto machine = services.Machine;
  auto newDownloader = services.NewDownloader;
  DownloaderState* downloads = &state.Downloads;
  WorkerOutcome outcome = RunWorker(in, [=](WorkerReporter& reporter) {
    if (block.ArchivePath.empty() || block.Urls.empty() || !newDownloader) return;
    machine->CreateFolder(ParentOf(block.ArchivePath), false);
    std::unique_ptr<Downloader> downloader = newDownloader(*downloads);
    DownloadProgress progress = [&reporter, caption](int percent, const std::string& line) {
      return reporter.Report(caption + "\r" + line, 0, 100, percent);
    };
    // A cancel reaches a download that hangs on a silent server too: it is aborted.
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
      while (!finished) {
        if (reporter.StopRequested()) {
          downloader->Abort();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    for (const std::string& url : block.Urls) {
      if (reporter.StopRequested()) break;
      DownloadRequest request{url, block.ArchivePath, block.Proxy, block.Resume};
      result->Log.push_back("Download: " + UrlForLog(url) + " -> " + block.ArchivePath);
      if (downloader->Download(request, progress, result->Log).Ok) {
        result->Ok = true;
        break;
      }
    }
    finished = true;
    watcher.join();
  });
  if (outcome.Abandoned) {
    GrabResult abandoned;
    abandoned.Log.push_back("Download: no answer after the cancel; left running");
    return abandoned;
  }
  return *result;
}

// Downloads the block's archive until it is there or the user gives up (raises).
void DownloadLoop(Interpreter& in, WebMediaState& state, const WebMediaServices& services,
                  const std::string& blockFolder, LoadActive& active) {
  EngineContext& ctx = in.Context();
  const std::string caption = ctx.Message(13) + WithoutTrailingBackslash(blockFolder);
  int unattended = 0;
  for (;;) {
    GrabResult grab = Grab(in, state, services, caption);
    active.Again();
    for (const auto& line : grab.Log) ctx.Trace("      " + line);
    if (grab.Ok) return;
    const std::string failed = ctx.Message(14);
    if (in.Silent()) throw StatementError(failed);
    if (state.Downloads.LightAvailable) {
      ResumeAnswer answer;
      if (services.AskResume) answer = Prompted(in, [&] { return services.AskResume(in, state.Block.Resume); });
      if (!answer.Retry) throw StatementError(failed);
      // Nobody at the machine: the prompt's timer would retry forever.
      unattended = answer.ByTimer ? unattended + 1 : 0;
      if (unattended >= kMaxUnattendedRetries) throw StatementError(failed);
      state.Block.Resume = answer.Resume;
    } else {
      ProxySettings proxy = state.Block.Proxy;
      const bool yes = services.AskProxy && Prompted(in, [&] { return services.AskProxy(in, proxy); });
      if (!yes) throw StatementError(failed);
      state.Block.Proxy = proxy;
    }
    // The user chose to try again: a cancel of the failed try does not stop the next.
    if (IsTrue(in.Vars().Get("VRAX_IsCancelled"))) in.Vars().SetVar("VRAX_IsCancelled", "FALSE", "Web Media Retry");
  }
}

}  // namespace

std::optional<std::string> DescrambleBlockPassword(std::string_view stored) {
  if (stored.size() % 2 != 0) return std::nullopt;
  std::string plain(stored);
  for (std::size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<char>(static_cast<unsigned char>(plain[i]) ^ static_cast<unsigned char>(i % 256));
  std::string out;
  out.reserve(plain.size() / 2);
  for (std::size_t i = 0; i < plain.size(); i += 2) {
    const int high = HexDigitValue(plain[i + 1]), low = HexDigitValue(plain[i]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

std::string BlockPassword(const SetupData& data, std::string_view block) {
  const StringList& sources = data.WebBlockSources;
  const std::string* stored = nullptr;
  for (std::string_view wanted : {block, std::string_view("offline")}) {
    for (std::size_t i = 0; i + 1 < sources.size(); i += 2)
      if (SameText(sources[i], wanted)) {
        stored = &sources[i + 1];
        break;
      }
    if (stored) break;
  }
  if (!stored) return {};
  auto password = DescrambleBlockPassword(*stored);
  if (!password)
    throw StatementError("The stored password of web media block " + std::string(block) +
                         " is damaged: the setup cannot unpack it.");
  return *password;
}

std::vector<std::string> UrlLines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string line = Trimmed(text.substr(start, end - start));
    if (!line.empty()) out.push_back(std::move(line));
    start = end + 1;
  }
  return out;
}

void RegisterWebMediaStatements(StatementTable& table, std::shared_ptr<WebMediaState> state) {
  table.Add(StatementKind::WebMediaBlock, [state](Interpreter& in, std::size_t i) {
    const std::string name = in.Param(i, param::WebMediaBlock::Block);
    WebBlockContext& block = state->Block;
    block.Urls = UrlLines(in.Vars().Expand(in.Param(i, param::WebMediaBlock::Urls)));
    block.Name = name;
    block.ArchivePath = in.Context().Startup.DataFolder + name + ".7zip";
    block.Password = BlockPassword(in.Data(), name);
  });
}

void LoadWebMedia(Interpreter& in, WebMediaState& state, const WebMediaServices& services,
                  const std::string& blockFolder) {
  EngineContext& ctx = in.Context();
  TVariableManager& vars = in.Vars();
  WebMediaMachine& machine = *services.Machine;
  LoadActive active(ctx.State.WorkerActive);
  const bool compress = IsTrue(vars.Get("VRAX_COMPRESS_INSTALLER_CACHE"));

  // The data folder is the cache folder; what an earlier load brought into another one
  // moves along.
  if (in.Data().MediaMode == 2 && services.CacheFolder) {
    const std::string cache = services.CacheFolder(in);
    if (!state.DataFolder.empty() && !SameText(state.DataFolder, cache)) {
      machine.CreateFolder(cache, compress);
      std::vector<std::string> folders = machine.SubFolders(state.DataFolder);
      for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (!services.MoveFolder || !services.MoveFolder(in, state.DataFolder + *it + "\\", cache + *it + "\\"))
          ctx.Trace("      Web media: " + state.DataFolder + *it + " could not be moved to " + cache);
      }
    }
    state.DataFolder = cache;
    ctx.Startup.DataFolder = cache;
    // A block named before the switch is unpacked into the new folder as well.
    if (!state.Block.Name.empty()) state.Block.ArchivePath = cache + state.Block.Name + ".7zip";
  }
  if (vars.Get("REMOVE") == "TRUE") return;

  const std::string dataFolder = ctx.Startup.DataFolder;
  const std::string folder = dataFolder + blockFolder;
  const std::string marker = folder + in.Data().RevisionCode;
  if (machine.FolderExists(folder)) {
    if (machine.FileExists(marker)) return;
    machine.EmptyFolder(folder);
  }

  if (SameText(blockFolder, "OFFLINE\\")) {
    machine.CreateFolder(folder, compress);
    try {
      if (!services.CopyOffline) throw StatementError(ctx.Message(12));
      services.CopyOffline(in, ctx.Startup.ProgramDataFolder, dataFolder);
    } catch (...) {
      machine.EmptyFolder(folder);
      machine.RemoveFolder(folder);
      active.Again();
      throw StatementError(ctx.Message(12));
    }
    active.Again();
    machine.CreateEmptyFile(marker);
    return;
  }

  for (;;) {
    const WebBlockContext& block = state.Block;
    std::string local = vars.Get("SFXPATH");
    if (local.empty()) local = vars.Get("EXEDIR");
    if (!local.empty() && local.back() != '\\') local += '\\';
    local += FileNameOf(block.ArchivePath);
    const bool useLocal = !block.ArchivePath.empty() && machine.FileExists(local) &&
                          !state.RejectedLocalCopies.contains(UpperCase(local));
    if (useLocal) {
      ctx.Trace("      Web media: the copy beside the setup is used: " + local);
    } else {
      DownloadLoop(in, state, services, blockFolder, active);
    }
    const std::string archive = useLocal ? local : block.ArchivePath;
    if (!services.Unpack) throw StatementError(ctx.Message(16));
    UnpackOutcome unpacked =
        services.Unpack(in, archive, block.Password, dataFolder, blockFolder, useLocal);
    active.Again();
    if (unpacked.Unpacked) break;
    if (useLocal) state.RejectedLocalCopies.insert(UpperCase(local));
  }
  machine.CreateFolder(folder, compress);
  if (!machine.FileExists(marker) && !machine.CreateEmptyFile(marker))
    ctx.Trace("      Web media: the marker " + marker + " could not be written");
}

void LoadMediaBefore(Interpreter& in, std::size_t i, const std::string& media, const MediaLoad& load) {
  TVariableManager& vars = in.Vars();
  if (!load || media.empty() || IsTrue(vars.Get("ABORTEDONERROR"))) return;
  try {
    load(in, i, media);
  } catch (const std::exception& e) {
    auto& prompt = in.Hooks().Progress.PromptState;
    if (prompt) prompt(true, true);
    if (!in.Silent()) in.Machine().Ui.ShowErrorBox(0, e.what(), in.Context().WindowCaption());
    if (prompt) prompt(false, false);
    in.Context().Trace(std::string("      Web media failed: ") + e.what());
    if (IsTrue(vars.Get("ABORTONERROR")))
      in.EndScript();
    else
      vars.SetVar("ABORTEDONERROR", "TRUE", "Weblock Abort");
  }
}

namespace {

// In a web build the files of a plug-in call and of the installer session come from their
// blocks: the plug-in statement's own media, the offline block for "Apply Changes".
class WebMediaPhases : public RunParticipant {
 public:
  explicit WebMediaPhases(MediaLoad load) : load_(std::move(load)) {}
  void BeforeSession(Interpreter& in, std::size_t i) override {
    const SetupData& data = in.Data();
    if (data.MediaMode != 2) return;
    if (in.IsPluginStatement(i)) {
      if (i < data.StatementMedia.Count()) LoadMediaBefore(in, i, data.StatementMedia[i], load_);
    } else if (data.Kinds[i] == StatementKind::ApplyChanges) {
      LoadMediaBefore(in, i, "OFFLINE\\", load_);
    }
  }

 private:
  MediaLoad load_;
};

}  // namespace

void AddWebMediaLoading(InterpreterHooks& hooks, MediaLoad load) {
  hooks.Phases.Add(std::make_shared<WebMediaPhases>(std::move(load)));
}

}  // namespace kem
