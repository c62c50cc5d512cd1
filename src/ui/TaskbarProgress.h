#pragma once
// The progress shown on a window's taskbar button (Windows 7 and later),
// through the system's taskbar list. Without it, or when it answers with an
// error (Wine may answer E_NOTIMPL), every operation does nothing.
#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

namespace prereq {

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  ~TaskbarProgress() { Release(); }
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // Binds to the window's button. `list` is the taskbar list to use (its
  // reference is taken over); null creates the system's when Windows is 6.1
  // or later. Call on the window's thread, with COM initialised.
  void Attach(HWND window, ITaskbarList3* list = nullptr);
  // Gives up the taskbar list (before the window goes away).
  void Release();

  // The bar's position and range; leaves the error state for the normal one.
  void SetValue(uint64_t done, uint64_t total);
  // The error state, with this position and range.
  void SetError(uint64_t done, uint64_t total);
  // No progress on the button.
  void Clear();
  // Shows the last state again: after the taskbar (re)created the button
  // (the registered message "TaskbarButtonCreated").
  void Reapply();

  bool Active() const { return list_ != nullptr; }

 private:
  // Sends the state only when it changed, unless forced.
  void Apply(bool force);

  ITaskbarList3* list_ = nullptr;
  HWND window_ = nullptr;
  TBPFLAG state_ = TBPF_NOPROGRESS;
  TBPFLAG shownState_ = TBPF_NOPROGRESS;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
};

// The message the taskbar sends when it has made a window's button.
UINT TaskbarButtonCreatedMessage();

}  // namespace prereq
