// nest: a chain of processes for process-tree tests.
//
//   nest.exe <depth> <event name>
//
// With a depth above 0 it starts itself with depth - 1 and waits for that
// child; at depth 0 it waits (at most 30 s) until the named event is set.
// Exits with the depth.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 100;
  const long depth = std::wcstol(argv[1], nullptr, 10);
  if (depth <= 0) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (event == nullptr) return 101;
    WaitForSingleObject(event, 30000);
    CloseHandle(event);
    return 0;
  }
  wchar_t self[MAX_PATH];
  if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return 102;
  std::wstring line = L"\"" + std::wstring(self) + L"\" " + std::to_wstring(depth - 1) + L" " + argv[2];
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 103;
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hProcess);
  return static_cast<int>(depth);
}
