#pragma once
// The searches behind each SearchType, used by RunSearch.
#include <windows.h>

#include <string>
#include <vector>

#include "chainer/Configuration.h"

namespace prereq::searches {

// --- Registry (RegistrySearch.cpp). `view` is 0 or KEY_WOW64_64KEY. ---

// Opens ROOT\subkey for reading; false when the path has no "\" or the key
// cannot be opened.
bool KeyOpens(const std::wstring& path, REGSAM view);
// The names of all subkeys, in enumeration order.
void CollectSubkeyNames(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values);
// The names of all values, in enumeration order.
void CollectValueNames(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values);
// The data of ROOT\key\value as text up to its first NUL, whatever its type.
void CollectValueData(const std::wstring& path, REGSAM view, std::vector<std::wstring>& values);
// Whether ROOT\key\value can be queried.
bool ValueQueryable(const std::wstring& path, REGSAM view);
// ROOT\key\value read as text (strings, REG_DWORD as decimal).
bool ReadValueAsText(const std::wstring& path, REGSAM view, std::wstring& text);

// --- Files and folders (FileSearch.cpp). `use64`: option "x". ---

// The version of the first file the search string finds, formatted.
void CollectFileVersion(const std::wstring& searchString, bool use64,
                        std::vector<std::wstring>& values);
// The names of the subfolders of a folder, in enumeration order.
void CollectSubfolderNames(const std::wstring& folder, bool use64,
                           std::vector<std::wstring>& values);
// The roots of the fixed drives, in the platform's order.
std::vector<std::wstring> FixedDriveRoots();

// --- Windows Installer and detection program (ProductSearch.cpp). ---

// The "VersionString" of an installed product.
void CollectProductVersion(const std::wstring& productCode, std::vector<std::wstring>& values);
// The "VersionString" of every product related to an upgrade code.
void CollectRelatedVersions(const std::wstring& upgradeCode, std::vector<std::wstring>& values);
// The component is installed locally or runs from source.
bool ComponentInstalled(const std::wstring& componentCode);
// The detection program named by the entry started and exited with 0.
bool DetectionProgramSucceeds(const PrereqList& list, const SearchEntry& entry);

}  // namespace prereq::searches
