// trivialdialog: a GUI program that initialises COM, shows a dialog like the
// status window of prereq.exe (the same size, styles and controls, common
// controls 6 through the manifest given on the command line), lets it paint,
// closes it and ends with 0. The start-up benchmark's floor for a program that
// shows such a window.
//   trivialdialog.exe [manifest]
#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// A dialog template in memory: header, then each item, DWORD-aligned.
class Template {
 public:
  void Header(DWORD style, DWORD exStyle, WORD items, short cx, short cy, const wchar_t* caption) {
    DLGTEMPLATE t{};
    t.style = style;
    t.dwExtendedStyle = exStyle;
    t.cdit = items;
    t.cx = cx;
    t.cy = cy;
    Append(&t, sizeof(t));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(caption);
    Word(8);  // DS_SETFONT: point size, face
    Text(L"MS Shell Dlg");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
    Align();
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    Append(&item, sizeof(item));
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_); }

 private:
  void Append(const void* p, size_t n) {
    std::memcpy(data_ + size_, p, n);
    size_ += n;
  }
  void Word(WORD w) { Append(&w, sizeof(w)); }
  void Text(const wchar_t* s) { Append(s, (std::wcslen(s) + 1) * sizeof(wchar_t)); }
  void Align() {
    while (size_ % 4 != 0) data_[size_++] = 0;
  }
  alignas(4) unsigned char data_[1024] = {};
  size_t size_ = 0;
};

INT_PTR CALLBACK Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  const bool com = CoInitialize(nullptr) == S_OK;
  HANDLE context = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie = 0;
  if (commandLine != nullptr && *commandLine != L'\0') {
    ACTCTXW actctx{};
    actctx.cbSize = sizeof(actctx);
    actctx.lpSource = commandLine;
    context = CreateActCtxW(&actctx);
    if (context != INVALID_HANDLE_VALUE) ActivateActCtx(context, &cookie);
  }
  Template t;
  t.Header(DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS | DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION,
           WS_EX_APPWINDOW, 2, 190, 49, L"Setup");
  t.Item(SS_LEFT | WS_GROUP, 13, 20, 117, 8, 1000, 0x0082, L"Preparing...");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 133, 17, 50, 14, IDCANCEL, 0x0080, L"Skip");
  HWND dialog = CreateDialogIndirectParamW(instance, t.Get(), nullptr, Proc, 0);
  if (dialog != nullptr) {
    SetWindowTextW(dialog, L"Setup");
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    DestroyWindow(dialog);
  }
  if (cookie != 0) DeactivateActCtx(0, cookie);
  if (context != INVALID_HANDLE_VALUE) ReleaseActCtx(context);
  if (com) CoUninitialize();
  return 0;
}
