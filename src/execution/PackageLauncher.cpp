#include "execution/PackageLauncher.h"

#include <algorithm>

#include "evaluation/FolderProperties.h"
#include "execution/ErrorText.h"
#include "execution/Msix.h"
#include "execution/ProcessUtil.h"
#include "logging/Logger.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"
#include "platform/core/Security.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"
#include "resources/resource.h"

namespace prereq {

namespace {

constexpr DWORD kShutdownReason =
    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

bool IsPackagedApp(const std::wstring& path) {
  return HasExtension(path, L"msix") || HasExtension(path, L"msixbundle") ||
         HasExtension(path, L"appx");
}

}  // namespace

bool HasExtension(const std::wstring& path, const std::wstring& extension) {
  std::wstring ext = extension;
  if (!ext.empty() && ext.front() == L'.') ext.erase(0, 1);
  if (ext.empty()) {
    const size_t slash = path.rfind(L'\\');
    const size_t dot = path.rfind(L'.');
    return dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash);
  }
  if (ext.find(L'.') != std::wstring::npos) return false;
  if (path.size() <= ext.size()) return false;
  const size_t start = path.size() - ext.size();
  if (path[start - 1] != L'.') return false;
  return ::lstrcmpiW(path.c_str() + start, ext.c_str()) == 0;
}

std::wstring FinalPathOf(const std::wstring& path) {
  // Shared for reading: the runner holds an accepted package open that way
  // until it has started.
  FileHandle file(::CreateFileW(ToLongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return path;
  wchar_t buffer[MAX_PATH];
  const DWORD n = ::GetFinalPathNameByHandleW(file.get(), buffer, MAX_PATH,
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= MAX_PATH) return path;
  // A network file comes back as "\\?\UNC\server\share\...": msiexec needs
  // "\\server\share\...".
  return FromLongPathForm(std::wstring_view(buffer, n));
}

bool LaunchAsLocalSystem(const std::wstring& path, const std::wstring& commandLine,
                         DWORD& returnCode, const std::function<void()>& started) {
  const std::wstring args = WithLeadingSpace(ExpandProperties(commandLine, false));
  const bool byInstaller = SystemAccountRouteFor(path) != SystemAccountRoute::Direct;
  std::wstring systemFolder;
  if (byInstaller) {
    systemFolder = SystemFolder();
    if (systemFolder.empty()) {  // never fall back to a bare program name
      const DWORD error = ::GetLastError();
      returnCode = error != 0 ? error : ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  const ProcessCommand command = LocalSystemCommand(
      path, byInstaller ? FinalPathOf(path) : std::wstring(), args, systemFolder);
  return ProcessUtil::CreateProcessAndWait(command.applicationName, command.commandLine,
                                           NORMAL_PRIORITY_CLASS, returnCode, started);
}

bool PackageLauncher::LaunchPackage(size_t itemIndex) {
  LaunchItem& item = launchList.at(itemIndex);
  WriteLine(L"Launching file:" + item.path);
  const bool quiet = IsQuietCommandLine(item.commandLine);
  // Without the long-path prefix; a long UNC path becomes "\\server\share\..."
  // again, which the shell, msiexec and the package manager can open.
  const std::wstring path = FromLongPathForm(item.path);

  DWORD code = 0;
  bool done;
  bool told = false;
  const auto tell = [&] {
    if (told || !launched) return;
    told = true;
    launched(item);
  };
  if (mayLaunch && !mayLaunch(item)) {
    code = kErrorFileChanged;
    done = false;
  } else if (ExceedsPathLimit(path)) {
    // Longer than Windows accepts: no system call is to see it.
    code = ERROR_FILENAME_EXCED_RANGE;
    done = false;
  } else if (IsPackagedApp(path)) {
    code = DeployMsixPackage(path);
    done = code == 0;
  } else if (isLocalSystem()) {
    done = LaunchAsLocalSystem(path, item.commandLine, code, tell);
  } else {
    done = ProcessUtil::ShellExecuteAndWait(path, item.commandLine, L"", quiet, code, tell);
  }
  tell();
  item.returnCode = code;
  item.started = done;
  item.returnCodes.push_back(code);
  item.meaning = done ? item.exitCodes.MeaningOf(code) : ExitMeaning::Failure;
  item.errorText.clear();
  if (!done) {
    lastLaunchError = code;
    item.errorText = ErrorText(code);
    WriteLine(L"Launch failed. Error:" + item.errorText);
  }
  WriteLine(Format(L"Return code of launched file:%lu", {static_cast<uint32_t>(code)}));
  if (done) WriteLine(L"Return code means:" + std::wstring(ExitMeaningWord(item.meaning)));
  // A code that asks for another attempt is recorded once the attempts end.
  if (item.meaning != ExitMeaning::Retry)
    store.SetInt(ToThreadAnsi(item.resultPropertyName), static_cast<int32_t>(code));
  if (code == kRebootPending || (code & 0xC0000000u) == 0xC0000000u) ::Sleep(pauseAfterFailureMs);
  return item.meaning == ExitMeaning::Success || item.meaning == ExitMeaning::Reboot ||
         item.meaning == ExitMeaning::Restarted;
}

PackageLauncher::Outcome PackageLauncher::InstallPackage(size_t itemIndex, bool silent) {
  LaunchItem& item = launchList.at(itemIndex);
  item.returnCodes.clear();
  const ULONGLONG begin = ::GetTickCount64();
  bool succeeded = LaunchPackage(itemIndex);
  for (uint32_t retry = 1; item.meaning == ExitMeaning::Retry; ++retry) {
    if (retry > kMaxPackageRetries) {
      WriteLine(Format(L"Another installation was still running after %u attempts: the package "
                       L"counts as failed.",
                       {retry}));
      break;
    }
    WriteLine(Format(L"Another installation is running: waiting for the Windows Installer before "
                     L"attempt %u of %u.",
                     {retry + 1, kMaxPackageRetries + 1}));
    if (!waitForInstaller || !waitForInstaller()) {
      WriteLine(L"The package is not run again: the wait for the Windows Installer did not end.");
      break;
    }
    succeeded = LaunchPackage(itemIndex);
  }
  item.milliseconds = static_cast<uint32_t>(std::min<ULONGLONG>(::GetTickCount64() - begin, UINT32_MAX));
  if (item.meaning == ExitMeaning::Retry)
    store.SetInt(ToThreadAnsi(item.resultPropertyName), static_cast<int32_t>(item.returnCode));
  if (!succeeded) return Outcome::Failed;
  if (item.meaning == ExitMeaning::Restarted) {
    // Windows is going down on the package's request: nothing may start now.
    WriteLine(L"The package has started a restart: no further package is started.");
    if (rebootInProgress != nullptr) *rebootInProgress = true;
    return Outcome::Restarted;
  }
  if (item.rebootMode == RebootMode::Always ||
      (item.rebootMode == RebootMode::WhenInstalled && decider.IsInstalledNow(item.prereqIndex))) {
    WriteLine(L"Rebooting machine...");
    rebootRequired = true;
    // Windows is going down: nothing may start after this point.
    if (RebootMachine(silent) && rebootInProgress != nullptr) *rebootInProgress = true;
    return Outcome::Reboot;
  }
  if (item.meaning == ExitMeaning::Reboot) {
    rebootRefused = true;
    return Outcome::Reboot;
  }
  return Outcome::Done;
}

bool PackageLauncher::RebootMachine(bool silent) {
  if (!silent) {
    const std::wstring text = LoadResourceString(IDS_REBOOT_PROMPT);
    const std::wstring caption = LoadResourceString(IDS_CONFIRMATION);
    const UINT style = MB_YESNO | MB_ICONINFORMATION;
    int answer = ::MessageBoxW(questionOwner(), text.c_str(), caption.c_str(), style);
    // The foreground window may belong to a package that has just ended:
    // ask again without an owner. A question that cannot be shown at all is
    // no consent to a forced restart.
    if (answer == 0) answer = ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    if (answer != IDYES) {
      rebootRefused = true;
      return false;
    }
  }
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return false;
  KernelHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid))
    return false;
  ::SetLastError(ERROR_SUCCESS);
  ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  // ERROR_NOT_ALL_ASSIGNED also comes with a successful call.
  if (::GetLastError() != ERROR_SUCCESS) return false;
  return exitWindows(EWX_REBOOT | EWX_FORCE, kShutdownReason);
}

}  // namespace prereq
