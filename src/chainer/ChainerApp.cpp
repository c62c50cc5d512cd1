#include "chainer/ChainerApp.h"

#include <windows.h>

#include <new>

#include "chainer/ChainingRun.h"
#include "chainer/Cleanup.h"
#include "chainer/ModulePaths.h"
#include "evaluation/FileVersion.h"
#include "evaluation/FolderProperties.h"
#include "execution/ErrorText.h"
#include "logging/Logger.h"
#include "platform/core/Exception.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"
#include "platform/core/Security.h"
#include "platform/core/TempFolder.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"

namespace prereq {

namespace {
constexpr uint32_t kPackagedFlags = 3;  // bit 0: not packaged (files on disk)
}  // namespace

ChainerApp::ChainerApp(std::wstring path) {
  try {
    modulePath = std::move(path);
  } catch (const std::bad_alloc&) {
    PREREQ_RAISE_OUT_OF_RESOURCES();
  }
}

ChainerApp::~ChainerApp() { RunCleanup(); }

void ChainerApp::RunCleanup() noexcept {
  if (cleanupDone_) return;
  cleanupDone_ = true;
  try {
    prereq::RunCleanup(cleanup);
  } catch (...) {
    // The clean-up reports nothing; the exit code stays as it is.
  }
}

bool ReadConfigurationText(const std::wstring& path, uint32_t size, std::wstring& text) {
  text.clear();
  // A file without room for the byte-order mark holds no configuration.
  if (size < 2) return false;
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (::SetFilePointer(file.get(), 2, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR)
    return false;
  DWORD bytes = size - 2;
  // Room for an odd last byte too; it is dropped below.
  std::wstring buffer((bytes + 1) / 2, L'\0');
  DWORD read = 0;
  if (!::ReadFile(file.get(), buffer.data(), bytes, &read, nullptr) || read == 0) return false;
  buffer.resize(read / 2);
  text = std::move(buffer);
  return true;
}

InstallerWaitResult WaitForInstaller() {
  InstallerWaitResult result;
  KernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
  if (!mutex) {
    result.error = ::GetLastError();
    result.outcome = JudgeInstallerWait(false, result.error, 0);
    return result;
  }
  const DWORD wait = ::WaitForSingleObject(mutex.get(), INFINITE);
  if (wait == WAIT_FAILED) result.error = ::GetLastError();
  result.outcome = JudgeInstallerWait(true, 0, wait);
  // A successful wait makes this thread the owner, and closing the handle
  // does not end that: every other setup, and every msiexec the install
  // loop starts, would wait until this process exits. The wait only had to
  // see the installation end, so the mutex goes back at once.
  if (OwnsInstallerMutex(result.outcome) && !::ReleaseMutex(mutex.get()))
    result.releaseError = ::GetLastError();
  return result;
}

void ChainerApp::Run() {
  if (modulePath.empty()) modulePath = GetModulePath();
  appFolder = FolderOf(modulePath);
  iniPath = ConfigPathFor(modulePath);

  WIN32_FIND_DATAW found{};
  FindHandle find(::FindFirstFileW(iniPath.c_str(), &found));
  if (!find) return;  // no configuration: nothing to do, exit code 0

  std::wstring text;
  IniFile ini;
  if (ReadConfigurationText(iniPath, found.nFileSizeLow, text)) ini = ParseIni(text);

  PrereqList list;
  list.packagedFiles = &packagedFiles;
  list.tempFolder = [] { return ProgramTempFolder(); };
  list.expander = [](std::wstring_view text, bool) { return ExpandProperties(text, false); };
  LoadConfiguration(ini, list);

  LoadCleanup(ini, modulePath, iniPath, cleanup);
  ChainerSettings settings;
  if (LoadChainerSettings(ini, settings) && !settings.LogFile.empty()) {
    loggingEnabled = true;
    TheLogger().SetLogFile(settings.LogFile);
  }

  // Windows that wait for a person (the progress window after a failed
  // pass, the open-site message, the restart question) would wait for ever
  // where nobody can see them.
  if (!list.Quiet()) {
    const DesktopFacts desktop = CurrentDesktopFacts();
    if (!HasInteractiveDesktop(desktop)) {
      list.noDesktop = true;
      WriteLine(std::wstring(L"No interactive desktop (") + NoDesktopReason(desktop) +
                L"): running as in silent mode, without windows, web sites or restart questions.");
    }
  }
  quiet = list.Quiet();
  uiAllowed = !quiet;

  packagedFiles.setupFile = modulePath;
  packagedFiles.setupFolder = WithTrailingBackslash(FolderOf(modulePath));
  packagedFiles.extractionFolder = list.ResolveExtractionFolder();
  packagedFiles.flags = kPackagedFlags;

  std::wstring product;
  if (!GetProductName(modulePath, product)) product = modulePath;
  title_ = Format(LoadResourceString(IDS_SETUP_TITLE), {product});
  statusWindow.Show(title_, LoadResourceString(IDS_PREPARING), false);

  ::SetCurrentDirectoryW(appFolder.c_str());

  ReachFailurePoint(FailurePoint::Run);
  const InstallerWaitResult wait = WaitForInstaller();
  if (wait.outcome == InstallerWait::Failed) {
    // Nothing was done: that is no success.
    WriteLine(L"Waiting for the Windows Installer failed. Error:" + ErrorText(wait.error));
    exitCode = 1;
    return;
  }
  if (wait.outcome == InstallerWait::Abandoned)
    WriteLine(L"The Windows Installer mutex was abandoned by its owner; the run goes on.");
  if (wait.releaseError != 0)
    WriteLine(L"Releasing the Windows Installer mutex failed. Error:" + ErrorText(wait.releaseError));
  exitCode = ChainingRun(list, packagedFiles, statusWindow, quiet, title_);
}

}  // namespace prereq
