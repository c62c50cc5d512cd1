#include "platform/core/ExceptionHandling.h"

#include <dbghelp.h>
#include <float.h>
#include <process.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <new>
#include <vector>

#include "logging/Logger.h"
#include "platform/core/ExceptionPresenter.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/WinText.h"

// How a hardware fault on a guarded thread becomes an SehException.
//
// GCC has no translator hook like _set_se_translator, and a C++ exception
// cannot be thrown from inside the system's exception dispatch (the i686
// runtime unwinds with DWARF tables, which the dispatcher's frames lack).
// So the guard works in three steps, the same on i686 and x86-64:
// 1. The guarded thread's start routine marks its recovery point with
//    __builtin_setjmp (no unwinding involved) and keeps a GuardFrame in a
//    thread-local slot.
// 2. A fault that no inner handler takes reaches the process-wide
//    unhandled-exception filter, still on the faulting thread and with the
//    faulting frames intact. For a guarded thread the filter copies the
//    exception record, walks the stack from the fault's context, and then
//    rewrites that context so that the thread continues in GuardRecover,
//    with the stack pointer just below the start routine's frame
//    (EXCEPTION_CONTINUE_EXECUTION: the system restores the context).
// 3. GuardRecover restores the x86 handler chain of the recovery point and
//    jumps there; the start routine builds the SehException from the saved
//    record and trace and ends the thread as failed. The frames between are
//    abandoned without unwinding.
// The differing code is small: the registers of the redirection and the x86
// handler chain (the 64-bit system has none).
//
// Building a report can fault too (a broken symbol engine, a damaged heap),
// and a fault inside the filter need not reach the filter again (Wine skips
// the handler whose filter is running and ends the process). So every step
// of a report runs as a report step: a frame of the same kind that a
// vectored handler recovers at first chance, before any other handler, which
// ends just that step; the report is then shorter. Faults outside any guard
// end the process with a report.

namespace prereq {

namespace {

// --------------------------------------------------------------------------
// Stack traces

constexpr DWORD kSymbolOptions = 0x80000016;  // debug output, lines, deferred loads, undecorated
#if defined(__x86_64__)
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;  // 332
#endif

// The symbol functions, looked up once in the system's debug-help library.
struct DebugHelp {
  Library library;
  decltype(&::SymSetOptions) setOptions = nullptr;
  decltype(&::SymInitializeW) initialize = nullptr;
  decltype(&::StackWalk64) stackWalk = nullptr;
  decltype(&::SymFunctionTableAccess64) functionTableAccess = nullptr;
  decltype(&::SymGetModuleBase64) moduleBase = nullptr;
  decltype(&::SymFromAddr) fromAddress = nullptr;
  decltype(&::SymGetLineFromAddr64) lineFromAddress = nullptr;
  bool initialized = false;  // the symbol engine answered SymInitialize

  DebugHelp() : library(LoadSystemLibrary(L"dbghelp.dll")) {
    if (!library) return;
    Find(setOptions, "SymSetOptions");
    Find(initialize, "SymInitializeW");
    Find(stackWalk, "StackWalk64");
    Find(functionTableAccess, "SymFunctionTableAccess64");
    Find(moduleBase, "SymGetModuleBase64");
    Find(fromAddress, "SymFromAddr");
    Find(lineFromAddress, "SymGetLineFromAddr64");
    if (!setOptions || !initialize || !stackWalk || !functionTableAccess || !moduleBase ||
        !fromAddress || !lineFromAddress)
      return;
    setOptions(kSymbolOptions);
    // Symbols are searched beside the executable.
    std::wstring folder = GetModulePath();
    folder.resize(folder.rfind(L'\\') == std::wstring::npos ? 0 : folder.rfind(L'\\'));
    initialized = initialize(::GetCurrentProcess(), folder.c_str(), TRUE) != FALSE;
  }

  template <typename F>
  void Find(F& function, const char* name) {
    function = reinterpret_cast<F>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), name)));
  }
};

// The lock that serialises stack walks (the symbol engine is not
// thread-safe). A guarded thread whose walk was interrupted by a fault gives
// it back.
using TraceLock = RecoverableLock;

TraceLock& TheTraceLock() {
  static TraceLock* lock = new TraceLock();  // lives until the process ends
  return *lock;
}

std::wstring SymbolName(DebugHelp& help, DWORD64 address) {
  alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + 2000];
  auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
  *symbol = SYMBOL_INFO{};
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = 2000;
  DWORD64 displacement = 0;
  if (!help.fromAddress(::GetCurrentProcess(), address, &displacement, symbol)) return {};
  const size_t length = strnlen(symbol->Name, symbol->MaxNameLen);
  return FromAnsi(std::string_view(symbol->Name, length));
}

StackFrameInfo DescribeFrame(DebugHelp& help, DWORD64 address) {
  StackFrameInfo frame;
  frame.address = address;
  std::wstring name = SymbolName(help, address);
  if (!name.empty()) frame.symbol = std::move(name);
  IMAGEHLP_LINE64 line{};
  line.SizeOfStruct = sizeof line;
  DWORD displacement = 0;
  if (help.lineFromAddress(::GetCurrentProcess(), address, &displacement, &line) &&
      line.FileName != nullptr) {
    frame.file = FromAnsi(line.FileName);
    frame.line = static_cast<long>(line.LineNumber);
  }
  return frame;
}

std::wstring WalkStack(const CONTEXT& start, int maxFrames, int skipFrames) {
  static DebugHelp help;
  if (!help.initialized) return {};
  ReachFailurePoint(FailurePoint::StackTrace);
  CONTEXT context = start;
  STACKFRAME64 frame{};
#if defined(__x86_64__)
  frame.AddrPC.Offset = context.Rip;
  frame.AddrStack.Offset = context.Rsp;
  frame.AddrFrame.Offset = context.Rbp;
#else
  frame.AddrPC.Offset = context.Eip;
  frame.AddrStack.Offset = context.Esp;
  frame.AddrFrame.Offset = context.Ebp;
#endif
  frame.AddrPC.Mode = frame.AddrStack.Mode = frame.AddrFrame.Mode = AddrModeFlat;
  std::wstring text(kStackTraceHeader);
  int frames = 0;
  for (int walked = 0;; ++walked) {
    if (!help.stackWalk(kMachine, ::GetCurrentProcess(), ::GetCurrentThread(), &frame, &context,
                        nullptr, help.functionTableAccess, help.moduleBase, nullptr))
      break;
    // A call through a null pointer faults at address 0; later frames at 0
    // end the stack.
    if (frame.AddrPC.Offset == 0 && walked > 0) break;
    if (walked < skipFrames) continue;
    if (frames == maxFrames) {
      text += kMoreFramesLine;
      break;
    }
    text += FormatFrameLine(DescribeFrame(help, frame.AddrPC.Offset));
    ++frames;
  }
  text += FormatModuleBaseLine(reinterpret_cast<uintptr_t>(::GetModuleHandleW(nullptr)));
  return text;
}

std::wstring LockedWalk(const CONTEXT& start, int maxFrames, int skipFrames) {
  RecoverableLockHold hold(TheTraceLock());
  return WalkStack(start, maxFrames, skipFrames);
}

std::wstring ProvideStackTrace(int maxFrames) {
  try {
    return CaptureCurrentStackTrace(maxFrames);
  } catch (...) {
    return {};
  }
}

// --------------------------------------------------------------------------
// Guard frames

struct GuardFrame {
  GuardFrame* previous = nullptr;   // enclosing guard of this thread
  void* jump[5] = {};               // __builtin_setjmp buffer of the recovery point
  void* resumeStack = nullptr;      // inside the frame below the recovery point
  void* handlerChain = nullptr;     // x86 handler chain there
  // Report steps recover at first chance (a vectored handler), before any
  // handler inside them; thread bodies only from the unhandled-exception
  // filter, after every handler inside them declined.
  bool firstChance = false;
  // 0: body running; 1: the filter builds the report; 2: recovering.
  volatile LONG stage = 0;
  bool traceInterrupted = false;
  // How often this thread held the log's lock when the guard began: a fault
  // inside a log line gives back what the abandoned frames took.
  int logLockDepth = 0;
  EXCEPTION_RECORD record{};
  std::wstring trace;
};

DWORD GuardSlot() {
  static const DWORD slot = ::TlsAlloc();
  return slot;
}

GuardFrame* CurrentGuard() {
  const DWORD slot = GuardSlot();
  return slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<GuardFrame*>(::TlsGetValue(slot));
}

void SetCurrentGuard(GuardFrame* frame) {
  const DWORD slot = GuardSlot();
  if (slot != TLS_OUT_OF_INDEXES) ::TlsSetValue(slot, frame);
}

// The x86 structured-exception handler chain: the first word of the thread
// information block. The 64-bit system finds handlers through tables.
void* HandlerChain() {
  void* chain = nullptr;
#if !defined(__x86_64__)
  __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
#endif
  return chain;
}

void SetHandlerChain([[maybe_unused]] void* chain) {
#if !defined(__x86_64__)
  __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
#endif
}

// Where the filter sends a guarded thread after a fault. It runs on the
// stack of the abandoned frames, below the recovery point.
[[noreturn, gnu::noinline]] void GuardRecover() {
  GuardFrame* frame = CurrentGuard();
  // The x86 handler chain still names registrations of the abandoned frames.
  SetHandlerChain(frame->handlerChain);
  TheTraceLock().ReleaseOnThisThreadTo(0);
  ReleaseLogLockOnThisThreadTo(frame->logLockDepth);
  __builtin_longjmp(frame->jump, 1);
}

// Makes the faulting thread continue in GuardRecover, as if called from the
// frame of RunBody (abandoned). Its stack pointer lies inside RunBody's
// scratch block: above every faulting frame and the dispatcher's records
// below them, below the recovery point's own frame.
void RedirectToRecovery(CONTEXT* context, GuardFrame* frame) {
  uintptr_t stack = reinterpret_cast<uintptr_t>(frame->resumeStack) & ~uintptr_t(15);
  stack -= sizeof(void*);  // the return address of the simulated call: none
  *reinterpret_cast<void**>(stack) = nullptr;
#if defined(__x86_64__)
  context->Rsp = stack;
  context->Rip = reinterpret_cast<DWORD64>(&GuardRecover);
#else
  context->Esp = stack;
  context->Eip = reinterpret_cast<DWORD>(&GuardRecover);
#endif
}

bool IsHardwareFault(uint32_t code) {
  // Faults of the processor and the memory manager (the error codes of the
  // name table), never software exceptions such as C++ throws or debugger
  // output, which the code that raises them also handles.
  return (code & 0xC0000000) == 0xC0000000 && code != 0xC0000008 && SehCodeName(code) != nullptr;
}

// Calls `body`; answers the C++ exception that ended it, if any.
[[gnu::noinline]] std::exception_ptr RunBody(GuardFrame& frame, const std::function<void()>& body,
                                             bool& completed) noexcept {
  // Room for the start of GuardRecover (with the 64-bit callee's home area
  // above its return address).
  alignas(16) volatile char scratch[128];
  scratch[0] = 0;
  frame.resumeStack = const_cast<char*>(scratch) + 64;
  try {
    body();
    completed = true;
    return nullptr;
  } catch (...) {
    return std::current_exception();
  }
}

// Runs `body` inside `frame` on the calling thread: 0 when it ran to its
// end, 1 when a C++ exception ended it (`failure`), 2 when a fault did (the
// record is in the frame).
[[gnu::noinline]] int RunInGuard(GuardFrame& frame, const std::function<void()>& body,
                                 std::exception_ptr& failure) noexcept {
  frame.previous = CurrentGuard();
  frame.handlerChain = HandlerChain();
  frame.logLockDepth = LogLockDepthOnThisThread();
  SetCurrentGuard(&frame);
  if (__builtin_setjmp(frame.jump) == 0) {
    bool completed = false;
    failure = RunBody(frame, body, completed);
    SetCurrentGuard(frame.previous);
    return completed ? 0 : 1;
  }
  // Back from GuardRecover: registers were restored from the jump buffer,
  // so take the frame from the thread's slot again.
  GuardFrame* self = CurrentGuard();
  // The x87 state of the abandoned frames is not ours any more.
  _fpreset();
  SetCurrentGuard(self->previous);
  return 2;
}

LONG WINAPI FirstChanceHandler(EXCEPTION_POINTERS* pointers) {
  GuardFrame* frame = CurrentGuard();
  if (frame == nullptr || !frame->firstChance || frame->stage != 0 ||
      pointers->ExceptionRecord == nullptr || pointers->ContextRecord == nullptr ||
      !IsHardwareFault(pointers->ExceptionRecord->ExceptionCode))
    return EXCEPTION_CONTINUE_SEARCH;
  frame->stage = 2;
  frame->record = *pointers->ExceptionRecord;
  RedirectToRecovery(pointers->ContextRecord, frame);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Handles, inside the filter, a fault of a guarded thread's body; false
// when the thread has no guard that can still recover.
bool RecoverGuardedThread(EXCEPTION_POINTERS* pointers) {
  GuardFrame* frame = CurrentGuard();
  if (frame == nullptr || frame->firstChance || frame->stage != 0 ||
      pointers->ContextRecord == nullptr || pointers->ExceptionRecord == nullptr)
    return false;
  frame->stage = 1;
  frame->record = *pointers->ExceptionRecord;
  // A stack overflow leaves too little stack for a walk.
  if (frame->record.ExceptionCode != kSehStackOverflow) {
    const CONTEXT* context = pointers->ContextRecord;
    if (!RunReportStep([&] { frame->trace = CaptureStackTrace(*context, kReportStackFrames); }))
      frame->traceInterrupted = true;
  }
  frame->stage = 2;
  RedirectToRecovery(pointers->ContextRecord, frame);
  return true;
}

// The SehException of a recovered fault.
[[gnu::noinline]] std::exception_ptr TranslateFault(GuardFrame& frame) noexcept try {
  const EXCEPTION_RECORD& record = frame.record;
  const uint32_t code = record.ExceptionCode;
  const SehFaultKind kind =
      ClassifySehFault(code, record.NumberParameters, record.ExceptionInformation[0],
                       record.ExceptionInformation[1]);
  std::wstring trace = frame.traceInterrupted ? std::wstring() : std::move(frame.trace);
  const std::wstring text = ComposeSehMessage(
      kind, FormatSehFirstLine(code, reinterpret_cast<uintptr_t>(record.ExceptionAddress)), trace);
  std::wstring file = FromAnsi(__FILE__);
  int line = __LINE__;
  if (const std::optional<SourceLocation> where = FirstFrameLocation(trace)) {
    file = where->file;
    line = where->line;
  }
  SehException failure(text, file, line, kind);
  failure.SetCode(code);
  return std::make_exception_ptr(failure);
} catch (...) {
  return std::current_exception();
}

// Runs `body` on the calling thread inside a guard; answers what ended it.
std::exception_ptr RunGuarded(const std::function<void()>& body) noexcept {
  GuardFrame frame;
  std::exception_ptr failure;
  if (RunInGuard(frame, body, failure) == 2) failure = TranslateFault(frame);
  return failure;
}

// --------------------------------------------------------------------------
// The bound on the end of the process after a failure

[[noreturn]] void TerminateWithFailure();

// The watch: a thread started with the process guards that sleeps until a
// limit is set, and then ends the process when the limit passes. Setting,
// suspending and resuming it only store numbers and signal an event.
class EndWatch {
 public:
  EndWatch() : wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake_) return;
    thread_.reset(::CreateThread(nullptr, 64 * 1024, &EndWatch::Main, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  }

  void Arm(DWORD milliseconds) {
    const ULONGLONG limit = ::GetTickCount64() + milliseconds;
    ULONGLONG current = limit_;
    while ((current == 0 || limit < current) && !limit_.compare_exchange_weak(current, limit)) {
    }
    length_ = milliseconds;
    if (wake_) ::SetEvent(wake_.get());
  }

  void Suspend(bool suspended) {
    if (!suspended && suspended_) {
      // The question was answered: the full length again from now.
      const ULONGLONG current = limit_;
      if (current != 0) limit_ = ::GetTickCount64() + length_;
    }
    suspended_ = suspended;
    if (wake_) ::SetEvent(wake_.get());
  }

 private:
  static DWORD WINAPI Main(void* parameter) {
    auto* self = static_cast<EndWatch*>(parameter);
    for (;;) {
      const ULONGLONG limit = self->limit_;
      DWORD wait = INFINITE;
      if (limit != 0 && !self->suspended_) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= limit) TerminateWithFailure();
        wait = static_cast<DWORD>(limit - now);
      }
      ::WaitForSingleObject(self->wake_.get(), wait);
    }
  }

  KernelHandle wake_;
  KernelHandle thread_;
  std::atomic<ULONGLONG> limit_{0};  // 0: no limit set
  std::atomic<DWORD> length_{kFailureEndMilliseconds};
  std::atomic<bool> suspended_{false};
};

EndWatch& TheEndWatch() {
  static EndWatch* watch = new EndWatch();  // lives until the process ends
  return *watch;
}

// --------------------------------------------------------------------------
// The end of the process after a failure nothing handled

std::atomic<DWORD> endingThread{0};
int endingDepth = 0;  // entries of the ending thread
std::atomic<int32_t> failureExitCode{kFailureExitCode};
std::atomic<FailureEndHook> failureEndHook{nullptr};

// 0 for the first report, 1 when something during it ended in a failure
// nothing handled, 2 and more after that. Another thread that fails
// meanwhile waits for the end.
int EnterProcessEnd() {
  BoundProcessEnd();
  const DWORD self = ::GetCurrentThreadId();
  DWORD expected = 0;
  if (endingThread.compare_exchange_strong(expected, self)) return endingDepth++;
  if (expected == self) return endingDepth++;
  for (;;) ::Sleep(INFINITE);
}

[[noreturn]] void TerminateWithFailure() {
  const UINT code = static_cast<UINT>(failureExitCode.load());
  ::TerminateProcess(::GetCurrentProcess(), code);
  ::ExitProcess(code);
}

// Logs the report, shows it where somebody can answer (only on the first
// attempt), writes the log's closing line and ends the process with
// kFailureExitCode. Each step that fails is skipped. Nothing else runs: the
// clean-up and the destructors are skipped because the process state is
// unknown (a damaged heap, a lock held by the failed code), and the other
// threads end with the process.
[[noreturn]] void EndProcessWithReport(const ExceptionReport& report, int attempt) {
  RunReportStep([&] { LogExceptionReport(report); });
  if (attempt == 0) {
    RunReportStep([&] {
      PresentError(nullptr, report.message, report.details, report.typeName, report.sourceFile);
    });
  }
  if (const FailureEndHook hook = failureEndHook.load()) RunReportStep([hook] { hook(); });
  RunReportStep([] { TheLogger().Finish(loggingEnabled); });
  TerminateWithFailure();
}

bool IsGccException(const EXCEPTION_RECORD* record) {
  return (record->ExceptionCode & 0x20FFFFFF) == 0x20474343;  // "GCC" in a user code
}

LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
  // The 64-bit C++ runtime throws through the system's dispatch; a throw
  // nobody catches ends here first and goes back to the runtime, which then
  // calls std::terminate (reported by the terminate handler).
  if (record != nullptr && IsGccException(record) &&
      (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0)
    return EXCEPTION_CONTINUE_EXECUTION;
  if (pointers != nullptr && RecoverGuardedThread(pointers)) return EXCEPTION_CONTINUE_EXECUTION;

  const int attempt = EnterProcessEnd();
  if (attempt >= 2) TerminateWithFailure();
  ExceptionReport report;
  report.typeName = ExceptionTypeName(static_cast<int>(ExceptionType::Unhandled));
  RunReportStep([&] {
    report.sourceFile = FromAnsi(__FILE__);
    report.sourceLine = __LINE__;
    report.details = record == nullptr
                         ? std::wstring(L"Unidentified SEH Exception !")
                         : FormatUnhandledFirstLine(
                               record->ExceptionCode,
                               reinterpret_cast<uintptr_t>(record->ExceptionAddress));
  });
  if (attempt == 0 && record != nullptr && record->ExceptionCode != kSehStackOverflow &&
      pointers->ContextRecord != nullptr && !ConsoleReportsInstalled()) {
    const CONTEXT* context = pointers->ContextRecord;
    RunReportStep([&] {
      const std::wstring trace = CaptureStackTrace(*context, kReportStackFrames);
      report.details += trace;
    });
  }
  RunReportStep([&] {
    report.message = LoadResourceString(IDS_UNHANDLED_EXCEPTION);
    if (report.message.empty()) report.message = FirstLine(report.details);
  });
  EndProcessWithReport(report, attempt);
}

// `withoutException`: the string-table text of the report when no exception
// is being handled.
[[noreturn]] void EndWithCurrentException(UINT withoutException) {
  const int attempt = EnterProcessEnd();
  if (attempt >= 2) TerminateWithFailure();
  ExceptionReport report;
  report.typeName = ExceptionTypeName(static_cast<int>(ExceptionType::Unhandled));
  RunReportStep([&] {
    report.message = LoadResourceString(withoutException);
    report.details = report.message;
  });
  const std::exception_ptr current = std::current_exception();
  if (current) RunReportStep([&] { report = ReportOfException(current, false); });
  if (attempt == 0) {
    RunReportStep([&] {
      if (current)
        report = ReportOfException(current, true);
      else
        report.details += L"\r\n" + CaptureCurrentStackTrace(kReportStackFrames);
    });
  }
  EndProcessWithReport(report, attempt);
}

void OnTerminate() { EndWithCurrentException(IDS_REPORT_TERMINATE); }

void OnAbort(int) { EndWithCurrentException(IDS_REPORT_ABORT); }

// --------------------------------------------------------------------------
// Reports logged once

std::mutex& ReportedLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}

std::vector<std::exception_ptr>& Reported() {
  static auto* reported = new std::vector<std::exception_ptr>();
  return *reported;
}

std::wstring ExceptionText(const char* what) {
  return FromAnsi(what != nullptr ? std::string_view(what) : std::string_view());
}

}  // namespace

// --------------------------------------------------------------------------

namespace {
// Stack kept free for the handlers of a stack overflow on this thread.
void ReserveStackForHandlers() {
  ULONG bytes = 64 * 1024;
  ::SetThreadStackGuarantee(&bytes);
}
}  // namespace

int32_t FailureExitCode() { return failureExitCode.load(); }
void SetFailureExitCode(int32_t code) { failureExitCode = code; }
void SetFailureEndHook(FailureEndHook hook) { failureEndHook = hook; }

void InstallProcessGuards() {
  static std::once_flag once;
  std::call_once(once, [] {
    ReserveStackForHandlers();  // for the thread that installs them: the main thread
    GuardSlot();
    TheTraceLock();
    TheEndWatch();
    SetStackTraceProvider(&ProvideStackTrace);
    ::AddVectoredExceptionHandler(1, &FirstChanceHandler);
    ::SetUnhandledExceptionFilter(&LastChanceFilter);
    std::set_terminate(&OnTerminate);
    std::signal(SIGABRT, &OnAbort);
  });
}

void BoundProcessEnd(DWORD milliseconds) { TheEndWatch().Arm(milliseconds); }

void SuspendProcessEndBound(bool suspended) { TheEndWatch().Suspend(suspended); }

void InstallThreadGuards() {
  InstallProcessGuards();
  ReserveStackForHandlers();
  // A library may have put its own filter in place meanwhile; the guards of
  // this thread need this one.
  ::SetUnhandledExceptionFilter(&LastChanceFilter);
}

std::wstring CaptureStackTrace(const CONTEXT& context, int maxFrames) {
  return LockedWalk(context, maxFrames, 0);
}

[[gnu::noinline]] std::wstring CaptureCurrentStackTrace(int maxFrames) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  // The first frame is this function.
  return LockedWalk(context, maxFrames, 1);
}

ExceptionReport ReportOfException(const std::exception_ptr& failure, bool withStackTrace) {
  ExceptionReport report;
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return ReportOf(withStackTrace ? static_cast<const Exception&>(*e.Clone(true)) : e);
  } catch (const IException& e) {
    report.typeName = e.GetTypeName();
    report.message = LoadResourceString(IDS_REPORT_UNIDENTIFIED);
  } catch (const std::exception& e) {
    report.typeName = ExceptionTypeName(static_cast<int>(ExceptionType::Std));
    report.message = FirstLine(ExceptionText(e.what()));
    report.details = ExceptionText(e.what());
  } catch (...) {
    report.typeName = ExceptionTypeName(static_cast<int>(ExceptionType::Unhandled));
    report.message = LoadResourceString(IDS_REPORT_UNIDENTIFIED);
  }
  if (report.details.empty()) report.details = report.message;
  if (withStackTrace && !HasStackTrace(report.details))
    report.details += L"\r\n" + CaptureCurrentStackTrace(kReportStackFrames);
  return report;
}

void LogExceptionReport(const ExceptionReport& report) {
  if (!loggingEnabled) return;
  for (const std::wstring& line : ReportLogLines(report)) WriteLine(line);
}

bool MarkFailureReported(const std::exception_ptr& failure) {
  if (!failure) return false;
  std::lock_guard<std::mutex> hold(ReportedLock());
  for (const std::exception_ptr& seen : Reported())
    if (seen == failure) return false;
  Reported().push_back(failure);
  return true;
}

bool LogFailureOnce(const std::exception_ptr& failure) {
  if (!MarkFailureReported(failure)) return false;
  // Without a trace first: a walk that fails leaves the shorter report.
  ExceptionReport report = ReportOfException(failure, false);
  RunReportStep([&] { report = ReportOfException(failure, true); });
  LogExceptionReport(report);
  return true;
}

bool RunReportStep(const std::function<void()>& step) noexcept {
  InstallProcessGuards();
  GuardFrame frame;
  frame.firstChance = true;
  std::exception_ptr ignored;
  return RunInGuard(frame, step, ignored) == 0;
}

// --------------------------------------------------------------------------
// Guarded threads

struct GuardedThread::State {
  std::function<void()> body;
  std::function<void()> onFailure;
  FailureEnds ends = FailureEnds::Work;
  std::exception_ptr failure;
};

namespace {

unsigned __stdcall GuardedThreadStart(void* parameter) {
  auto* state = static_cast<GuardedThread::State*>(parameter);
  InstallThreadGuards();
  state->failure = RunGuarded(state->body);
  if (!state->failure) return 0;
  if (state->ends == FailureEnds::Run) BoundProcessEnd();
  RunReportStep([state] { LogFailureOnce(state->failure); });
  if (state->onFailure) {
    const std::exception_ptr late = RunGuarded(state->onFailure);
    if (late) RunReportStep([&late] { LogFailureOnce(late); });
  }
  return 1;
}

}  // namespace

GuardedThread StartGuardedThread(std::function<void()> body, std::function<void()> onFailure,
                                 FailureEnds ends) {
  InstallProcessGuards();
  GuardedThread thread;
  thread.state_ = std::make_unique<GuardedThread::State>();
  thread.state_->body = std::move(body);
  thread.state_->onFailure = std::move(onFailure);
  thread.state_->ends = ends;
  thread.thread_.reset(reinterpret_cast<HANDLE>(
      ::_beginthreadex(nullptr, 0, &GuardedThreadStart, thread.state_.get(), 0, nullptr)));
  return thread;
}

GuardedThread::GuardedThread() = default;

GuardedThread::GuardedThread(GuardedThread&& other) noexcept = default;

GuardedThread& GuardedThread::operator=(GuardedThread&& other) noexcept {
  if (this != &other) {
    Join();
    state_ = std::move(other.state_);
    thread_ = std::move(other.thread_);
  }
  return *this;
}

GuardedThread::~GuardedThread() { Join(); }

void GuardedThread::Join() {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

std::exception_ptr GuardedThread::Failure() const {
  return state_ ? state_->failure : nullptr;
}

void GuardedThread::RethrowFailure() const {
  if (std::exception_ptr failure = Failure()) std::rethrow_exception(failure);
}

}  // namespace prereq
