// Process entry: COM, the application object, the exit code. The command line
// is not read.
#include <objbase.h>
#include <windows.h>

#include "chainer/ChainerApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const bool comInitialized = ::CoInitialize(nullptr) == S_OK;
  ::DefWindowProcW(nullptr, WM_NULL, 0, 0);
  int32_t exitCode = 0;
  {
    prereq::ChainerApp app;
    app.Run();
    exitCode = app.exitCode;
  }
  if (comInitialized) ::CoUninitialize();
  return exitCode;
}
