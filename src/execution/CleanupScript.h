#pragma once
// Starts the PowerShell clean-up script at the end of a run: a copy of the
// script in the program's temporary folder, run hidden with the paths to
// delete and a retry count, without waiting for it.
#include <cstdint>
#include <string>
#include <vector>

namespace prereq {

// Copies `cleanupScript` to a new "KX_*.ps1" file in the program's temporary
// folder and starts PowerShell (GetPowerShellPath) hidden in the script's
// folder with the parameters of CleanupScriptParameters: the copy run by the
// call operator with -paths (folderList as single-quoted literals, in order)
// and -retry_count. The copy stays behind. The verb is "runas" when
// `scriptElevated`, otherwise "open".
// True when nothing had to be done (empty folderList), when no PowerShell
// exists (nothing is copied or started then), or when the script was handed
// to the shell; false when the copy cannot be made (no script named, script
// missing, no name free in the temporary folder): nothing is started then.
bool RunCleanupScript(const std::vector<std::wstring>& folderList,
                      const std::wstring& cleanupScript, bool scriptElevated,
                      int32_t retryCount);

// The same with the PowerShell executable and the folder for the copy given.
bool RunCleanupScriptWith(const std::vector<std::wstring>& folderList,
                          const std::wstring& cleanupScript, bool scriptElevated,
                          int32_t retryCount, const std::wstring& powerShell,
                          const std::wstring& tempFolder);

// Copies the script to a new file "KX_<n>.ps1" in `folder` (named by
// GetTempFileNameW, whose ".tmp" file is deleted again) without replacing
// any file; a name whose ".ps1" already exists is passed over for the next
// one. The copy's path, or an empty text when no copy could be made.
std::wstring CopyScriptToTempFolder(const std::wstring& script, const std::wstring& folder);

// The System folder (as this process sees it) followed by
// "\WindowsPowerShell\v1.0\powershell.exe" when that file exists; otherwise,
// and when the folder cannot be obtained, an empty text.
std::wstring GetPowerShellPath();

// Starts `file` through the shell with the verb (none when empty), hidden,
// with the parameters and in the working folder (none when empty), without
// waiting. When the shell finds no association for the verb, it tries once
// more with the file's default verb, showing the shell's own messages only
// when the program may show windows. The started process may take the
// foreground. Always true; an empty `file` starts nothing.
bool ShellRunHidden(const std::wstring& file, const std::wstring& parameters,
                    const std::wstring& workingFolder, const std::wstring& verb = L"open");

}  // namespace prereq
