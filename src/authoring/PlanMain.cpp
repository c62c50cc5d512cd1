// Entry of prereq-plan.exe, a Windows console program.
#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

#include "authoring/Plan.h"

int wmain(int argc, wchar_t** argv) {
  // The searches use COM (packaged apps) as in a run.
  const bool comInitialized = ::CoInitialize(nullptr) == S_OK;
  int status = 0;
  {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    status = prereq::RunPlanTool(args);
  }
  if (comInitialized) ::CoUninitialize();
  return status;
}
