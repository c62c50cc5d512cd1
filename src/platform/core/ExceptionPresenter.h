#pragma once
// The error presenter: shows a failure report in the error dialog (a
// generated template with expandable details), or writes it to a console
// when an embedding application asked for that. This program installs no
// hooks; the dialog appears only where somebody can answer it.
#include <windows.h>

#include <string>

#include "platform/core/Exception.h"
#include "platform/core/ExceptionRules.h"

namespace prereq {

// Receives every report and shapes the dialog (for an embedding
// application; this program installs none).
class ErrorReportHandler {
 public:
  virtual ~ErrorReportHandler() = default;
  virtual std::wstring Caption() = 0;    // the dialog's caption
  virtual std::wstring ExtraText() = 0;  // put in front of the stack trace
  virtual bool OffersSendButton() = 0;   // "Send Error Report"
  virtual void Receive(const std::wstring& text, const std::wstring& typeName,
                       const std::wstring& sourceFile) = 0;
};

// Process-wide hooks of the presenter; all empty unless an embedding
// application installs them before the first report.
struct ErrorPresenterHooks {
  void (*consoleWriter)(const wchar_t* text) = nullptr;  // reports go to a console
  void (*secondConsoleWriter)(const wchar_t* text) = nullptr;
  ErrorReportHandler* reportHandler = nullptr;
  HWND defaultParent = nullptr;
};
ErrorPresenterHooks& PresenterHooks();

// Whether reports go to a console instead of a dialog.
bool ConsoleReportsInstalled();

// Whether an error dialog may appear now: prompts are allowed (not quiet,
// uiAllowed) and the process has an interactive desktop
// (CurrentDesktopFacts, Security.h).
bool ErrorDialogAllowed();

// Shows the report: through the console writers when installed, otherwise
// in the modal error dialog (only when ErrorDialogAllowed); then hands it to
// the report handler when one is installed. `parent` is used when it is a
// window, else the default parent. When `message` equals `details`, the
// dialog has no details part; an empty message shows the details' first
// line.
void PresentError(HWND parent, const std::wstring& message, const std::wstring& details,
                  const std::wstring& typeName, const std::wstring& sourceFile);
// PresentError with a report's message, details, type name and source file.
void PresentException(const ExceptionReport& report, HWND parent = nullptr);
// Splits an exception of the family into message (the first line) and
// details (everything) and presents it.
void PresentException(const IException& exception, HWND parent = nullptr);

// The error dialog as a modeless window, for tests: everything PresentError
// shows, without the checks and without a message loop. Close it with
// DestroyWindow.
HWND CreateErrorDialog(HWND parent, const std::wstring& caption, const std::wstring& message,
                       const std::wstring& details, bool sendButton);

// Control identifiers of the error dialog.
inline constexpr int kErrorDialogIcon = 500;
inline constexpr int kErrorDialogMessage = 501;
inline constexpr int kErrorDialogDetails = 502;
inline constexpr int kErrorDialogDetailsButton = 503;
inline constexpr int kErrorDialogCopy = 504;
inline constexpr int kErrorDialogSend = 505;

}  // namespace prereq
