#include "ui/StatusWindow.h"

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
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == kSkipButton && self != nullptr) {
        ::InterlockedExchange(&self->skipRequested_, 1);
        ::EnableWindow(::GetDlgItem(dialog, kSkipButton), FALSE);
      }
      return TRUE;
    case WM_STATUS_CLOSE:
      ::DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      if (self != nullptr) self->window_ = nullptr;
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

void StatusWindow::Close() {
  if (window_ == nullptr) return;
  if (::GetCurrentThreadId() == ownerThread_) {
    ::DestroyWindow(window_);
    window_ = nullptr;
    return;
  }
  HWND window = window_;
  ::PostMessageW(window, WM_STATUS_CLOSE, 0, 0);
  while (::IsWindow(window)) ::Sleep(10);
  window_ = nullptr;
}

}  // namespace prereq
