// Unpacking a downloaded web media block: the extraction into a staging folder, the
// distribution of its files into the data folder, and the retry loop around both.
#include <map>
#include <memory>
#include <utility>

#include "common/text.h"
#include "engine/statement_error.h"
#include "media/archive_operations.h"
#include "media/block_media.h"
#include "media/media_work.h"
#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

constexpr int kWrongPasswordTries = 10;
constexpr std::string_view kGiveUpOrigin = "GrabMediaEx Extract Failure Cancel Trickle";

struct UnpackJob {
  WebBlockUnpack Block;
  std::string Staging;    // this unpack's own folder, with a trailing backslash
  std::string Caption;    // "Extracting Web Media: " + block name
  std::string CompleteText;
  std::string WebBlockFolder;  // COPYWEBLOCK
  bool Compress = false;
  // MediaFileMap triples of this block: file inside the archive's folder, destination.
  std::vector<std::pair<std::string, std::string>> Map;
  bool Success = false;
  bool WrongPassword = false;
};

std::string WithoutExtension(const std::string& name) {
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FolderName(const std::string& folder) {
  std::string f = folder;
  while (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return FileNamePart(f);
}

// Places the block's listed files where the file map sends them. A file listed twice is
// moved the first time and copied from its new place afterwards.
bool DistributeListed(MediaFileService& files, const UnpackJob& job, const std::string& unpacked,
                      const std::string& destination) {
  std::map<std::string, std::string> moved;  // lower-cased source -> where it went
  std::map<std::u16string, std::u16string> movedWide;
  bool wide = false;
  const std::u16string wideDestination = files.Widen(destination);
  for (const auto& [file, targetSub] : job.Map) {
    const std::string targetFolder = destination + targetSub;
    const std::string target = targetFolder + FileNamePart(file);
    // The target and the folders on its way are made, emptied and replaced only where no
    // link leads elsewhere.
    if (!files.OwnPath(wideDestination, files.Widen(target))) return false;
    if (!files.CreateFolders(targetFolder)) return false;
    if (!files.OwnPath(wideDestination, files.Widen(target))) return false;
    const std::string source = unpacked + file;
    if (!wide) {
      files.SetNormalAttributes(target);
      files.RemoveFile(target);
      const std::string key = LowerCase(source);
      if (files.FileExists(source)) {
        if (files.MoveTo(source, target)) {
          moved[key] = target;
          continue;
        }
        // The code page's names fail here: the rest goes through the wide forms.
        wide = true;
      } else if (auto it = moved.find(key); it != moved.end()) {
        if (!files.CopyTo(it->second, target, false)) return false;
        continue;
      } else {
        return false;
      }
    }
    const std::u16string wideTarget = files.Widen(target);
    const std::u16string wideSource = files.Widen(source);
    files.SetNormalAttributesWide(wideTarget);
    files.RemoveFileWide(wideTarget);
    std::u16string key = wideSource;
    for (char16_t& c : key)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (files.FileExistsWide(wideSource)) {
      if (!files.MoveToWide(wideSource, wideTarget)) return false;
      movedWide[key] = wideTarget;
    } else if (auto it = movedWide.find(key); it != movedWide.end()) {
      if (!files.CopyToWide(it->second, wideTarget, false)) return false;
    } else if (auto an = moved.find(LowerCase(source)); an != moved.end()) {
      if (!files.CopyTo(an->second, target, false)) return false;
    } else {
      return false;
    }
  }
  return true;
}

void RunUnpack(MediaFileService& files, ArchiveExtractor& archives, WorkerReporter& reporter, UnpackJob& job) {
  const WebBlockUnpack& block = job.Block;
  const std::string destination = WithTrailingBackslash(block.DataFolder);
  files.CreateFolders(destination);
  std::string error;
  const bool extracted = archives.Extract(
      block.ArchivePath, block.Password, job.Staging, true, true,
      [&reporter, &job](const std::string& entry, std::uint64_t done, std::uint64_t total) {
        const std::int64_t percent = ProgressPercent(done, total);
        return reporter.Report(job.Caption + "\r" + FileNamePart(entry) + ", " + std::to_string(percent) +
                                   job.CompleteText,
                               0, 100, percent);
      },
      error);
  job.WrongPassword = error == kArchiveCannotOpenText;
  if (!extracted) return;

  if (!job.WebBlockFolder.empty()) CopyWebBlock(files, block.ArchivePath, job.WebBlockFolder, job.Compress);
  const std::string name = WithoutExtension(FileNamePart(block.ArchivePath));
  const std::string unpacked = job.Staging + name + "\\";
  if (!DistributeListed(files, job, unpacked, destination)) return;
  if (!TransferFolder(files, unpacked, destination + name + "\\", true)) return;
  // The archive goes only once all of its files are in place: until then a retry can
  // still unpack it.
  if (!block.LocalCopy) {
    files.SetNormalAttributes(block.ArchivePath);
    files.RemoveFile(block.ArchivePath);
  }
  job.Success = true;
}

// The staging area of one unpack: a fresh folder of its own below the temporary folder's
// "vrax\", removed with everything in it at the end.
class Staging {
 public:
  Staging(MediaFileService& files, const std::string& tempFolder, bool compress) : files_(files) {
    root_ = WithTrailingBackslash(tempFolder) + "vrax\\";
    if (!files_.FolderExists(root_)) {
      files_.CreateFolders(root_);
      if (compress) files_.SetCompressed(root_);
    }
    folder_ = files_.CreateUniqueFolder(root_, "blk");
  }
  ~Staging() {
    if (!folder_.empty()) EmptyFolder(files_, folder_, true);
    files_.RemoveFolder(root_);  // only when nothing else is in it
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  const std::string& Folder() const { return folder_; }
  // Empties the folder for the next try.
  void Clear() {
    if (!folder_.empty()) EmptyFolder(files_, folder_, false);
  }

 private:
  MediaFileService& files_;
  std::string root_;
  std::string folder_;
};

}  // namespace

WebBlockUnpackResult UnpackWebBlock(Interpreter& in, MediaServices& media, const WebBlockUnpack& block) {
  EngineContext& ctx = in.Context();
  TVariableManager& vars = in.Vars();
  MediaFileService& files = media.Files;
  const std::string failure = ctx.Message(16);

  auto job = std::make_shared<UnpackJob>();
  job->Block = block;
  job->Caption = ctx.Message(15) + FolderName(block.BlockFolder);
  job->CompleteText = ctx.Message(21);
  job->WebBlockFolder = vars.Get("COPYWEBLOCK");
  job->Compress = IsTrue(vars.Get("VRAX_COMPRESS_INSTALLER_CACHE"));
  const std::string name = WithoutExtension(FileNamePart(block.ArchivePath));
  const HashedStringList& map = in.Data().MediaFileMap;
  for (std::size_t t = 0; t + 2 < map.Count(); t += 3)
    if (SameText(map[t], name)) job->Map.emplace_back(map[t + 1], map[t + 2]);

  Staging staging(files, ctx.Startup.TempFolder, job->Compress);
  if (staging.Folder().empty()) throw StatementError(failure);
  job->Staging = staging.Folder();

  int tries = 0;
  for (;;) {
    ++tries;
    job->Success = false;
    job->WrongPassword = false;
    ArchiveExtractor& archives = media.Archives;
    const WorkerOutcome outcome =
        RunWorker(in, [&files, &archives, job](WorkerReporter& reporter) { RunUnpack(files, archives, reporter, *job); });
    const bool cancelled = outcome.Cancelled || outcome.Abandoned;
    if (job->Success && !cancelled) {
      files.CreateFolders(block.BlockFolder);
      if (!files.CreateEmptyFile(BlockMarkerPath(block.BlockFolder, ctx.Data.RevisionCode)))
        throw StatementError(failure);
      media.State.UnattendedRetries = 0;
      return WebBlockUnpackResult::Unpacked;
    }
    // Nothing half-unpacked stays behind for the next try.
    if (!outcome.Abandoned) staging.Clear();
    EmptyFolder(files, block.BlockFolder, false);
    if (cancelled) throw StatementError(failure);
    // A wrong password is tried again without asking, ten tries in all.
    if (job->WrongPassword && tries < kWrongPasswordTries) continue;

    ExtractRetryChoice choice = ExtractRetryChoice::Cancel;
    if (!in.Silent()) {
      bool timedOut = false;
      auto& promptState = in.Hooks().Progress.PromptState;
      if (promptState) promptState(true, false);
      try {
        choice = media.RetryPrompt.Ask(ctx.State.WindowHandleOfNonModal,
                                       [&ctx](int n) { return ctx.Message(n); }, timedOut);
      } catch (...) {
        if (promptState) promptState(false, false);
        throw;
      }
      if (promptState) promptState(false, false);
      // Nobody at the machine: a retry chosen by the timer ten times in a row gives up.
      if (timedOut) {
        if (++media.State.UnattendedRetries >= kUnattendedRetryLimit) choice = ExtractRetryChoice::Cancel;
      } else {
        media.State.UnattendedRetries = 0;
      }
    }
    if (choice == ExtractRetryChoice::Cancel) {
      vars.SetVar("VRAX_IsCancelled", "TRUE", kGiveUpOrigin);
      throw StatementError(failure);
    }
    if (choice == ExtractRetryChoice::Download) {
      if (block.LocalCopy) {
        media.State.RejectedLocalCopies.insert(UpperCase(block.ArchivePath));
      } else {
        files.SetNormalAttributes(block.ArchivePath);
        files.RemoveFile(block.ArchivePath);
      }
      return WebBlockUnpackResult::DownloadAgain;
    }
  }
}

}  // namespace kem
