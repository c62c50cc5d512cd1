#pragma once
// The small modeless status window (dialog 201) shown while the program
// prepares and while prerequisites are searched.
#include <windows.h>

#include <atomic>
#include <string>

#include "resources/resource.h"

namespace prereq {

// False in quiet mode: no window and no message box may appear.
extern bool uiAllowed;

// Posted to the status window from another thread: it destroys itself.
inline constexpr UINT WM_STATUS_CLOSE = 0x0401;

class StatusWindow {
 public:
  StatusWindow() = default;
  ~StatusWindow();
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;

  // Creates the window on the first request (on the calling thread), then
  // sets its title, message and whether Skip is shown. Nothing happens while
  // uiAllowed is false.
  void Show(const std::wstring& title, const std::wstring& message, bool showSkip);
  // Destroys the window. From another thread: asks the window's thread to
  // destroy it and waits until it is gone, at most `waitMs` when that thread
  // dispatches no messages.
  void Close(DWORD waitMs = kCloseWaitMs);

  static constexpr DWORD kCloseWaitMs = 3000;

  bool SkipRequested() const { return skipRequested_ != 0; }
  HWND Window() const { return window_; }
  const std::wstring& Title() const { return title_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  void Layout(bool showSkip);

  std::atomic<HWND> window_{nullptr};
  DWORD ownerThread_ = 0;
  RECT textRect_{};  // static 1001 as created, in client coordinates
  volatile LONG skipRequested_ = 0;
  std::wstring title_;
};

}  // namespace prereq
