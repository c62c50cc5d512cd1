// File and folder searches: the version of a file found in a folder tree or
// on the fixed drives, and the names of subfolders.
#include <optional>

#include "evaluation/FileVersion.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/OsInfo.h"
#include "evaluation/SearchKinds.h"
#include "evaluation/SearchRules.h"
#include "evaluation/Versions.h"
#include "platform/core/Handles.h"
#include "platform/core/TextFormat.h"

namespace prereq::searches {

namespace {

constexpr DWORD kDriveStringsBuffer = 100;  // characters; enough for 24 drives

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// The file's fixed version as "%d.%d.%d.%d" (zero words when the file has no
// version information), in the form FormatVersion gives it.
std::wstring VersionOfFile(const std::wstring& path) {
  const FileVersionResult v = GetFileVersion(path);
  const std::wstring text =
      Format(L"%d.%d.%d.%d",
             {static_cast<int>(HIWORD(v.versionMS)), static_cast<int>(LOWORD(v.versionMS)),
              static_cast<int>(HIWORD(v.versionLS)), static_cast<int>(LOWORD(v.versionLS))});
  VersionQuad quad;
  ParseVersion(text, quad);
  return FormatVersion(quad);
}

// Looks for `name` in `folder` (which ends with "\" or is empty), then in its
// subfolders down to `depth` levels, in enumeration order.
bool FindInFolder(const std::wstring& folder, const std::wstring& name, int32_t depth,
                  std::wstring& version) {
  WIN32_FIND_DATAW found{};
  {
    FindHandle match(::FindFirstFileW((folder + name).c_str(), &found));
    if (match) {
      // The file the name matched, also when the name is a pattern.
      version = VersionOfFile(folder + found.cFileName);
      return true;
    }
  }
  if (depth <= 0) return false;
  FindHandle entries(::FindFirstFileW((folder + L"*").c_str(), &found));
  if (!entries) return false;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(found.cFileName))
      continue;
    if (FindInFolder(folder + found.cFileName + L"\\", name, depth - 1, version)) return true;
  } while (::FindNextFileW(entries.get(), &found));
  return false;
}

}  // namespace

std::vector<std::wstring> FixedDriveRoots() {
  std::vector<wchar_t> buffer(kDriveStringsBuffer + 1, L'\0');
  DWORD length = ::GetLogicalDriveStringsW(kDriveStringsBuffer, buffer.data());
  if (length > kDriveStringsBuffer) {
    // More drives than the usual buffer holds: ask again with the size named.
    buffer.assign(static_cast<size_t>(length) + 1, L'\0');
    length = ::GetLogicalDriveStringsW(length, buffer.data());
    if (length >= buffer.size()) length = 0;
  }
  std::vector<std::wstring> roots;
  for (std::wstring& root : SplitDriveStrings(std::wstring_view(buffer.data(), length))) {
    if (::GetDriveTypeW(root.c_str()) == DRIVE_FIXED) roots.push_back(std::move(root));
  }
  return roots;
}

void CollectFileVersion(const std::wstring& searchString, bool use64,
                        std::vector<std::wstring>& values) {
  struct Place {
    FolderAndName where;
    int32_t depth;
  };
  // References are expanded before redirection is switched off, so that
  // nothing the expansion loads comes from the other system folder.
  std::vector<Place> places;
  for (const std::wstring& candidate : FileSearchCandidates(
           searchString,
           SearchesAsWritten(searchString) ? std::vector<std::wstring>() : FixedDriveRoots())) {
    const DepthSplit split = SplitDepthSuffix(candidate);
    places.push_back({SplitFolderAndName(ExpandProperties(split.path, use64)), ParseDepth(split.suffix)});
  }

  std::optional<Wow64RedirectionOff> redirectionOff;
  if (use64 && GetOsInfo().is64BitWindows) redirectionOff.emplace();
  for (const Place& place : places) {
    std::wstring version;
    if (FindInFolder(place.where.folder, place.where.name, place.depth, version)) {
      values.push_back(std::move(version));
      return;
    }
  }
}

void CollectSubfolderNames(const std::wstring& folder, bool use64,
                           std::vector<std::wstring>& values) {
  std::wstring pattern = ExpandProperties(folder, use64);
  if (!pattern.empty() && pattern.back() != L'\\') pattern.push_back(L'\\');
  pattern.push_back(L'*');
  std::optional<Wow64RedirectionOff> redirectionOff;
  if (use64 && GetOsInfo().is64BitWindows) redirectionOff.emplace();

  WIN32_FIND_DATAW found{};
  FindHandle entries(::FindFirstFileW(pattern.c_str(), &found));
  if (!entries) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(found.cFileName))
      values.emplace_back(found.cFileName);
  } while (::FindNextFileW(entries.get(), &found));
}

}  // namespace prereq::searches
