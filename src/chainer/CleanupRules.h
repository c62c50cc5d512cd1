#pragma once
// Rules of the clean-up at exit: the clean-up state filled from
// [PREREQ_CHAINER], the splitting of CleanupFiles, which paths lie inside the
// clean-up root, and the folders between a path and the root.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chainer/Configuration.h"

namespace prereq {

// What the clean-up deletes at exit and what it hands to the clean-up script.
struct CleanupState {
  std::vector<std::wstring> deleteList;  // files to delete, in order
  // Paths for the script, in order, without duplicates (AddFolder).
  std::vector<std::wstring> folderList;
  std::wstring cleanupScript;  // the CleanupScript value
  bool scriptElevated = false;  // never set: the script runs with the verb "open"
  int32_t retryCount = 0;      // 10 once loaded
  std::wstring cleanupRoot;    // the CleanupFolders value

  // Appends the path unless folderList holds it already (EqualsIgnoringCase).
  void AddFolder(std::wstring_view path);
};

// The retry count handed to the clean-up script.
inline constexpr int32_t kCleanupRetryCount = 10;

// Ordinal comparison that ignores the case of A-Z only, the way the C
// runtime's _wcsicmp compares in the "C" locale.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

// The tokens of CleanupFiles: split at U+0001; runs of separators and
// separators at either end produce no empty token.
std::vector<std::wstring> SplitCleanupFiles(std::wstring_view files);

// A full path with its "." and ".." pieces and doubled separators resolved.
struct ResolvedPath {
  // "X:" for a drive, "\\server\share" for a share, "\\.\name" for a device
  // path. A "\\?\" path has the root of the path it names ("\\?\C:\x" the
  // root "C:", "\\?\UNC\s\sh\x" the root "\\s\sh").
  std::wstring root;
  std::vector<std::wstring> pieces;  // the names below the root, in order
  bool literal = false;              // "\\?\" form: taken by the platform as written

  // The path as text: root and pieces joined with single backslashes
  // ("C:\" for a drive root); a literal path keeps its "\\?\" prefix.
  std::wstring Text() const;
  // The folder that holds the path; none for a root.
  std::optional<ResolvedPath> Parent() const;
};

// Resolves a full path the way the platform reads it, or gives nothing for a
// path that is not a full one (relative, "\x", "C:x"), names no share or
// drive, or has a piece whose meaning the text cannot show:
// - drive paths ("X:\...", X an ASCII letter, or "X:" alone), shares
//   ("\\server\share\...") and device paths ("\\.\name\...") take "/" as a
//   separator too; empty pieces (doubled separators) add nothing; "." is
//   dropped; ".." drops the piece before it and never goes above the root;
//   every other piece loses its trailing blanks and dots, and a piece that
//   consists of dots and blanks only (other than "." and "..") makes the path
//   unresolvable;
// - "\\?\" paths are taken literally: only "\" separates, nothing is
//   stripped, and "." or ".." pieces make the path unresolvable.
std::optional<ResolvedPath> ResolveFullPath(std::wstring_view path);

// True when `path` lies inside the folder `root`: both resolve, their roots
// are equal, the root's pieces begin the path's pieces and the path has at
// least one piece more (the root itself is not inside). Pieces are compared
// exactly (with case), so C:\Tools\x is not inside C:\T, and C:\T\..\W\x is
// not inside C:\T.
bool LiesInside(std::wstring_view path, std::wstring_view root);

// The folder chain from `folder` upwards that lies inside `root`, deepest
// first, each as resolved text: the folder itself when inside, then each
// parent while it is still inside. Empty when the folder is not inside the
// root; the walk ends at the root and when no parent remains.
std::vector<std::wstring> FoldersInsideRoot(std::wstring_view folder, std::wstring_view root);

// The checks a CleanupFiles token passes before it is tested on disk: a full
// path in the absolute forms ("X:\", "\\") without wildcard characters
// (* ? < > " |) and without a trailing separator (a folder) that lies inside
// a non-empty root. Gives the resolved path to
// delete, or nothing.
std::optional<std::wstring> AcceptCleanupToken(std::wstring_view token, std::wstring_view root);

// Fills the clean-up state from [PREREQ_CHAINER]:
// - the script (when one is named) first in folderList; retryCount 10;
// - each CleanupFiles token that AcceptCleanupToken accepts and `exists`
//   finds (asked with the resolved path) into deleteList, then the
//   configuration file `iniPath` wherever it lies;
// - the executable into folderList, then its folder and each parent that lies
//   inside the root (FoldersInsideRoot), deepest first.
CleanupState BuildCleanupState(const ChainerSettings& settings, std::wstring_view modulePath,
                               std::wstring_view iniPath,
                               const std::function<bool(const std::wstring&)>& exists);

// Whether a folder of folderList may still go to the script, from what it
// holds now: nothing, or exactly one entry that folderList still hands to the
// script (the executable, or the next folder on the way to it).
bool FolderMayGoToScript(const std::vector<std::wstring>& entryPaths,
                         const std::vector<std::wstring>& folderList);

}  // namespace prereq
