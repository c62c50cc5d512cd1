#pragma once
// The application object: one execution of the chainer from the
// configuration file beside the executable to the exit code.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "acquisition/PackagedFiles.h"
#include "chainer/CleanupRules.h"
#include "chainer/ConfigText.h"
#include "chainer/Configuration.h"
#include "chainer/InstallerWaitRules.h"
#include "chainer/ResultFile.h"
#include "chainer/RunReportRules.h"
#include "ui/StatusWindow.h"

namespace prereq {

class ChainerApp {
 public:
  // `modulePath` overrides the executable's own path (tests); empty = own path.
  explicit ChainerApp(std::wstring modulePath = {});
  // Runs the clean-up (RunCleanup) first, then FinishReport.
  ~ChainerApp();
  ChainerApp(const ChainerApp&) = delete;
  ChainerApp& operator=(const ChainerApp&) = delete;

  // The main flow; the outcome is left in exitCode.
  void Run();
  // The clean-up at exit: deletes what `cleanup` lists and starts the
  // clean-up script. Carried out once per object, whatever the exit code:
  // later calls (the destructor's after the top-level catch's) do nothing.
  // Never throws; failures are passed over silently.
  void RunCleanup() noexcept;
  // The end of the run's account, once, after the clean-up: the result file
  // (when configured) and, for a list with prerequisites, the summary lines
  // of the log; with the reason "crashed" when `crashed`. Failures are
  // logged and passed over.
  void FinishReport(bool crashed) noexcept;

  // 0, 1 or -1; with general option "e" the installer convention's 0,
  // 3010, 1641, 1602 or 1603.
  int32_t exitCode = 0;
  bool quiet = false;
  PackagedFiles packagedFiles;
  StatusWindow statusWindow;
  CleanupState cleanup;  // filled from [PREREQ_CHAINER] at start-up
  std::wstring modulePath;
  std::wstring iniPath;
  std::wstring appFolder;  // without a trailing backslash
  // The account of the run (from the moment the configuration was read) and
  // the result file it goes to.
  RunRecorder recorder;
  ResultFile resultFile;

  // The run's title: string 161 with the product name (or the full path).
  const std::wstring& Title() const { return title_; }

 private:
  // Starts the account: the program, the configuration, the machine and the
  // prerequisites; prepares the result file and keeps what a crash would
  // leave in it up to date.
  void StartReport(const PrereqList& list, const ChainerSettings& settings, const UtcTime& start);
  // Hands the account as a crash would leave it to the result file.
  void PublishCrashText();

  std::wstring title_;
  bool cleanupDone_ = false;
  bool reportStarted_ = false;
  bool reportFinished_ = false;
};

// Reads the configuration file (`size` bytes, the size as found) and decodes
// it (DecodeConfigText). Answers false (and an empty ConfigText) when the file
// cannot be opened or read, reads nothing, or is shorter than two bytes.
bool ReadConfigurationText(const std::wstring& path, uint32_t size, ConfigText& config);

struct InstallerWaitResult {
  InstallerWait outcome = InstallerWait::NotRunning;
  uint32_t error = 0;         // the system error of a failed open or wait
  uint32_t releaseError = 0;  // the system error when the release failed
  bool cancelled = false;     // `cancelled` answered true (outcome Failed, error ERROR_CANCELLED)
};

// Waits without time-out until no Windows Installer transaction runs, on the
// mutex "Global\_MSIExecute". When the wait gave this thread the mutex
// (released normally or abandoned by its owner), it is released before the
// answer: the caller never keeps it. `cancelled`, when given, is asked every
// 100 ms while the wait lasts; true ends it.
InstallerWaitResult WaitForInstaller(const std::function<bool()>& cancelled = {});

}  // namespace prereq
