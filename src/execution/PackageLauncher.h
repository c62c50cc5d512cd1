#pragma once
// The install loop's launcher: runs one package after the other by the route
// its file and the account need, records every return code in the result
// store, and applies the reboot rules.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chainer/ResultStore.h"
#include "execution/LaunchRules.h"
#include "platform/core/Security.h"

namespace prereq {

inline constexpr uint32_t kRebootPending = 3010;
// The return code of an item whose file failed its check right before the
// launch (the code of a rejected download).
inline constexpr uint32_t kErrorFileChanged = 0xE0000022;

struct LaunchItem {
  std::wstring path;
  std::wstring commandLine;
  std::wstring displayName;
  RebootMode rebootMode = RebootMode::None;
  // The exit code, the packaged-app result (0 or 1627), or the system error
  // of a launch that did not start.
  uint32_t returnCode = 0;
  std::wstring resultPropertyName;
  size_t prereqIndex = 0;
};

// Answers whether a prerequisite is detected as installed now (reboot mode 2).
class RebootDecider {
 public:
  virtual ~RebootDecider() = default;
  virtual bool IsInstalledNow(size_t prereqIndex) = 0;
};

class PackageLauncher {
 public:
  PackageLauncher(ResultStore& store, RebootDecider& decider) : store(store), decider(decider) {}
  virtual ~PackageLauncher() = default;

  enum class Outcome { Done = 0, Failed = 1, Reboot = 2 };
  // Runs the item, then its reboot rule: Failed when the package did not run
  // or returned anything but 0 or 3010, Reboot when a restart is due (started
  // or not), Done otherwise. A restart that Windows accepted sets
  // *rebootInProgress.
  Outcome InstallPackage(size_t itemIndex, bool silent);
  // Runs the item and records its return code; true for 0 and 3010.
  bool LaunchPackage(size_t itemIndex);
  // Unless silent, asks the user first (No sets rebootRefused). True when
  // Windows accepted the restart.
  virtual bool RebootMachine(bool silent);

  ResultStore& store;
  std::vector<LaunchItem> launchList;
  uint32_t lastLaunchError = 0;
  bool rebootRefused = false;
  bool rebootRequired = false;
  RebootDecider& decider;
  // The account test that picks the process-creation route; replaceable so
  // that the route can be exercised without the system account.
  bool (*isLocalSystem)() = &IsLocalSystem;
  // Set once Windows accepted a restart that this launcher asked for: no
  // further package may start then. The runner points it at its own flag.
  std::atomic<bool>* rebootInProgress = nullptr;
  // Asked right before an item's package is started: false keeps it from
  // running (its file no longer passes its check); the launch then fails
  // with kErrorFileChanged. None: every package runs.
  std::function<bool(const LaunchItem& item)> mayLaunch;
  // Told once an item's package has started (or its launch failed), before
  // the launcher waits for it to end.
  std::function<void(const LaunchItem& item)> launched;
  // The restart request itself (ExitWindowsEx); replaceable so that what
  // follows an accepted restart can be exercised without one.
  std::function<bool(UINT flags, DWORD reason)> exitWindows = [](UINT flags, DWORD reason) {
    return ::ExitWindowsEx(flags, reason) != FALSE;
  };

 protected:
  // Waits this long after 3010 and after codes of 0xC0000000 and above.
  DWORD pauseAfterFailureMs = 2000;
};

// True when the path ends in "." and the extension (given with or without its
// dot), compared without regard to case; an empty extension holds for a path
// whose last piece has no ".".
bool HasExtension(const std::wstring& path, const std::wstring& extension);

// Starts the package with CreateProcess as the system account does: .msi
// files through msiexec.exe /i, .msp files through msiexec.exe /p and .msu
// files through wusa.exe, each program by its full path in the System folder
// and with the file's final path; others directly. The command line's
// references are resolved first. Waits for the process;
// `returnCode` is its exit code, or the system error when it did not start.
// `started`, when given, runs once the process was created, before the wait.
bool LaunchAsLocalSystem(const std::wstring& path, const std::wstring& commandLine,
                         DWORD& returnCode, const std::function<void()>& started = {});

// The final path of an existing file, without the long-path prefix; the path
// unchanged when the file cannot be opened or its name does not fit MAX_PATH.
std::wstring FinalPathOf(const std::wstring& path);

}  // namespace prereq
