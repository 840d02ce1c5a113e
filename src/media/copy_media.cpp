// Copying the setup's own data (the offline block and the merge modules) into the data
// folder, file by file on a worker thread.
#include <algorithm>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/text.h"
#include "media/block_media.h"
#include "media/media_work.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"
#include "script/worker/progress_channel.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

// One file to bring over: where it is and the folder its place is below.
struct CopyItem {
  TreeFile File;
  std::string TargetFolder;
};

void ListTree(MediaFileService& files, const std::string& folder, const std::string& targetFolder,
              std::vector<CopyItem>& out) {
  for (TreeFile& file : CollectTree(files, folder)) out.push_back(CopyItem{std::move(file), targetFolder});
}

std::string ParentFolder(const std::string& folder) {
  std::string f = folder;
  while (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  const auto cut = f.find_last_of("\\/");
  return cut == std::string::npos ? folder : f.substr(0, cut + 1);
}

// A file moved into the data folder: it goes back when the copy fails.
struct MovedFile {
  std::string Source;
  std::string Target;
  std::u16string WideSource, WideTarget;
};

struct CopyJob {
  std::string Source, Destination;
  std::u16string WideDestination;
  bool Compress = false;
  bool CompressFiles = false;  // cleared when the volume refuses compression
  bool CopyOnly = false;  // the program's data folder keeps its files
  std::string CompleteText;
  std::string WebBlockFolder, OuterPackage;
  bool Success = false;
  std::vector<MovedFile> Moved;
  std::string LastFolder;  // the target folder made last
  std::unordered_set<std::string> LastFolderNames;  // what it held then, upper case
  bool LastFolderListed = false;  // every name it held is in LastFolderNames
};

// A name that letter case alone can match: ASCII, and no '~' (it may be a short name).
bool PlainName(const std::string& name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '~'; });
}

// Brings one file over; false when the target does not exist afterwards.
bool BringOver(MediaFileService& files, const CopyItem& item, CopyJob& job) {
  const TreeFile& file = item.File;
  // Nothing is placed through a link in the data folder (an existing target is kept, never
  // replaced, so only the folders on the way can lead elsewhere).
  if (file.Wide) {
    const std::u16string target = WideTarget(files, item.TargetFolder, file);
    if (!files.OwnPath(job.WideDestination, target)) return false;
    if (!files.CreateFoldersWide(WideTargetFolder(files, item.TargetFolder, file))) return false;
    if (!files.OwnPath(job.WideDestination, target)) return false;
    const std::u16string source = files.Widen(file.Source);
    if (!files.FileExistsWide(target)) {
      bool placed = false;
      if (!job.CopyOnly && files.MoveToWide(source, target)) {
        job.Moved.push_back(MovedFile{{}, {}, source, target});
        placed = true;
      }
      if (!placed) CopyWholeWide(files, source, target);
    }
    return files.FileExistsWide(target);
  }
  // The files of one folder come one after another: its folder is made once. (Under Wine
  // every call on a path costs a trip to the server, and one on a missing name a search of
  // its folder, so each file gets only the calls it needs.)
  const std::string targetFolder = item.TargetFolder + file.RelativeFolder;
  if (targetFolder != job.LastFolder) {
    const std::u16string wideFolder = files.Widen(targetFolder);
    if (!files.OwnPath(job.WideDestination, wideFolder)) return false;
    if (!files.CreateFolders(targetFolder)) return false;
    if (!files.OwnPath(job.WideDestination, wideFolder)) return false;
    job.LastFolder = targetFolder;
    job.LastFolderNames.clear();
    job.LastFolderListed = true;
    for (const MediaEntry& entry : files.List(targetFolder)) {
      if (!entry.WideName.empty() || !PlainName(entry.Name)) job.LastFolderListed = false;
      if (!entry.Folder) job.LastFolderNames.insert(UpperCase(entry.Name));
    }
  }
  const std::string target = targetFolder + file.Name;
  // What the folder held when it was listed tells whether a plain name is there (a fresh
  // cache folder holds nothing), without a look-up per file; other names, and all names of
  // a folder that held other ones, are looked up. Either way nothing existing is replaced:
  // the move and the rename below fail on an existing target.
  const bool plain = job.LastFolderListed && PlainName(file.Name);
  if (plain ? job.LastFolderNames.contains(UpperCase(file.Name)) : files.FileExists(target)) return true;  // kept
  bool placed = false;
  if (!job.CopyOnly && files.MoveTo(file.Source, target)) {
    job.Moved.push_back(MovedFile{file.Source, target, {}, {}});
    placed = true;
  }
  if (!placed) placed = CopyWholeAbsent(files, file.Source, target);
  if (!placed) return files.FileExists(target);
  // A volume without compression refuses it for every file: asked once.
  if (job.CompressFiles && !files.SetCompressed(target)) job.CompressFiles = false;
  return true;
}

void RunCopy(MediaFileService& files, WorkerReporter& reporter, CopyJob& job) {
  reporter.Report(kKeepProgressText, 0, 100, 0);
  std::string source = WithTrailingBackslash(job.Source);
  if (!files.FolderExists(source + "offline\\") && !files.FolderExists(source + "mergemod\\"))
    source = ParentFolder(source);
  const std::string destination = WithTrailingBackslash(job.Destination);
  job.WideDestination = files.Widen(destination);

  std::vector<CopyItem> items;
  ListTree(files, source + "offline\\", destination + "offline\\", items);
  ListTree(files, source + "mergemod\\", destination, items);

  const std::size_t n = items.size();
  for (std::size_t i = 1; i <= n; ++i) {
    if (reporter.StopRequested()) return;
    const CopyItem& item = items[i - 1];
    const std::int64_t percent = std::min<std::int64_t>(static_cast<std::int64_t>((i - 1) * 100 / n + 1), 100);
    reporter.Report(item.File.Name + ", " + std::to_string(percent) + job.CompleteText, 0, 100, percent);
    if (!BringOver(files, item, job)) return;
  }
  if (!job.WebBlockFolder.empty()) CopyWebBlock(files, job.OuterPackage, job.WebBlockFolder, job.Compress);
  job.Success = true;
}

// Puts the moved files back where they came from, last first.
void UndoMoves(MediaFileService& files, const std::vector<MovedFile>& moved) {
  for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
    if (it->WideTarget.empty()) {
      files.MoveTo(it->Target, it->Source);
    } else {
      files.MoveToWide(it->WideTarget, it->WideSource);
    }
  }
}

}  // namespace

bool CopyOfflineMedia(Interpreter& in, MediaServices& media, const std::string& sourceFolder,
                      const std::string& destinationFolder) {
  TVariableManager& vars = in.Vars();
  auto job = std::make_shared<CopyJob>();
  job->Source = sourceFolder;
  job->Destination = destinationFolder;
  job->Compress = IsTrue(vars.Get("VRAX_COMPRESS_INSTALLER_CACHE"));
  job->CompressFiles = job->Compress;
  job->CopyOnly = in.Data().MediaMode == 2 &&
                  UpperCase(ExpandCompilerVars(in.Data().CompilerVariables, "#CACHESOURCES#")) == "TRUE";
  job->CompleteText = in.Context().Message(21);
  job->WebBlockFolder = vars.Get("COPYWEBLOCK");
  job->OuterPackage = vars.Get("SFXPATH") + vars.Get("SFXFILE");

  MediaFileService& files = media.Files;
  const WorkerOutcome outcome =
      RunWorker(in, [&files, job](WorkerReporter& reporter) { RunCopy(files, reporter, *job); });
  if (outcome.Abandoned) return false;
  if (!job->Success) UndoMoves(files, job->Moved);
  return job->Success;
}

}  // namespace kem
