#include "chainer/ChainingRun.h"

#include <windows.h>

#include "acquisition/PrerequisiteRunner.h"
#include "chainer/ResultStore.h"
#include "chainer/RunReportRules.h"
#include "evaluation/Search.h"
#include "evaluation/SearchRules.h"
#include "execution/ProcessUtil.h"
#include "logging/Logger.h"
#include "platform/core/ExceptionHandling.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/Handles.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"
#include "ui/ProgressRules.h"
#include "ui/ProgressWindow.h"

namespace prereq {

namespace {

// The decisions of the evaluation: whether each prerequisite applies, what
// its searches decided and whether it was selected.
void RecordDecisions(const PrereqList& list, RunRecorder* recorder) {
  if (recorder == nullptr) return;
  for (size_t i = 0; i < list.Count(); ++i) {
    PrereqReport* report = recorder->Prereq(i);
    if (report == nullptr) continue;
    const Prerequisite& p = list.At(i);
    report->state = static_cast<int32_t>(p.state);
    report->decision = StateText(p.state);
    report->selected = p.selected;
  }
  recorder->Changed();
}

// Whether each applicable prerequisite is installed by its last evaluation,
// where no package of it ran (the install loop records those).
void RecordLastEvaluations(const PrereqList& list, RunRecorder* recorder) {
  if (recorder == nullptr) return;
  for (size_t i = 0; i < list.Count(); ++i) {
    PrereqReport* report = recorder->Prereq(i);
    const PrereqState state = list.At(i).state;
    if (report == nullptr || report->launch || report->installedAfter ||
        state == PrereqState::Unset || state == PrereqState::OsNotSupported)
      continue;
    report->installedAfter = state == PrereqState::Installed;
  }
  recorder->Changed();
}

const wchar_t* TrueFalse(bool value) { return value ? L"true" : L"false"; }

// Evaluates every prerequisite; outside quiet mode on a worker thread while
// this thread keeps the status window responsive.
void Evaluate(PrereqList& list, StatusWindow& statusWindow, bool quiet, const std::wstring& title) {
  if (quiet) {
    EvaluateAll(list);
    return;
  }
  statusWindow.Show(title, LoadResourceString(IDS_SEARCHING), false);
  GuardedThread worker = StartGuardedThread(
      [&list] {
        ReachFailurePoint(FailurePoint::SearchWorker);
        EvaluateAll(list);
      },
      {}, FailureEnds::Run);
  if (!worker) return;  // no evaluation without the worker
  ProcessUtil::WaitWithMessagePump(worker.Handle());
  worker.Join();
  // An evaluation that did not finish cannot tell what is missing: the run
  // ends through the top-level catch (the report is already in the log).
  worker.RethrowFailure();
}

// The basic-UI run behind the progress window: the runner's passes on the
// window's worker thread.
class BasicUiRun final : public ProgressTask {
 public:
  explicit BasicUiRun(PrerequisiteRunner& runner) : runner_(runner) {}

  bool RunPasses(ProgressObserver& observer) override {
    const bool overlapped = runner_.list.Overlapped();
    const bool done = RunBasicUiPasses({
        [&] {
          return overlapped ? runner_.PrepareOverlappedRun(&observer) : runner_.DownloadPass(&observer);
        },
        [&] { runner_.OpenSitePass(&observer); },
        [&] {
          return overlapped ? runner_.RunOverlappedInstallLoop(&observer)
                            : runner_.RunInstallLoop(&observer);
        },
        [&] { return observer.IsCancelled(); },
    });
    // Also a cancel between two passes stops the later ones.
    if (!done && observer.IsCancelled()) runner_.cancelled = true;
    return done;
  }
  intptr_t Finish() override {
    return DoneResult(runner_.launcher.rebootRequired, [&] { return MandatoryPresent(); });
  }
  void EndSession() override { runner_.rebootInProgress = true; }

  bool MandatoryPresent() {
    ReevaluateAfterInstall(runner_);
    return CheckMandatory(runner_);
  }

 private:
  PrerequisiteRunner& runner_;
};

// Shows the progress window, which runs the passes, and waits for its
// worker: 1 when a mandatory prerequisite is missing, otherwise 0.
int32_t RunBasicUi(PrerequisiteRunner& runner, const std::wstring& title) {
  BasicUiRun task(runner);
  ProgressWindow window(task, title);
  const intptr_t shown = window.Run(::GetActiveWindow());
  window.WaitForWorker();
  // Passes that ended through a fault or an exception: the run ends through
  // the top-level catch.
  window.RethrowWorkerFailure();
  const int32_t result =
      BasicUiResult(shown, runner.launcher.rebootRequired, runner.rebootInProgress,
                    [&] { return task.MandatoryPresent(); });
  if (shown == kProgressNotShown) ::SetLastError(ERROR_OUTOFMEMORY);
  return result;
}

}  // namespace

void ReevaluateAfterInstall(PrerequisiteRunner& runner) {
  PrereqList& list = runner.list;
  for (size_t i = 0; i < list.Count(); ++i) {
    PrerequisiteAction action = runner.Action(i);
    if (action == PrerequisiteAction::Skip || action == PrerequisiteAction::NotApplicable) continue;
    EvaluatePrereq(list, i, true);
    if (list.At(i).state == PrereqState::Download) runner.RefreshPresent(i);
    runner.RecordEvaluation(i);
    SetSelected(list, i, MustBeObtained(list.At(i).state));
  }
}

bool CheckMandatory(PrerequisiteRunner& runner) {
  PrereqList& list = runner.list;
  for (size_t i = 0; i < list.Count(); ++i) {
    const Prerequisite& p = list.At(i);
    if (p.HasOption(L'm') && !p.HasOption(L'i') && runner.Action(i) != PrerequisiteAction::Skip)
      return false;
  }
  return true;
}

int32_t ChainingRun(PrereqList& list, const PackagedFiles& packagedFiles,
                    StatusWindow& statusWindow, bool quiet, const std::wstring& title,
                    RunRecorder* recorder) {
  ResultStore store;
  bool deleteStore = true;
  ScopeGuard deleteKey([&] {
    if (deleteStore) store.DeleteKey();
  });
  if (list.Count() == 0) return 0;

  Evaluate(list, statusWindow, quiet, title);
  RecordDecisions(list, recorder);

  bool anyToObtain = false;
  for (const Prerequisite& p : list.prereqs) anyToObtain = anyToObtain || MustBeObtained(p.state);
  if (recorder != nullptr) recorder->report.anyToObtain = anyToObtain;
  if (!anyToObtain) {
    WriteLine(L"No prerequisite must be installed.");
    RecordLastEvaluations(list, recorder);
    return 0;
  }

  statusWindow.Close();
  int32_t result = 0;
  {
    PrerequisiteRunner runner(list, packagedFiles, statusWindow, store);
    runner.recorder = recorder;
    if (list.Quiet()) {
      WriteLine(L"Starting installing prerequisites in silent mode.");
      if (list.Overlapped()) {
        runner.PrepareOverlappedRun(nullptr);
        runner.OpenSitePass(nullptr);
        runner.RunOverlappedInstallLoop(nullptr);
      } else {
        runner.DownloadPass(nullptr);
        runner.OpenSitePass(nullptr);
        runner.RunInstallLoop(nullptr);
      }
      if (!runner.launcher.rebootRequired) {
        ReevaluateAfterInstall(runner);
        result = CheckMandatory(runner) ? 0 : 1;
      }
    } else if (list.BasicUi()) {
      WriteLine(L"Starting installing prerequisites in basic UI mode.");
      std::wstring runTitle = title;
      if (runTitle.empty()) {
        // The status window's caption, as the start-up computes it.
        runTitle = statusWindow.Title();
        if (runTitle.empty())
          runTitle = Format(LoadResourceString(IDS_SETUP_TITLE), {GetModulePath()});
      }
      result = RunBasicUi(runner, runTitle);
    }

    if (loggingEnabled) {
      WriteLine(std::wstring(L"After running prerequisites we have:") + L"  Reboot was required=" +
                TrueFalse(runner.launcher.rebootRequired));
      if (runner.launcher.rebootRequired) {
        WriteLine(std::wstring(L"  Reboot was refused=") + TrueFalse(runner.launcher.rebootRefused));
        if (!runner.launcher.rebootRefused)
          WriteLine(std::wstring(L"  Reboot in Progress=") + TrueFalse(runner.rebootInProgress));
      }
    }
    if ((runner.launcher.rebootRequired && !runner.launcher.rebootRefused) || runner.rebootInProgress) {
      result = -1;
      deleteStore = false;
    }
    if (recorder != nullptr) {
      RunReport& r = recorder->report;
      r.cancelled = runner.cancelled;
      r.installerBusy = runner.installerBusy;
      r.rebootRequired = runner.launcher.rebootRequired;
      r.rebootRefused = runner.launcher.rebootRefused;
      r.rebootInProgress = runner.rebootInProgress;
    }
  }  // the runner deletes its downloads and created folders here
  RecordLastEvaluations(list, recorder);
  return result;
}

}  // namespace prereq
