#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "logging/Logger.h"
#include "platform/core/ExceptionHandling.h"
#include "platform/core/ExceptionPresenter.h"
#include "platform/core/Security.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/TempFolder.h"
#include "platform/core/TestFaults.h"
#include "platform/core/WinText.h"
#include "ui/StatusWindow.h"

using namespace prereq;
using testfaults::Fault;

namespace {

std::string Narrow(const std::wstring& text) { return ToUtf8(text); }

// Runs `body` on a guarded thread and answers what ended it.
std::exception_ptr FailureOf(std::function<void()> body) {
  GuardedThread thread = StartGuardedThread(std::move(body));
  EXPECT_TRUE(thread.Started());
  thread.Join();
  return thread.Failure();
}

// The SehException a guarded thread's fault turned into.
SehException FaultOf(Fault fault) {
  const std::exception_ptr failure = FailureOf([fault] { testfaults::Cause(fault); });
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const SehException& e) {
    return e;
  } catch (...) {
  }
  ADD_FAILURE() << "the fault did not become an SehException";
  return SehException(L"", std::wstring(), 0, SehFaultKind::Generic);
}

const std::wstring kHeader(kStackTraceHeader);

TEST(GuardedThread, FaultsBecomeSehExceptions) {
  struct Case {
    Fault fault;
    const char* firstLine;  // pattern of the message's first line
    SehFaultKind kind;
    uint32_t code;
    const wchar_t* function;  // the faulting frame
  };
  const Case cases[] = {
      {Fault::NullRead,
       R"(\[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION \(0xc0000005\) at address \[0x[0-9a-f]{8,}\])",
       SehFaultKind::AvReadNullPtr, 0xC0000005, L"ReadAt()"},
      {Fault::BadRead,
       R"(\[SEH_AV_READ_BADPTR\] ACCESS_VIOLATION \(0xc0000005\) at address \[0x[0-9a-f]{8,}\])",
       SehFaultKind::AvReadBadPtr, 0xC0000005, L"ReadAt()"},
      {Fault::NullWrite,
       R"(\[SEH_AV_WRITE_NULLPTR\] ACCESS_VIOLATION \(0xc0000005\) at address \[0x[0-9a-f]{8,}\])",
       SehFaultKind::AvWriteNullPtr, 0xC0000005, L"WriteAt()"},
      {Fault::DivideByZero,
       R"(\[SEH_GENERIC\] INT_DIVIDE_BY_ZERO \(0xc0000094\) at address \[0x[0-9a-f]{8,}\])",
       SehFaultKind::Generic, 0xC0000094, L"DivideBy()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    const SehException e = FaultOf(c.fault);
    const std::wstring& text = e.Message();
    const size_t end = text.find(L"\r\n");
    ASSERT_NE(end, std::wstring::npos) << Narrow(text);
    EXPECT_TRUE(std::regex_match(Narrow(text.substr(0, end)), std::regex(c.firstLine)))
        << Narrow(text);
    EXPECT_EQ(e.FaultKind(), static_cast<uint32_t>(c.kind));
    EXPECT_EQ(e.GetType(), 7);
    EXPECT_EQ(std::wstring(e.GetTypeName()), SehFaultKindName(static_cast<uint32_t>(c.kind)));
    EXPECT_EQ(e.Code(), c.code);
    // The stack trace follows the first line: under Wine the symbol engine
    // reads the DWARF data, so the faulting function is the first frame and
    // gives the source location.
    // The first line ends with a line end, and the trace starts with one.
    ASSERT_EQ(text.find(kHeader), end + 2) << Narrow(text);
    const size_t firstFrame = end + 2 + kHeader.size();
    EXPECT_NE(text.find(c.function, firstFrame), std::wstring::npos) << Narrow(text);
    EXPECT_LT(text.find(c.function, firstFrame), text.find(L"\r\n", firstFrame));
    // Where the fault happened is the faulting frame's location. Which line
    // table answers for a helper compiled into several units is the symbol
    // engine's choice: the function's name above is the check of the place.
    const std::optional<SourceLocation> where = FirstFrameLocation(text);
    ASSERT_TRUE(where.has_value()) << Narrow(text);
    EXPECT_EQ(e.SourceFile(), where->file);
    EXPECT_EQ(e.SourceLine(), where->line);
    EXPECT_GT(e.SourceLine(), 0);
    EXPECT_NE(text.find(L"GuardedThreadStart()"), std::wstring::npos)
        << "the frames up to the thread's start: " << Narrow(text);
    EXPECT_NE(text.find(L"MODULE_BASE_ADDRESS\r\n"), std::wstring::npos);
  }
}

TEST(GuardedThread, ExecutionAtAddressZero) {
  // Data-execution prevention reports an execute access where the processor
  // says so; otherwise the fault is a read of the same address.
  const SehException e = FaultOf(Fault::NullCall);
  EXPECT_TRUE(e.FaultKind() == static_cast<uint32_t>(SehFaultKind::AvDepNullPtr) ||
              e.FaultKind() == static_cast<uint32_t>(SehFaultKind::AvReadNullPtr))
      << Narrow(e.Message());
  EXPECT_EQ(e.Message().rfind(std::wstring(L"[") + e.GetTypeName() +
                                  L"] ACCESS_VIOLATION (0xc0000005) at address [0x00000000]\r\n",
                              0),
            0u)
      << Narrow(e.Message());
}

TEST(GuardedThread, StackOverflowEndsTheThreadWithoutTrace) {
  const SehException e = FaultOf(Fault::StackOverflow);
  EXPECT_EQ(e.Message().rfind(L"[SEH_GENERIC] STACK_OVERFLOW (0xc00000fd) at address [0x", 0), 0u)
      << Narrow(e.Message());
  EXPECT_EQ(e.Message().find(kHeader), std::wstring::npos);
  // The process goes on, and so do guarded threads.
  EXPECT_EQ(FaultOf(Fault::NullRead).FaultKind(),
            static_cast<uint32_t>(SehFaultKind::AvReadNullPtr));
}

TEST(GuardedThread, CppExceptionsEndTheBody) {
  std::exception_ptr failure = FailureOf([] { testfaults::Cause(Fault::Raise); });
  try {
    std::rethrow_exception(failure);
  } catch (const SehException&) {
    ADD_FAILURE() << "a C++ exception became a fault";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Code(), kErrorRange);
    EXPECT_EQ(e.Message(), L"Index out of range");
  }
  EXPECT_THROW(std::rethrow_exception(FailureOf([] { throw std::out_of_range("x"); })),
               std::out_of_range);
  EXPECT_THROW(std::rethrow_exception(FailureOf([] { throw 42; })), int);
}

TEST(GuardedThread, CompletedBodyHasNoFailure) {
  int ran = 0;
  GuardedThread thread = StartGuardedThread([&] { ++ran; });
  thread.Join();
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(thread.Failure());
  EXPECT_NO_THROW(thread.RethrowFailure());
  DWORD code = 99;
  EXPECT_TRUE(GetExitCodeThread(thread.Handle(), &code));
  EXPECT_EQ(code, 0u);
}

TEST(GuardedThread, FailureIsTheThreadsAndRethrowable) {
  std::atomic<DWORD> failureThread{0};
  DWORD bodyThread = 0;
  GuardedThread thread = StartGuardedThread(
      [&] {
        bodyThread = GetCurrentThreadId();
        testfaults::Cause(Fault::NullWrite);
      },
      [&] { failureThread = GetCurrentThreadId(); });
  thread.Join();
  EXPECT_EQ(failureThread.load(), bodyThread);  // onFailure ran on the thread
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.Handle(), &code));
  EXPECT_EQ(code, 1u);
  EXPECT_THROW(thread.RethrowFailure(), SehException);
}

TEST(GuardedThread, OnFailureDoesNotRunAfterSuccess) {
  bool called = false;
  GuardedThread thread = StartGuardedThread([] {}, [&] { called = true; });
  thread.Join();
  EXPECT_FALSE(called);
}

TEST(GuardedThread, HandlersInsideTheBodyComeFirst) {
  // IsBadReadPtr takes its own access violation; the guard must not.
  bool bad = false;
  const std::exception_ptr failure = FailureOf([&] {
    bad = IsBadReadPtr(nullptr, 4) != FALSE;
  });
  EXPECT_FALSE(failure);
  EXPECT_TRUE(bad);
}

TEST(GuardedThread, DestructorWaitsForTheEnd) {
  std::atomic<bool> finished{false};
  {
    GuardedThread thread = StartGuardedThread([&] {
      Sleep(200);
      finished = true;
    });
  }
  EXPECT_TRUE(finished.load());
}

TEST(GuardedThread, MovedThreadKeepsItsState) {
  GuardedThread first = StartGuardedThread([] { testfaults::Cause(Fault::DivideByZero); });
  GuardedThread second = std::move(first);
  EXPECT_FALSE(first.Started());
  second.Join();
  EXPECT_THROW(second.RethrowFailure(), SehException);
}

// A fault inside the stack walk of a report (a broken symbol engine).
int stackTraceFaults = 0;
void FaultInStackTrace(FailurePoint point) {
  if (point == FailurePoint::StackTrace && stackTraceFaults > 0) {
    --stackTraceFaults;
    testfaults::Cause(Fault::NullWrite);
  }
}

TEST(GuardedThread, FaultWhileBuildingTheReportGivesAShorterReport) {
  SetFailureHook(&FaultInStackTrace);
  stackTraceFaults = 1;
  const SehException e = FaultOf(Fault::NullRead);
  SetFailureHook(nullptr);
  EXPECT_EQ(stackTraceFaults, 0);
  EXPECT_TRUE(std::regex_match(
      Narrow(e.Message()),
      std::regex(R"(\[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION \(0xc0000005\) at address \[0x[0-9a-f]{8,}\]\r\n)")))
      << Narrow(e.Message());
  EXPECT_NE(e.SourceFile().find(L"ExceptionHandling.cpp"), std::wstring::npos);
  // The walk's lock was given back: the next report has its trace.
  const SehException next = FaultOf(Fault::NullRead);
  EXPECT_NE(next.Message().find(kHeader), std::wstring::npos) << Narrow(next.Message());
}

// A fault inside a log line on a guarded thread: the frames that held the
// log's lock are abandoned, and the lock goes back with them. The failure's
// report still reaches the log (on the same thread), and the next line of
// another thread is written at once instead of waiting for ever.
std::atomic<DWORD> faultingLogThread{0};
void FaultInLogLine(FailurePoint point) {
  DWORD expected = ::GetCurrentThreadId();
  if (point == FailurePoint::LogLine && faultingLogThread.compare_exchange_strong(expected, 0))
    testfaults::Cause(Fault::NullRead);
}

TEST(GuardedThread, FaultInsideALogLineGivesTheLogsLockBack) {
  LogCapture capture(L"prereq-ut-loglock.log");
  SetFailureHook(&FaultInLogLine);
  GuardedThread worker = StartGuardedThread([] {
    faultingLogThread = ::GetCurrentThreadId();
    WriteLine(L"never written");
  });
  worker.Join();
  SetFailureHook(nullptr);
  EXPECT_THROW(worker.RethrowFailure(), SehException);
  EXPECT_EQ(LogLockDepthOnThisThread(), 0);
  // Written from another thread within a second, or the lock was kept.
  GuardedThread next = StartGuardedThread([] { WriteLine(L"after the fault"); });
  if (WaitForSingleObject(next.Handle(), 5000) != WAIT_OBJECT_0) {
    TerminateThread(next.Handle(), 1);  // or the test would wait for ever too
    FAIL() << "the log's lock stayed taken";
  }
  const std::vector<std::wstring> lines = capture.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), L"never written"), 0);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
    return line.rfind(L"SEH_AV_READ_NULLPTR: ", 0) == 0;
  }));
  EXPECT_EQ(lines.back(), L"after the fault");
}

TEST(ReportStep, EndsEarlyOnFaultsAndExceptions) {
  int after = 0;
  EXPECT_TRUE(RunReportStep([&] { ++after; }));
  EXPECT_FALSE(RunReportStep([&] {
    testfaults::Cause(Fault::NullRead);
    ++after;
  }));
  EXPECT_FALSE(RunReportStep([&] {
    testfaults::Cause(Fault::BadAlloc);
    ++after;
  }));
  EXPECT_FALSE(RunReportStep([&] {
    testfaults::Cause(Fault::DivideByZero);
    ++after;
  }));
  EXPECT_EQ(after, 1);
  // Steps nest, and the inner one's fault leaves the outer one running.
  bool outerEnded = false;
  EXPECT_TRUE(RunReportStep([&] {
    EXPECT_FALSE(RunReportStep([] { testfaults::Cause(Fault::NullWrite); }));
    outerEnded = true;
  }));
  EXPECT_TRUE(outerEnded);
}

[[gnu::noinline]] int Depth(int depth, int maxFrames, std::wstring& trace) {
  volatile int frame = depth;  // keeps every call a frame of its own
  if (depth == 0) {
    trace = CaptureCurrentStackTrace(maxFrames);
    return 0;
  }
  const int below = Depth(depth - 1, maxFrames, trace);
  return below + frame;
}

int FrameLines(const std::wstring& trace) {
  int frames = 0;
  for (size_t at = trace.find(L"\r\n[0x"); at != std::wstring::npos;
       at = trace.find(L"\r\n[0x", at + 1))
    ++frames;
  return frames - 1;  // the module-base line
}

TEST(StackTrace, FrameLimitAndMoreFrames) {
  std::wstring full;
  Depth(30, 1000, full);
  ASSERT_EQ(full.rfind(kHeader, 0), 0u) << Narrow(full);
  const int all = FrameLines(full);
  EXPECT_GT(all, 30) << Narrow(full);
  EXPECT_EQ(full.find(kMoreFramesLine), std::wstring::npos);
  EXPECT_NE(full.find(L"Depth()"), std::wstring::npos) << Narrow(full);
  const std::wstring base = FormatModuleBaseLine(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
  EXPECT_EQ(full.substr(full.size() - base.size()), base);

  struct Case {
    int maxFrames;
    bool more;
  };
  // At, below and above the number of frames there are.
  for (const Case& c : {Case{all, false}, Case{all - 1, true}, Case{all + 1, false}, Case{5, true}}) {
    std::wstring trace;
    Depth(30, c.maxFrames, trace);
    EXPECT_EQ(FrameLines(trace), std::min(all, c.maxFrames)) << c.maxFrames;
    const size_t more = trace.find(kMoreFramesLine);
    EXPECT_EQ(more != std::wstring::npos, c.more) << c.maxFrames;
    if (c.more) EXPECT_EQ(trace.substr(more + kMoreFramesLine.size()), base);
  }
}

TEST(Reports, OfEveryKindOfException) {
  auto reportOf = [](auto thrown, bool trace) {
    try {
      throw thrown;
    } catch (...) {
      return ReportOfException(std::current_exception(), trace);
    }
  };
  const ExceptionReport generic = reportOf(Exception(L"Out of resources", "C:\\a.cpp", 7, kErrorOutOfResources), false);
  EXPECT_EQ(generic.typeName, L"EXCEPTION_GENERIC");
  EXPECT_EQ(generic.message, L"Out of resources");
  EXPECT_EQ(generic.details, L"Out of resources\r\nRaised at: C:\\a.cpp:7, code 0x80004005");
  const ExceptionReport traced = reportOf(Exception(L"Out of resources", "C:\\a.cpp", 7), true);
  // "\r\n" and the trace, which starts with its own line end.
  EXPECT_EQ(traced.details.find(kHeader),
            traced.details.find(L"\r\n", traced.details.find(L"Raised at")) + 2);
  const ExceptionReport standard = reportOf(std::out_of_range("vector index"), false);
  EXPECT_EQ(standard.typeName, L"EXCEPTION_STD");
  EXPECT_EQ(standard.message, L"vector index");
  EXPECT_EQ(standard.details, L"vector index");
  const ExceptionReport unknown = reportOf(7, true);
  EXPECT_EQ(unknown.typeName, L"EXCEPTION_UNHANDLED");
  EXPECT_EQ(unknown.message, L"Unidentified exception");
  EXPECT_NE(unknown.details.find(kHeader), std::wstring::npos);
}

class CrashLog : public LogCapture {
 public:
  CrashLog() : LogCapture(L"prereq-ut-crash.log") {}
};

TEST(Reports, GuardedThreadLogsItsFailureOnce) {
  CrashLog log;
  GuardedThread thread = StartGuardedThread([] { testfaults::Cause(Fault::NullRead); });
  thread.Join();
  // Handed on to the owner (the top-level catch), it is not logged again.
  EXPECT_FALSE(LogFailureOnce(thread.Failure()));
  EXPECT_FALSE(MarkFailureReported(thread.Failure()));
  const std::vector<std::wstring> lines = log.Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind(L"SEH_AV_READ_NULLPTR: [SEH_AV_READ_NULLPTR] ACCESS_VIOLATION "
                           L"(0xc0000005) at address [0x", 0),
            0u)
      << Narrow(lines[0]);
  EXPECT_EQ(lines[1].rfind(L"Raised at: TestFaults.h:", 0), 0u) << Narrow(lines[1]);
  EXPECT_EQ(lines[2], FirstLine(kHeader.substr(2)));
  EXPECT_NE(lines[3].find(L"ReadAt()"), std::wstring::npos) << Narrow(lines[3]);
  EXPECT_NE(lines.back().find(L"MODULE_BASE_ADDRESS"), std::wstring::npos);
  int reports = 0;
  for (const std::wstring& line : lines) reports += line.rfind(L"SEH_AV_READ_NULLPTR: ", 0) == 0;
  EXPECT_EQ(reports, 1);
}

TEST(Reports, MarkedOncePerFailure) {
  const std::exception_ptr a = std::make_exception_ptr(std::runtime_error("a"));
  const std::exception_ptr b = std::make_exception_ptr(std::runtime_error("a"));
  EXPECT_TRUE(MarkFailureReported(a));
  EXPECT_FALSE(MarkFailureReported(a));
  EXPECT_TRUE(MarkFailureReported(b));  // an equal text is another failure
  EXPECT_FALSE(MarkFailureReported(nullptr));
}

// --------------------------------------------------------------------------
// Error dialog

// The client size of a window in dialog units.
SIZE DialogUnits(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  RECT unit{0, 0, 4000, 8000};
  MapDialogRect(dialog, &unit);
  return {MulDiv(client.right, 4000, unit.right), MulDiv(client.bottom, 8000, unit.bottom)};
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

std::wstring ManyLines(int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += L"line " + std::to_wstring(i) + L"\r\n";
  return text;
}

class ErrorDialogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
  }
  HWND Create(const std::wstring& message, const std::wstring& details, bool send = false) {
    dialog_ = CreateErrorDialog(nullptr, L"Error", message, details, send);
    EXPECT_NE(dialog_, nullptr);
    ShowWindow(dialog_, SW_SHOWNA);
    return dialog_;
  }
  HWND dialog_ = nullptr;
};

TEST_F(ErrorDialogTest, SizedForTheMessage) {
  // Within a unit: pixels are rounded both ways.
  HWND one = Create(L"One line", L"details");
  SIZE size = DialogUnits(one);
  EXPECT_NEAR(size.cx, 350, 1);
  EXPECT_NEAR(size.cy, 60, 1);  // three lines
  RECT label{};
  GetWindowRect(GetDlgItem(one, kErrorDialogMessage), &label);
  RECT units{0, 0, 0, 24};
  MapDialogRect(one, &units);
  EXPECT_NEAR(label.bottom - label.top, units.bottom, 1);
  DestroyWindow(one);

  HWND fifty = Create(ManyLines(50), L"details");
  size = DialogUnits(fifty);
  EXPECT_NEAR(size.cy, 284, 1);  // thirty lines
  GetWindowRect(GetDlgItem(fifty, kErrorDialogMessage), &label);
  units = {0, 0, 0, 249};
  MapDialogRect(fifty, &units);
  EXPECT_NEAR(label.bottom - label.top, units.bottom, 1);
}

// The labels come from the string table, like every other window's texts.
TEST_F(ErrorDialogTest, LabelsFromTheStringTable) {
  HWND dialog = Create(L"message", L"message\r\ndetails", true);
  const struct {
    int control;
    UINT text;
  } labels[] = {{IDOK, IDS_ERROR_CLOSE},
                {kErrorDialogSend, IDS_ERROR_SEND_REPORT},
                {kErrorDialogDetailsButton, IDS_ERROR_SHOW_DETAILS},
                {kErrorDialogCopy, IDS_ERROR_COPY}};
  for (const auto& label : labels) {
    EXPECT_FALSE(LoadResourceString(label.text).empty()) << label.text;
    EXPECT_EQ(TextOf(GetDlgItem(dialog, label.control)), LoadResourceString(label.text)) << label.control;
  }
  SendMessageW(GetDlgItem(dialog, kErrorDialogDetailsButton), BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(GetDlgItem(dialog, kErrorDialogDetailsButton)), LoadResourceString(IDS_ERROR_HIDE_DETAILS));
}

TEST_F(ErrorDialogTest, DetailsToggleAndCopy) {
  const std::wstring details = L"first line\r\n" + std::wstring(kHeader) + L"[0x00401000]  A()\r\n";
  HWND dialog = Create(L"first line", details);
  HWND button = GetDlgItem(dialog, kErrorDialogDetailsButton);
  HWND edit = GetDlgItem(dialog, kErrorDialogDetails);
  HWND copy = GetDlgItem(dialog, kErrorDialogCopy);
  ASSERT_TRUE(button && edit && copy);
  EXPECT_EQ(TextOf(button), L"Details >>");
  EXPECT_FALSE(IsWindowVisible(edit));
  EXPECT_FALSE(IsWindowVisible(copy));
  EXPECT_EQ(TextOf(GetDlgItem(dialog, kErrorDialogMessage)), L"first line");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, IDOK)), L"Close");
  EXPECT_EQ(GetDlgItem(dialog, kErrorDialogSend), nullptr);

  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(button), L"Details <<");
  EXPECT_TRUE(IsWindowVisible(edit));
  EXPECT_TRUE(IsWindowVisible(copy));
  EXPECT_NEAR(DialogUnits(dialog).cy, 279, 1);

  // The details in Courier New.
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"Courier New");

  const std::wstring before = ClipboardText();
  SendMessageW(copy, BM_CLICK, 0, 0);
  EXPECT_EQ(ClipboardText(), details);
  (void)before;
  DWORD start = 1, end = 1;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, end) << "the selection is cleared after copying";

  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(button), L"Details >>");
  EXPECT_FALSE(IsWindowVisible(edit));
  EXPECT_NEAR(DialogUnits(dialog).cy, 60, 1);

  // It never gets smaller than it started.
  RECT initial{};
  GetWindowRect(dialog, &initial);
  MINMAXINFO info{};
  SendMessageW(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, initial.right - initial.left);
  EXPECT_EQ(info.ptMinTrackSize.y, initial.bottom - initial.top);

  EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);  // no parent
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_EQ(TextOf(dialog), L"Error");
}

TEST_F(ErrorDialogTest, WithoutDetailsOnlyClose) {
  HWND dialog = Create(L"message", L"");
  EXPECT_EQ(GetDlgItem(dialog, kErrorDialogDetailsButton), nullptr);
  EXPECT_EQ(GetDlgItem(dialog, kErrorDialogDetails), nullptr);
  EXPECT_EQ(GetDlgItem(dialog, kErrorDialogCopy), nullptr);
  EXPECT_NE(GetDlgItem(dialog, IDOK), nullptr);
  EXPECT_NE(GetDlgItem(dialog, kErrorDialogIcon), nullptr);
}

TEST_F(ErrorDialogTest, SendButtonWhenOffered) {
  HWND dialog = Create(L"message", L"details", true);
  HWND send = GetDlgItem(dialog, kErrorDialogSend);
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(TextOf(send), L"Send Error Report");
}

TEST_F(ErrorDialogTest, CloseButtonsEndIt) {
  for (int id : {IDOK, IDCANCEL}) {
    HWND dialog = Create(L"m", L"d");
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(dialog)) << id;
    dialog_ = nullptr;
  }
}

// --------------------------------------------------------------------------
// Presenting

class Hooks : public ErrorReportHandler {
 public:
  std::wstring Caption() override { return L"Caption"; }
  std::wstring ExtraText() override { return L"extra"; }
  bool OffersSendButton() override { return false; }
  void Receive(const std::wstring& text, const std::wstring& typeName,
               const std::wstring& sourceFile) override {
    received.push_back(text + L"|" + typeName + L"|" + sourceFile);
  }
  std::vector<std::wstring> received;
};

std::vector<std::wstring> consoleText;
void Console(const wchar_t* text) { consoleText.push_back(text); }

TEST(PresentError, NeverShowsADialogWhenPromptsAreOff) {
  const bool was = uiAllowed;
  uiAllowed = false;
  EXPECT_FALSE(ErrorDialogAllowed());
  Hooks hooks;
  PresenterHooks().reportHandler = &hooks;
  // Returns at once: a dialog would wait for an answer.
  GuardedThread thread = StartGuardedThread(
      [] { PresentError(nullptr, L"m", L"m\r\nd", L"EXCEPTION_GENERIC", L"C:\\a.cpp"); });
  const DWORD waited = WaitForSingleObject(thread.Handle(), 20000);
  if (waited != WAIT_OBJECT_0) {
    ADD_FAILURE() << "PresentError showed a dialog";
    if (HWND shown = FindWindowW(nullptr, L"Error")) PostMessageW(shown, WM_COMMAND, IDOK, 0);
  }
  thread.Join();
  PresenterHooks().reportHandler = nullptr;
  uiAllowed = was;
  ASSERT_EQ(hooks.received.size(), 1u);
  EXPECT_EQ(hooks.received[0], L"m\r\nm\r\nd|EXCEPTION_GENERIC|C:\\a.cpp");
}

TEST(PresentError, ConsoleWritersTakeTheDetails) {
  consoleText.clear();
  PresenterHooks().consoleWriter = &Console;
  PresenterHooks().secondConsoleWriter = &Console;
  PresentError(nullptr, L"m", L"the details", L"EXCEPTION_GENERIC", L"");
  PresenterHooks().consoleWriter = nullptr;
  PresenterHooks().secondConsoleWriter = nullptr;
  const std::vector<std::wstring> expected = {L"the details\r\n", L"the details\r\n"};
  EXPECT_EQ(consoleText, expected);
}

TEST(PresentError, InteractiveDesktopUnderWine) {
  const DesktopFacts facts = CurrentDesktopFacts();
  EXPECT_FALSE(facts.sessionZero);
  EXPECT_FALSE(facts.localSystem);
  EXPECT_TRUE(facts.visibleWindowStation);
}

}  // namespace
