// wintool: looks at and drives the windows of other programs, for the
// end-to-end tests, the screenshots and the benchmarks. Output is UTF-8 on
// stdout.
//
//   wintool.exe list [--all]
//       One JSON object per line for every visible top-level window (every
//       one with --all): hwnd, pid, process (file name), title, class, rect
//       [left, top, right, bottom] in screen coordinates, visible, enabled,
//       owner, and controls: the child
//       windows with id, class, text, visible, enabled, rect, and for
//       progress bars pos, min, max and state.
//   wintool.exe click <selector...> --id <control id>
//       Clicks the button (BM_CLICK) of the first matching window.
//   wintool.exe key <selector...> --vk <virtual key>
//       Posts the key's down and up messages to the window's focused control
//       (or the window), as typing it there does.
//   wintool.exe send <selector...> --msg <n> [--wparam <n>] [--lparam <n>]
//       Sends the message (at most 5 s) and prints "result=<n>".
//   wintool.exe ping <selector...> [--interval <ms>] [--appear <ms>]
//       Waits up to --appear ms (default 60000) for the window, then sends it
//       WM_NULL every --interval ms (default 20) until it is gone, and prints
//       one JSON object: samples, max_ms, max_at_ms (when the longest answer
//       was asked for, from the first sample), life_ms (from the first sample
//       to the window's end), mean_ms, p99_ms, slow (answers that took 100 ms
//       or more).
//
// A selector picks visible top-level windows: --title <exact title>,
// --title-contains <text>, --class <class name>, --pid <process id>,
// --child <control id> (the window has such a control). Exit codes: 0 done,
// 1 no such window or control, 2 bad arguments, 3 the control is disabled.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
  return bytes;
}

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string Number(long long value) { return std::to_string(value); }

std::string Handle(HWND window) {
  return Number(static_cast<long long>(reinterpret_cast<uintptr_t>(window)));
}

std::string Rect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return "[" + Number(r.left) + "," + Number(r.top) + "," + Number(r.right) + "," +
         Number(r.bottom) + "]";
}

// GetWindowTextW reads the stored text of another process's window without
// sending it a message, so a window whose thread is busy is listed too.
std::wstring TextOf(HWND window) {
  std::vector<wchar_t> buffer(4096);
  const int n = GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256];
  const int n = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ProcessName(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return L"";
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = MAX_PATH * 2;
  std::wstring name;
  if (QueryFullProcessImageNameW(process, 0, buffer, &size)) {
    name.assign(buffer, size);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
  }
  CloseHandle(process);
  return name;
}

// A message to a window of another process, at most 2 s.
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& answer) {
  answer = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &answer) != 0;
}

std::string DescribeControl(HWND control) {
  const std::wstring cls = ClassOf(control);
  std::string out = "{\"id\":" + Number(GetDlgCtrlID(control)) + ",\"class\":" + Json(cls) +
                    ",\"text\":" + Json(TextOf(control)) +
                    ",\"visible\":" + Bool(IsWindowVisible(control) != FALSE) +
                    ",\"enabled\":" + Bool(IsWindowEnabled(control) != FALSE) +
                    ",\"rect\":" + Rect(control);
  if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) {
    DWORD_PTR pos = 0, low = 0, high = 0, state = 0;
    Ask(control, PBM_GETPOS, 0, 0, pos);
    Ask(control, PBM_GETRANGE, TRUE, 0, low);  // no PBRANGE: the answer is the limit
    Ask(control, PBM_GETRANGE, FALSE, 0, high);
    Ask(control, PBM_GETSTATE, 0, 0, state);
    out += ",\"pos\":" + Number(static_cast<int>(pos)) +
           ",\"min\":" + Number(static_cast<int>(low)) +
           ",\"max\":" + Number(static_cast<int>(high)) +
           ",\"state\":" + Number(static_cast<int>(state));
  }
  return out + "}";
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::string Describe(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::string out = "{\"hwnd\":" + Handle(window) + ",\"pid\":" + Number(pid) +
                    ",\"process\":" + Json(ProcessName(pid)) +
                    ",\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window)) +
                    ",\"rect\":" + Rect(window) +
                    ",\"visible\":" + Bool(IsWindowVisible(window) != FALSE) +
                    ",\"enabled\":" + Bool(IsWindowEnabled(window) != FALSE) +
                    ",\"owner\":" + Handle(GetWindow(window, GW_OWNER)) + ",\"controls\":[";
  bool first = true;
  for (HWND child : Children(window)) {
    if (!first) out += ",";
    first = false;
    out += DescribeControl(child);
  }
  return out + "]}\n";
}

struct Selector {
  std::wstring title;
  bool titleGiven = false;
  std::wstring titleContains;
  std::wstring cls;
  DWORD pid = 0;
  int child = 0;
  bool childGiven = false;
  bool all = false;

  bool Matches(HWND window) const {
    if (!all && !IsWindowVisible(window)) return false;
    const std::wstring text = TextOf(window);
    if (titleGiven && text != title) return false;
    if (!titleContains.empty() && text.find(titleContains) == std::wstring::npos) return false;
    if (!cls.empty() && ClassOf(window) != cls) return false;
    if (pid != 0) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner != pid) return false;
    }
    if (childGiven && GetDlgItem(window, child) == nullptr) return false;
    return true;
  }
};

struct Search {
  const Selector* selector;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (search->selector->Matches(window)) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> Find(const Selector& selector) {
  Search search{&selector, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

long long ParseNumber(const wchar_t* text) { return std::wcstoll(text, nullptr, 0); }

// Reads the selector options and the command's own ones (name -> value).
bool ParseOptions(int argc, wchar_t** argv, Selector& selector,
                  std::vector<std::pair<std::wstring, std::wstring>>& own) {
  for (int i = 2; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (name == L"--all") {
      selector.all = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const wchar_t* value = argv[++i];
    if (name == L"--title") {
      selector.title = value;
      selector.titleGiven = true;
    } else if (name == L"--title-contains") {
      selector.titleContains = value;
    } else if (name == L"--class") {
      selector.cls = value;
    } else if (name == L"--pid") {
      selector.pid = static_cast<DWORD>(ParseNumber(value));
    } else if (name == L"--child") {
      selector.child = static_cast<int>(ParseNumber(value));
      selector.childGiven = true;
    } else {
      own.emplace_back(name, value);
    }
  }
  return true;
}

const std::wstring* Option(const std::vector<std::pair<std::wstring, std::wstring>>& own,
                           const wchar_t* name) {
  for (const auto& [key, value] : own)
    if (key == name) return &value;
  return nullptr;
}

int List(const Selector& selector) {
  std::string out;
  for (HWND window : Find(selector)) out += Describe(window);
  Print(out);
  return 0;
}

int Click(const Selector& selector, int id) {
  for (HWND window : Find(selector)) {
    HWND button = GetDlgItem(window, id);
    if (button == nullptr) continue;
    if (!IsWindowEnabled(button)) return 3;
    DWORD_PTR answer = 0;
    // BM_CLICK makes the button send its notification as a mouse click does.
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &answer);
    Print("clicked\n");
    return 0;
  }
  return 1;
}

int Key(const Selector& selector, UINT vk) {
  const std::vector<HWND> found = Find(selector);
  if (found.empty()) return 1;
  HWND target = found.front();
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (GetGUIThreadInfo(GetWindowThreadProcessId(target, nullptr), &info) &&
      info.hwndFocus != nullptr && (info.hwndFocus == target || IsChild(target, info.hwndFocus)))
    target = info.hwndFocus;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
  Print("posted\n");
  return 0;
}

int Send(const Selector& selector, UINT message, WPARAM wParam, LPARAM lParam) {
  const std::vector<HWND> found = Find(selector);
  if (found.empty()) return 1;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(found.front(), message, wParam, lParam, SMTO_NORMAL, 5000, &answer)) {
    Print("result=timeout\n");
    return 1;
  }
  Print("result=" + Number(static_cast<long long>(answer)) + "\n");
  return 0;
}

int Ping(const Selector& selector, DWORD intervalMs, DWORD appearMs) {
  HWND window = nullptr;
  const DWORD start = GetTickCount();
  while (window == nullptr) {
    const std::vector<HWND> found = Find(selector);
    if (!found.empty()) {
      window = found.front();
      break;
    }
    if (GetTickCount() - start > appearMs) return 1;
    Sleep(10);
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  auto now = [&] {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
  };
  std::vector<double> samples;
  std::vector<double> at;  // when each sample was taken, from the first
  const double first = now();
  double next = first;
  for (;;) {
    const double before = now();
    DWORD_PTR answer = 0;
    // No abort on a "hung" window: the point is to see how long it takes.
    const LRESULT ok = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer);
    const double took = now() - before;
    // An answer that did not come because the window went away ends the
    // sampling; a time-out counts as it is.
    if (!ok && !IsWindow(window)) break;
    samples.push_back(took);
    at.push_back(before - first);
    if (!IsWindow(window)) break;
    next += intervalMs;
    const double wait = next - now();
    if (wait > 0)
      Sleep(static_cast<DWORD>(wait));
    else
      next = now();
  }
  if (samples.empty()) return 1;
  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  size_t slow = 0;
  for (double s : samples) {
    sum += s;
    if (s >= 100.0) ++slow;
  }
  const double p99 = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
  const size_t worst =
      static_cast<size_t>(std::max_element(samples.begin(), samples.end()) - samples.begin());
  char line[320];
  std::snprintf(line, sizeof line,
                "{\"samples\":%u,\"max_ms\":%.3f,\"max_at_ms\":%.1f,\"life_ms\":%.1f,"
                "\"mean_ms\":%.3f,\"p99_ms\":%.3f,\"slow\":%u}\n",
                static_cast<unsigned>(samples.size()), sorted.back(), at[worst], now() - first,
                sum / samples.size(), p99, static_cast<unsigned>(slow));
  Print(line);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  Selector selector;
  std::vector<std::pair<std::wstring, std::wstring>> own;
  if (!ParseOptions(argc, argv, selector, own)) return 2;
  auto number = [&](const wchar_t* name, long long fallback) {
    const std::wstring* value = Option(own, name);
    return value != nullptr ? ParseNumber(value->c_str()) : fallback;
  };
  if (command == L"list") return List(selector);
  if (command == L"click") {
    if (Option(own, L"--id") == nullptr) return 2;
    return Click(selector, static_cast<int>(number(L"--id", 0)));
  }
  if (command == L"key") {
    if (Option(own, L"--vk") == nullptr) return 2;
    return Key(selector, static_cast<UINT>(number(L"--vk", 0)));
  }
  if (command == L"send") {
    if (Option(own, L"--msg") == nullptr) return 2;
    return Send(selector, static_cast<UINT>(number(L"--msg", 0)),
                static_cast<WPARAM>(number(L"--wparam", 0)),
                static_cast<LPARAM>(number(L"--lparam", 0)));
  }
  if (command == L"ping")
    return Ping(selector, static_cast<DWORD>(number(L"--interval", 20)),
                static_cast<DWORD>(number(L"--appear", 60000)));
  return 2;
}
