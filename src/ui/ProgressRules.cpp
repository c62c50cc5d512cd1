#include "ui/ProgressRules.h"

#include <algorithm>

#include "ui/ProgressObserver.h"

namespace prereq {

bool IsShownStatusKind(int kind) {
  return kind == kStatusKindAcquisition || kind == kStatusKindInstall;
}

uint32_t DownloadUnits(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return kUnitsPerStep;
  uint64_t units;
  if (done <= UINT64_MAX / kUnitsPerStep) {
    units = done * kUnitsPerStep / total;
  } else {
    // Beyond 16 EiB the product does not fit: in floating point.
    units = static_cast<uint64_t>(static_cast<double>(done) / static_cast<double>(total) *
                                  kUnitsPerStep);
  }
  // An unfinished download never shows a whole step.
  return static_cast<uint32_t>(std::min<uint64_t>(units, kUnitsPerStep - 1));
}

void ProgressSteps::SetRange(uint32_t count) {
  count_ = count;
  step_ = 0;
  stepUnits_ = 0;
}

bool ProgressSteps::BeginStep(int kind) {
  if (!IsShownStatusKind(kind)) return false;
  if (step_ != UINT32_MAX) ++step_;
  stepUnits_ = 0;
  return true;
}

void ProgressSteps::SetDownload(uint64_t done, uint64_t total) {
  if (step_ == 0) return;  // no step is running
  stepUnits_ = DownloadUnits(done, total);
}

uint64_t ProgressSteps::Position() const {
  if (step_ == 0) return 0;
  const uint64_t position = static_cast<uint64_t>(step_ - 1) * kUnitsPerStep + stepUnits_;
  return std::min(position, Range());
}

bool RunBasicUiPasses(const BasicUiPasses& passes) {
  if (passes.downloadPass() != 0 || passes.cancelled()) return false;
  passes.openSitePass();
  if (passes.cancelled()) return false;
  return passes.installLoop() == 0 && !passes.cancelled();
}

intptr_t DoneResult(bool rebootRequired, const std::function<bool()>& mandatoryPresent) {
  if (rebootRequired) return kProgressClosed;
  return mandatoryPresent() ? kProgressSucceeded : kProgressMandatoryMissing;
}

int32_t BasicUiResult(intptr_t windowResult, bool rebootRequired, bool rebootInProgress,
                      const std::function<bool()>& mandatoryPresent) {
  if (windowResult == kProgressMandatoryMissing) return 1;
  if (windowResult == kProgressSucceeded) return 0;
  if (rebootRequired || rebootInProgress) return 0;
  return mandatoryPresent() ? 0 : 1;
}

namespace {
// The start of a span of `size` centred on [from, to), moved inside
// [areaFrom, areaTo) as far as it fits.
int32_t Place(int64_t from, int64_t to, int32_t size, int32_t areaFrom, int32_t areaTo) {
  int64_t start = from + ((to - from) - size) / 2;
  if (start + size > areaTo) start = static_cast<int64_t>(areaTo) - size;
  if (start < areaFrom) start = areaFrom;
  return static_cast<int32_t>(start);
}
}  // namespace

ScreenBox CentredBox(const ScreenBox& window, const ScreenBox* owner, const ScreenBox& workArea) {
  const ScreenBox& around = owner != nullptr ? *owner : workArea;
  const int32_t width = window.Width();
  const int32_t height = window.Height();
  ScreenBox box;
  box.left = Place(around.left, around.right, width, workArea.left, workArea.right);
  box.top = Place(around.top, around.bottom, height, workArea.top, workArea.bottom);
  box.right = box.left + width;
  box.bottom = box.top + height;
  return box;
}

}  // namespace prereq
