// Process entry: COM, the application object, the exit code. The command line
// is not read.
#include <objbase.h>
#include <windows.h>

#include <exception>

#include "chainer/ChainerApp.h"
#include "logging/Logger.h"
#include "platform/core/ExceptionHandling.h"
#include "platform/core/ExceptionPresenter.h"
#include "platform/core/Handles.h"
#include "ui/StatusWindow.h"

#ifdef PREREQ_TEST_HOOKS
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/core/FailurePoints.h"
#include "platform/core/TestFaults.h"
#endif

namespace {

// The run ended with an exception nobody handled: log the report, show it
// where somebody can answer, run the clean-up, write the result file with the
// reason "crashed" and the summary, then the log's closing line.
// Answers the exit code. Failures on the way make the report shorter, never
// the end different.
// The end is bounded only where a guarded worker's fault abandoned frames
// (that worker set the bound): a failure on this thread was unwound, and its
// report may take the symbol engine a long while.
int32_t EndAfterFailure(prereq::ChainerApp& app, const std::exception_ptr& failure) {
  prereq::ExceptionReport report;
  prereq::RunReportStep([&] { report = prereq::ReportOfException(failure, false); });
  prereq::RunReportStep([&] { report = prereq::ReportOfException(failure, true); });
  prereq::RunReportStep([&] {
    if (prereq::MarkFailureReported(failure)) prereq::LogExceptionReport(report);
  });
  prereq::RunReportStep([&] { prereq::PresentException(report, app.statusWindow.Window()); });
  try {
    app.RunCleanup();
  } catch (...) {
    const std::exception_ptr late = std::current_exception();
    prereq::RunReportStep([&] { prereq::LogFailureOnce(late); });
  }
  app.FinishReport(true);
  prereq::RunReportStep([] { prereq::TheLogger().Finish(prereq::loggingEnabled); });
  return prereq::FailureExitCode();
}

// Without an application object (it could not be built) only the report
// and the closing line remain.
int32_t EndWithoutApp(const std::exception_ptr& failure) {
  prereq::RunReportStep([&] { prereq::LogFailureOnce(failure); });
  prereq::RunReportStep([] { prereq::TheLogger().Finish(prereq::loggingEnabled); });
  return prereq::FailureExitCode();
}

#ifdef PREREQ_TEST_HOOKS
// Test build only: PREREQ_TEST_FAILURE=<point>:<fault>[,<point>:<fault>...]
// makes the program fail at those points, for example
// "search-worker:av-read" or "run:throw". Two points fail on the search
// worker while it holds a lock: "search-log-line" inside the log's lock (at
// its first log line), "search-heap-lock" holding the process heap's lock.
enum class Held { Nothing, LogLock, HeapLock };
struct Planned {
  prereq::FailurePoint point;
  prereq::testfaults::Fault fault;
  Held held;
};
Planned planned[8];
int plannedCount = 0;
thread_local bool onSearchWorker = false;

bool PointByName(const std::string& name, prereq::FailurePoint& point, Held& held) {
  static const struct {
    const char* name;
    prereq::FailurePoint point;
    Held held;
  } kPoints[] = {
      {"run", prereq::FailurePoint::Run, Held::Nothing},
      {"search-worker", prereq::FailurePoint::SearchWorker, Held::Nothing},
      {"msix-lookup", prereq::FailurePoint::MsixLookup, Held::Nothing},
      {"msix-deploy", prereq::FailurePoint::MsixDeploy, Held::Nothing},
      {"stack-trace", prereq::FailurePoint::StackTrace, Held::Nothing},
      {"progress-worker", prereq::FailurePoint::ProgressWorker, Held::Nothing},
      {"search-log-line", prereq::FailurePoint::LogLine, Held::LogLock},
      {"search-heap-lock", prereq::FailurePoint::SearchWorker, Held::HeapLock},
  };
  for (const auto& entry : kPoints) {
    if (name == entry.name) {
      point = entry.point;
      held = entry.held;
      return true;
    }
  }
  return false;
}

void FailOnPurpose(prereq::FailurePoint point) {
  if (point == prereq::FailurePoint::SearchWorker) onSearchWorker = true;
  static std::atomic<bool> logLockFailed{false};
  for (int i = 0; i < plannedCount; ++i) {
    if (planned[i].point != point) continue;
    // Once: the report of that failure is logged on the same thread.
    if (planned[i].held == Held::LogLock && (!onSearchWorker || logLockFailed.exchange(true))) continue;
    // Owned until the process ends: the thread's frames are abandoned.
    if (planned[i].held == Held::HeapLock) ::HeapLock(::GetProcessHeap());
    prereq::testfaults::Cause(planned[i].fault);
  }
}

void InstallTestFailures() {
  const char* plan = std::getenv("PREREQ_TEST_FAILURE");
  if (plan == nullptr) return;
  std::string text(plan);
  size_t start = 0;
  while (start <= text.size() && plannedCount < 8) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string entry = text.substr(start, end - start);
    const size_t colon = entry.find(':');
    Planned p{};
    if (colon != std::string::npos && PointByName(entry.substr(0, colon), p.point, p.held) &&
        prereq::testfaults::FaultByName(entry.substr(colon + 1).c_str(), p.fault))
      planned[plannedCount++] = p;
    start = end + 1;
  }
  prereq::SetFailureHook(&FailOnPurpose);
}
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before the first library is loaded by name (version, msi and mpr are
  // loaded on first use).
  prereq::LoadLibrariesFromSystemFolderOnly();
  prereq::InstallProcessGuards();
#ifdef PREREQ_TEST_HOOKS
  InstallTestFailures();
#endif
  // Nothing may be shown until the configuration says whether somebody
  // watches (quiet mode); Run decides.
  prereq::uiAllowed = false;
  const bool comInitialized = ::CoInitialize(nullptr) == S_OK;
  ::DefWindowProcW(nullptr, WM_NULL, 0, 0);
  int32_t exitCode = 0;
  try {
    prereq::ChainerApp app;
    try {
      app.Run();
      exitCode = app.exitCode;
    } catch (...) {
      exitCode = EndAfterFailure(app, std::current_exception());
    }
  } catch (...) {
    exitCode = EndWithoutApp(std::current_exception());
  }
  if (comInitialized) ::CoUninitialize();
  return exitCode;
}
