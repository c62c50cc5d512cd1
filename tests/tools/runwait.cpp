// runwait: starts a program, waits for it and reports its full exit code.
//
//   runwait.exe <program> [arguments...]
//
// Wine hands only the low 8 bits of a Windows exit code to Linux (-1 becomes
// 255). runwait prints the complete 32-bit code as a signed decimal number on
// stdout ("exit=<code>") and exits with the same code. The rest of runwait's
// own command line is passed on unchanged; the program's working folder is
// runwait's. Exit code 0x7F000001 with "error=<n>" means the start failed.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Print(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written,
            nullptr);
}

// The command line after runwait's own name (first argument), as typed.
std::wstring Rest(const wchar_t* line) {
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

}  // namespace

int wmain() {
  std::wstring command = Rest(GetCommandLineW());
  if (command.empty()) {
    Print("usage: runwait <program> [arguments...]\n");
    return 0x7F000000;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    char text[64];
    std::snprintf(text, sizeof text, "error=%lu\n", GetLastError());
    Print(text);
    return 0x7F000001;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  char text[64];
  std::snprintf(text, sizeof text, "exit=%ld\n", static_cast<long>(static_cast<LONG>(code)));
  Print(text);
  return static_cast<int>(code);
}
