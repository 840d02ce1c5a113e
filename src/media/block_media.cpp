#include "media/block_media.h"

#include <utility>
#include <vector>

#include "common/text.h"

namespace kem {
namespace {

// A file below a transfer's source: its folder relative to the source (empty or ending
// with a backslash) and its listing entry.
struct TreeFile {
  std::string RelativeFolder;
  MediaEntry Entry;
};

// Every file under folder, all depths; links are neither entered nor listed.
void CollectFiles(MediaFileService& files, const std::string& folder, const std::string& relative,
                  std::vector<TreeFile>& out) {
  for (MediaEntry& entry : files.List(folder + relative)) {
    if (entry.Link) continue;
    if (entry.Folder) {
      CollectFiles(files, folder, relative + entry.Name + "\\", out);
    } else {
      out.push_back(TreeFile{relative, std::move(entry)});
    }
  }
}

// One sweep over the folder's contents: files and links removed, folders emptied and
// removed.
void SweepFolder(MediaFileService& files, const std::string& folder) {
  for (const MediaEntry& entry : files.List(folder)) {
    const std::string path = folder + entry.Name;
    if (entry.Link) {
      // The link itself goes; what it points to stays.
      if (!entry.Folder || !files.RemoveFolder(path)) {
        files.SetNormalAttributes(path);
        files.RemoveFile(path);
      }
    } else if (entry.Folder) {
      files.SetNormalAttributes(path);
      SweepFolder(files, path + "\\");
      files.RemoveFolder(path + "\\");
    } else {
      files.SetNormalAttributes(path);
      files.RemoveFile(path);
    }
  }
}

}  // namespace

std::string BlockMarkerPath(const std::string& blockFolder, const std::string& revisionCode) {
  return WithTrailingBackslash(blockFolder) + revisionCode;
}

bool TransferFolder(MediaFileService& files, const std::string& source, const std::string& destination,
                    bool move) {
  const std::string from = WithTrailingBackslash(source);
  const std::string to = WithTrailingBackslash(destination);
  std::vector<TreeFile> list;
  CollectFiles(files, from, "", list);
  for (const TreeFile& file : list) {
    const std::string targetFolder = to + file.RelativeFolder;
    if (!files.CreateFolders(targetFolder)) return false;
    const std::string sourcePath = from + file.RelativeFolder + file.Entry.Name;
    if (!file.Entry.WideName.empty()) {
      // The code page cannot spell the name: the target keeps the file's own name.
      const std::u16string target = files.Widen(targetFolder) + file.Entry.WideName;
      const std::u16string wideSource = files.Widen(sourcePath);
      bool done;
      if (move) {
        files.SetNormalAttributesWide(target);
        files.RemoveFileWide(target);
        done = files.MoveToWide(wideSource, target);
      } else {
        done = files.CopyToWide(wideSource, target, false);
      }
      if (!done) return false;
      continue;
    }
    const std::string target = targetFolder + file.Entry.Name;
    bool done;
    if (move) {
      files.SetNormalAttributes(target);
      files.RemoveFile(target);
      done = files.MoveTo(sourcePath, target);
    } else {
      done = files.CopyTo(sourcePath, target, false);
    }
    if (!done) return false;
  }
  if (move) EmptyFolder(files, from, true);
  return true;
}

bool EmptyFolder(MediaFileService& files, const std::string& folder, bool removeFolder) {
  const std::string path = WithTrailingBackslash(folder);
  if (!files.FolderExists(path)) return true;
  for (int sweep = 0; sweep < 3; ++sweep) {
    SweepFolder(files, path);
    if (files.List(path).empty()) break;
  }
  if (!files.List(path).empty()) return false;
  if (!removeFolder) return true;
  files.SetNormalAttributes(path);
  return files.RemoveFolder(path);
}

bool LocalCopyRejected(const MediaServices& media, const std::string& archivePath) {
  return media.State.RejectedLocalCopies.count(UpperCase(archivePath)) != 0;
}

}  // namespace kem
