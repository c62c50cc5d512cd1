// holdmutex: plays a running Windows Installer transaction.
//
//   holdmutex.exe <ready-file> <release-file> [timeout-ms] [--abandon|--deny|--event]
//
// Creates the installer's named mutex "Global\_MSIExecute" owned by this
// thread, creates <ready-file>, then polls every 50 ms until <release-file>
// exists or timeout-ms (default 60000) has passed. It then releases the mutex
// and exits 0 (2 on time-out). With --abandon it exits without releasing, so
// that waiters see an abandoned mutex. With --deny the mutex's access list
// grants nobody anything, so that opening it is refused; with --event the name
// belongs to an event instead, so that it cannot be opened as a mutex.
// Exit codes: 0 ok, 1 usage, 2 time-out, 3 mutex already existed or could
// not be created, 4 ready file could not be written.
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

void Say(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                      nullptr, nullptr);
  bytes += "\n";
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool abandon = false, deny = false, event = false;
  const wchar_t* positional[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--abandon") == 0) {
      abandon = true;
    } else if (std::wcscmp(argv[i], L"--deny") == 0) {
      deny = true;
    } else if (std::wcscmp(argv[i], L"--event") == 0) {
      event = true;
    } else if (count < 3) {
      positional[count++] = argv[i];
    } else {
      count = 4;
    }
  }
  if (count < 2 || count > 3) {
    Say(L"usage: holdmutex <ready-file> <release-file> [timeout-ms] [--abandon|--deny|--event]");
    return 1;
  }
  DWORD timeoutMs = 60000;
  if (count == 3) timeoutMs = static_cast<DWORD>(std::wcstoul(positional[2], nullptr, 10));

  // An empty access list: nobody may open it.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ACL emptyAcl;
  InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, &emptyAcl, FALSE);
  SECURITY_ATTRIBUTES denied{sizeof(denied), &sd, FALSE};
  HANDLE mutex = event ? CreateEventW(nullptr, TRUE, FALSE, L"Global\\_MSIExecute")
                       : CreateMutexW(deny ? &denied : nullptr, TRUE, L"Global\\_MSIExecute");
  if (mutex == nullptr) {
    Say(L"holdmutex: CreateMutexW failed, error " + std::to_wstring(GetLastError()));
    return 3;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Not ours: the initial-owner request is ignored for an existing mutex.
    Say(L"holdmutex: Global\\_MSIExecute exists already");
    CloseHandle(mutex);
    return 3;
  }

  HANDLE ready = CreateFileW(positional[0], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) {
    Say(L"holdmutex: cannot write the ready file, error " + std::to_wstring(GetLastError()));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 4;
  }
  DWORD written = 0;
  WriteFile(ready, "ready\r\n", 7, &written, nullptr);
  CloseHandle(ready);

  const ULONGLONG start = GetTickCount64();
  bool released = false;
  while (!(released = Exists(positional[1]))) {
    if (GetTickCount64() - start >= timeoutMs) break;
    Sleep(50);
  }

  if (event) {
    CloseHandle(mutex);
    return released ? 0 : 2;
  }
  if (abandon) {
    // Ending the process while owning the mutex abandons it.
    ExitProcess(released ? 0 : 2);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return released ? 0 : 2;
}
