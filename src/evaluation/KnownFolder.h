#pragma once
// Paths of the platform's known folders.
#include <windows.h>
#include <shlobj.h>

#include <string>

namespace prereq {

// The known folder's path for the current user with default flags, as the
// shell reports it (no trailing backslash added); false when the query fails.
bool GetKnownFolderPath(REFKNOWNFOLDERID id, std::wstring& path);

}  // namespace prereq
