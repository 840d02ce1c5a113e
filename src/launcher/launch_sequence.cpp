#include "launcher/launch_sequence.h"

#include <exception>
#include <string>
#include <vector>

#include "common/text.h"
#include "launcher/caption.h"
#include "launcher/command_line.h"
#include "launcher/message_table.h"
#include "launcher/run_script_call.h"
#include "launcher/setup_data.h"
#include "launcher/startup_globals.h"
#include "launcher/stub_size.h"
#include "launcher/trace_log.h"
#include "media/archive_operations.h"
#include "platform/files.h"
#include "platform/startup_windows.h"
#include "platform/win_system.h"

namespace kem {
namespace {

// Upper bound of support folder numbers tried before start-up gives up.
constexpr int kMaxSupportFolders = 100000;

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
void LoadTranslationsFromLibrary(const StartupGlobals& g) {
  const std::string library = g.ProgramFolder + "kem.lib";
  if (!platform::FileExists(library)) return;
  try {
    std::string head = platform::ReadFileFrom(library, 0);
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
    std::uint32_t stub = StubSizeOfFile(bytes);
    if (stub >= head.size()) return;
    // The language data is read straight from the library's bytes: a fixed temporary file
    // name ("lang.loc") would be shared by two setups started at once.
    // The user's language arrives with the translations; until then the first block wins
    // unless a later block is named "English".
    LoadMessageTable(std::string_view(head).substr(stub), "English");
  } catch (const std::exception&) {
    // A library without readable appended data keeps the built-in English texts.
  }
}

void RemoveSupportFolder(const std::string& folder) {
  if (folder.empty() || !platform::FolderExists(folder)) return;
  for (int sweep = 0; sweep < 3; ++sweep) platform::DeleteFolderContents(folder);
  platform::RemoveFolder(folder);
}

}  // namespace

int RunLaunchSequence() {
  platform::InitProcess();
  StartupGlobals& g = Startup();

  // 1. Registry marks for the program; never fails the start-up.
  const std::string programPath = platform::ProgramPath();
  try {
    platform::RegisterProgramCompatibility(FileNameOf(programPath), programPath);
  } catch (...) {
  }
  // 2. First processor only.
  platform::RestrictToFirstProcessor();
  // 3. Program folder and base name.
  g.SupportFolder.clear();
  g.ProgramPath = programPath;
  g.ProgramFolder = FolderOf(programPath);
  g.BaseName = WithoutExtension(FileNameOf(programPath));
  // 4. Temporary folder.
  g.TempFolder = platform::SystemTempFolder();
  platform::EnsureFolder(g.TempFolder);
  g.TempDirVariable = g.TempFolder;
  // 5. Translations appended to kem.lib.
  LoadTranslationsFromLibrary(g);
  // 6. Archive path and command line.
  g.ArchivePath = g.ProgramFolder + g.BaseName + ".res";
  const std::string rawLine = platform::RawCommandLine();
  g.CommandTail = ComputeCommandTail(rawLine);
  ParsedCommandLine cl = ParseArguments(SplitArguments(g.CommandTail));
  g.SilentMode = cl.Silent;
  g.UpdateMode = cl.Update;
  g.GroupPolicyPath = cl.GroupPolicyPath;
  g.OuterPackagePath = cl.OuterPackagePath;
  g.DataPathOverride = cl.DataPathOverride;
  g.CommandLineAssignments = cl.Assignments;
  SetTraceLogPath(cl.TraceLogPath);

  // 7.
  Trace("<Vantrel>");
  Trace("  <SetupSplash>");

  // 8. Start-up windows.
  platform::StartupWindows windows;
  if (!g.SilentMode && !g.UpdateMode) {
    windows.Show(g.ProgramFolder + "setup.bmp", Message(23), Message(24));
  }

  auto showStartupError = [&](const std::string& text, bool withOwner) {
    if (g.SilentMode) return;
    platform::ShowErrorBox(withOwner ? windows.Owner() : nullptr, text, WindowCaption());
  };

  // 9. From here to the script's return every exception ends the run with code 11.
  try {
    SetupData data;
    // 10. Locate the setup data.
    Trace("    <StubSize>");
    const std::uint32_t stub = ComputeStubSize(platform::OwnImageHeaders());
    const std::uint64_t size = platform::FileSize(programPath);
    if (size <= stub) throw StartupExit{13, "For internal use only"};
    Trace("    </StubSize>");
    // 11. Take the data after the image and read it. The bytes are parsed straight from
    // memory: a fixed temporary file name would be shared by two setups started at once.
    Trace("    <StubData>");
    std::string setupText = platform::ReadFileFrom(programPath, stub);
    Trace("    </StubData>");
    Trace("    <GlobalLists>");
    data = ReadSetupData(setupText);
    setupText.clear();
    setupText.shrink_to_fit();
    Trace("    </GlobalLists>");

    // 12. The support folder: the first "kem" + N that this run creates itself.
    Trace("    <SupportDir>");
    for (int n = 1;; ++n) {
      if (n > kMaxSupportFolders) throw std::runtime_error("No free support folder in " + g.TempFolder);
      std::string candidate = g.TempFolder + "kem" + std::to_string(n);
      if (platform::ClaimNewFolder(candidate)) {
        g.SupportFolder = candidate + "\\";
        break;
      }
    }
    Trace("    </SupportDir>");

    // 13. Unpack the support archive.
    Trace("    <ExtractArchive>");
    if (!platform::FileExists(g.ArchivePath)) throw StartupExit{14, Message(2)};
    std::string archiveError;
    if (!ExtractSupportArchive(g.ArchivePath, g.SupportFolder, archiveError)) throw StartupExit{15, Message(3)};
    Trace("    </ExtractArchive>");

    // 14. The installer database or patch package.
    Trace("    <ExtractResource>");
    const std::string msi = g.ProgramFolder + g.BaseName + ".msi";
    const std::string msp = g.ProgramFolder + g.BaseName + ".msp";
    if (!platform::FileExists(msi) && !platform::FileExists(msp)) throw StartupExit{16, Message(4)};
    Trace("    </ExtractResource>");

    // 15. Copy it beside the support files.
    Trace("    <ResourcePath>");
    platform::CopyFileNormal(msi, g.SupportFolder + g.BaseName + ".msi");
    platform::CopyFileNormal(msp, g.SupportFolder + g.BaseName + ".msp");
    Trace("    </ResourcePath>");
    g.DataFolder = g.ProgramFolder + "data\\";
    g.ProgramDataFolder = g.DataFolder;

    // 16. Dialogs: counted for the progress bar; each is preloaded by the dialog runtime.
    Trace("    <Dialogs>");
    int dialogs = 0;
    for (std::size_t i = 0; i < data.StatementCount(); ++i)
      if (data.StatementNames[i] == "Display Dialog" && data.CommentFlags[i] != "C") ++dialogs;
    g.DialogCount = dialogs;
    if (windows.Created()) windows.SetProgressRange(dialogs);
    for (std::size_t i = 0; i < data.StatementCount(); ++i) {
      if (data.StatementNames[i] != "Display Dialog" || data.CommentFlags[i] == "C") continue;
      if (windows.Created()) windows.Advance();
    }
    Trace("    </Dialogs>");

    // 17. Close the start-up windows.
    windows.Close();
    Trace("  </SetupSplash>");

    // 18. Run the script.
    Trace("  <RunScript>");
    RunScript(data, nullptr, g.SupportFolder + g.BaseName + ".msi");
    Trace("  </RunScript>");

    // 19. Free the per-run lists.
    Trace("  <Free>");
    data = SetupData();
    Trace("  </Free>");
  } catch (const StartupExit& e) {
    // 13 to 16: the message, then the end of the process without clean-up or closing lines.
    showStartupError(e.message, true);
    platform::TerminateProcessNow(e.code);
  } catch (const std::exception& e) {
    showStartupError(Message(5) + e.what(), false);
    g.ExitCode = 11;
  } catch (...) {
    showStartupError(Message(5) + "unknown error", false);
    g.ExitCode = 11;
  }
  windows.Close();

  // 21. Remove the support folder.
  Trace("  <CachedSupportDir>");
  RemoveSupportFolder(g.SupportFolder);
  Trace("  </CachedSupportDir>");
  Trace("</Vantrel>");
  return g.ExitCode;
}

}  // namespace kem
