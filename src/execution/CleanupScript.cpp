#include "execution/CleanupScript.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "evaluation/KnownFolder.h"
#include "execution/CleanupScriptRules.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"
#include "platform/core/TempFolder.h"
#include "ui/StatusWindow.h"

namespace prereq {

namespace {

// Names GetTempFileNameW offers before the copy gives up; each is taken
// only when its ".ps1" does not exist yet.
constexpr int kCopyNameAttempts = 16;

std::wstring FolderOfPath(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring CopyScriptToTempFolder(const std::wstring& script, const std::wstring& folder) {
  if (script.empty() || folder.empty()) return {};
  // The ".tmp" files GetTempFileNameW creates hold their numbers until the
  // copy is made, so it never offers the same name twice.
  std::vector<std::wstring> reserved;
  ScopeGuard release([&reserved] {
    for (const std::wstring& name : reserved) ::DeleteFileW(name.c_str());
  });
  const std::wstring source = ToLongPathForm(script);
  for (int attempt = 0; attempt < kCopyNameAttempts; ++attempt) {
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), L"KX_", 0, name) == 0) return {};
    reserved.emplace_back(name);
    std::wstring copy = ScriptCopyPath(name);
    if (::CopyFileW(source.c_str(), copy.c_str(), TRUE)) return copy;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

bool RunCleanupScriptWith(const std::vector<std::wstring>& folderList,
                          const std::wstring& cleanupScript, bool scriptElevated,
                          int32_t retryCount, const std::wstring& powerShell,
                          const std::wstring& tempFolder) {
  if (folderList.empty()) return true;
  // Without PowerShell there is nothing to hand the script to: no copy is
  // made and the shell is not asked to start an empty name.
  if (powerShell.empty()) return true;
  const std::wstring folder =
      tempFolder.empty() ? std::wstring() : WithTrailingBackslash(ToLongPathForm(tempFolder));
  const std::wstring copy = CopyScriptToTempFolder(cleanupScript, folder);
  if (copy.empty()) return false;
  const std::wstring command = CleanupScriptCommand(FromLongPathForm(copy),
                                                    PowerShellPathsArgument(folderList), retryCount);
  ShellRunHidden(powerShell, CleanupScriptParameters(command), FolderOfPath(cleanupScript),
                 scriptElevated ? L"runas" : L"open");
  return true;
}

bool RunCleanupScript(const std::vector<std::wstring>& folderList,
                      const std::wstring& cleanupScript, bool scriptElevated,
                      int32_t retryCount) {
  if (folderList.empty()) return true;
  // No script, no copy: the System folder is not even looked up.
  if (cleanupScript.empty()) return false;
  return RunCleanupScriptWith(folderList, cleanupScript, scriptElevated, retryCount,
                              GetPowerShellPath(), ProgramTempFolder());
}

std::wstring GetPowerShellPath() {
  std::wstring system;
  if (!GetKnownFolderPath(FOLDERID_System, system) || system.empty()) return {};
  if (system.back() == L'\\') system.pop_back();
  std::wstring path = system + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
  return ::PathFileExistsW(path.c_str()) ? path : std::wstring();
}

bool ShellRunHidden(const std::wstring& file, const std::wstring& parameters,
                    const std::wstring& workingFolder, const std::wstring& verb) {
  if (file.empty()) return true;
  const std::wstring shellFile = FromLongPathForm(file);
  const std::wstring folder = FromLongPathForm(workingFolder);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // The program ends right after this call: the start must be complete
  // when ShellExecuteExW returns.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = verb.empty() ? nullptr : verb.c_str();
  info.lpFile = shellFile.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    const INT_PTR result = reinterpret_cast<INT_PTR>(info.hInstApp);
    if (result == SE_ERR_NOASSOC || result == SE_ERR_ASSOCINCOMPLETE) {
      // The file's default verb; the shell may ask the user how to open it,
      // which only makes sense where windows may appear.
      if (uiAllowed) info.fMask &= ~SEE_MASK_FLAG_NO_UI;
      info.lpVerb = nullptr;
      info.hProcess = nullptr;
      ::ShellExecuteExW(&info);
    }
  }
  KernelHandle process(info.hProcess);
  if (process) ::AllowSetForegroundWindow(::GetProcessId(process.get()));
  return true;
}

}  // namespace prereq
