#pragma once
// Starting programs through the shell and waiting for them; the process tree
// of a started program and its windows.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace prereq::ProcessUtil {

// Starts `path` through the shell (verb "open", no error UI) with the command
// line, in the working folder (or the path's own folder when empty), hidden
// when `quiet`. Waits without time limit for the process and stores its exit
// code in `returnCode`. False when the shell cannot start it (`returnCode` is
// then the system error; ERROR_FILENAME_EXCED_RANGE, without a call, for a
// path or folder longer than the shell takes or a command line longer than
// Windows accepts); true also when no process came back (`returnCode` is then
// left alone). Outside quiet mode the program's window is brought to the top.
// `started`, when given, runs once the shell has started the file, before
// the wait.
bool ShellExecuteAndWait(const std::wstring& path, const std::wstring& commandLine,
                         const std::wstring& workingFolder, bool quiet, DWORD& returnCode,
                         const std::function<void()>& started = {});

// CreateProcessW with the application name and command line (none when
// empty), no inherited handles, the creation flags, this process's
// environment and folder. Waits without time limit and stores the exit code
// in `returnCode`; false (with `returnCode` the system error) when the
// process could not be created. An application name or command line longer
// than Windows accepts fails with ERROR_FILENAME_EXCED_RANGE without a call.
// `started`, when given, runs once the process was created, before the wait.
bool CreateProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                          DWORD creationFlags, DWORD& returnCode,
                          const std::function<void()>& started = {});

// Waits half a second, then brings the first captioned visible window (else
// the last window seen) of the process or of one of its descendants to the
// top, trying each process of the tree five times 50 ms apart.
void BringProcessWindowToTop(HANDLE process);

// The ids of the processes that descend from `rootId`, the root included, in
// the order of a process snapshot; empty when no snapshot can be taken.
std::vector<DWORD> GetProcessTree(DWORD rootId);

// The id of the process that started `processId`; 0 when it cannot be read.
DWORD GetParentProcessId(DWORD processId);

// Waits for the handle while dispatching this thread's messages. True when
// the handle was signalled, false when the wait failed.
bool WaitWithMessagePump(HANDLE handle);

}  // namespace prereq::ProcessUtil
