#pragma once
// Rules of the link-free path operations (LinkFreePaths.h): how a full path
// splits at its volume root, and whether a folder or file that was opened on
// the way down may be used or is a link. Files written or deleted by a
// program that may run as LocalSystem must never be reached through a
// junction, a symbolic link or a mount point that somebody else placed in a
// folder they can write, nor be a second name (hard link) of a file elsewhere.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// A full path split at its volume root. The root keeps its own form and ends
// with a backslash: "C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\", "\\?\Volume{...}\"; the names are the pieces below
// it, in order.
struct VolumePath {
  std::wstring root;
  std::vector<std::wstring> names;

  // The root followed by the first `count` names, joined with single
  // backslashes; the root alone (with its backslash) for 0.
  std::wstring Prefix(size_t count) const;
};

// Splits a full path as the platform's full-path call gives it (drive
// letters, shares, and the "\\?\" forms of both; "/" is not a separator
// here). Nothing for a path that is not full ("x", "\x", "C:x"), that names
// no share ("\\server", "\\server\"), that is a device path ("\\.\..."), or
// that has an empty piece (doubled backslash), a "." or ".." piece or a
// wildcard character (* ? < > ") in a piece. A trailing backslash ends the
// path without a piece.
std::optional<VolumePath> SplitAtVolumeRoot(std::wstring_view fullPath);

// The folder part and the last name of a full path: "C:\a\b.txt" gives
// "C:\a" and "b.txt", "C:\b.txt" gives "C:\" and "b.txt". Nothing for a root
// or a path that SplitAtVolumeRoot refuses.
struct ParentAndName {
  std::wstring folder;
  std::wstring name;
};
std::optional<ParentAndName> SplitParentAndName(std::wstring_view fullPath);

// The path in the form the native rename call takes: "\??\C:\x" for
// "C:\x" and "\\?\C:\x", "\??\UNC\s\sh\x" for "\\s\sh\x" and
// "\\?\UNC\s\sh\x"; empty for other forms.
std::wstring NativePathOf(std::wstring_view fullPath);

// Whether a reparse point redirects names: a tag with the name-surrogate bit
// (junctions, mount points, symbolic links), or a tag that is not known (0:
// Wine reports its Unix symbolic links without one). Other reparse points
// (cloud placeholders, deduplicated and compressed files) hold data.
bool IsLinkReparseTag(uint32_t tag);

// What was found about one component (a folder on the way down, or the file
// at the end) after it was opened without following a link in its own name.
struct ComponentFacts {
  bool wantFolder = true;          // a folder on the way, or the file at the end
  uint32_t entryAttributes = 0;    // of its directory entry, looked up by name
  uint32_t entryTag = 0;           // the entry's reparse tag (0 when unknown)
  uint32_t handleAttributes = 0;   // of what was opened
  uint32_t handleTag = 0;          // its reparse tag (0 when unknown)
  bool diskFile = true;            // the opened file is a disk file
  uint32_t linkCount = 1;          // names of the opened file
  bool singleNameRequired = false; // a file that is written must have one name
  // Where the file system says the opened object and its folder are (both
  // empty when it cannot tell), and the component's name as its directory
  // lists it.
  std::wstring_view finalPath;
  std::wstring_view parentFinalPath;
  std::wstring_view entryName;
};

enum class ComponentVerdict {
  Usable,
  Link,             // a junction, symbolic link or mount point
  NotAFolder,       // a folder was expected
  NotAFile,         // a file was expected: a folder, a device, a pipe
  HardLinked,       // a file to be written has more than one name
  ElsewhereOnDisk,  // it is not the entry of its folder (a link was followed)
};

ComponentVerdict JudgeComponent(const ComponentFacts& facts);

// A short reason for logs and debugger output, e.g. "it is a link".
const wchar_t* ComponentVerdictText(ComponentVerdict verdict);

}  // namespace prereq
