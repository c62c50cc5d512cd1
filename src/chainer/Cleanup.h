#pragma once
// The clean-up at exit: the files and folders that [PREREQ_CHAINER] names
// for removal, and the hand-over of what cannot be removed while the program
// runs to the clean-up script.
#include <functional>
#include <string>

#include "chainer/CleanupRules.h"
#include "chainer/IniFile.h"

namespace prereq {

// Fills `state` from [PREREQ_CHAINER] of the configuration (BuildCleanupState;
// a CleanupFiles entry counts only when FindFirstFileW finds it). Without the
// section `state` is left empty and the answer is false: nothing will be
// cleaned.
bool LoadCleanup(const IniFile& ini, const std::wstring& modulePath, const std::wstring& iniPath,
                 CleanupState& state);

// Removes `folder` and then each parent while it lies inside `root`
// (FoldersInsideRoot), never through a link (RemoveFolderLinkFree); a folder
// that cannot be removed (not empty, in use, missing, a link or below one)
// is passed over. Nothing is removed when the root is empty or the
// folder is not inside it.
void RemoveFolderChain(const std::wstring& folder, const std::wstring& root);

// Takes out of folderList every folder that may not go to the script
// (FolderMayGoToScript), looking at what each holds now, until the list no
// longer changes; a folder whose entries cannot be listed is taken out too.
// Files and paths that no longer exist stay.
void PruneFolderList(CleanupState& state);

// Starts the clean-up script with the state's folderList, script, elevation
// flag and retry count (RunCleanupScript); replaceable for tests.
using CleanupScriptStarter = std::function<void(const CleanupState&)>;
void StartCleanupScript(const CleanupState& state);

// Carries out the clean-up: deletes each file of deleteList (never through a
// link: DeleteFileLinkFree) and removes the folders it leaves empty inside
// the root (none when the root is empty),
// prunes folderList, and hands what remains of it to `startScript`. Every
// failure is passed over silently.
void RunCleanup(CleanupState& state, const CleanupScriptStarter& startScript = StartCleanupScript);

}  // namespace prereq
