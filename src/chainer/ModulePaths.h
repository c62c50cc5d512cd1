#pragma once
// Names derived from the executable's path.
#include <string>
#include <string_view>

namespace prereq {

// The folder of a path: the text before its last backslash (empty when none).
std::wstring FolderOf(std::wstring_view path);

// The configuration file beside the executable: folder, backslash, base name
// (the file name cut at its last "."), ".ini".
std::wstring ConfigPathFor(std::wstring_view modulePath);

// The file name (after the last backslash) with the text after its last "."
// replaced by `extension`; a name without "." gets "." and the extension.
std::wstring ReplaceExtension(std::wstring_view fileName, std::wstring_view extension);

// The file name part of a path (after its last backslash).
std::wstring FileNameOf(std::wstring_view path);

}  // namespace prereq
