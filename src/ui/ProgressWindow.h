#pragma once
// The progress window of a basic-UI run (dialog 216): a modal window whose
// worker thread runs the passes and reports to the window as their
// ProgressObserver. The window's thread only pumps messages; the worker
// touches the window only through the observer operations, which set fields
// and send (or, for download progress, post) messages to it.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/core/ExceptionHandling.h"
#include "platform/core/Handles.h"
#include "ui/ProgressObserver.h"
#include "ui/ProgressRules.h"
#include "ui/TaskbarProgress.h"

namespace prereq {

// The work behind the progress window.
class ProgressTask {
 public:
  virtual ~ProgressTask() = default;
  // On the worker thread, COM initialised: runs the passes with the window
  // as their observer. True when they are done (RunBasicUiPasses).
  virtual bool RunPasses(ProgressObserver& observer) = 0;
  // On the worker thread, after RunPasses gave true: the window's result
  // (DoneResult: 1, 2 or 7).
  virtual intptr_t Finish() = 0;
  // On the window's thread: Windows is ending the session (log-off or
  // shutdown).
  virtual void EndSession() = 0;
};

class ProgressWindow final : public ProgressObserver {
 public:
  ProgressWindow(ProgressTask& task, std::wstring title);
  // Waits for the worker when it still runs: the observer outlives it.
  ~ProgressWindow() override;
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Shows the window modally (the owner may be null) on the calling thread,
  // which needs COM for the taskbar, and starts the worker. Returns the
  // window's result: 1, 2 or 7; kProgressNotShown when the window could not
  // be shown or the worker could not be started. Call once.
  intptr_t Run(HWND owner);
  // Waits without time-out for the worker thread (dispatching this thread's
  // messages meanwhile) and closes its handle.
  void WaitForWorker();
  // After WaitForWorker: throws what ended the worker (a fault or an
  // exception in the passes, already logged); nothing when it ran to its end.
  void RethrowWorkerFailure() const;

  // Uses this taskbar list instead of the system's (tests); before Run. The
  // reference is taken over.
  void UseTaskbarList(ITaskbarList3* list);

  // ProgressObserver. Called on the worker thread.
  void SetRange(uint32_t count, uint32_t reserved) override;
  void Start(int kind, uint64_t totalLength, const std::wstring& path) override;
  // Only the worker's last call, when the passes are done, closes the
  // window; the transfer engine's calls after each file change nothing.
  void Done(uint32_t reserved1, uint32_t reserved2) override;
  void Progress(uint64_t bytes) override;
  bool IsCancelled() override;
  // Shows the text on the status line (an empty text clears it), puts the
  // bar into the error state and flashes it; answers the code unchanged.
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void* extra) override;
  // Texts of the kinds the window shows go to the status line and begin the
  // next step of the bar.
  void StatusText(const std::wstring& text, int kind) override;
  // Posts the second line's numbers to the window (any thread).
  void DownloadsAhead(uint32_t current, uint32_t total) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  // The worker thread's body.
  void WorkerMain();
  bool OnInit(HWND dialog);
  void ShowBar();
  void ShowError();
  void ClearError();
  // The second line: "Downloading 2 of 4..." while downloads run ahead of
  // the install loop, hidden otherwise and while an error shows.
  void ShowAheadLine();
  // The status line of an error wraps over the room above the bar, ending
  // where the one-line status ends; otherwise it is the template's one line
  // with a path ellipsis.
  void LayOutStatusLine(bool error);
  // Sends a message to the window when it still exists.
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam);

  ProgressTask& task_;
  std::wstring title_;
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> cancelled_{false};
  // Set by the worker just before its last Done.
  std::atomic<bool> passesDone_{false};
  std::atomic<intptr_t> doneResult_{kProgressClosed};
  // A failure on it closes the window as Cancel does.
  GuardedThread worker_;
  ITaskbarList3* taskbarList_ = nullptr;  // for Run, when replaced

  // The running download, written by the worker (and cleared by the window
  // when a step begins), read by the window.
  std::atomic<uint64_t> downloadTotal_{0};
  std::atomic<uint64_t> downloadDone_{0};
  std::atomic<bool> downloadPosted_{false};  // a message about it waits
  uint32_t postedUnits_ = 0;                 // worker only
  DWORD lastPostTick_ = 0;                   // worker only

  // Window thread only.
  ProgressSteps steps_;
  TaskbarProgress taskbar_;
  int barRange_ = -1;  // the range the bar was last given
  bool errorShown_ = false;
  bool classicBar_ = false;  // drawn classically while the error shows
  uint32_t aheadTotal_ = 0;  // of the second line; 0 while it is hidden
  RECT statusLine_{};        // the template's status line, in client coordinates
};

}  // namespace prereq
