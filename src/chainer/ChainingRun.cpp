#include "chainer/ChainingRun.h"

#include <windows.h>

#include "acquisition/PrerequisiteRunner.h"
#include "chainer/ResultStore.h"
#include "evaluation/Search.h"
#include "execution/ProcessUtil.h"
#include "logging/Logger.h"
#include "platform/core/ExceptionHandling.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/Handles.h"
#include "platform/core/WinText.h"

namespace prereq {

namespace {

bool MustBeObtained(PrereqState state) {
  return state == PrereqState::FromPackage || state == PrereqState::Download ||
         state == PrereqState::OpenSite;
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
  GuardedThread worker = StartGuardedThread([&list] {
    ReachFailurePoint(FailurePoint::SearchWorker);
    EvaluateAll(list);
  });
  if (!worker) return;  // no evaluation without the worker
  ProcessUtil::WaitWithMessagePump(worker.Handle());
  worker.Join();
  // An evaluation that did not finish cannot tell what is missing: the run
  // ends through the top-level catch (the report is already in the log).
  worker.RethrowFailure();
}

}  // namespace

void ReevaluateAfterInstall(PrerequisiteRunner& runner) {
  PrereqList& list = runner.list;
  for (size_t i = 0; i < list.Count(); ++i) {
    PrerequisiteAction action = runner.Action(i);
    if (action == PrerequisiteAction::Skip || action == PrerequisiteAction::NotApplicable) continue;
    EvaluatePrereq(list, i, true);
    if (list.At(i).state == PrereqState::Download) runner.RefreshPresent(i);
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
                    StatusWindow& statusWindow, bool quiet, const std::wstring& title) {
  ResultStore store;
  bool deleteStore = true;
  ScopeGuard deleteKey([&] {
    if (deleteStore) store.DeleteKey();
  });
  if (list.Count() == 0) return 0;

  Evaluate(list, statusWindow, quiet, title);

  bool anyToObtain = false;
  for (const Prerequisite& p : list.prereqs) anyToObtain = anyToObtain || MustBeObtained(p.state);
  if (!anyToObtain) {
    WriteLine(L"No prerequisite must be installed.");
    return 0;
  }

  statusWindow.Close();
  int32_t result = 0;
  {
    PrerequisiteRunner runner(list, packagedFiles, statusWindow, store);
    if (list.Quiet()) {
      WriteLine(L"Starting installing prerequisites in silent mode.");
      runner.DownloadPass(nullptr);
      runner.OpenSitePass(nullptr);
      runner.RunInstallLoop(nullptr);
      if (!runner.launcher.rebootRequired) {
        ReevaluateAfterInstall(runner);
        result = CheckMandatory(runner) ? 0 : 1;
      }
    } else if (list.BasicUi()) {
      WriteLine(L"Starting installing prerequisites in basic UI mode.");
      // The progress window that runs the passes in this mode is not part of
      // the program yet: nothing is obtained.
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
  }  // the runner deletes its downloads and created folders here
  return result;
}

}  // namespace prereq
