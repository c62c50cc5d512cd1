#include "ui/WindowLook.h"

#include "resources/resource.h"
#include "ui/ProgressRules.h"

namespace prereq {

namespace {
ScreenBox BoxOf(const RECT& r) { return ScreenBox{r.left, r.top, r.right, r.bottom}; }

HICON LoadProgramIcon(int sizeMetric) {
  const int size = ::GetSystemMetrics(sizeMetric);
  // Shared: the system owns the icon and frees it with the module.
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
}
}  // namespace

void SetProgramIcon(HWND window) {
  if (HICON big = LoadProgramIcon(SM_CXICON))
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (HICON small = LoadProgramIcon(SM_CXSMICON))
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void CentreWindow(HWND window) {
  RECT windowRect{};
  if (!::GetWindowRect(window, &windowRect)) return;
  HWND owner = ::GetWindow(window, GW_OWNER);
  RECT ownerRect{};
  const bool onOwner = owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner) &&
                       ::GetWindowRect(owner, &ownerRect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!::GetMonitorInfoW(
          ::MonitorFromWindow(owner != nullptr ? owner : window, MONITOR_DEFAULTTONEAREST),
          &monitor))
    return;
  const ScreenBox ownerBox = BoxOf(ownerRect);
  const ScreenBox box =
      CentredBox(BoxOf(windowRect), onOwner ? &ownerBox : nullptr, BoxOf(monitor.rcWork));
  ::SetWindowPos(window, nullptr, box.left, box.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace prereq
