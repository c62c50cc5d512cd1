#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "execution/ProcessUtil.h"
#include "platform/core/Handles.h"

using namespace prereq;

namespace {

bool Contains(const std::vector<DWORD>& ids, DWORD id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST(ShellExecuteAndWait, ExitCodesAndFailures) {
  struct Case {
    std::wstring path, commandLine;
    bool quiet;
    bool started;
    DWORD code;
  };
  const std::wstring tool = ToolPath(L"exitcode");
  const Case cases[] = {
      {tool, L"0", true, true, 0},
      {tool, L"7", true, true, 7},
      {tool, L"-1", true, true, 0xFFFFFFFF},
      {tool, L"3010", false, true, 3010},  // shown: also brings its window up
      {L"\\\\?\\" + tool, L"5", true, true, 5},  // the long-path prefix is dropped for the shell
      {ToolsFolder() + L"no-such-program.exe", L"", true, false, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    DWORD code = 12345;
    EXPECT_EQ(ProcessUtil::ShellExecuteAndWait(c.path, c.commandLine, L"", c.quiet, code), c.started)
        << ToUtf8(c.path) << " " << ToUtf8(c.commandLine);
    EXPECT_EQ(code, c.code) << ToUtf8(c.path) << " " << ToUtf8(c.commandLine);
  }
}

TEST(ShellExecuteAndWait, LengthsTheShellAndWindowsAccept) {
  // A file name the shell's buffers cannot hold never reaches it (under Wine
  // a path of about a thousand characters overran its stack); neither does
  // a command line longer than Windows accepts. At the limits it is called.
  const std::wstring missing259 = L"C:\\" + std::wstring(252, L'a') + L".exe";
  ASSERT_EQ(missing259.size(), 259u);
  DWORD code = 0;
  EXPECT_FALSE(ProcessUtil::ShellExecuteAndWait(missing259, L"", L"", true, code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // tried: not there
  for (size_t length : {260u, 1000u, 1000000u}) {
    const std::wstring path = L"C:\\" + std::wstring(length - 7, L'a') + L".exe";
    code = 0;
    EXPECT_FALSE(ProcessUtil::ShellExecuteAndWait(path, L"", L"", true, code)) << length;
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE)) << length;
  }
  const std::wstring tool = ToolPath(L"exitcode");
  ASSERT_LT(tool.size(), 260u);
  // The program's command line: the quoted file, a blank, the parameters.
  const size_t room = 32766 - (tool.size() + 3);
  const std::wstring fits = L"7 " + std::wstring(room - 2, L'x');
  code = 0;
  EXPECT_TRUE(ProcessUtil::ShellExecuteAndWait(tool, fits, L"", true, code));
  EXPECT_EQ(code, 7u);
  code = 0;
  EXPECT_FALSE(ProcessUtil::ShellExecuteAndWait(tool, fits + L"x", L"", true, code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(CreateProcessAndWait, LengthsWindowsAccepts) {
  const std::wstring tool = ToolPath(L"exitcode");
  const std::wstring head = L"\"" + tool + L"\" 7 ";
  const std::wstring fits = head + std::wstring(32766 - head.size(), L'x');
  ASSERT_EQ(fits.size(), 32766u);
  DWORD code = 0;
  EXPECT_TRUE(ProcessUtil::CreateProcessAndWait(tool, fits, 0, code));
  EXPECT_EQ(code, 7u);
  for (const std::wstring& tooLong : {fits + L"x", fits + std::wstring(1000000, L'x')}) {
    code = 0;
    EXPECT_FALSE(ProcessUtil::CreateProcessAndWait(tool, tooLong, 0, code));
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  }
  code = 0;
  EXPECT_FALSE(ProcessUtil::CreateProcessAndWait(L"C:\\" + std::wstring(40000, L'a'), L"", 0, code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(ShellExecuteAndWait, WorkingFolderIsGivenOrTheProgramsOwn) {
  TestFolder given, own;
  const std::wstring copy = own / L"exitcode.exe";
  ASSERT_TRUE(CopyFileW(ToolPath(L"exitcode").c_str(), copy.c_str(), FALSE));

  DWORD code = 1;
  ASSERT_TRUE(ProcessUtil::ShellExecuteAndWait(copy, L"0 marker.txt", given.path(), true, code));
  EXPECT_EQ(MarkerRuns(given / L"marker.txt"), 1);
  EXPECT_EQ(MarkerRuns(own / L"marker.txt"), 0);

  ASSERT_TRUE(ProcessUtil::ShellExecuteAndWait(copy, L"0 marker.txt", L"", true, code));
  EXPECT_EQ(MarkerRuns(own / L"marker.txt"), 1);
  EXPECT_EQ(MarkerRuns(given / L"marker.txt"), 1);
}

// A chain of three nest.exe processes that lives until the event is set.
class ProcessChain {
 public:
  ProcessChain() {
    name_ = L"prereq-ut-nest-" + std::to_wstring(GetCurrentProcessId());
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()));
    std::wstring line = L"\"" + ToolPath(L"nest") + L"\" 2 " + name_;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      process_.reset(pi.hProcess);
      CloseHandle(pi.hThread);
      id_ = pi.dwProcessId;
    }
  }
  ~ProcessChain() {
    if (event_) SetEvent(event_.get());
    if (process_) WaitForSingleObject(process_.get(), 10000);
  }
  DWORD id() const { return id_; }
  // The tree of the first process once all three are running.
  std::vector<DWORD> WaitForTree() const {
    std::vector<DWORD> tree;
    for (int i = 0; i < 100; ++i) {
      tree = ProcessUtil::GetProcessTree(id_);
      if (tree.size() >= 3) break;
      Sleep(50);
    }
    return tree;
  }
  void Release() {
    SetEvent(event_.get());
    WaitForSingleObject(process_.get(), 10000);
  }

 private:
  std::wstring name_;
  KernelHandle event_, process_;
  DWORD id_ = 0;
};

TEST(ProcessTree, DescendantsAndParents) {
  ProcessChain chain;
  ASSERT_NE(chain.id(), 0u);
  const std::vector<DWORD> tree = chain.WaitForTree();
  ASSERT_EQ(tree.size(), 3u);
  EXPECT_TRUE(Contains(tree, chain.id()));  // the root belongs
  EXPECT_FALSE(Contains(tree, GetCurrentProcessId()));

  // Every member other than the root descends from another member.
  EXPECT_EQ(ProcessUtil::GetParentProcessId(chain.id()), GetCurrentProcessId());
  for (DWORD id : tree) {
    if (id != chain.id()) EXPECT_TRUE(Contains(tree, ProcessUtil::GetParentProcessId(id))) << id;
  }

  // From this process, the chain is part of its tree.
  const std::vector<DWORD> own = ProcessUtil::GetProcessTree(GetCurrentProcessId());
  EXPECT_TRUE(Contains(own, GetCurrentProcessId()));
  for (DWORD id : tree) EXPECT_TRUE(Contains(own, id)) << id;

  chain.Release();
  EXPECT_TRUE(ProcessUtil::GetProcessTree(chain.id()).empty());  // gone from the snapshot
  EXPECT_EQ(ProcessUtil::GetParentProcessId(0xFFFFFFF0), 0u);  // no such process
}

// Records the messages a window receives.
struct MessageLog {
  static std::vector<UINT>& Received() {
    static std::vector<UINT> received;
    return received;
  }
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message >= WM_APP) Received().push_back(message);
    return DefWindowProcW(window, message, w, l);
  }
};

struct PostThenSignal {
  HWND window;
  HANDLE event;
};

DWORD WINAPI PostThenSignalThread(void* param) {
  auto* p = static_cast<PostThenSignal*>(param);
  PostMessageW(p->window, WM_APP + 1, 0, 0);
  Sleep(200);
  PostMessageW(p->window, WM_APP + 2, 0, 0);
  Sleep(200);
  SetEvent(p->event);
  return 0;
}

TEST(WaitWithMessagePump, DispatchesUntilSignalled) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = MessageLog::Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PrereqUtPump";
  RegisterClassW(&wc);
  HWND window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ScopeGuard destroy([&] { DestroyWindow(window); });
  MessageLog::Received().clear();

  KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  PostThenSignal param{window, event.get()};
  KernelHandle thread(CreateThread(nullptr, 0, PostThenSignalThread, &param, 0, nullptr));
  ASSERT_TRUE(thread);
  EXPECT_TRUE(ProcessUtil::WaitWithMessagePump(event.get()));
  EXPECT_EQ(MessageLog::Received(), (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));
  WaitForSingleObject(thread.get(), INFINITE);

  // A signalled handle returns at once; a handle that is no handle fails.
  EXPECT_TRUE(ProcessUtil::WaitWithMessagePump(event.get()));
  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  EXPECT_FALSE(ProcessUtil::WaitWithMessagePump(closed));
}

}  // namespace

namespace {

// The first top-level window in z-order that belongs to the process.
HWND TopWindowOf(DWORD processId) {
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId && (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE)) return w;
  }
  return nullptr;
}

bool IsAbove(HWND upper, HWND lower) {
  for (HWND w = GetWindow(lower, GW_HWNDPREV); w != nullptr; w = GetWindow(w, GW_HWNDPREV))
    if (w == upper) return true;
  return false;
}

}  // namespace

TEST(BringProcessWindowToTop, RaisesThePackagesCaptionedWindow) {
  const std::wstring name = L"prereq-ut-show-" + std::to_wstring(GetCurrentProcessId());
  KernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  std::wstring line = L"\"" + ToolPath(L"showwindow") + L"\" " + name;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNOACTIVATE;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  KernelHandle process(pi.hProcess), thread(pi.hThread);
  ScopeGuard end([&] {
    SetEvent(stop.get());
    WaitForSingleObject(process.get(), 10000);
  });
  HWND theirs = nullptr;
  for (int i = 0; i < 100 && theirs == nullptr; ++i, Sleep(50)) theirs = TopWindowOf(pi.dwProcessId);
  ASSERT_NE(theirs, nullptr);
  // A window of ours on top of it.
  HWND ours = CreateWindowW(L"STATIC", L"Ours", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 100,
                            nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(ours, nullptr);
  ScopeGuard destroy([&] { DestroyWindow(ours); });
  SetWindowPos(ours, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ASSERT_TRUE(IsAbove(ours, theirs));

  ProcessUtil::BringProcessWindowToTop(process.get());
  EXPECT_TRUE(IsAbove(theirs, ours));
}
