#include "platform/core/ExceptionPresenter.h"

#include <vector>

#include "platform/core/ExceptionHandling.h"
#include "platform/core/Security.h"
#include "platform/core/WinText.h"
#include "ui/StatusWindow.h"

namespace prereq {

namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// An in-memory dialog template (DLGTEMPLATE with DLGITEMTEMPLATE items).
class TemplateWriter {
 public:
  void Header(DWORD style, DWORD exStyle, int items, int width, int height,
              const std::wstring& caption, WORD pointSize, const wchar_t* face) {
    Dword(style);
    Dword(exStyle);
    words_.push_back(static_cast<WORD>(items));
    Short(0);
    Short(0);
    Short(width);
    Short(height);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    Text(caption);
    words_.push_back(pointSize);
    Text(face);
  }

  void Item(const DialogRect& r, int id, WORD windowClass, DWORD style,
            const std::wstring& text) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // items start on a DWORD
    Dword(style | WS_CHILD);
    Dword(0);
    Short(r.x);
    Short(r.y);
    Short(r.cx);
    Short(r.cy);
    words_.push_back(static_cast<WORD>(id));
    words_.push_back(0xFFFF);
    words_.push_back(windowClass);
    Text(text);
    words_.push_back(0);  // no creation data
  }

  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Dword(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void Short(int value) { words_.push_back(static_cast<WORD>(static_cast<short>(value))); }
  void Text(const std::wstring& text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }

  std::vector<WORD> words_;
};

struct DialogState {
  std::wstring details;
  ErrorDialogLayout layout;
  bool modal = false;
  bool expanded = false;
  HFONT detailsFont = nullptr;
  POINT minimumSize{};
};

DialogState* StateOf(HWND window) {
  return reinterpret_cast<DialogState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Sets the window's client area to `height` dialog units (the width stays).
void ResizeClient(HWND window, const DialogState& state, int height) {
  RECT client{0, 0, state.layout.width, height};
  ::MapDialogRect(window, &client);
  RECT windowRect{}, clientRect{};
  ::GetWindowRect(window, &windowRect);
  ::GetClientRect(window, &clientRect);
  const int frameWidth = (windowRect.right - windowRect.left) - clientRect.right;
  const int frameHeight = (windowRect.bottom - windowRect.top) - clientRect.bottom;
  ::SetWindowPos(window, nullptr, 0, 0, client.right + frameWidth, client.bottom + frameHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ToggleDetails(HWND window, DialogState& state) {
  state.expanded = !state.expanded;
  const int show = state.expanded ? SW_SHOW : SW_HIDE;
  ::SetDlgItemTextW(window, kErrorDialogDetailsButton,
                    LoadResourceString(state.expanded ? IDS_ERROR_HIDE_DETAILS : IDS_ERROR_SHOW_DETAILS)
                        .c_str());
  ResizeClient(window, state, state.expanded ? state.layout.expandedHeight : state.layout.height);
  ::ShowWindow(::GetDlgItem(window, kErrorDialogDetails), show);
  ::ShowWindow(::GetDlgItem(window, kErrorDialogCopy), show);
}

void CopyDetails(HWND window) {
  HWND edit = ::GetDlgItem(window, kErrorDialogDetails);
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
  ::SendMessageW(edit, WM_COPY, 0, 0);
  ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-1), 0);
}

void Close(HWND window, const DialogState& state, int result) {
  if (state.modal)
    ::EndDialog(window, result);
  else
    ::DestroyWindow(window);
}

void InitDialog(HWND window, DialogState& state) {
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  ::SendDlgItemMessageW(window, kErrorDialogIcon, STM_SETICON,
                        reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_ERROR)), 0);
  if (HWND edit = ::GetDlgItem(window, kErrorDialogDetails)) {
    // The details in a fixed-pitch face as tall as the dialog's own font.
    LOGFONTW dialogFont{};
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    if (font == nullptr || ::GetObjectW(font, sizeof dialogFont, &dialogFont) == 0)
      dialogFont.lfHeight = -11;
    state.detailsFont = ::CreateFontW(dialogFont.lfHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      FIXED_PITCH | FF_MODERN, L"Courier New");
    if (state.detailsFont != nullptr)
      ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(state.detailsFont), FALSE);
    ::SetWindowTextW(edit, state.details.c_str());
  }
  RECT size{};
  ::GetWindowRect(window, &size);
  state.minimumSize = {size.right - size.left, size.bottom - size.top};
  ::SetForegroundWindow(window);
}

INT_PTR CALLBACK ErrorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogState* state = StateOf(window);
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(window, *reinterpret_cast<DialogState*>(lParam));
      // Up and waiting for a person: the bound on the end of the process
      // after a failure waits too.
      if (reinterpret_cast<DialogState*>(lParam)->modal) SuspendProcessEndBound(true);
      return TRUE;
    case WM_COMMAND:
      if (state == nullptr) break;
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case kErrorDialogSend:
          Close(window, *state, LOWORD(wParam));
          return TRUE;
        case kErrorDialogDetailsButton:
          ToggleDetails(window, *state);
          return TRUE;
        case kErrorDialogCopy:
          CopyDetails(window);
          return TRUE;
      }
      break;
    case WM_GETMINMAXINFO:
      if (state != nullptr && state->minimumSize.x > 0) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = state->minimumSize;
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (state != nullptr && state->detailsFont != nullptr) {
        ::DeleteObject(state->detailsFont);
        state->detailsFont = nullptr;
      }
      break;
    case WM_NCDESTROY:
      // A modeless dialog owns its state.
      if (state != nullptr && !state->modal) delete state;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
  }
  return FALSE;
}

// The template of the error dialog for this message and these details.
TemplateWriter BuildTemplate(const ErrorDialogLayout& l, bool hasParent,
                             const std::wstring& caption, const std::wstring& message,
                             bool hasDetails, bool sendButton) {
  const int items = 3 + (hasDetails ? 3 + (sendButton ? 1 : 0) : 0);
  TemplateWriter t;
  t.Header(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
           hasParent ? 0 : WS_EX_APPWINDOW, items, l.width, l.height, caption, 8,
           L"MS Shell Dlg");
  t.Item(l.icon, kErrorDialogIcon, kStaticClass, WS_VISIBLE | SS_ICON, L"");
  t.Item(l.message, kErrorDialogMessage, kStaticClass, WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
         message);
  t.Item(l.close, IDOK, kButtonClass, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
         LoadResourceString(IDS_ERROR_CLOSE));
  if (hasDetails) {
    if (sendButton)
      t.Item(l.send, kErrorDialogSend, kButtonClass, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
             LoadResourceString(IDS_ERROR_SEND_REPORT));
    t.Item(l.details, kErrorDialogDetailsButton, kButtonClass,
           WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, LoadResourceString(IDS_ERROR_SHOW_DETAILS));
    t.Item(l.detailsEdit, kErrorDialogDetails, kEditClass,
           WS_BORDER | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
               ES_AUTOVSCROLL | ES_AUTOHSCROLL,
           L"");
    t.Item(l.copy, kErrorDialogCopy, kButtonClass, WS_TABSTOP | BS_PUSHBUTTON,
           LoadResourceString(IDS_ERROR_COPY));
  }
  return t;
}

HWND UsableParent(HWND parent) {
  if (parent != nullptr && ::IsWindow(parent)) return parent;
  HWND fallback = PresenterHooks().defaultParent;
  return fallback != nullptr && ::IsWindow(fallback) ? fallback : nullptr;
}

// The caption and extra text come from the report handler once per process.
struct HandlerTexts {
  std::wstring caption;
  std::wstring extra;
};
const HandlerTexts& TextsOnce() {
  static const HandlerTexts texts = [] {
    HandlerTexts t;
    t.caption = LoadResourceString(IDS_ERROR_CAPTION);
    if (ErrorReportHandler* handler = PresenterHooks().reportHandler) {
      t.caption = handler->Caption();
      t.extra = handler->ExtraText();
    }
    return t;
  }();
  return texts;
}

void WriteToConsoles(const std::wstring& details) {
  const ErrorPresenterHooks& hooks = PresenterHooks();
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO before{};
  const bool known = ::GetConsoleScreenBufferInfo(out, &before) != FALSE;
  ::SetConsoleTextAttribute(out, FOREGROUND_RED | FOREGROUND_INTENSITY);  // 12
  const std::wstring text = details + L"\r\n";
  hooks.consoleWriter(text.c_str());
  if (hooks.secondConsoleWriter != nullptr) hooks.secondConsoleWriter(text.c_str());
  if (known) ::SetConsoleTextAttribute(out, before.wAttributes);
}

}  // namespace

ErrorPresenterHooks& PresenterHooks() {
  static ErrorPresenterHooks hooks;
  return hooks;
}

bool ConsoleReportsInstalled() { return PresenterHooks().consoleWriter != nullptr; }

bool ErrorDialogAllowed() { return MayShowErrorDialog(uiAllowed, CurrentDesktopFacts()); }

HWND CreateErrorDialog(HWND parent, const std::wstring& caption, const std::wstring& message,
                       const std::wstring& details, bool sendButton) {
  auto* state = new DialogState;
  state->details = details;
  state->layout = LayoutErrorDialog(message);
  const TemplateWriter t = BuildTemplate(state->layout, parent != nullptr, caption, message,
                                         !details.empty(), sendButton);
  HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), t.Get(), parent,
                                             &ErrorDialogProc, reinterpret_cast<LPARAM>(state));
  if (window == nullptr) delete state;
  return window;
}

void PresentError(HWND parent, const std::wstring& message, const std::wstring& details,
                  const std::wstring& typeName, const std::wstring& sourceFile) {
  const ErrorPresenterHooks& hooks = PresenterHooks();
  if (hooks.consoleWriter != nullptr) {
    WriteToConsoles(details);
  } else if (ErrorDialogAllowed()) {
    const HandlerTexts& texts = TextsOnce();
    std::wstring shownMessage = message.empty() ? FirstLine(details) : message;
    std::wstring shownDetails = message == details ? std::wstring() : details;
    if (!texts.extra.empty() && !shownDetails.empty()) {
      const size_t trace = shownDetails.find(kStackTraceHeader);
      shownDetails.insert(trace == std::wstring::npos ? shownDetails.size() : trace,
                          texts.extra + L"\r\n");
    }
    HWND owner = UsableParent(parent);
    ErrorReportHandler* handler = hooks.reportHandler;
    DialogState state;
    state.modal = true;
    state.details = shownDetails;
    state.layout = LayoutErrorDialog(shownMessage);
    const TemplateWriter t =
        BuildTemplate(state.layout, owner != nullptr, texts.caption, shownMessage,
                      !shownDetails.empty(), handler != nullptr && handler->OffersSendButton());
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), t.Get(), owner, &ErrorDialogProc,
                              reinterpret_cast<LPARAM>(&state));
    SuspendProcessEndBound(false);
  }
  if (ErrorReportHandler* handler = hooks.reportHandler)
    handler->Receive(message + L"\r\n" + details, typeName, sourceFile);
}

void PresentException(const ExceptionReport& report, HWND parent) {
  PresentError(parent, report.message, report.details, report.typeName, report.sourceFile);
}

void PresentException(const IException& exception, HWND parent) {
  if (const auto* e = dynamic_cast<const Exception*>(&exception)) {
    PresentException(ReportOf(*e), parent);
    return;
  }
  PresentError(parent, exception.GetTypeName(), exception.GetTypeName(), exception.GetTypeName(),
               std::wstring());
}

}  // namespace prereq
