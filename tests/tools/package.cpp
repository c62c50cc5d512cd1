// package: a stand-in installation package for the install loop.
//
//   package.exe <exit codes> <marker file> [more arguments...]
//
// Appends one line to the marker file: "show=<n> cmd=<command line>", where n
// is the show state it was started with (0 hidden, 1 normal), then exits with
// the code (decimal, or hexadecimal with 0x). Several codes separated by
// commas ("1618,1618,0") are taken in turn: the run that finds k lines in the
// marker file exits with the code at position k (the last one repeats).
//
// With "--hold-installer=<ms>" among the further arguments it plays a package
// that finds another installation running: it first appends "installer=held"
// or "installer=free" to <marker file>.installer (whether the Windows
// Installer's mutex "Global\_MSIExecute" exists as it starts), and before it
// exits with 1618 it starts a copy of itself that holds that mutex for <ms>
// milliseconds (it waits until the copy holds it).
//
// With "--sleep=<ms>" among the further arguments it takes that long before it
// appends its line (a package that needs time to install).
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kInstallerMutex[] = L"Global\\_MSIExecute";

void Append(const wchar_t* path, const std::wstring& line) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

size_t LinesIn(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  size_t lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    for (DWORD i = 0; i < read; ++i) lines += buffer[i] == '\n' ? 1 : 0;
  CloseHandle(file);
  return lines;
}

DWORD CodeFor(const wchar_t* codes, size_t run) {
  std::vector<DWORD> list;
  const wchar_t* at = codes;
  for (;;) {
    wchar_t* end = nullptr;
    list.push_back(std::wcstoul(at, &end, 0));
    if (end == nullptr || *end != L',') break;
    at = end + 1;
  }
  return list[run < list.size() ? run : list.size() - 1];
}

// The copy that holds the mutex: --hold <ms> <ready event name>.
int Hold(DWORD ms, const wchar_t* eventName) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstallerMutex);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
  if (ready != nullptr) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  if (mutex == nullptr) return 3;
  Sleep(ms);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}

// Starts the holding copy and waits until it holds the mutex.
void StartHolder(DWORD ms) {
  wchar_t self[MAX_PATH];
  if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return;
  const std::wstring eventName = L"Local\\package-hold-" + std::to_wstring(GetCurrentProcessId());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --hold " + std::to_wstring(ms) + L" " + eventName;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    if (ready != nullptr) WaitForSingleObject(ready, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (ready != nullptr) CloseHandle(ready);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"--hold") == 0)
    return Hold(std::wcstoul(argv[2], nullptr, 10), argv[3]);
  DWORD code = argc > 1 ? CodeFor(argv[1], 0) : 0;
  DWORD holdMs = 0;
  for (int i = 3; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"--hold-installer=", 17) == 0) holdMs = std::wcstoul(argv[i] + 17, nullptr, 10);
    if (std::wcsncmp(argv[i], L"--sleep=", 8) == 0) Sleep(std::wcstoul(argv[i] + 8, nullptr, 10));
  }
  if (argc > 2) {
    code = CodeFor(argv[1], LinesIn(argv[2]));
    if (holdMs != 0) {
      HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, kInstallerMutex);
      Append((std::wstring(argv[2]) + L".installer").c_str(),
             existing != nullptr ? L"installer=held\r\n" : L"installer=free\r\n");
      if (existing != nullptr) CloseHandle(existing);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 1;
    Append(argv[2], L"show=" + std::to_wstring(show) + L" cmd=" + GetCommandLineW() + L"\r\n");
  }
  if (holdMs != 0 && code == 1618) StartHolder(holdMs);
  return static_cast<int>(code);
}
