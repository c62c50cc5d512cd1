#pragma once
// Places where a test build of the program can make it fail on purpose, so
// that the crash report is tested end to end on the real program. Only a
// build compiled with PREREQ_TEST_HOOKS installs a hook (from its
// environment, at start); the shipped program never does, and there
// ReachFailurePoint does nothing. No configuration can reach a hook.
#include <cstdint>

namespace prereq {

enum class FailurePoint : uint32_t {
  Run,           // main thread, before the installer wait
  SearchWorker,  // the search worker, before the evaluation
  MsixLookup,    // the installed-package lookup thread
  MsixDeploy,    // the package deployment thread
  StackTrace,    // inside the stack walk of a report
  ProgressWorker,  // the progress window's worker, before the passes
  LogLine,       // inside the log's lock, before a line is written
};

using FailureHook = void (*)(FailurePoint point);

void SetFailureHook(FailureHook hook);
// Calls the hook, if one is installed.
void ReachFailurePoint(FailurePoint point);

}  // namespace prereq
