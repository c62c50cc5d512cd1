// The progress window with real dialogs: a test task plays the passes on the
// worker thread and records what the window shows; the checks run on the
// test's thread after the window has closed (GoogleTest assertions are not
// made on the worker).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shobjidl.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "ui/ProgressWindow.h"

using namespace prereq;

namespace {

constexpr uint32_t kCode = 0xE0000024;

struct Bar {
  int pos = -1, max = -1;
  bool visible = false;
  std::wstring status;
  bool errorText = false;  // the status line is written in the error colour
  bool operator==(const Bar&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Bar& bar) {
  char text[512];
  WideCharToMultiByte(CP_UTF8, 0, bar.status.c_str(), -1, text, sizeof text, nullptr, nullptr);
  return out << "{pos " << bar.pos << ", max " << bar.max << ", visible " << bar.visible << ", \""
             << text << "\", error text " << bar.errorText << "}";
}

BOOL CALLBACK FindProgressControl(HWND window, LPARAM param) {
  if (GetDlgItem(window, IDC_PROGRESS_BAR) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

// The window of dialog 216 that the thread owns.
HWND FindProgressWindow(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(thread, FindProgressControl, reinterpret_cast<LPARAM>(&found));
  return found;
}

// A task whose passes are a script run on the worker thread. The script
// reads the window with messages, which the window's thread answers.
class ScriptTask final : public ProgressTask {
 public:
  std::function<bool(ProgressObserver&, ScriptTask&)> script;
  intptr_t finishResult = kProgressSucceeded;
  std::atomic<int> endSessions{0};
  std::atomic<bool> finished{false};
  std::atomic<bool> openAfterFinish{false};
  DWORD windowThread = GetCurrentThreadId();
  HWND window = nullptr;
  HRESULT comOnWorker = E_FAIL;
  std::vector<Bar> seen;
  std::vector<std::string> notes;

  bool RunPasses(ProgressObserver& observer) override {
    // The worker starts when the window is being created.
    window = FindProgressWindow(windowThread);
    // COM is initialised on the worker already: a second call says so.
    comOnWorker = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(comOnWorker)) CoUninitialize();
    const bool done = script(observer, *this);
    finished = true;
    return done;
  }
  intptr_t Finish() override { return finishResult; }
  void EndSession() override { ++endSessions; }

  Bar Read() {
    Bar bar;
    HWND control = GetDlgItem(window, IDC_PROGRESS_BAR);
    bar.pos = static_cast<int>(SendMessageW(control, PBM_GETPOS, 0, 0));
    bar.max = static_cast<int>(SendMessageW(control, PBM_GETRANGE, FALSE, 0));
    bar.visible = IsWindowVisible(control) != FALSE;
    wchar_t text[256] = {};
    GetDlgItemTextW(window, IDC_PROGRESS_STATUS, text, 256);
    bar.status = text;
    // Asks the window for the colours of its status line, as the line does
    // when it paints.
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_PROGRESS_STATUS)));
    bar.errorText = GetTextColor(dc) == RGB(0xC0, 0x00, 0x00);
    DeleteDC(dc);
    return bar;
  }
  void Record() { seen.push_back(Read()); }
  // Waits (at most 5 s) until the bar shows `pos`: download progress is
  // posted, not sent.
  bool WaitForPos(int pos) {
    for (int i = 0; i < 500; ++i) {
      if (Read().pos == pos) return true;
      Sleep(10);
    }
    return false;
  }
};

intptr_t RunWindow(ProgressWindow& window, ScriptTask&) {
  const intptr_t result = window.Run(nullptr);
  window.WaitForWorker();
  return result;
}

DWORD WINAPI CancelWhenFinished(void* param) {
  auto* task = static_cast<ScriptTask*>(param);
  while (!task->finished) Sleep(10);
  Sleep(300);
  HWND window = task->window;
  task->openAfterFinish = IsWindow(window) && IsWindowVisible(window);
  PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

}  // namespace

TEST(ProgressWindow, ShowsThePassesTextsAndStepsThenClosesWithTheResult) {
  ScriptTask task;
  task.finishResult = kProgressMandatoryMissing;
  std::wstring title;
  bool iconSet = false;
  RECT placed{};
  task.script = [&](ProgressObserver& o, ScriptTask& t) {
    wchar_t text[256] = {};
    GetWindowTextW(t.window, text, 256);
    title = text;
    iconSet = SendMessageW(t.window, WM_GETICON, ICON_BIG, 0) != 0 &&
              SendMessageW(t.window, WM_GETICON, ICON_SMALL, 0) != 0;
    GetWindowRect(t.window, &placed);
    t.Record();  // 0: "Preparing..."
    o.SetRange(2, 0);
    t.Record();  // 1: two steps, none begun
    o.StatusText(L"Downloading A", kStatusKindAcquisition);
    t.Record();  // 2
    o.Start(1, 4000, L"C:\\dl\\a.exe");
    o.Progress(0);  // the resume offset
    o.Progress(1000);
    t.notes.push_back(t.WaitForPos(250) ? "quarter" : "no quarter");
    o.Progress(3000);
    t.notes.push_back(t.WaitForPos(1000) ? "whole" : "no whole");
    o.Done(0, 0);  // the transfer's done: nothing closes
    t.notes.push_back(IsWindow(t.window) ? "open" : "closed");
    o.StatusText(L"not shown", 7);
    t.Record();  // 3: unchanged
    o.StatusText(L"Downloading B", kStatusKindAcquisition);
    o.Start(1, 0, L"C:\\dl\\b.exe");  // no length: stays at the step's start
    o.Progress(123456);
    Sleep(100);
    t.Record();  // 4
    o.SetRange(1, 0);
    o.StatusText(L"Installing A", kStatusKindAcquisition);
    t.Record();  // 5: a new pass
    t.notes.push_back(o.IsCancelled() ? "cancelled" : "running");
    return true;
  };
  ProgressWindow window(task, L"Product Setup");
  EXPECT_EQ(RunWindow(window, task), kProgressMandatoryMissing);

  EXPECT_EQ(title, L"Product Setup");
  EXPECT_TRUE(iconSet);
  EXPECT_EQ(task.comOnWorker, S_FALSE);
  const std::vector<Bar> expected = {
      {0, 100, true, L"Preparing..."},  // the control's own range until a pass sets one
      {0, 2000, true, L"Preparing..."},     {0, 2000, true, L"Downloading A"},
      {1000, 2000, true, L"Downloading A"}, {1000, 2000, true, L"Downloading B"},
      {0, 1000, true, L"Installing A"},
  };
  EXPECT_EQ(task.seen, expected);
  EXPECT_EQ(task.notes, (std::vector<std::string>{"quarter", "whole", "open", "running"}));
  // Centred in the work area (no owner).
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((placed.left + placed.right) / 2 - (work.left + work.right) / 2), 1);
  EXPECT_LE(std::abs((placed.top + placed.bottom) / 2 - (work.top + work.bottom) / 2), 1);
}

TEST(ProgressWindow, ErrorReportShowsTheTextFlashesTheBarAndAnswersTheCode) {
  ScriptTask task;
  DWORD hiddenFor = 0;
  uint32_t answers[2] = {};
  task.script = [&](ProgressObserver& o, ScriptTask& t) {
    o.SetRange(2, 0);
    o.StatusText(L"Downloading A", kStatusKindAcquisition);
    answers[0] = o.ErrorReport(L"a.exe", 12029, nullptr);
    const DWORD start = GetTickCount();
    t.Record();  // 0: hidden right after the report
    while (!IsWindowVisible(GetDlgItem(t.window, IDC_PROGRESS_BAR)) &&
           GetTickCount() - start < 5000)
      Sleep(5);
    hiddenFor = GetTickCount() - start;
    t.Record();  // 1: shown again, whole (in the error state)
    o.StatusText(L"Downloading B", kStatusKindAcquisition);
    t.Record();  // 2: work goes on: the bar is back at the step
    answers[1] = o.ErrorReport(L"", kCode, nullptr);
    Sleep(400);
    t.Record();    // 3: an empty text clears the line
    return false;  // a failed pass: the window stays open
  };
  // A failed pass ends the worker, not the window: Cancel closes it.
  HANDLE closer = CreateThread(nullptr, 0, CancelWhenFinished, &task, 0, nullptr);
  ProgressWindow window(task, L"T");
  EXPECT_EQ(RunWindow(window, task), kProgressClosed);
  WaitForSingleObject(closer, INFINITE);
  CloseHandle(closer);

  EXPECT_TRUE(task.openAfterFinish);
  EXPECT_EQ(answers[0], 12029u);
  EXPECT_EQ(answers[1], kCode);
  EXPECT_GE(hiddenFor, 150u);
  EXPECT_LT(hiddenFor, 2000u);
  ASSERT_EQ(task.seen.size(), 4u);
  EXPECT_EQ(task.seen[0], (Bar{2000, 2000, false, L"a.exe", true}));
  EXPECT_EQ(task.seen[1], (Bar{2000, 2000, true, L"a.exe", true}));
  EXPECT_EQ(task.seen[2], (Bar{1000, 2000, true, L"Downloading B", false}));
  EXPECT_EQ(task.seen[3], (Bar{2000, 2000, true, L"", true}));
}

TEST(ProgressWindow, CancelAndEscapeCloseWithTwoAndSetTheFlag) {
  for (const char* how : {"button", "escape", "close"}) {
    ScriptTask task;
    bool cancelledAfter = false;
    bool cancelledBefore = true;
    task.script = [&](ProgressObserver& o, ScriptTask& t) {
      cancelledBefore = o.IsCancelled();
      o.SetRange(1, 0);
      o.StatusText(L"Downloading A", kStatusKindAcquisition);
      const std::string kind = how;
      if (kind == "button") {
        SendMessageW(GetDlgItem(t.window, IDCANCEL), BM_CLICK, 0, 0);
      } else if (kind == "escape") {
        PostMessageW(t.window, WM_KEYDOWN, VK_ESCAPE, 0);
      } else {
        PostMessageW(t.window, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      for (int i = 0; i < 500 && !o.IsCancelled(); ++i) Sleep(10);
      cancelledAfter = o.IsCancelled();
      // The passes go on reporting until they see the flag: a closed window
      // takes that quietly.
      o.StatusText(L"late", kStatusKindAcquisition);
      o.ErrorReport(L"late", kCode, nullptr);
      return !cancelledAfter;
    };
    ProgressWindow window(task, L"T");
    EXPECT_EQ(RunWindow(window, task), kProgressClosed) << how;
    EXPECT_FALSE(cancelledBefore) << how;
    EXPECT_TRUE(cancelledAfter) << how;
  }
}

TEST(ProgressWindow, EndOfSessionReachesTheTaskOnlyWhenTheSessionEnds) {
  ScriptTask task;
  task.script = [&](ProgressObserver&, ScriptTask& t) {
    SendMessageW(t.window, WM_ENDSESSION, FALSE, 0);  // the shutdown was called off
    SendMessageW(t.window, WM_QUERYENDSESSION, 0, 0);
    SendMessageW(t.window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    return true;
  };
  ProgressWindow window(task, L"T");
  EXPECT_EQ(RunWindow(window, task), kProgressSucceeded);
  EXPECT_EQ(task.endSessions, 1);
}

namespace {
// A taskbar list that records what it is told, or answers E_NOTIMPL.
class RecordingTaskbar final : public ITaskbarList3 {
 public:
  explicit RecordingTaskbar(HRESULT answer, HRESULT init = S_OK) : answer_(answer), init_(init) {}
  std::vector<std::string> calls;
  std::atomic<long> refs{1};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // owned by the test
  HRESULT STDMETHODCALLTYPE HrInit() override {
    calls.push_back("init");
    return init_;
  }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    calls.push_back("value " + std::to_string(done) + "/" + std::to_string(total));
    return answer_;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
    calls.push_back("state " + std::to_string(static_cast<int>(state)));
    return answer_;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return answer_; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return answer_;
  }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return answer_;
  }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return answer_; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return answer_; }

 private:
  HRESULT answer_;
  HRESULT init_;
};

// One run through steps, an optional download, an error and the end.
std::function<bool(ProgressObserver&, ScriptTask&)> TaskbarScript() {
  return [](ProgressObserver& o, ScriptTask& t) {
    o.SetRange(2, 0);
    o.StatusText(L"Downloading A", kStatusKindAcquisition);
    o.Start(1, 100, L"x");
    o.Progress(100);
    t.WaitForPos(1000);
    o.StatusText(L"Downloading B", kStatusKindAcquisition);
    o.ErrorReport(L"B", kCode, nullptr);
    o.StatusText(L"Downloading C", kStatusKindAcquisition);
    t.Record();
    return true;
  };
}
}  // namespace

TEST(ProgressWindow, TaskbarFollowsTheBarAndItsAbsenceChangesNothing) {
  RecordingTaskbar recording(S_OK);
  RecordingTaskbar notImplemented(E_NOTIMPL);
  RecordingTaskbar failingInit(S_OK, E_NOTIMPL);
  std::vector<Bar> seen[3];
  int i = 0;
  for (RecordingTaskbar* list : {&recording, &notImplemented, &failingInit}) {
    ScriptTask task;
    task.script = TaskbarScript();
    ProgressWindow window(task, L"T");
    window.UseTaskbarList(list);
    EXPECT_EQ(RunWindow(window, task), kProgressSucceeded);
    seen[i++] = task.seen;
    EXPECT_EQ(list->refs, 0) << "the window releases the list";
  }
  const std::vector<std::string> expected = {
      "init",
      "state 2",
      "value 0/2000",     // SetRange
      "value 0/2000",     // step A
      "value 1000/2000",  // A downloaded
      "value 1000/2000",  // step B
      "state 4",
      "value 2000/2000",  // the error: a whole red button
      "state 2",
      "value 2000/2000",  // step C (beyond the range): work goes on
      "state 0",          // done: no progress
  };
  EXPECT_EQ(recording.calls, expected);
  // E_NOTIMPL everywhere: the same calls are tried, the window is the same.
  EXPECT_EQ(notImplemented.calls, expected);
  EXPECT_EQ(seen[1], seen[0]);
  // A list that cannot be set up is not used at all.
  EXPECT_EQ(failingInit.calls, std::vector<std::string>{"init"});
  EXPECT_EQ(seen[2], seen[0]);
}
