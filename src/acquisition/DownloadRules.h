#pragma once
// Where a downloaded package lands and whether it is already there: file URLs,
// the target path in the download folder, the file name taken from a URL.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "chainer/Configuration.h"

namespace prereq {

// The local or network path of a "file:///" or "file://" URL (prefix compared
// without regard to case), by the rule the transfer engine reads such URLs
// with (FileUrlPath): "file:///C:/x" gives "C:\x", "file://server/share/x"
// gives "\\server\share\x", percent escapes are decoded. False for other
// URLs.
bool FileUrlLocalPath(std::wstring_view url, std::wstring& path);

// The file name a URL suggests: the last name with an extension before the
// end of the URL (or before a second "://"), at most 41 characters, never
// containing one of the separators \/:*?"<>|. May be empty.
std::wstring FileNameFromUrl(std::wstring_view url);

// The download folder, then the folder part of `folder` (its text before the
// first "?"), a backslash, then the file part (the text after the "?") or the
// name taken from the URL.
std::wstring TargetPath(std::wstring_view downloadFolder, std::wstring_view url,
                        std::wstring_view folder);

// Answers whether a file (not a folder) exists at the path, with its size.
using FileProbe = std::function<bool(const std::wstring& path, uint64_t& size)>;

// The presence rule with a given view of the file system: a file URL is
// present; otherwise the target file must exist and, when ExactSize is not 0,
// have exactly that size in its low 32 bits.
bool IsPresentWith(const Prerequisite& prereq, std::wstring_view downloadFolder,
                   const FileProbe& probe);

#ifdef _WIN32
// The presence rule against the real file system.
bool IsPresent(const Prerequisite& prereq, const std::wstring& downloadFolder);
#endif

}  // namespace prereq
