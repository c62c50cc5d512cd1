#pragma once
// Decisions of the progress window and of the basic-UI run behind it, apart
// from any window: which status texts the window shows, where its bar stands,
// which passes the worker runs, where a window goes on the screen, and what
// the window's result makes of the run.
#include <cstdint>
#include <functional>

namespace prereq {

// Results of the progress window.
inline constexpr intptr_t kProgressSucceeded = 1;  // all mandatory prerequisites present
inline constexpr intptr_t kProgressClosed = 2;     // cancelled, or a reboot is pending
inline constexpr intptr_t kProgressMandatoryMissing = 7;
inline constexpr intptr_t kProgressNotShown = -1;  // the window could not be shown

// The bar counts this many units per step, so that a download can move it
// within its step.
inline constexpr uint32_t kUnitsPerStep = 1000;

// True for the kinds of status text that the progress window shows: the
// passes' texts (kind 8) and the window's own kind (9).
bool IsShownStatusKind(int kind);

// Where the progress bar stands during one pass. A pass of n items has n
// steps; a step begins with each status text the window shows. The bar
// shows the steps completed before the running one plus the part of the
// running step's download that has arrived, so it reaches its end when the
// pass's last download is complete.
class ProgressSteps {
 public:
  // A new pass of `count` steps: no step begun, the bar at 0.
  void SetRange(uint32_t count);
  // A status text of `kind`: true when it is shown; then the next step
  // begins (its download part is 0).
  bool BeginStep(int kind);
  // The running step's download: `done` of `total` bytes (total 0 when not
  // known: the step stays at its start).
  void SetDownload(uint64_t done, uint64_t total);

  uint32_t Count() const { return count_; }
  uint32_t Step() const { return step_; }  // steps begun in this pass
  uint64_t Range() const { return static_cast<uint64_t>(count_) * kUnitsPerStep; }
  // Never above Range().
  uint64_t Position() const;

 private:
  uint32_t count_ = 0;
  uint32_t step_ = 0;
  uint32_t stepUnits_ = 0;  // of the running step, below kUnitsPerStep + 1
};

// The units of one step that `done` of `total` bytes fill (0..kUnitsPerStep).
uint32_t DownloadUnits(uint64_t done, uint64_t total);

// The work of the progress window's worker thread.
struct BasicUiPasses {
  std::function<uint32_t()> downloadPass;  // 0, or 1603 when it failed
  std::function<void()> openSitePass;
  std::function<uint32_t()> installLoop;  // 0, 1602 or 1603
  std::function<bool()> cancelled;
};
// Runs the download pass; only when it gave 0 and the user did not cancel,
// the open-site pass and then, still without a cancel, the install loop. A
// failed pass or a cancel stops the run. True when the install loop gave 0
// and the user did not cancel: the run is done.
bool RunBasicUiPasses(const BasicUiPasses& passes);

// The window's result when the passes are done: 2 when a package's reboot
// rule fired, otherwise 1 when every mandatory prerequisite is present after
// the re-evaluation and 7 when one is missing. `mandatoryPresent`
// re-evaluates and checks; it is called only when no reboot is required.
intptr_t DoneResult(bool rebootRequired, const std::function<bool()>& mandatoryPresent);

// The chaining run's result of a basic-UI run (before the reboot rule of the
// summary): 1 when the window closed with 7, 0 when it closed with 1. Any
// other ending (cancelled, closed after a failed pass, not shown) is checked
// as a quiet run is: unless a package's reboot rule fired or the session is
// ending, `mandatoryPresent` re-evaluates and checks, and a missing mandatory
// prerequisite gives 1.
int32_t BasicUiResult(intptr_t windowResult, bool rebootRequired, bool rebootInProgress,
                      const std::function<bool()>& mandatoryPresent);

// A rectangle on the screen (right and bottom exclusive).
struct ScreenBox {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const ScreenBox&) const = default;
};
// Where a window of this size goes: centred on the owner when there is one,
// otherwise centred in the work area, and in both cases moved inside the
// work area as far as it fits (the top-left corner stays visible when the
// window is larger than the work area).
ScreenBox CentredBox(const ScreenBox& window, const ScreenBox* owner, const ScreenBox& workArea);

}  // namespace prereq
