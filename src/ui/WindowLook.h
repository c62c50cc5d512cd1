#pragma once
// What every window of the program gets when it is created: the program's
// icon and a place in the middle of its owner or of the work area.
#include <windows.h>

namespace prereq {

// Gives the window the executable's icon (big and small); nothing when the
// executable has none.
void SetProgramIcon(HWND window);

// Centres the window on its owner when the owner is visible and not
// minimised, otherwise in the work area of the monitor nearest to the owner
// (or to the window), keeping it inside that work area.
void CentreWindow(HWND window);

}  // namespace prereq
