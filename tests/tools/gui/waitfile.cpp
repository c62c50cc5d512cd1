// waitfile: waits for a file, as a slow detection program or a slow package.
// A GUI program without windows, so that nothing shows while it waits.
//
//   waitfile.exe <file> <timeout-ms>
//
// Exits with 0 as soon as the file exists (checked at once and then every
// 20 ms), with 1 when it does not exist after timeout-ms (0: checked once),
// with 2 on bad arguments. The file may be given in double quotes.
#include <windows.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const wchar_t* p = commandLine;
  while (*p == L' ') ++p;
  std::wstring file;
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) file += *p;
    if (*p) ++p;
  } else {
    for (; *p && *p != L' '; ++p) file += *p;
  }
  while (*p == L' ') ++p;
  if (file.empty() || *p == 0) return 2;
  const DWORD timeout = std::wcstoul(p, nullptr, 10);
  const DWORD start = GetTickCount();
  for (;;) {
    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
    if (GetTickCount() - start >= timeout) return 1;
    Sleep(20);
  }
}
