#include "chainer/ChainerApp.h"

#include <windows.h>

#include <new>
#include <vector>

#include "chainer/ChainingRun.h"
#include "chainer/ConfigSchema.h"
#include "chainer/Cleanup.h"
#include "chainer/ModulePaths.h"
#include "evaluation/FileVersion.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/OsConditions.h"
#include "execution/ErrorText.h"
#include "logging/Logger.h"
#include "platform/core/Exception.h"
#include "platform/core/ExceptionHandling.h"
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

ChainerApp::~ChainerApp() {
  RunCleanup();
  FinishReport(false);
}

void ChainerApp::StartReport(const PrereqList& list, const ChainerSettings& settings,
                             const UtcTime& start) {
  reportStarted_ = true;
  RunReport& r = recorder.report;
  r.start = start;
  r.programPath = modulePath;
  r.configPath = iniPath;
  r.mode = list.Quiet() ? RunMode::Quiet : list.BasicUi() ? RunMode::BasicUi : RunMode::None;
  r.installerExitCodes = list.InstallerExitCodes();
  // A failure that ends the process ends it by the same convention.
  if (r.installerExitCodes) SetFailureExitCode(InstallerExitCode(RunReason::Crashed));
  for (size_t i = 0; i < list.Count(); ++i) {
    PrereqReport p;
    p.key = NumberedKey(kAppKeyPrefix, static_cast<int>(i) + 1);
    p.displayName = list.At(i).DisplayName;
    p.mandatory = list.At(i).HasOption(L'm');
    r.prereqs.push_back(std::move(p));
  }
  if (settings.ResultFile.empty()) return;
  const FileVersionResult version = GetFileVersion(modulePath);
  if (version.error == 0 && (version.versionMS | version.versionLS) != 0)
    r.programVersion = Format(L"%u.%u.%u.%u", {version.versionMS >> 16, version.versionMS & 0xFFFF,
                                               version.versionLS >> 16, version.versionLS & 0xFFFF});
  r.machine = CollectMachineFacts();
  r.machineKnown = true;
  std::wstring refusal;
  const uint32_t error = resultFile.Prepare(settings.ResultFile, refusal);
  if (error != 0) {
    WriteLine(L"The result file cannot be written:" + settings.ResultFile + L" Error:" +
              (refusal.empty() ? ErrorText(error) : refusal));
    return;
  }
  recorder.changed = [this] { PublishCrashText(); };
  SetFailureEndHook(&ResultFile::CommitCrashTextOfProcess);
  PublishCrashText();
}

void ChainerApp::PublishCrashText() {
  RunReport crashed = recorder.report;
  crashed.crashed = true;
  crashed.end = UtcTime{};  // filled in by the crash handling
  resultFile.SetCrashText(ComposeResultJson(crashed));
}

void ChainerApp::FinishReport(bool crashed) noexcept {
  if (!reportStarted_ || reportFinished_) return;
  reportFinished_ = true;
  try {
    recorder.changed = nullptr;
    RunReport& r = recorder.report;
    r.crashed = crashed;
    r.end = CurrentUtcTime();
    if (resultFile.Prepared()) {
      const uint32_t error = resultFile.Commit(ComposeResultJson(r));
      if (error != 0)
        WriteLine(L"The result file could not be written:" + resultFile.Path() + L" Error:" +
                  ErrorText(error));
      else
        WriteLine(L"Result file written:" + resultFile.Path());
    }
    // What became of each prerequisite, just before the closing line.
    if (loggingEnabled && !r.prereqs.empty())
      for (const std::wstring& line : SummaryLines(r)) WriteLine(line);
  } catch (...) {
    // The account stays incomplete; the exit code is not changed.
  }
}

void ChainerApp::RunCleanup() noexcept {
  if (cleanupDone_) return;
  cleanupDone_ = true;
  try {
    prereq::RunCleanup(cleanup);
  } catch (...) {
    // The clean-up reports nothing; the exit code stays as it is.
  }
}

bool ReadConfigurationText(const std::wstring& path, uint32_t size, ConfigText& config) {
  config = ConfigText{};
  // A file without room for the byte-order mark holds no configuration.
  if (size < 2) return false;
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::vector<uint8_t> bytes(size);
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), size, &read, nullptr) || read == 0) return false;
  bytes.resize(read);
  config = DecodeConfigText(bytes);
  return true;
}

InstallerWaitResult WaitForInstaller(const std::function<bool()>& cancelled) {
  constexpr DWORD kCancelPollMs = 100;
  InstallerWaitResult result;
  KernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
  if (!mutex) {
    result.error = ::GetLastError();
    result.outcome = JudgeInstallerWait(false, result.error, 0);
    return result;
  }
  DWORD wait = ::WaitForSingleObject(mutex.get(), cancelled ? kCancelPollMs : INFINITE);
  while (wait == WAIT_TIMEOUT && cancelled) {
    if (cancelled()) {
      result.cancelled = true;
      result.error = ERROR_CANCELLED;
      result.outcome = InstallerWait::Failed;
      return result;
    }
    wait = ::WaitForSingleObject(mutex.get(), kCancelPollMs);
  }
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
  const UtcTime started = CurrentUtcTime();
  if (modulePath.empty()) modulePath = GetModulePath();
  appFolder = FolderOf(modulePath);
  iniPath = ConfigPathFor(modulePath);

  WIN32_FIND_DATAW found{};
  FindHandle find(::FindFirstFileW(iniPath.c_str(), &found));
  if (!find) return;  // no configuration: nothing to do, exit code 0

  ConfigText config;
  IniFile ini;
  if (ReadConfigurationText(iniPath, found.nFileSizeLow, config)) ini = ParseIni(config.text);

  PrereqList list;
  list.packagedFiles = &packagedFiles;
  list.tempFolder = [] { return ProgramTempFolder(); };
  list.expander = [](std::wstring_view text, bool) { return ExpandProperties(text, false); };
  LoadOutcome outcome;
  LoadConfiguration(ini, list, &outcome);

  LoadCleanup(ini, modulePath, iniPath, cleanup);
  ChainerSettings settings;
  if (LoadChainerSettings(ini, settings) && !settings.LogFile.empty()) {
    loggingEnabled = true;
    TheLogger().SetLogFile(settings.LogFile);
    // The first lines after the header: how the file was read when it is not
    // the form every version reads, and a list that cannot start.
    if (!IsDesignedConfigForm(config))
      WriteLine(L"Configuration file read as:" + DescribeConfigForm(config));
    if (outcome.stop == LoadStop::NoIndexSection)
      WriteLine(L"The configuration has no [PREREQUISITES] section: no prerequisite is read.");
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
  // A relative ResultFile lies in the program's folder.
  StartReport(list, settings, started);

  ReachFailurePoint(FailurePoint::Run);
  const InstallerWaitResult wait = WaitForInstaller();
  if (wait.outcome == InstallerWait::Failed) {
    // Nothing was done: that is no success.
    WriteLine(L"Waiting for the Windows Installer failed. Error:" + ErrorText(wait.error));
    recorder.report.waitFailed = true;
    exitCode = ProcessExitCode(recorder.report);
    return;
  }
  if (wait.outcome == InstallerWait::Abandoned)
    WriteLine(L"The Windows Installer mutex was abandoned by its owner; the run goes on.");
  if (wait.releaseError != 0)
    WriteLine(L"Releasing the Windows Installer mutex failed. Error:" + ErrorText(wait.releaseError));
  recorder.report.runResult = ChainingRun(list, packagedFiles, statusWindow, quiet, title_, &recorder);
  exitCode = ProcessExitCode(recorder.report);
}

}  // namespace prereq
