// waitmutex: plays a second setup or an msiexec that needs the Windows
// Installer's mutex while another program may hold it.
//
//   waitmutex.exe <result-file> [timeout-ms] [--create]
//
// Opens "Global\_MSIExecute" (SYNCHRONIZE) and waits for it up to timeout-ms
// (default 60000). With --create it creates the mutex when it does not exist
// (not owned), as an installation that starts does. Writes one line to <result-file>: "open=<error>" when the
// mutex cannot be opened, otherwise "wait=<result>" with the wait's answer in
// decimal (0 taken, 128 abandoned, 258 timed out). A mutex it got is released
// at once.
// Exit codes: 0 taken, 1 taken abandoned, 2 timed out, 3 not opened, 4 wait
// failed, 5 usage.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void WriteResult(const wchar_t* path, const std::string& line) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool create = false;
  if (argc > 1 && std::wcscmp(argv[argc - 1], L"--create") == 0) {
    create = true;
    --argc;
  }
  if (argc < 2 || argc > 3) return 5;
  const DWORD timeoutMs = argc == 3 ? std::wcstoul(argv[2], nullptr, 10) : 60000;
  HANDLE mutex = create ? CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute")
                        : OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute");
  if (mutex == nullptr) {
    WriteResult(argv[1], "open=" + std::to_string(GetLastError()));
    return 3;
  }
  const DWORD result = WaitForSingleObject(mutex, timeoutMs);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
  CloseHandle(mutex);
  WriteResult(argv[1], "wait=" + std::to_string(result));
  switch (result) {
    case WAIT_OBJECT_0: return 0;
    case WAIT_ABANDONED: return 1;
    case WAIT_TIMEOUT: return 2;
    default: return 4;
  }
}
