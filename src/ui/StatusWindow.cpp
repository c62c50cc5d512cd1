#include "ui/StatusWindow.h"

#include "platform/core/Handles.h"
#include "ui/WindowLook.h"

namespace prereq {

bool uiAllowed = true;

namespace {
constexpr int kSkipButton = 2;

RECT ChildRect(HWND dialog, int id) {
  RECT r{};
  HWND child = ::GetDlgItem(dialog, id);
  if (child != nullptr) {
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  }
  return r;
}
}  // namespace

StatusWindow::~StatusWindow() { Close(); }

INT_PTR CALLBACK StatusWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<StatusWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      SetProgramIcon(dialog);
      CentreWindow(dialog);
      return TRUE;
    case WM_COMMAND: {
      // The Skip button, and what Escape and the Close command turn into
      // (the same identifier): a skip only while the button can be pressed.
      HWND skip = ::GetDlgItem(dialog, kSkipButton);
      if (LOWORD(wParam) == kSkipButton && self != nullptr && ::IsWindowVisible(skip) &&
          ::IsWindowEnabled(skip)) {
        ::InterlockedExchange(&self->skipRequested_, 1);
        ::EnableWindow(skip, FALSE);
      }
      return TRUE;
    }
    case WM_STATUS_CLOSE:
      ::DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      if (self != nullptr) {
        HWND expected = dialog;
        self->window_.compare_exchange_strong(expected, nullptr);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void StatusWindow::Layout(bool showSkip) {
  HWND skip = ::GetDlgItem(window_, kSkipButton);
  HWND text = ::GetDlgItem(window_, IDC_STATUS_TEXT);
  ::ShowWindow(skip, showSkip ? SW_SHOW : SW_HIDE);
  RECT r = textRect_;
  if (!showSkip) r.right = ChildRect(window_, kSkipButton).right;
  ::MoveWindow(text, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void StatusWindow::Show(const std::wstring& title, const std::wstring& message, bool showSkip) {
  if (!uiAllowed) return;
  if (window_ == nullptr) {
    window_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_STATUS),
                                   ::GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) return;
    ownerThread_ = ::GetCurrentThreadId();
    textRect_ = ChildRect(window_, IDC_STATUS_TEXT);
  }
  ::InterlockedExchange(&skipRequested_, 0);
  ::EnableWindow(::GetDlgItem(window_, kSkipButton), TRUE);
  Layout(showSkip);
  title_ = title;
  ::SetWindowTextW(window_, title.c_str());
  ::SetDlgItemTextW(window_, IDC_STATUS_TEXT, message.c_str());
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
}

void StatusWindow::Close(DWORD waitMs) {
  HWND window = window_.exchange(nullptr);
  if (window == nullptr) return;
  if (::GetCurrentThreadId() == ownerThread_) {
    ::DestroyWindow(window);
    return;
  }
  if (!::PostMessageW(window, WM_STATUS_CLOSE, 0, 0)) return;  // already gone
  // The owner destroys the window when it next dispatches messages, and a
  // thread that ends takes its windows with it. A thread that pumps no more
  // is waited for only so long; the posted request stays queued for it.
  KernelHandle owner(::OpenThread(SYNCHRONIZE, FALSE, ownerThread_));
  const DWORD start = ::GetTickCount();
  while (::IsWindow(window)) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= waitMs) break;
    const DWORD slice = waitMs - elapsed < 10 ? waitMs - elapsed : 10;
    if (!owner || ::WaitForSingleObject(owner.get(), slice) != WAIT_TIMEOUT) {
      owner.reset();
      ::Sleep(slice);
    }
  }
}

}  // namespace prereq
