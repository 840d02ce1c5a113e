#include "media/block_media.h"

#include <utility>
#include <vector>

#include "common/text.h"
#include "media/media_work.h"

namespace kem {
namespace {

// One sweep over the folder's contents: files and links removed, folders emptied and
// removed. `top` is the folder being emptied: an entry that resolves anywhere but to its
// own place below it (a link shown as a plain file or folder) is left alone, since
// removing it, or what it holds, would remove what it leads to.
void SweepFolder(MediaFileService& files, const std::u16string& top, const std::string& folder) {
  for (const MediaEntry& entry : files.List(folder)) {
    const std::string path = folder + entry.Name;
    if (entry.Link) {
      // The link itself goes; what it points to stays.
      if (!entry.Folder || !files.RemoveFolder(path)) {
        files.SetNormalAttributes(path);
        files.RemoveFile(path);
      }
    } else if (!files.OwnPath(top, files.Widen(path))) {
      continue;
    } else if (entry.Folder) {
      files.SetNormalAttributes(path);
      SweepFolder(files, top, path + "\\");
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
  const std::u16string wideTo = files.Widen(to);
  for (const TreeFile& file : CollectTree(files, from)) {
    bool done;
    if (file.Wide) {
      // The code page cannot spell the name or a folder above it: the target keeps the
      // entries' own names.
      const std::u16string target = WideTarget(files, to, file);
      // Nothing is made, emptied or replaced through a link in the destination.
      if (!files.OwnPath(wideTo, target)) return false;
      if (!files.CreateFoldersWide(WideTargetFolder(files, to, file))) return false;
      if (!files.OwnPath(wideTo, target)) return false;
      const std::u16string wideSource = files.Widen(file.Source);
      if (move) {
        files.SetNormalAttributesWide(target);
        files.RemoveFileWide(target);
        done = files.MoveToWide(wideSource, target);
      } else {
        done = files.CopyToWide(wideSource, target, false);
      }
    } else {
      const std::string targetFolder = to + file.RelativeFolder;
      const std::string target = targetFolder + file.Name;
      if (!files.OwnPath(wideTo, files.Widen(target))) return false;
      if (!files.CreateFolders(targetFolder)) return false;
      if (!files.OwnPath(wideTo, files.Widen(target))) return false;
      if (move) {
        files.SetNormalAttributes(target);
        files.RemoveFile(target);
        done = files.MoveTo(file.Source, target);
      } else {
        done = files.CopyTo(file.Source, target, false);
      }
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
    SweepFolder(files, files.Widen(path), path);
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
