#include <gtest/gtest.h>

#include "chainer/InstallerWaitRules.h"

using namespace prereq;

namespace {

TEST(JudgeInstallerWait, EveryAnswerOfTheOpenAndTheWait) {
  const struct {
    bool opened;
    uint32_t openError;
    uint32_t waitResult;
    InstallerWait outcome;
  } cases[] = {
      {false, 2, 0, InstallerWait::NotRunning},        // ERROR_FILE_NOT_FOUND
      {false, 5, 0, InstallerWait::Failed},            // access denied
      {false, 6, 0, InstallerWait::Failed},            // the name is another kind of object
      {false, 3, 0, InstallerWait::Failed},            // path not found
      {false, 0, 0, InstallerWait::Failed},            // no handle, no error: not "not running"
      {true, 0, 0, InstallerWait::Acquired},           // WAIT_OBJECT_0
      {true, 0, 0x80, InstallerWait::Abandoned},       // WAIT_ABANDONED
      {true, 0, 0x102, InstallerWait::Failed},         // WAIT_TIMEOUT
      {true, 0, 0xFFFFFFFFu, InstallerWait::Failed},   // WAIT_FAILED
      {true, 0, 1, InstallerWait::Failed},             // WAIT_OBJECT_0 + 1: not for one handle
      {true, 2, 0, InstallerWait::Acquired},           // an open error is not read once opened
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeInstallerWait(c.opened, c.openError, c.waitResult), c.outcome)
        << c.opened << " " << c.openError << " " << c.waitResult;
  }
  EXPECT_TRUE(OwnsInstallerMutex(InstallerWait::Acquired));
  EXPECT_TRUE(OwnsInstallerMutex(InstallerWait::Abandoned));
  EXPECT_FALSE(OwnsInstallerMutex(InstallerWait::NotRunning));
  EXPECT_FALSE(OwnsInstallerMutex(InstallerWait::Failed));
}

}  // namespace
