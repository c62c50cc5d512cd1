// listwindows: prints every visible top-level window, one line each, UTF-8:
//
//   <title>\t<text of the child control with id 1001, empty when none>
//
// The texts are read with GetWindowTextW, which for a window of another
// process reads the stored caption without sending it a message, so windows of
// a process whose thread is blocked (for example in a wait) are listed too.
#include <windows.h>

#include <string>

namespace {

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024];
  int n = GetWindowTextW(window, buffer, static_cast<int>(sizeof buffer / sizeof buffer[0]));
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK Collect(HWND window, LPARAM param) {
  if (!IsWindowVisible(window)) return TRUE;
  std::wstring line = TextOf(window);
  line += L'\t';
  if (HWND child = GetDlgItem(window, 1001)) line += TextOf(child);
  line += L'\n';
  reinterpret_cast<std::wstring*>(param)->append(line);
  return TRUE;
}

}  // namespace

int wmain() {
  std::wstring all;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  int n = WideCharToMultiByte(CP_UTF8, 0, all.c_str(), static_cast<int>(all.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, all.c_str(), static_cast<int>(all.size()), bytes.data(), n,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
  return 0;
}
