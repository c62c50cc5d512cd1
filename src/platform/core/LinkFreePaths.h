#pragma once
// Files and folders reached without following a link. Every operation here
// first opens the folders from the volume root down to the path's folder,
// one after the other, and goes on only when none of them, and not the file
// itself, is a junction, a symbolic link or a mount point (under Wine: a
// Unix symbolic link); LinkFreePathRules.h judges each one. The folders stay
// open without delete sharing while the operation runs (and while the caller
// keeps a LinkFreeFile), so that on Windows none of them can be renamed or
// replaced by a link in the meantime. The file is opened without following a
// link in its own name and judged by its handle; what is written, renamed or
// deleted is exactly what was judged.
//
// Paths may be relative (to the current folder) and of any length; the
// long-path form is used where needed. Every operation answers 0 or a system
// error code; kErrorPathHasLink when a component is a link, has another
// name (files that are written), or is not what the path says.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/core/Handles.h"
#include "platform/core/LinkFreePathRules.h"

namespace prereq {

// ERROR_STOPPED_ON_SYMLINK: "The create operation stopped after reaching a
// symbolic link."
inline constexpr DWORD kErrorPathHasLink = 681;

// The volume root a walk started from: its final path and serial number.
struct HeldVolume {
  std::wstring finalPath;
  DWORD serial = 0;
};

// The folders of a path from the volume root down, each judged and held
// open (read-attributes access, shared for reading and writing only).
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(HeldFolders&&) noexcept = default;
  HeldFolders& operator=(HeldFolders&&) noexcept = default;

  bool Empty() const { return handles_.empty(); }
  // The innermost folder: its full path as given, and its final path as the
  // file system names it (empty when it cannot tell).
  const std::wstring& Folder() const { return folder_; }
  const std::wstring& FinalPath() const { return finalPath_; }
  const HeldVolume& Volume() const { return volume_; }
  // Closes every handle.
  void Release();

 private:
  friend DWORD HoldFolders(const std::wstring&, HeldFolders&, std::vector<std::wstring>*,
                           std::wstring*);
  std::vector<FileHandle> handles_;
  HeldVolume volume_;
  std::wstring folder_;
  std::wstring finalPath_;
};

// Opens and judges the folders from the volume root down to `folder`. With
// `created`, missing folders are created on the way (outermost first, each
// created one appended to *created); without it a missing folder gives
// ERROR_PATH_NOT_FOUND. `refusal`, when given, receives the reason of a
// kErrorPathHasLink ("C:\x\y: it is a link").
DWORD HoldFolders(const std::wstring& folder, HeldFolders& out,
                  std::vector<std::wstring>* created = nullptr, std::wstring* refusal = nullptr);

// How OpenFileLinkFree treats an existing or missing file.
enum class LinkFreeDisposition {
  OpenExisting,  // the file must exist
  CreateNew,     // the file must not exist; it is created
  OpenAlways,    // opened when it exists, created otherwise
  CreateAlways,  // created, or an existing file is emptied (through its judged handle)
};

// A file opened by OpenFileLinkFree, with the folders above it held for as
// long as this lives.
struct LinkFreeFile {
  FileHandle file;
  HeldFolders folders;
  std::wstring path;     // the full path that was opened
  bool created = false;  // the open created the file
  // Why the path was refused, for logs: the reason alone for the file
  // ("it has more than one name"), the folder and the reason for a folder
  // above it ("C:\x\y: it is a link").
  std::wstring refusal;

  explicit operator bool() const { return file.valid(); }
  // Closes the file, then the folders.
  void Release();
};

// Opens the file at `path` as CreateFileW would with `access`, `share` and
// the disposition, never through a link: the folders are held and judged
// (HoldFolders), the file is opened without following a link in its name and
// judged by its handle. A file opened with write, append or delete access
// must also have a single name (no hard link) and be a disk file. A file
// this call created and then refused is deleted again. Folders are not
// created (CreateParentFolders does that).
DWORD OpenFileLinkFree(const std::wstring& path, DWORD access, DWORD share,
                       LinkFreeDisposition disposition, LinkFreeFile& out);

// Deletes the file at `path` (a single name of it: a hard link elsewhere
// keeps its content) when neither a folder above it nor the file is a link.
// ERROR_FILE_NOT_FOUND when there is none; a file that is held open without
// delete sharing is not deleted (ERROR_SHARING_VIOLATION).
DWORD DeleteFileLinkFree(const std::wstring& path);

// Removes the empty folder at `path` when neither it nor a folder above it
// is a link; ERROR_DIR_NOT_EMPTY when it holds anything.
DWORD RemoveFolderLinkFree(const std::wstring& path);

// Gives the open file `file` (opened with DELETE access) the name `target`,
// replacing a file of that name; a link of that name is replaced as a name,
// never followed. The target's folders are held and judged like the file's.
// `file` stays open (under its new name); file.path becomes `target`.
DWORD RenameLinkFree(LinkFreeFile& file, const std::wstring& target);

// Renames the file at `from` to `target` (replacing a file there), both
// without a link on the way; when renaming is not possible (another volume,
// a target in use), the bytes are copied into the target instead (created or
// emptied through a judged handle) and `from` is deleted. A copy that fails
// leaves no target behind. The way to put a file written under a temporary
// name in the same folder into place.
DWORD MoveIntoPlaceLinkFree(const std::wstring& from, const std::wstring& target);

// Whether a folder exists at `path` (any length).
bool IsFolder(const std::wstring& path);
// Whether something other than a folder exists at `path` (any length).
bool IsFile(const std::wstring& path);

// Creates the missing folders above the file path `filePath`, outermost
// first, never through a link (HoldFolders with creation); each folder
// created is appended to *created when given. 0, or the error that stopped
// the creation (folders created until then stay, and are listed).
DWORD CreateParentFolders(const std::wstring& filePath, std::vector<std::wstring>* created = nullptr);

// The full path of `path` as the platform resolves it (relative paths
// against the current folder, "." and ".." pieces, trailing dots and
// blanks); empty when it cannot be formed.
std::wstring FullPathOf(const std::wstring& path);

}  // namespace prereq
