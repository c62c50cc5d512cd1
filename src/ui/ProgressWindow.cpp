#include "ui/ProgressWindow.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "execution/ProcessUtil.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"
#include "resources/resource.h"
#include "ui/WindowLook.h"

namespace prereq {

namespace {

// Messages from the worker to the window.
enum : UINT {
  kMsgSetRange = WM_APP + 1,  // wParam: count
  kMsgStatus,                 // wParam: kind, lParam: const std::wstring*
  kMsgError,                  // lParam: const std::wstring*
  kMsgDone,
  kMsgDownload,  // posted: the running download moved
  kMsgAhead,     // posted: wParam current, lParam total of the downloads ahead
};

constexpr UINT_PTR kFlashTimer = 1;
constexpr UINT kFlashMs = 200;
constexpr DWORD kDownloadRedrawMs = 100;
constexpr COLORREF kErrorColour = RGB(0xD4, 0x1F, 0x1F);
constexpr COLORREF kErrorTextColour = RGB(0xC0, 0x00, 0x00);

int ClampToInt(uint64_t value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

// Registers the progress bar's class. The common controls are loaded only
// for this window, not at every start; by name, so that the version the
// manifest asks for is the one loaded, from the system's folders only.
void RegisterProgressBarClass() {
  static const Library comctl = LoadSystemLibrary(L"comctl32.dll");
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  if (!comctl) return;
  auto init = reinterpret_cast<InitFn>(::GetProcAddress(comctl.get(), "InitCommonControlsEx"));
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof(classes);
  classes.dwICC = ICC_PROGRESS_CLASS;
  init(&classes);
}

// Turns the visual style of a window off (classic drawing) or back on.
// Without the theme library nothing changes.
void UseClassicLook(HWND window, bool classic) {
  static const Library uxtheme = LoadSystemLibrary(L"uxtheme.dll");
  using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static const auto setTheme =
      uxtheme ? reinterpret_cast<SetThemeFn>(::GetProcAddress(uxtheme.get(), "SetWindowTheme"))
              : nullptr;
  if (setTheme == nullptr) return;
  // A blank name matches no style: the control draws itself the classic way.
  if (classic)
    setTheme(window, L" ", L" ");
  else
    setTheme(window, nullptr, nullptr);
}

}  // namespace

ProgressWindow::ProgressWindow(ProgressTask& task, std::wstring title)
    : task_(task), title_(std::move(title)) {}

ProgressWindow::~ProgressWindow() {
  WaitForWorker();
  if (taskbarList_ != nullptr) taskbarList_->Release();
}

void ProgressWindow::UseTaskbarList(ITaskbarList3* list) {
  if (taskbarList_ != nullptr) taskbarList_->Release();
  taskbarList_ = list;
}

intptr_t ProgressWindow::Run(HWND owner) {
  RegisterProgressBarClass();
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), owner,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

void ProgressWindow::WaitForWorker() {
  if (!worker_) return;
  ProcessUtil::WaitWithMessagePump(worker_.Handle());
  worker_.Join();
}

void ProgressWindow::RethrowWorkerFailure() const {
  if (worker_) worker_.RethrowFailure();
}

void ProgressWindow::WorkerMain() {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ScopeGuard uninitialize([com] {
    if (SUCCEEDED(com)) ::CoUninitialize();
  });
  ReachFailurePoint(FailurePoint::ProgressWorker);
  if (task_.RunPasses(*this)) {
    doneResult_ = task_.Finish();
    passesDone_ = true;
    Done(0, 0);
  }
}

bool ProgressWindow::OnInit(HWND dialog) {
  window_ = dialog;
  ::SetWindowTextW(dialog, title_.c_str());
  ::SetDlgItemTextW(dialog, IDC_PROGRESS_STATUS, LoadResourceString(IDS_PREPARING).c_str());
  SetProgramIcon(dialog);
  HWND line = ::GetDlgItem(dialog, IDC_PROGRESS_STATUS);
  ::GetWindowRect(line, &statusLine_);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&statusLine_), 2);
  CentreWindow(dialog);
  taskbar_.Attach(dialog, std::exchange(taskbarList_, nullptr));
  // A worker that fails (its report is in the log) closes the window as
  // Cancel does; the run then takes the failure over.
  worker_ = StartGuardedThread([this] { WorkerMain(); },
                               [dialog] { ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); },
                               FailureEnds::Run);
  return static_cast<bool>(worker_);
}

void ProgressWindow::ShowBar() {
  // An error stays on the bar until the next step begins.
  if (errorShown_) return;
  HWND dialog = window_;
  HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  const uint64_t range = steps_.Range();
  const uint64_t position = steps_.Position();
  if (ClampToInt(range) != barRange_) {
    barRange_ = ClampToInt(range);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, barRange_);
  }
  ::SendMessageW(bar, PBM_SETPOS, ClampToInt(position), 0);
  taskbar_.SetValue(position, range);
}

void ProgressWindow::ShowError() {
  HWND bar = ::GetDlgItem(window_, IDC_PROGRESS_BAR);
  errorShown_ = true;
  // A whole bar in the error state: an empty one would show nothing of it.
  // The error state colours a themed bar; the bar colour a classic one.
  const int whole = ClampToInt(steps_.Range() != 0 ? steps_.Range() : 1);
  barRange_ = whole;
  ::SendMessageW(bar, PBM_SETRANGE32, 0, whole);
  ::SendMessageW(bar, PBM_SETPOS, whole, 0);
  ::SendMessageW(bar, PBM_SETSTATE, PBST_ERROR, 0);
  // A bar without the error state (a platform without it, or a style that
  // ignores it) is drawn classically in the error colour instead.
  classicBar_ = ::SendMessageW(bar, PBM_GETSTATE, 0, 0) != PBST_ERROR;
  if (classicBar_) UseClassicLook(bar, true);
  ::SendMessageW(bar, PBM_SETBARCOLOR, 0, kErrorColour);
  LayOutStatusLine(true);
  ShowAheadLine();
  taskbar_.SetError(static_cast<uint64_t>(whole), static_cast<uint64_t>(whole));
}

void ProgressWindow::ClearError() {
  HWND bar = ::GetDlgItem(window_, IDC_PROGRESS_BAR);
  errorShown_ = false;
  ::SendMessageW(bar, PBM_SETSTATE, PBST_NORMAL, 0);
  ::SendMessageW(bar, PBM_SETBARCOLOR, 0, CLR_DEFAULT);
  if (classicBar_) UseClassicLook(bar, false);
  classicBar_ = false;
  LayOutStatusLine(false);
  ShowAheadLine();
}

void ProgressWindow::ShowAheadLine() {
  // An error's status line may wrap over the room this line takes.
  ::ShowWindow(::GetDlgItem(window_, IDC_PROGRESS_AHEAD),
               aheadTotal_ != 0 && !errorShown_ ? SW_SHOWNA : SW_HIDE);
}

void ProgressWindow::LayOutStatusLine(bool error) {
  HWND line = ::GetDlgItem(window_, IDC_PROGRESS_STATUS);
  LONG style = ::GetWindowLongW(line, GWL_STYLE) & ~SS_ELLIPSISMASK;
  RECT box = statusLine_;
  if (error) {
    // Room from 4 dialog units below the top to 2 above the bar.
    RECT margin{0, 4, 0, 2};
    ::MapDialogRect(window_, &margin);
    RECT bar{};
    ::GetWindowRect(::GetDlgItem(window_, IDC_PROGRESS_BAR), &bar);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&bar), 2);
    const LONG top = margin.top;
    const LONG bottom = std::max(statusLine_.bottom, bar.top - margin.bottom);
    // The height the sentence needs when it wraps at the line's width.
    const int length = ::GetWindowTextLengthW(line);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(line, text.data(), length + 1)));
    RECT need{0, 0, statusLine_.right - statusLine_.left, 0};
    if (HDC dc = ::GetDC(line)) {
      HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(line, WM_GETFONT, 0, 0)));
      ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_WORDBREAK);
      ::SelectObject(dc, old);
      ::ReleaseDC(line, dc);
    }
    // One line stays where the status line is; more grow upwards.
    box.top = std::max(top, std::min(statusLine_.top, statusLine_.bottom - (need.bottom - need.top)));
    box.bottom = box.top == top ? bottom : statusLine_.bottom;
  } else {
    style |= SS_PATHELLIPSIS;
  }
  ::SetWindowLongW(line, GWL_STYLE, style);
  ::MoveWindow(line, box.left, box.top, box.right - box.left, box.bottom - box.top, TRUE);
  ::InvalidateRect(line, nullptr, TRUE);
}

INT_PTR CALLBACK ProgressWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<ProgressWindow*>(lParam);
    if (!self->OnInit(dialog)) ::EndDialog(dialog, kProgressNotShown);
    return TRUE;
  }
  auto* self = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  switch (message) {
    case WM_COMMAND:
      // The Cancel button, Escape and the window's Close command.
      if (LOWORD(wParam) != IDCANCEL) return FALSE;
      self->cancelled_ = true;
      ::EndDialog(dialog, kProgressClosed);
      return TRUE;
    case WM_ENDSESSION:
      // Only when the session really ends; FALSE means the end was called
      // off.
      if (wParam != FALSE) self->task_.EndSession();
      return TRUE;
    case kMsgSetRange:
      self->steps_.SetRange(static_cast<uint32_t>(wParam));
      self->ShowBar();
      return TRUE;
    case kMsgStatus: {
      if (!self->steps_.BeginStep(static_cast<int>(wParam))) return TRUE;
      // The new step has no download yet.
      self->downloadTotal_ = 0;
      self->downloadDone_ = 0;
      ::SetDlgItemTextW(dialog, IDC_PROGRESS_STATUS,
                        reinterpret_cast<const std::wstring*>(lParam)->c_str());
      // Work goes on after an error that did not end the run.
      if (self->errorShown_) self->ClearError();
      self->ShowBar();
      return TRUE;
    }
    case kMsgDownload:
      self->downloadPosted_ = false;
      self->steps_.SetDownload(self->downloadDone_, self->downloadTotal_);
      self->ShowBar();
      return TRUE;
    case kMsgAhead:
      self->aheadTotal_ = static_cast<uint32_t>(lParam);
      if (self->aheadTotal_ != 0)
        ::SetDlgItemTextW(dialog, IDC_PROGRESS_AHEAD,
                          Format(LoadResourceString(IDS_DOWNLOADING_AHEAD),
                                 {static_cast<uint32_t>(wParam), self->aheadTotal_})
                              .c_str());
      self->ShowAheadLine();
      return TRUE;
    case kMsgError:
      ::SetDlgItemTextW(dialog, IDC_PROGRESS_STATUS,
                        reinterpret_cast<const std::wstring*>(lParam)->c_str());
      self->ShowError();
      ::ShowWindow(bar, SW_HIDE);
      ::SetTimer(dialog, kFlashTimer, kFlashMs, nullptr);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      // The status line of an error is written in the error colour.
      HWND line = ::GetDlgItem(dialog, IDC_PROGRESS_STATUS);
      if (!self->errorShown_ || reinterpret_cast<HWND>(lParam) != line) return FALSE;
      const LRESULT brush = ::DefWindowProcW(dialog, message, wParam, lParam);
      ::SetTextColor(reinterpret_cast<HDC>(wParam), kErrorTextColour);
      return static_cast<INT_PTR>(brush);
    }
    case WM_TIMER:
      if (wParam != kFlashTimer) return FALSE;
      ::KillTimer(dialog, kFlashTimer);
      ::ShowWindow(bar, SW_SHOW);
      return TRUE;
    case kMsgDone:
      self->taskbar_.Clear();
      ::EndDialog(dialog, self->doneResult_);
      return TRUE;
    case WM_DESTROY:
      ::KillTimer(dialog, kFlashTimer);
      self->taskbar_.Release();
      self->window_ = nullptr;
      return FALSE;
    default:
      if (message == TaskbarButtonCreatedMessage() && message != 0) {
        self->taskbar_.Reapply();
        return TRUE;
      }
      return FALSE;
  }
}

LRESULT ProgressWindow::Send(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = window_;
  return window != nullptr ? ::SendMessageW(window, message, wParam, lParam) : 0;
}

void ProgressWindow::SetRange(uint32_t count, uint32_t) { Send(kMsgSetRange, count, 0); }

void ProgressWindow::StatusText(const std::wstring& text, int kind) {
  if (!IsShownStatusKind(kind)) return;
  Send(kMsgStatus, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(&text));
}

uint32_t ProgressWindow::ErrorReport(const std::wstring& text, uint32_t code, const void*) {
  Send(kMsgError, 0, reinterpret_cast<LPARAM>(&text));
  return code;
}

void ProgressWindow::Start(int, uint64_t totalLength, const std::wstring&) {
  downloadDone_ = 0;
  downloadTotal_ = totalLength;
  postedUnits_ = 0;
  lastPostTick_ = ::GetTickCount() - kDownloadRedrawMs;
}

void ProgressWindow::Progress(uint64_t bytes) {
  const uint64_t done = downloadDone_.fetch_add(bytes) + bytes;
  // The worker never waits for the window, and the window redraws the bar
  // only when it moved, at most every kDownloadRedrawMs (and at the end), with
  // at most one message waiting: a download's blocks come far faster than
  // anyone can see.
  const uint32_t units = DownloadUnits(done, downloadTotal_);
  if (units == postedUnits_) return;
  const DWORD now = ::GetTickCount();
  if (units != kUnitsPerStep && now - lastPostTick_ < kDownloadRedrawMs) return;
  // The window clears the flag before it reads the counters, so a message
  // still waiting shows this block too.
  if (downloadPosted_.exchange(true)) return;
  postedUnits_ = units;
  lastPostTick_ = now;
  HWND window = window_;
  if (window == nullptr || !::PostMessageW(window, kMsgDownload, 0, 0)) downloadPosted_ = false;
}

void ProgressWindow::Done(uint32_t, uint32_t) {
  if (!passesDone_) return;
  Send(kMsgDone, 0, 0);
}

bool ProgressWindow::IsCancelled() { return cancelled_; }

void ProgressWindow::DownloadsAhead(uint32_t current, uint32_t total) {
  // Posted, never sent: download threads do not wait for the window. Each
  // message carries its numbers, so the last one the window takes wins.
  HWND window = window_;
  if (window != nullptr) ::PostMessageW(window, kMsgAhead, current, static_cast<LPARAM>(total));
}

}  // namespace prereq
