// exitcode: a detection program that answers with the exit code it is given.
//
//   exitcode.exe <exit code> [marker file]
//
// Appends "ran" and a line end to the marker file (when given), so that a test
// can tell whether and how often it was started, then exits with the code.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const int code = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 0;
  if (argc > 2) {
    HANDLE file = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, "ran\r\n", 5, &written, nullptr);
      CloseHandle(file);
    }
  }
  return code;
}
