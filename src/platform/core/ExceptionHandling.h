#pragma once
// Crash safety: guarded threads that turn hardware faults into SehException
// objects, the process-wide last-chance handlers that end the process with a
// report, and stack traces.
#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/Exception.h"
#include "platform/core/ExceptionRules.h"
#include "platform/core/Handles.h"

namespace prereq {

// Exit code of the process after a failure that ended the run: the
// installation then knows that its prerequisites are not in place.
inline constexpr int32_t kFailureExitCode = 1;
// The exit code after such a failure: kFailureExitCode unless the run chose
// another convention (SetFailureExitCode, before its work begins).
int32_t FailureExitCode();
void SetFailureExitCode(int32_t code);

// Runs when the process ends after a failure nothing handled, after the
// report was logged and before the log's closing line (the result file is
// written there). The heap may be damaged then: the hook allocates nothing
// and waits only briefly. Set once at start.
using FailureEndHook = void (*)() noexcept;
void SetFailureEndHook(FailureEndHook hook);

// Installs, once per process: the unhandled-exception filter (a fault or
// other structured exception that nothing handles, on any thread but inside
// a guarded thread's body, ends the process with a report), a terminate and
// an abort handler that do the same for C++ failures nobody catches, and the
// stack traces of Exception::Clone. The report is logged, shown where a user
// can answer (ExceptionPresenter.h), the log's closing line is written and
// the process ends with kFailureExitCode. The entry point calls it first.
void InstallProcessGuards();

// How long the end of the process may take once a failure ended the run (the
// report, the log's closing line, the clean-up), in milliseconds.
inline constexpr DWORD kFailureEndMilliseconds = 10000;

// Bounds the end of the process after a failure: from this call on, the
// process is ended with kFailureExitCode when it has not ended within
// `milliseconds`. A thread that failed may have left a lock owned (the
// heap's, the loader's) that the end would otherwise wait for without end.
// Takes no lock and allocates nothing: the thread that watches the limit is
// started by InstallProcessGuards, before any failure. A later call never
// moves the limit further away.
void BoundProcessEnd(DWORD milliseconds = kFailureEndMilliseconds);
// While a person is asked (the error dialog waits for them) the limit does
// not run; once the question is answered it starts again at full length.
void SuspendProcessEndBound(bool suspended);

// Installs the process guards on its first call in the process (and puts
// the unhandled-exception filter back in place should a library have
// replaced it). Called at the start of every guarded thread; faults are
// translated inside the guard that the thread's start routine puts around
// its body.
void InstallThreadGuards();

// What a failure of a guarded thread's body means to its owner.
enum class FailureEnds {
  Work,  // that work failed; the run may go on
  Run,   // the owner ends the run with it: the end of the process is bounded
         // from the failure on (BoundProcessEnd), since the abandoned frames
         // may have left a lock owned that the owner's end then waits for
};

// A thread started by StartGuardedThread. Contract:
// - The body runs on a new thread started through the C run-time library.
//   Every C++ exception that leaves the body, and every hardware fault or
//   other structured exception inside it (an access violation, a division by
//   zero, a stack overflow), ends the body: a fault becomes an SehException
//   whose message names the fault kind, the code, the address and the stack
//   trace at the fault.
// - Such a failure is logged at once on the thread (the report, when logging
//   is on), `onFailure` runs on the thread, and the thread ends; the process
//   goes on. The owner then sees Failure() and decides: treat it as that
//   work's failure, or RethrowFailure() so that the entry point's top-level
//   catch ends the run (the report is not logged a second time).
// - After a fault, the destructors of the objects of the abandoned frames do
//   not run (their state is not trustworthy); locks those frames held are
//   not released, except the stack-walk lock of the report itself. Keep
//   bodies free of locks shared with the owner while they work.
// - Destroying a GuardedThread waits for the thread's end.
class GuardedThread {
 public:
  GuardedThread();
  GuardedThread(GuardedThread&& other) noexcept;
  GuardedThread& operator=(GuardedThread&& other) noexcept;
  ~GuardedThread();

  // False when the thread could not be started (nothing runs then).
  bool Started() const { return thread_.valid(); }
  explicit operator bool() const { return Started(); }
  // The thread's handle, for waits that pump messages; owned by this object.
  HANDLE Handle() const { return thread_.get(); }
  // Waits for the thread's end without a time limit.
  void Join();
  // After Join: what ended the body (an SehException for a fault), or null
  // when the body ran to its end.
  std::exception_ptr Failure() const;
  // After Join: throws Failure() when there is one.
  void RethrowFailure() const;

  struct State;

 private:
  friend GuardedThread StartGuardedThread(std::function<void()>, std::function<void()>, FailureEnds);
  std::unique_ptr<State> state_;
  KernelHandle thread_;
};

// Starts `body` on a guarded thread (see GuardedThread). `onFailure`, when
// given, runs on that thread after a failure was logged, for example to tell
// a window that the work ended; a failure inside it is logged and ignored.
GuardedThread StartGuardedThread(std::function<void()> body,
                                 std::function<void()> onFailure = {},
                                 FailureEnds ends = FailureEnds::Work);

// Runs one step of building or delivering a failure report on the calling
// thread. A hardware fault inside it (a broken symbol engine, a damaged
// heap) is caught at first chance, before any handler inside, and ends the
// step early, as does a C++ exception; the report is then shorter. False
// when the step did not run to its end.
bool RunReportStep(const std::function<void()>& step) noexcept;

// The stack trace from a thread context of the calling thread: the header,
// one line per frame (at most `maxFrames`, then the MORE-FRAMES line when
// more exist) and the module-base line. Empty when the debug-help library or
// its symbol engine is unavailable. Walks are serialised by one lock.
std::wstring CaptureStackTrace(const CONTEXT& context, int maxFrames);
// The same for the caller's own position.
std::wstring CaptureCurrentStackTrace(int maxFrames);

// The report of a caught exception: an exception of the family keeps its
// type name (an SehException the name of its fault kind), a standard-library
// exception is "EXCEPTION_STD", anything else "EXCEPTION_UNHANDLED". With
// `withStackTrace`, a trace of the calling thread is added unless the text
// already holds one.
ExceptionReport ReportOfException(const std::exception_ptr& failure, bool withStackTrace);

// Writes the report's lines to the log (when logging is on).
void LogExceptionReport(const ExceptionReport& report);
// Records that the report of `failure` goes to the log; false when it was
// recorded before (so a failure handed on from a guarded thread to its owner
// is logged once).
bool MarkFailureReported(const std::exception_ptr& failure);
// Logs the report of `failure` (with a stack trace) unless it was logged
// before; answers whether this call logged it.
bool LogFailureOnce(const std::exception_ptr& failure);

}  // namespace prereq
