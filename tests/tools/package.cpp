// package: a stand-in installation package for the install loop.
//
//   package.exe <exit code> <marker file> [more arguments...]
//
// Appends one line to the marker file: "show=<n> cmd=<command line>", where n
// is the show state it was started with (0 hidden, 1 normal), then exits with
// the code (decimal, or hexadecimal with 0x).
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  const DWORD code = argc > 1 ? std::wcstoul(argv[1], nullptr, 0) : 0;
  if (argc > 2) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 1;
    std::wstring line = L"show=" + std::to_wstring(show) + L" cmd=" + GetCommandLineW() + L"\r\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    HANDLE file = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  return static_cast<int>(code);
}
