// The file work of media copying and extraction: folders listed without following links,
// moves and copies that never replace an existing file unless asked, and the wide-character
// forms for names that the setup's code page cannot spell. Paths are ANSI texts in the
// setup's code page; folders end with a backslash. Every call answers for the calling
// thread (file-system redirection belongs to a thread).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kem {

// One entry of a folder listing ("." and ".." never appear).
struct MediaEntry {
  // The name to address the entry by: its own name, or its short (8.3) name when the
  // code page cannot spell its own.
  std::string Name;
  // The entry's own name in UTF-16 when the code page cannot spell it; empty otherwise.
  std::u16string WideName;
  bool Folder = false;
  // A junction or symbolic link: listed, never entered.
  bool Link = false;
};

class MediaFileService {
 public:
  virtual ~MediaFileService() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  virtual std::vector<MediaEntry> List(const std::string& folder) = 0;
  // Creates the folder with every missing parent; true when it exists afterwards.
  virtual bool CreateFolders(const std::string& folder) = 0;
  virtual bool SetNormalAttributes(const std::string& path) = 0;
  // Creates (or truncates) an empty file.
  virtual bool CreateEmptyFile(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Removes an empty folder, or a folder link itself.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // Never replaces an existing target.
  virtual bool MoveTo(const std::string& from, const std::string& to) = 0;
  virtual bool CopyTo(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual std::optional<std::uint64_t> FileSize(const std::string& path) = 0;
  // Switches NTFS compression on for a file or folder; false where the volume cannot.
  virtual bool SetCompressed(const std::string& path) = 0;
  // A fresh, empty, uniquely named folder under parent (with a trailing backslash); empty
  // when none can be made.
  virtual std::string CreateUniqueFolder(const std::string& parent, const std::string& prefix) = 0;

  // Whether `path` (a file or folder below the folder `root`) can be written without going
  // through a link: every level of it below root that exists is a file or folder of its own,
  // neither a junction or symbolic link nor anything that resolves elsewhere (a link the
  // file system shows as a plain entry). Levels still missing pass; the root is taken as
  // given. Asked before a target is made, emptied, replaced or moved to.
  virtual bool OwnPath(const std::u16string& root, const std::u16string& path) = 0;

  // Switches the calling thread's WOW64 redirection off (true) or back (false); nests;
  // does nothing where there is none.
  virtual void SetThreadRedirectionOff(bool off) = 0;

  // The wide-character forms: a path converted with the setup's code page, and the
  // operations over UTF-16 paths.
  virtual std::u16string Widen(const std::string& path) = 0;
  virtual bool FileExistsWide(const std::u16string& path) = 0;
  // Creates the folder with every missing parent; true when it exists afterwards.
  virtual bool CreateFoldersWide(const std::u16string& folder) = 0;
  virtual bool MoveToWide(const std::u16string& from, const std::u16string& to) = 0;
  virtual bool CopyToWide(const std::u16string& from, const std::u16string& to, bool failIfExists) = 0;
  virtual bool SetNormalAttributesWide(const std::u16string& path) = 0;
  virtual bool RemoveFileWide(const std::u16string& path) = 0;
};

}  // namespace kem
