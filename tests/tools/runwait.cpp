// runwait: starts a program, waits for it and reports its full exit code.
//
//   runwait.exe [--hidden-station] <program> [arguments...]
//
// Wine hands only the low 8 bits of a Windows exit code to Linux (-1 becomes
// 255). runwait prints the complete 32-bit code as a signed decimal number on
// stdout ("exit=<code>") and exits with the same code. The rest of runwait's
// own command line is passed on unchanged; the program's working folder is
// runwait's. Exit code 0x7F000001 with "error=<n>" means the start failed.
//
// --hidden-station starts the program on a window station of its own that is
// not interactive (its flags lack WSF_VISIBLE), with one desktop "Default":
// where nobody sees or answers a window, as for a service in session 0.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Print(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written,
            nullptr);
}

// The command line after its first argument, as typed.
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

int Failed() {
  char text[64];
  std::snprintf(text, sizeof text, "error=%lu\n", GetLastError());
  Print(text);
  return 0x7F000001;
}

// A window station that is not interactive, with a desktop "Default";
// answers "<station>\Default" for STARTUPINFO, empty when it cannot be made.
std::wstring HiddenDesktop() {
  const std::wstring name = L"prereq-hidden-" + std::to_wstring(GetCurrentProcessId());
  HWINSTA station = CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) return {};
  HWINSTA own = GetProcessWindowStation();
  if (!SetProcessWindowStation(station)) return {};
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  return desktop != nullptr ? name + L"\\Default" : std::wstring();
}

}  // namespace

int wmain() {
  std::wstring command = Rest(GetCommandLineW());
  std::wstring desktop;
  const std::wstring option = L"--hidden-station";
  if (command.compare(0, option.size(), option) == 0) {
    command = Rest(command.c_str());
    desktop = HiddenDesktop();
    if (desktop.empty()) return Failed();
  }
  if (command.empty()) {
    Print("usage: runwait [--hidden-station] <program> [arguments...]\n");
    return 0x7F000000;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!desktop.empty()) startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return Failed();
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
