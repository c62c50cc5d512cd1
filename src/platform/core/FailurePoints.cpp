#include "platform/core/FailurePoints.h"

#include <atomic>

namespace prereq {

namespace {
std::atomic<FailureHook> failureHook{nullptr};
}  // namespace

void SetFailureHook(FailureHook hook) { failureHook = hook; }

void ReachFailurePoint(FailurePoint point) {
  if (const FailureHook hook = failureHook) hook(point);
}

}  // namespace prereq
