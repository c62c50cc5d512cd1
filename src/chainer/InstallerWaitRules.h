#pragma once
// The decision after the wait for the Windows Installer's global mutex
// "Global\_MSIExecute", from what the open and the wait answered.
#include <cstdint>

namespace prereq {

enum class InstallerWait {
  NotRunning,  // the mutex does not exist: no installation is running
  Acquired,    // the running installation ended; the mutex was taken
  Abandoned,   // its owner ended without releasing it; the mutex was taken
  Failed,      // it could not be opened or waited for
};

// `opened`: OpenMutexW gave a handle; `openError`: its GetLastError otherwise.
// `waitResult`: what WaitForSingleObject answered (only read when opened).
// Only ERROR_FILE_NOT_FOUND means that nothing runs; WAIT_OBJECT_0 and
// WAIT_ABANDONED both leave the caller owning the mutex; every other answer
// (access denied, a name held by another kind of object, a failed or timed
// out wait) is a failure.
InstallerWait JudgeInstallerWait(bool opened, uint32_t openError, uint32_t waitResult);

// Whether the caller now owns the mutex and must release it at once.
inline bool OwnsInstallerMutex(InstallerWait wait) {
  return wait == InstallerWait::Acquired || wait == InstallerWait::Abandoned;
}

}  // namespace prereq
