// trivialcom: a GUI-subsystem program that initialises COM, as every start of
// prereq.exe does, and ends with 0. Shows what COM alone costs at start-up.
#include <objbase.h>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (CoInitialize(nullptr) == S_OK) CoUninitialize();
  return 0;
}
