#include "launcher/launch_sequence.h"

#include <exception>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/engine_context.h"
#include "engine/statement_parameters.h"
#include "engine/stub_size.h"
#include "launcher/command_line.h"
#include "launcher/support_folder.h"
#include "media/archive_operations.h"
#include "platform/archive/archive_host.h"
#include "platform/dialogs/dialog_host.h"
#include "platform/files/files.h"
#include "platform/language/language_win32.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "platform/ui/startup_windows.h"
#include "platform/ui/ui.h"
#include "launcher/run_script.h"
#include "script/params/statement_params.h"

namespace kem {
namespace {

// An early end with one of the launcher's own exit codes (13 to 16).
struct StartupExit {
  int code;
  std::string message;
};

std::string FolderOf(const std::string& path) {
  auto p = path.find_last_of("\\/");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string FileNameOf(const std::string& path) {
  auto p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string WithoutExtension(const std::string& name) {
  auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Loads the built-in message table from the data appended to kem.lib, when there is any.
void LoadTranslationsFromLibrary(EngineContext& ctx) {
  const std::string library = ctx.Startup.ProgramFolder + "kem.lib";
  if (!platform::FileExists(library)) return;
  try {
    std::string head = platform::ReadFileFrom(library, 0);
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
    std::uint32_t stub = StubSizeOfFile(bytes);
    if (stub >= head.size()) return;
    // The language data is read straight from the library's bytes: a fixed temporary file
    // name ("lang.loc") would be shared by two setups started at once.
    // The block named after the user's language wins, else the last one.
    ctx.Messages.Load(std::string_view(head).substr(stub), platform::UserLanguageName());
  } catch (const std::exception&) {
    // A library without readable appended data keeps the built-in English texts.
  }
}

}  // namespace

int RunLaunchSequence() {
  platform::InitProcess();
  EngineContext ctx;
  StartupValues& g = ctx.Startup;
  ctx.Log.SetConverter([](std::string_view text) { return platform::AnsiToUtf16(text); });
  // The command line and the paths of the machine are in the process's code page.
  const TextRules processText = platform::SystemTextRules();
  ctx.SetTextRules(processText);

  // Registry marks for the program; never fails the start-up.
  const std::string programPath = platform::ProgramPath();
  try {
    platform::RegisterProgramCompatibility(FileNameOf(programPath), programPath);
  } catch (...) {
  }
  platform::RestrictToFirstProcessor();
  // Program folder and base name.
  g.SupportFolder.clear();
  g.ProgramPath = programPath;
  g.ProgramFolder = FolderOf(programPath);
  g.BaseName = WithoutExtension(FileNameOf(programPath));

  auto showStartupError = [&](void* owner, const std::string& text) {
    if (g.SilentMode) return;
    platform::ShowErrorBox(owner, text, ctx.WindowCaption());
  };

  platform::StartupWindows windows;
  // The wizard pages: preloaded at start-up, shown by the script's dialog statements.
  std::unique_ptr<FileService> dialogFiles = platform::CreateFileService();
  platform::DialogHost dialogHost(ctx, *dialogFiles);
  try {
    // Temporary folder.
    g.TempFolder = platform::SystemTempFolder();
    platform::EnsureFolder(g.TempFolder);
    g.TempDirVariable = g.TempFolder;
    LoadTranslationsFromLibrary(ctx);
    // Archive path and command line.
    g.ArchivePath = g.ProgramFolder + g.BaseName + ".res";
    g.CommandTail = ComputeCommandTail(platform::RawCommandLine());
    ParsedCommandLine cl = ParseArguments(SplitArguments(g.CommandTail), processText);
    g.SilentMode = cl.Silent;
    g.UpdateMode = cl.Update;
    g.GroupPolicyPath = cl.GroupPolicyPath;
    g.OuterPackagePath = cl.OuterPackagePath;
    g.DataPathOverride = cl.DataPathOverride;
    g.CommandLineAssignments = cl.Assignments;
    if (cl.TraceLogPath.empty() && !cl.VerboseTracePath.empty()) {
      cl.TraceLogPath = cl.VerboseTracePath;
      g.VerboseTrace = true;
    }
    // A trace log that names one of the setup's own files would overwrite it: none then.
    if (!cl.TraceLogPath.empty()) {
      const std::string full = platform::FullPath(cl.TraceLogPath);
      if (processText.SameText(full, g.ProgramPath) ||
          NamesSetupFile(full, g.ProgramFolder, g.BaseName, processText))
        cl.TraceLogPath.clear();
    }
    ctx.Log.SetPath(cl.TraceLogPath);
  } catch (const std::exception& e) {
    showStartupError(nullptr, ctx.Message(5) + e.what());
    return 11;
  }

  ctx.Trace("<Vantrel>");
  ctx.Trace("  <SetupSplash>");

  // Start-up windows.
  if (!g.SilentMode && !g.UpdateMode) {
    windows.Show(g.ProgramFolder + "setup.bmp", ctx.Message(23), ctx.Message(24));
  }

  // The support folder's ownership: held from its claim to its removal (or the process end).
  platform::SupportFolderLock supportLock;

  // From here to the script's return every exception ends the run with code 11.
  try {
    // Locate the setup data.
    ctx.Trace("    <StubSize>");
    const std::uint32_t stub = ComputeStubSize(platform::OwnImageHeaders());
    const std::uint64_t size = platform::FileSize(programPath);
    if (size <= stub) throw StartupExit{13, "For internal use only"};
    ctx.Trace("    </StubSize>");
    // Take the data after the image and read it. The bytes are parsed straight from
    // memory: a fixed temporary file name would be shared by two setups started at once.
    ctx.Trace("    <StubData>");
    std::string setupText = platform::ReadFileFrom(programPath, stub);
    ctx.Trace("    </StubData>");
    ctx.Trace("    <GlobalLists>");
    ctx.Data = ReadSetupData(setupText);
    setupText.clear();
    setupText.shrink_to_fit();
    // Names of variables, labels and components fold by the setup's code page.
    if (ctx.Data.CodePage != 0 && ctx.Data.CodePage != processText.CodePage())
      ctx.SetTextRules(platform::SystemTextRules(ctx.Data.CodePage));
    ctx.Trace("    </GlobalLists>");

    ctx.Trace("    <SupportDir>");
    // Folders of earlier runs that crashed or were killed go first; a running setup's
    // folder is held by its lock and stays.
    platform::RemoveStaleSupportFolders(g.TempFolder);
    g.SupportFolder =
        ClaimSupportFolder(g.TempFolder, [&](const std::string& path) { return supportLock.Claim(path); });
    g.ReleaseSupportFolder = [&supportLock] { supportLock.Release(); };
    ctx.Trace("    </SupportDir>");

    // Unpack the support archive.
    ctx.Trace("    <ExtractArchive>");
    if (!platform::FileExists(g.ArchivePath)) throw StartupExit{14, ctx.Message(2)};
    std::string archiveError;
    if (!ExtractSupportArchive(*platform::CreateArchiveHost(), g.ArchivePath, g.SupportFolder, archiveError))
      throw StartupExit{15, ctx.Message(3)};
    ctx.Trace("    </ExtractArchive>");

    // The installer database or patch package.
    ctx.Trace("    <ExtractResource>");
    const std::string msi = g.ProgramFolder + g.BaseName + ".msi";
    const std::string msp = g.ProgramFolder + g.BaseName + ".msp";
    if (!platform::FileExists(msi) && !platform::FileExists(msp)) throw StartupExit{16, ctx.Message(4)};
    ctx.Trace("    </ExtractResource>");

    // Copy it beside the support files.
    ctx.Trace("    <ResourcePath>");
    platform::CopyFileNormal(msi, g.SupportFolder + g.BaseName + ".msi");
    platform::CopyFileNormal(msp, g.SupportFolder + g.BaseName + ".msp");
    ctx.Trace("    </ResourcePath>");
    g.DataFolder = g.ProgramFolder + "data\\";
    g.ProgramDataFolder = g.DataFolder;

    // Dialogs: one page preloaded per uncommented "Display Dialog", the bar advancing
    // with each. A missing dialog file ends the start-up (exit 11, naming the file).
    ctx.Trace("    <Dialogs>");
    int dialogs = 0;
    for (std::size_t i = 0; i < ctx.Data.StatementCount(); ++i)
      if (ctx.Data.Kinds[i] == StatementKind::DisplayDialog && ctx.Data.CommentFlags[i] != "C") ++dialogs;
    g.DialogCount = dialogs;
    if (windows.Created()) windows.SetProgressRange(dialogs);
    dialogHost.Init(g.SupportFolder);
    for (std::size_t i = 0; i < ctx.Data.StatementCount(); ++i) {
      if (ctx.Data.Kinds[i] != StatementKind::DisplayDialog || ctx.Data.CommentFlags[i] == "C") continue;
      dialogHost.Load(std::to_string(i),
                      g.SupportFolder + GetParam(ctx.Data, i, param::DisplayDialog::Dialog) + ".dfm");
      if (windows.Created()) windows.Advance();
    }
    ctx.Trace("    </Dialogs>");

    // The start-up windows stay until the first page covers them, so the screen is never
    // empty between the two; without pages to show they go now.
    if (dialogs > 0 && !g.SilentMode && windows.Created())
      dialogHost.CloseWhenCovered([&windows] { windows.Close(); });
    else
      windows.Close();
    ctx.Trace("  </SetupSplash>");

    ctx.Trace("  <RunScript>");
    DialogOperations pages = dialogHost.Operations();
    pages.Progress = [&dialogHost](const std::string& text, std::int64_t position) {
      dialogHost.WriteProgress(text, position);
    };
    pages.Close = [&dialogHost](Interpreter&) { dialogHost.HideAll(); };
    RunScript(ctx, nullptr, g.SupportFolder + g.BaseName + ".msi", &pages);
    ctx.Trace("  </RunScript>");

    // Free the per-run lists.
    ctx.Trace("  <Free>");
    ctx.Data = SetupData();
    ctx.Trace("  </Free>");
  } catch (const StartupExit& e) {
    // 13 to 16: the message, then the end of the process without the closing lines. The
    // support folder this run claimed (perhaps with every support file) goes first.
    showStartupError(windows.Owner(), e.message);
    windows.Close();
    platform::RemoveFolderTree(g.SupportFolder);
    supportLock.Release();
    platform::TerminateProcessNow(e.code);
  } catch (const std::exception& e) {
    showStartupError(nullptr, ctx.Message(5) + e.what());
    g.ExitCode = 11;
  } catch (...) {
    showStartupError(nullptr, ctx.Message(5) + "unknown error");
    g.ExitCode = 11;
  }
  windows.Close();

  // Remove the support folder.
  ctx.Trace("  <CachedSupportDir>");
  platform::RemoveFolderTree(g.SupportFolder);
  supportLock.Release();
  g.ReleaseSupportFolder = nullptr;
  ctx.Trace("  </CachedSupportDir>");
  ctx.Trace("</Vantrel>");
  return g.ExitCode;
}

}  // namespace kem
