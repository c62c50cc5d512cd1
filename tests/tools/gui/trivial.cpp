// trivial: a GUI-subsystem program that ends at once with 0. Reference point
// for the start-up time of prereq.exe.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
