#include "chainer/Cleanup.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "chainer/ModulePaths.h"
#include "execution/CleanupScript.h"
#include "platform/core/Handles.h"
#include "platform/core/LinkFreePaths.h"
#include "platform/core/PathForms.h"

namespace prereq {

namespace {

bool FindsPath(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  FindHandle find(::FindFirstFileW(ToLongPathForm(path).c_str(), &found));
  return find.valid();
}

bool IsListed(const std::vector<std::wstring>& list, const std::wstring& path) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::wstring& entry) { return EqualsIgnoringCase(entry, path); });
}

// The full paths of what the folder holds ("." and ".." left out); a name
// that folderList spells in its short form is given in that form. Nothing
// when the folder cannot be listed.
std::optional<std::vector<std::wstring>> FolderEntries(const std::wstring& folder,
                                                       const std::vector<std::wstring>& listed) {
  const std::wstring prefix = WithTrailingBackslash(folder);
  WIN32_FIND_DATAW found{};
  FindHandle find(::FindFirstFileW(ToLongPathForm(prefix + L"*").c_str(), &found));
  if (!find) return std::nullopt;
  std::vector<std::wstring> entries;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = prefix + found.cFileName;
    if (found.cAlternateFileName[0] != L'\0' && !IsListed(listed, path)) {
      std::wstring shortPath = prefix + found.cAlternateFileName;
      if (IsListed(listed, shortPath)) path = std::move(shortPath);
    }
    entries.push_back(std::move(path));
  } while (::FindNextFileW(find.get(), &found));
  return entries;
}

}  // namespace

bool LoadCleanup(const IniFile& ini, const std::wstring& modulePath, const std::wstring& iniPath,
                 CleanupState& state) {
  ChainerSettings settings;
  if (!LoadChainerSettings(ini, settings)) return false;
  state = BuildCleanupState(settings, modulePath, iniPath, FindsPath);
  return true;
}

void RemoveFolderChain(const std::wstring& folder, const std::wstring& root) {
  if (root.empty()) return;
  // "Inside the root" is a judgement on the text: the removal itself must
  // not follow a link in the folders between, or it would reach outside.
  for (const std::wstring& path : FoldersInsideRoot(folder, root)) RemoveFolderLinkFree(path);
}

void PruneFolderList(CleanupState& state) {
  std::vector<std::wstring>& list = state.folderList;
  bool changed = true;
  while (changed) {
    changed = false;
    for (const std::wstring& path : std::vector<std::wstring>(list)) {
      if (!IsFolder(path)) continue;  // files and paths already gone stay
      const std::optional<std::vector<std::wstring>> entries = FolderEntries(path, list);
      if (entries && FolderMayGoToScript(*entries, list)) continue;
      list.erase(std::remove(list.begin(), list.end(), path), list.end());
      changed = true;
    }
  }
}

void StartCleanupScript(const CleanupState& state) {
  RunCleanupScript(state.folderList, state.cleanupScript, state.scriptElevated, state.retryCount);
}

void RunCleanup(CleanupState& state, const CleanupScriptStarter& startScript) {
  for (const std::wstring& path : state.deleteList) {
    DeleteFileLinkFree(path);
    RemoveFolderChain(FolderOf(path), state.cleanupRoot);
  }
  PruneFolderList(state);
  if (!state.folderList.empty() && startScript) startScript(state);
}

}  // namespace prereq
