#pragma once
// The application object: one execution of the chainer from the
// configuration file beside the executable to the exit code.
#include <cstdint>
#include <memory>
#include <string>

#include "acquisition/PackagedFiles.h"
#include "chainer/CleanupRules.h"
#include "chainer/ConfigText.h"
#include "chainer/Configuration.h"
#include "chainer/InstallerWaitRules.h"
#include "ui/StatusWindow.h"

namespace prereq {

class ChainerApp {
 public:
  // `modulePath` overrides the executable's own path (tests); empty = own path.
  explicit ChainerApp(std::wstring modulePath = {});
  // Runs the clean-up (RunCleanup) first.
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

  int32_t exitCode = 0;  // 0, 1 or -1
  bool quiet = false;
  PackagedFiles packagedFiles;
  StatusWindow statusWindow;
  CleanupState cleanup;  // filled from [PREREQ_CHAINER] at start-up
  std::wstring modulePath;
  std::wstring iniPath;
  std::wstring appFolder;  // without a trailing backslash

  // The run's title: string 161 with the product name (or the full path).
  const std::wstring& Title() const { return title_; }

 private:
  std::wstring title_;
  bool cleanupDone_ = false;
};

// Reads the configuration file (`size` bytes, the size as found) and decodes
// it (DecodeConfigText). Answers false (and an empty ConfigText) when the file
// cannot be opened or read, reads nothing, or is shorter than two bytes.
bool ReadConfigurationText(const std::wstring& path, uint32_t size, ConfigText& config);

struct InstallerWaitResult {
  InstallerWait outcome = InstallerWait::NotRunning;
  uint32_t error = 0;         // the system error of a failed open or wait
  uint32_t releaseError = 0;  // the system error when the release failed
};

// Waits without time-out until no Windows Installer transaction runs, on the
// mutex "Global\_MSIExecute". When the wait gave this thread the mutex
// (released normally or abandoned by its owner), it is released before the
// answer: the caller never keeps it.
InstallerWaitResult WaitForInstaller();

}  // namespace prereq
