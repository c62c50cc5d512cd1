#pragma once
// The chaining run: evaluation, the passes of the selected mode, the summary
// and the exit rule.
#include <cstdint>
#include <string>

#include "acquisition/PackagedFiles.h"
#include "chainer/Configuration.h"
#include "ui/StatusWindow.h"

namespace prereq {

class PrerequisiteRunner;

struct RunRecorder;

// 0, 1 (a mandatory prerequisite is missing) or -1 (reboot pending).
// `recorder`, when given, receives the decisions, what the passes did and
// how the run ended (its prerequisite records are in list order already).
int32_t ChainingRun(PrereqList& list, const PackagedFiles& packagedFiles,
                    StatusWindow& statusWindow, bool quiet, const std::wstring& title,
                    RunRecorder* recorder = nullptr);

// Re-evaluates and re-selects every prerequisite after the install loop.
void ReevaluateAfterInstall(PrerequisiteRunner& runner);
// True when no mandatory prerequisite ("m" without "i") is still selected.
bool CheckMandatory(PrerequisiteRunner& runner);

}  // namespace prereq
