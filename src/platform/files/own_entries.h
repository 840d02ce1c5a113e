// Entries reached without following links. One check serves every writer and remover that
// must stay in its own folder: the support-folder clean-up, "Delete Files Recursive",
// kem.lib's extraction and the media moves into the installer cache.
//
// An entry is its own when the system does not mark it as a link (junction, symbolic link)
// and it resolves to its folder's resolved path followed by its own name. The second half
// catches links that some file systems show as plain files or folders (Wine shows the
// host's symbolic links so): opened, they resolve to their target. Free of <windows.h>;
// paths are UTF-16 and may be longer than MAX_PATH.
#pragma once

#include <string>

namespace kem::platform {

// Where the system resolves a path to, opened without following a link the system marks
// (the object manager's name of the open entry). Empty when the entry cannot be opened or
// named. Only ever compared with another resolved path (SameResolvedPath).
std::wstring ResolvedPath(const std::wstring& path);
// The same, links followed: where a folder named by the caller really is (its own links,
// and those on the way to it, are the caller's choice).
std::wstring ResolvedTargetPath(const std::wstring& path);
// The same for an open file or folder handle.
std::wstring ResolvedNameOf(void* handle);
bool SameResolvedPath(const std::wstring& a, const std::wstring& b);

enum class EntryCheck {
  Missing,  // nothing of that name
  Own,      // a file or folder of its own
  Link,     // marked as a link, or resolving anywhere but to `expected`
  Unknown,  // there, but it could not be opened or named to find out
};
// What the entry at `path` is, given the resolved path it must have when it is its own.
EntryCheck CheckEntry(const std::wstring& path, const std::wstring& expected);

// What RemoveEntry did.
enum class Removal {
  Removed,      // the file or the (empty) folder is gone
  LinkRemoved,  // a link the system marks, removed itself
  LeftAlone,    // resolves elsewhere (a link shown as a plain entry) or could not be checked
  Failed,       // its own, but the system refused (in use, a folder not empty)
};
// Removes one entry found in a folder whose resolved path is known, never through a link:
// a marked link is removed itself; an entry that resolves to anything but `expected`
// stays, since deleting it would delete its target. `folder` says whether it was listed
// as a folder (then only an empty one goes). A read-only attribute is cleared only where
// it stops the removal. `expected` empty: only marked links are removed.
Removal RemoveEntry(const std::wstring& path, const std::wstring& expected, bool folder);

// The form of a path that the wide calls take at any length ("\\?\X:\..." or
// "\\?\UNC\..."); shorter paths unchanged.
std::wstring ExtendedPath(const std::wstring& path);
std::wstring WithoutTrailingBackslashW(std::wstring path);

// Checks paths below one folder level by level, remembering the folders it has found to
// be their own. `root` is taken as given (the caller named it); every level below it must
// be its own entry.
class OwnPathChecker {
 public:
  // The root is named with its links followed (it is taken as given). False when it
  // cannot be named (yet): then only marked links are seen below it.
  bool Reset(const std::wstring& root);
  // Whether every existing level of `path` below the root is its own entry (levels that
  // do not exist yet pass: whoever creates them checks them again). `path` outside the
  // root fails. On failure `offender` names the first level that is not its own.
  bool Check(const std::wstring& path, std::wstring* offender = nullptr);
  // The resolved path that `path` (below the root) has when every level is its own.
  std::wstring Expected(const std::wstring& path) const;
  const std::wstring& Root() const { return root_; }
  // Whether the root could be named; otherwise only links the system marks can be seen.
  bool Named() const { return !resolvedRoot_.empty(); }

 private:
  std::wstring root_, resolvedRoot_;
  std::wstring lastGood_;  // the deepest folder found to be its own by the last check
};

}  // namespace kem::platform
