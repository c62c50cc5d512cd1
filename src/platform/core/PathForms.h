#pragma once
// Path text rules shared by every subsystem: long-path form and the
// normalisation of configured paths.
#include <cstddef>
#include <string>
#include <string_view>

namespace prereq {

// A path longer than 247 characters that begins with two backslashes or has
// ":" as its second character gets the "\\?\" prefix ("\\?\UNC\" in place of
// the two leading backslashes of a UNC path) unless it is already in a
// namespaced form ("\\?\", "\\.\").
// Shorter paths are returned unchanged.
std::wstring ToLongPathForm(std::wstring_view path);

// Drops a leading "\\?\UNC\" (putting back two backslashes) or "\\?\".
std::wstring FromLongPathForm(std::wstring_view path);

// Normalises a configured path: splits it into a root and backslash-separated
// pieces, strips trailing blanks and dots from every piece, and joins them
// with single backslashes (none after a piece ending in "]", whose folder
// property brings its own). Empty pieces add nothing; doubled backslashes
// collapse. The pieces "." and ".." keep their dots so that the platform still
// resolves them.
std::wstring NormalizePath(std::wstring_view path);

// The longest path and command line Windows accepts, in characters without
// the terminating NUL (32,767 with it). Longer configuration texts are
// refused before any system call sees them.
inline constexpr size_t kMaxPathLength = 32766;
inline constexpr size_t kMaxCommandLineLength = 32766;
// The longest path the shell's launch call takes (lpFile, lpDirectory): it is
// bound to MAX_PATH, and longer ones overrun its buffers under Wine.
inline constexpr size_t kMaxShellPathLength = 259;

// True when the path, in its long-path form, is longer than kMaxPathLength.
bool ExceedsPathLimit(std::wstring_view path);

// The text with a backslash appended unless it is empty or already ends in one.
std::wstring WithTrailingBackslash(std::wstring_view path);

}  // namespace prereq
