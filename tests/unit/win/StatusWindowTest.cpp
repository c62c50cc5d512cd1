// The status window (dialog 201) with a real dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "resources/resource.h"
#include "ui/StatusWindow.h"

using namespace prereq;

namespace {

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A thread that owns a status window and then pumps, stops pumping, or ends.
struct Owner {
  enum class Then { Pump, Block, End };
  StatusWindow* status;
  Then then;
  HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  HWND window = nullptr;

  Owner(StatusWindow& s, Then t) : status(&s), then(t) {
    thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    WaitForSingleObject(created, 10000);
  }
  ~Owner() {
    SetEvent(release);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(created);
    CloseHandle(release);
  }
  static DWORD WINAPI Main(void* param) {
    auto* self = static_cast<Owner*>(param);
    self->status->Show(L"T", L"Searching for prerequisites...", false);
    self->window = self->status->Window();
    SetEvent(self->created);
    if (self->then == Then::End) return 0;
    if (self->then == Then::Block) {
      // Busy, dispatching nothing, until released; then pumps for a while.
      WaitForSingleObject(self->release, 10000);
    }
    for (;;) {
      const DWORD r = MsgWaitForMultipleObjects(1, &self->release, FALSE, 5000, QS_ALLINPUT);
      Pump();
      if (r == WAIT_OBJECT_0 && self->then == Then::Pump) break;
      if (r == WAIT_TIMEOUT || !IsWindow(self->window)) break;
    }
    return 0;
  }
};

}  // namespace

TEST(StatusWindow, TitleTextSkipLayoutIconAndPlace) {
  StatusWindow status;
  status.Show(L"Product Setup", L"Preparing...", false);
  HWND window = status.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(TextOf(window), L"Product Setup");
  EXPECT_EQ(TextOf(GetDlgItem(window, IDC_STATUS_TEXT)), L"Preparing...");
  EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
  // Hidden Skip: the text reaches to where the button ends.
  HWND skip = GetDlgItem(window, IDCANCEL);
  EXPECT_FALSE(IsWindowVisible(skip));
  const RECT wide = ClientRectOf(window, IDC_STATUS_TEXT);
  EXPECT_EQ(wide.right, ClientRectOf(window, IDCANCEL).right);
  // Centred in the work area (no owner).
  RECT placed{}, work{};
  GetWindowRect(window, &placed);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((placed.left + placed.right) / 2 - (work.left + work.right) / 2), 1);
  EXPECT_LE(std::abs((placed.top + placed.bottom) / 2 - (work.top + work.bottom) / 2), 1);

  status.Show(L"Other", L"Searching for prerequisites...", true);
  EXPECT_EQ(status.Window(), window);  // reused
  EXPECT_EQ(TextOf(window), L"Other");
  EXPECT_TRUE(IsWindowVisible(skip));
  EXPECT_LT(ClientRectOf(window, IDC_STATUS_TEXT).right, ClientRectOf(window, IDCANCEL).left);
  status.Close();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(status.Window(), nullptr);
}

TEST(StatusWindow, EscapeAndCloseSkipOnlyWhileSkipIsShown) {
  StatusWindow status;
  status.Show(L"T", L"x", false);
  HWND window = status.Window();
  HWND skip = GetDlgItem(window, IDCANCEL);
  // Escape in a dialog and the Close command both arrive as IDCANCEL.
  SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
  SendMessageW(window, WM_CLOSE, 0, 0);
  Pump();
  EXPECT_FALSE(status.SkipRequested());
  EXPECT_TRUE(IsWindow(window));

  status.Show(L"T", L"x", true);
  SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(status.SkipRequested());
  EXPECT_FALSE(IsWindowEnabled(skip));
  // A new request clears the flag and enables the button again.
  status.Show(L"T", L"x", true);
  EXPECT_FALSE(status.SkipRequested());
  EXPECT_TRUE(IsWindowEnabled(skip));
  SendMessageW(skip, BM_CLICK, 0, 0);
  EXPECT_TRUE(status.SkipRequested());
}

TEST(StatusWindow, NoWindowWhenPromptsAreNotAllowed) {
  uiAllowed = false;
  StatusWindow status;
  status.Show(L"T", L"x", false);
  uiAllowed = true;
  EXPECT_EQ(status.Window(), nullptr);
  status.Close();
}

TEST(StatusWindow, ClosingFromAnotherThread) {
  {
    // The owner dispatches messages: it destroys the window at once.
    StatusWindow status;
    Owner owner(status, Owner::Then::Pump);
    const DWORD start = GetTickCount();
    status.Close(5000);
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_FALSE(IsWindow(owner.window));
  }
  {
    // The owner has ended: its window went with it.
    StatusWindow status;
    Owner owner(status, Owner::Then::End);
    WaitForSingleObject(owner.thread, 10000);
    const DWORD start = GetTickCount();
    status.Close(5000);
    EXPECT_LT(GetTickCount() - start, 1000u);
  }
  {
    // The owner dispatches nothing: Close gives up after its wait, and the
    // window goes when the owner dispatches again.
    StatusWindow status;
    Owner owner(status, Owner::Then::Block);
    const DWORD start = GetTickCount();
    status.Close(300);
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 3000u);
    EXPECT_TRUE(IsWindow(owner.window));
    EXPECT_EQ(status.Window(), nullptr);
    SetEvent(owner.release);
    for (int i = 0; i < 500 && IsWindow(owner.window); ++i) Sleep(10);
    EXPECT_FALSE(IsWindow(owner.window));
  }
}
