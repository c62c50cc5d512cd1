// detect: a detection program for the installed-check that runs a command.
//
//   detect.exe <exit code> [marker file]
//
// Appends a line to the marker file (when given) so that tests can tell
// whether and how often it ran, then exits with the given code.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  int code = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 0;
  if (argc > 2) {
    HANDLE f = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, "ran\r\n", 5, &written, nullptr);
      CloseHandle(f);
    }
  }
  return code;
}
