#pragma once
#include <windows.h>

#include <string>

#include "platform/core/ExceptionRules.h"
#include "platform/core/Handles.h"

namespace prereq {

// True when the process token's user is LocalSystem (S-1-5-18).
bool IsLocalSystem();

// Whether this process runs in session 0, as LocalSystem, and on a visible
// (interactive) window station; HasInteractiveDesktop tells from them
// whether anybody can answer a window.
DesktopFacts CurrentDesktopFacts();

// A self-relative security descriptor built from SDDL (empty on failure).
LocalMemory SecurityDescriptorFromSddl(const wchar_t* sddl);

// Creates a folder whose security descriptor is given in SDDL; answers the
// CreateDirectoryW result (FALSE with GetLastError set on failure).
BOOL CreateFolderWithSddl(const std::wstring& path, const wchar_t* sddl);

}  // namespace prereq
