// psstandin: stands in for powershell.exe in the test prefixes and records
// how it was started.
//
// The tests copy it to <System folder>\WindowsPowerShell\v1.0\powershell.exe.
// Each start writes one record file into the folder named by the environment
// variable PREREQ_PS_RECORDS, or else into "records" beside the executable:
// "<process id>-<tick count>.rec", UTF-8, three lines
//   cmdline=<the command line as the process received it>
//   cwd=<the working folder>
//   show=<the show command of the start-up information, -1 when none>
// The record is written under another name first and then renamed, so a
// reader never sees half a record. Exit code 0; 1 when nothing was written.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring RecordFolder() {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(L"PREREQ_PS_RECORDS", buffer, 32768);
  if (n > 0 && n < 32768) return std::wstring(buffer, n);
  n = GetModuleFileNameW(nullptr, buffer, 32768);
  std::wstring self(buffer, n);
  return self.substr(0, self.rfind(L'\\')) + L"\\records";
}

}  // namespace

int wmain() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

  wchar_t cwd[32768];
  const DWORD cwdLength = GetCurrentDirectoryW(32768, cwd);

  std::string record = "cmdline=" + Utf8(GetCommandLineW()) + "\n";
  record += "cwd=" + Utf8(std::wstring(cwd, cwdLength)) + "\n";
  record += "show=" + std::to_string(show) + "\n";

  const std::wstring folder = RecordFolder();
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring stem =
      folder + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
      std::to_wstring(GetTickCount());
  const std::wstring partial = stem + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExW(partial.c_str(), (stem + L".rec").c_str(), MOVEFILE_REPLACE_EXISTING))
    return 1;
  return 0;
}
