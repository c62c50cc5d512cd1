// showwindow: a GUI program with one captioned top-level window, shown with
// the show state it was started with, that lives until the named event given
// on its command line is set (at most 30 s), then ends with 0.
//   showwindow.exe <event name>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = instance;
  cls.lpszClassName = L"PrereqTestShowWindow";
  RegisterClassW(&cls);
  HWND window = CreateWindowW(cls.lpszClassName, L"Test package", WS_OVERLAPPEDWINDOW, 10, 10,
                              200, 100, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show);
  HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, commandLine);
  const DWORD end = GetTickCount() + 30000;
  while (GetTickCount() < end) {
    if (stop && MsgWaitForMultipleObjects(1, &stop, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    if (!stop) Sleep(50);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (stop) CloseHandle(stop);
  DestroyWindow(window);
  return 0;
}
