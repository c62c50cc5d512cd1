#include "chainer/InstallerWaitRules.h"

namespace prereq {

namespace {
// The platform's values, spelled out so that these rules build without it.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned = 0x80;
}  // namespace

InstallerWait JudgeInstallerWait(bool opened, uint32_t openError, uint32_t waitResult) {
  if (!opened) return openError == kErrorFileNotFound ? InstallerWait::NotRunning : InstallerWait::Failed;
  if (waitResult == kWaitObject0) return InstallerWait::Acquired;
  if (waitResult == kWaitAbandoned) return InstallerWait::Abandoned;
  return InstallerWait::Failed;
}

}  // namespace prereq
