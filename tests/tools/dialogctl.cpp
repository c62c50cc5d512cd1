// dialogctl: drives a dialog of another process for the end-to-end tests.
//
//   dialogctl <window title> <command>...
//
// Waits (up to 60 s) until a visible top-level window with exactly that
// title exists, then runs the commands in order and prints one line per
// command, UTF-8:
//   click:<id>    presses the button with that control id (BM_CLICK)
//   text:<id>     "text:<id>=<text of the control>" (line ends as \r \n)
//   shown:<id>    "shown:<id>=1" when the control is visible, else 0
//   rect          "rect=<left>,<top>,<right>,<bottom>" of the window
//   clipboard     "clipboard=<text on the clipboard>" (line ends as \r \n)
//   wait-gone     waits (up to 60 s) until the window no longer exists
// Exit code 0, or 2 when the window did not appear.
#include <windows.h>

#include <string>

namespace {

std::wstring title;
HWND found = nullptr;

BOOL CALLBACK FindTitle(HWND window, LPARAM) {
  wchar_t buffer[512];
  if (!IsWindowVisible(window)) return TRUE;
  int n = GetWindowTextW(window, buffer, 512);
  if (n >= 0 && title == std::wstring(buffer, static_cast<size_t>(n))) {
    found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForWindow() {
  for (int i = 0; i < 600; ++i) {
    found = nullptr;
    EnumWindows(FindTitle, 0);
    if (found != nullptr) return found;
    Sleep(100);
  }
  return nullptr;
}

std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r')
      out += L"\\r";
    else if (c == L'\n')
      out += L"\\n";
    else if (c == L'\\')
      out += L"\\\\";
    else
      out += c;
  }
  return out;
}

std::wstring ControlText(HWND control) {
  const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT n = SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(n));
  return text;
}

std::wstring Clipboard() {
  std::wstring text;
  for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i) Sleep(100);
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void Print(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  title = argv[1];
  HWND window = WaitForWindow();
  if (window == nullptr) {
    Print(L"no window");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    const std::wstring command = argv[i];
    const size_t colon = command.find(L':');
    const std::wstring verb = command.substr(0, colon);
    const int id = colon == std::wstring::npos ? 0 : _wtoi(command.c_str() + colon + 1);
    if (verb == L"click") {
      SendMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
      Print(command);
    } else if (verb == L"text") {
      Print(command + L"=" + Escaped(ControlText(GetDlgItem(window, id))));
    } else if (verb == L"shown") {
      Print(command + (IsWindowVisible(GetDlgItem(window, id)) ? L"=1" : L"=0"));
    } else if (verb == L"rect") {
      RECT r{};
      GetWindowRect(window, &r);
      Print(L"rect=" + std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
            std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom));
    } else if (verb == L"clipboard") {
      Print(L"clipboard=" + Escaped(Clipboard()));
    } else if (verb == L"wait-gone") {
      for (int k = 0; k < 600 && IsWindow(window); ++k) Sleep(100);
      Print(IsWindow(window) ? L"wait-gone=0" : L"wait-gone=1");
    }
  }
  return 0;
}
