#include "execution/ProcessUtil.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>

#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"

namespace prereq::ProcessUtil {

namespace {

// PROCESS_BASIC_INFORMATION as NtQueryInformationProcess fills it (24 bytes
// in a 32-bit process).
struct BasicProcessInformation {
  LONG exitStatus;
  PVOID pebBaseAddress;
  ULONG_PTR affinityMask;
  LONG basePriority;
  ULONG_PTR uniqueProcessId;
  ULONG_PTR inheritedFromUniqueProcessId;
};
using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kProcessBasicInformation = 0;

struct WindowSearch {
  DWORD processId;
  HWND captioned = nullptr;  // visible with a caption: the one to bring up
  HWND last = nullptr;       // any window of the process, the last one seen
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM param) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId) return TRUE;
  search.last = window;
  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  if ((style & WS_VISIBLE) && (style & WS_CAPTION) == WS_CAPTION) {
    search.captioned = window;
    return FALSE;
  }
  return TRUE;
}

// The path as the shell takes it: without the long-path prefix.
std::wstring ShellPath(const std::wstring& path) { return FromLongPathForm(path); }

}  // namespace

bool ShellExecuteAndWait(const std::wstring& path, const std::wstring& commandLine,
                         const std::wstring& workingFolder, bool quiet, DWORD& returnCode,
                         const std::function<void()>& started) {
  const std::wstring file = ShellPath(path);
  std::wstring folder;
  if (!workingFolder.empty()) {
    folder = ShellPath(workingFolder);
  } else {
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos) folder = ShellPath(path.substr(0, slash));
  }

  // The shell's launch call keeps these in buffers of MAX_PATH characters
  // (Wine's overruns its stack with a longer file name), and the program's
  // command line becomes the quoted file and the parameters.
  if (file.size() > kMaxShellPathLength || folder.size() > kMaxShellPathLength ||
      file.size() + 3 + commandLine.size() > kMaxCommandLineLength) {
    returnCode = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = commandLine.empty() ? nullptr : commandLine.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = quiet ? SW_HIDE : SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) {
    returnCode = ::GetLastError();
    return false;
  }
  KernelHandle process(info.hProcess);
  if (started) started();
  if (!process) return true;  // started without a process of its own to wait for

  ::AllowSetForegroundWindow(::GetProcessId(process.get()));
  if (!quiet) {
    const DWORD self = ::GetCurrentThreadId();
    const DWORD foreground = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    const bool attached =
        foreground != 0 && foreground != self && ::AttachThreadInput(self, foreground, TRUE);
    ScopeGuard detach([&] {
      if (attached) ::AttachThreadInput(self, foreground, FALSE);
    });
    BringProcessWindowToTop(process.get());
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (::GetExitCodeProcess(process.get(), &exitCode)) returnCode = exitCode;
  return true;
}

bool CreateProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                          DWORD creationFlags, DWORD& returnCode,
                          const std::function<void()>& started) {
  if (ExceedsPathLimit(applicationName) || commandLine.size() > kMaxCommandLineLength) {
    returnCode = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
  command.push_back(L'\0');
  if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(),
                        commandLine.empty() ? nullptr : command.data(), nullptr, nullptr, FALSE,
                        creationFlags, nullptr, nullptr, &startup, &info)) {
    returnCode = ::GetLastError();
    return false;
  }
  KernelHandle thread(info.hThread);
  KernelHandle process(info.hProcess);
  if (started) started();
  if (process) {
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(process.get(), &exitCode)) returnCode = exitCode;
  }
  return true;
}

void BringProcessWindowToTop(HANDLE process) {
  ::Sleep(500);
  for (DWORD id : GetProcessTree(::GetProcessId(process))) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      ::Sleep(50);
      WindowSearch search{id};
      ::EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
      const HWND window = search.captioned ? search.captioned : search.last;
      if (window) {
        ::BringWindowToTop(window);
        return;
      }
    }
  }
}

std::vector<DWORD> GetProcessTree(DWORD rootId) {
  std::vector<DWORD> tree;
  FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return tree;

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  std::vector<DWORD> met;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    // Walk up from the process: it belongs when the walk reaches the root.
    // Ids met before end the walk, since reused ids can form a cycle.
    DWORD id = entry.th32ProcessID;
    met.assign(1, id);
    for (;;) {
      if (id == rootId) {
        tree.push_back(entry.th32ProcessID);
        break;
      }
      if (id == 0) break;
      id = GetParentProcessId(id);
      if (std::find(met.begin(), met.end(), id) != met.end()) break;
      met.push_back(id);
    }
  }
  return tree;
}

DWORD GetParentProcessId(DWORD processId) {
  KernelHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return 0;
  const Library ntdll = LoadSystemLibrary(L"ntdll.dll");
  if (!ntdll) return 0;
  const auto query = reinterpret_cast<NtQueryInformationProcessFn>(
      ::GetProcAddress(ntdll.get(), "NtQueryInformationProcess"));
  if (query == nullptr) return 0;
  BasicProcessInformation info{};
  ULONG length = 0;
  const LONG status =
      query(process.get(), kProcessBasicInformation, &info, sizeof(info), &length);
  if (status < 0) return 0;  // an NTSTATUS error
  return static_cast<DWORD>(info.inheritedFromUniqueProcessId);
}

bool WaitWithMessagePump(HANDLE handle) {
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjectsEx(
        1, &handle, INFINITE, QS_ALLINPUT | QS_ALLPOSTMESSAGE, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

}  // namespace prereq::ProcessUtil
