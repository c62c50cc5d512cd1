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
#include "execution/ExitCodeRules.h"
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
  // What the package's return codes mean: the prerequisite's ExitCodes over
  // the built-in table.
  ExitCodeTable exitCodes;

  // After the run (InstallPackage):
  // The last attempt ran (an MSIX/AppX package: its deployment succeeded);
  // false: returnCode is why it could not be started or deployed.
  bool started = false;
  ExitMeaning meaning = ExitMeaning::Failure;  // of the last attempt's code; failure when not started
  std::vector<uint32_t> returnCodes;           // every attempt's code, in order
  std::wstring errorText;                      // why the last attempt did not start
  uint32_t milliseconds = 0;                   // all attempts together, waits included
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

  enum class Outcome { Done = 0, Failed = 1, Reboot = 2, Restarted = 3 };
  // Runs the item; while its code means "retry", waits for the Windows
  // Installer (waitForInstaller) and runs it again, at most
  // kMaxPackageRetries times, logging each attempt. Then by the last code's
  // meaning: Failed when the package did not start, failed, or still said
  // "retry"; Restarted when it has started a restart (*rebootInProgress is
  // set: nothing more may start); otherwise its reboot rule, and Reboot when
  // a restart is due (started or not) or owed (meaning "reboot"), else Done.
  // A restart that Windows accepted sets *rebootInProgress. The result store
  // gets the last attempt's code.
  Outcome InstallPackage(size_t itemIndex, bool silent);
  // Runs the item once and records its return code, unless the code means
  // "retry" (InstallPackage records the code it ends with). True when the
  // package ran and its code means success, reboot or restarted.
  bool LaunchPackage(size_t itemIndex);
  // Unless silent, asks the user first: No, or a question that could not be
  // shown, sets rebootRefused and restarts nothing. True when Windows
  // accepted the restart.
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
  // The window that owns the restart question; replaceable so that an owner
  // that is gone by the time the question is asked can be exercised.
  std::function<HWND()> questionOwner = [] { return ::GetForegroundWindow(); };
  // Before a package whose code meant "retry" runs again: waits until no
  // Windows Installer transaction runs; false when the wait failed or was
  // cancelled (the package then counts as failed). Empty: no retry.
  std::function<bool()> waitForInstaller;

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
