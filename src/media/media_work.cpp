#include "media/media_work.h"

#include "common/text.h"

namespace kem {
namespace {

constexpr std::string_view kPartialSuffix = ".kempart";

void Walk(MediaFileService& files, const std::string& root, const std::string& relative,
          const std::u16string& wideRelative, bool wide, std::vector<TreeFile>& out) {
  for (MediaEntry& entry : files.List(root + relative)) {
    if (entry.Link) continue;
    const std::u16string ownName = entry.WideName.empty() ? files.Widen(entry.Name) : entry.WideName;
    if (entry.Folder) {
      Walk(files, root, relative + entry.Name + "\\", wideRelative + ownName + u"\\",
           wide || !entry.WideName.empty(), out);
    } else {
      TreeFile file;
      file.Source = root + relative + entry.Name;
      file.RelativeFolder = relative;
      file.Name = entry.Name;
      file.WideRelativeFolder = wideRelative;
      file.Wide = wide || !entry.WideName.empty();
      file.WideName = std::move(entry.WideName);
      out.push_back(std::move(file));
    }
  }
}

}  // namespace

std::vector<TreeFile> CollectTree(MediaFileService& files, const std::string& folder) {
  std::vector<TreeFile> out;
  Walk(files, WithTrailingBackslash(folder), "", u"", false, out);
  return out;
}

std::u16string WideTargetFolder(MediaFileService& files, const std::string& targetFolder, const TreeFile& file) {
  return files.Widen(WithTrailingBackslash(targetFolder)) + file.WideRelativeFolder;
}

std::u16string WideTarget(MediaFileService& files, const std::string& targetFolder, const TreeFile& file) {
  return WideTargetFolder(files, targetFolder, file) + (file.WideName.empty() ? files.Widen(file.Name) : file.WideName);
}

std::string FileNamePart(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::int64_t ProgressPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 100;
  if (done >= total) return 100;
  // done * 100 would need more than 64 bits past 2^57 bytes: both are scaled down alike,
  // which the percent does not notice.
  while (total > UINT64_MAX / 100) {
    total >>= 1;
    done >>= 1;
  }
  const std::uint64_t percent = done * 100 / total + 1;
  return percent > 100 ? 100 : static_cast<std::int64_t>(percent);
}

bool CopyWhole(MediaFileService& files, const std::string& from, const std::string& to) {
  if (files.FileExists(to)) return false;
  return CopyWholeAbsent(files, from, to);
}

bool CopyWholeAbsent(MediaFileService& files, const std::string& from, const std::string& to) {
  const std::string partial = to + std::string(kPartialSuffix);
  // A partial file left by an earlier run is overwritten; only one that resists (read-only)
  // costs the extra calls. Each call on a name that does not exist makes Wine search the
  // folder for it in every letter case, so the usual path makes as few as it can.
  bool copied = files.CopyTo(from, partial, false);
  if (!copied) {
    files.SetNormalAttributes(partial);
    files.RemoveFile(partial);
    copied = files.CopyTo(from, partial, true);
  }
  if (!copied) {
    files.RemoveFile(partial);
    return false;
  }
  if (files.MoveTo(partial, to)) return true;
  files.SetNormalAttributes(partial);
  files.RemoveFile(partial);
  return false;
}

bool CopyWholeWide(MediaFileService& files, const std::u16string& from, const std::u16string& to) {
  if (files.FileExistsWide(to)) return false;
  std::u16string partial = to;
  for (char c : kPartialSuffix) partial.push_back(static_cast<char16_t>(c));
  files.SetNormalAttributesWide(partial);
  files.RemoveFileWide(partial);
  if (!files.CopyToWide(from, partial, true)) {
    files.RemoveFileWide(partial);
    return false;
  }
  if (files.MoveToWide(partial, to)) return true;
  files.SetNormalAttributesWide(partial);
  files.RemoveFileWide(partial);
  return false;
}

bool CopyWebBlock(MediaFileService& files, const std::string& archive, const std::string& folder, bool compress) {
  const std::string target = WithTrailingBackslash(folder);
  if (!files.FolderExists(target)) {
    if (!files.CreateFolders(target)) return false;
    if (compress) files.SetCompressed(target);
  }
  const std::string copy = target + FileNamePart(archive);
  if (files.FileExists(copy)) {
    const auto have = files.FileSize(copy);
    if (have && have == files.FileSize(archive)) return true;
    files.SetNormalAttributes(copy);
    files.RemoveFile(copy);
  }
  return CopyWhole(files, archive, copy);
}

}  // namespace kem
