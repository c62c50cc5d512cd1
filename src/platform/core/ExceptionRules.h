#pragma once
// Pure rules of the crash report: the texts of structured exceptions and
// stack traces, the report's lines in the log, the error dialog's layout and
// when it may appear. No Windows calls here (ExceptionHandling.cpp and
// ExceptionPresenter.cpp use these).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Exception.h"

namespace prereq {

// Header of every stack trace. The 32-bit program (the shipped one) walks
// x86 frames; the 64-bit test build says so in its header.
#if defined(__x86_64__) || defined(_M_X64)
inline constexpr std::wstring_view kStackTraceHeader = L"\r\n*** Stack Trace (x64) ***\r\n\r\n";
#else
inline constexpr std::wstring_view kStackTraceHeader = L"\r\n*** Stack Trace (x86) ***\r\n\r\n";
#endif
// Follows the last frame when the trace stopped at its frame limit.
inline constexpr std::wstring_view kMoreFramesLine =
    L"<--------------------MORE--FRAMES-------------------->\r\n";

// Structured-exception codes the translation treats specially.
inline constexpr uint32_t kSehAccessViolation = 0xC0000005;
inline constexpr uint32_t kSehStackOverflow = 0xC00000FD;

// Lower-case hexadecimal with at least `minDigits` digits ("%.8x").
std::wstring HexText(uint64_t value, int minDigits);

// "ACCESS_VIOLATION (0xc0000005) at address [0x00401000]\r\n"; a code
// outside the name table gives "Unknown SEH Exception (0x...) at address
// [0x...]\r\n".
std::wstring FormatSehFirstLine(uint32_t code, uint64_t address);

// The fault kind of a structured exception: for an access violation the
// first information word says read (0), write (1) or execute (8) and the
// second is the address (0 = NULLPTR, else BADPTR); everything else is
// Generic.
SehFaultKind ClassifySehFault(uint32_t code, size_t parameterCount, uint64_t access,
                              uint64_t address);

// "[" + kind name + "] " + first line + stack trace.
std::wstring ComposeSehMessage(SehFaultKind kind, std::wstring_view firstLine,
                               std::wstring_view stackTrace);

// First line of the unhandled-exception report:
// "[EXCEPTION_UNHANDLED] (0xc0000005) at address [0x00401000]\r\n".
std::wstring FormatUnhandledFirstLine(uint32_t code, uint64_t address);

// One frame of a stack trace as the symbol engine describes it.
struct StackFrameInfo {
  uint64_t address = 0;
  std::optional<std::wstring> symbol;  // none: "-----"
  std::optional<std::wstring> file;    // full source path; none: no " -> " part
  long line = 0;
};
// "[0x00401000]  Name() -> File.cpp:12\r\n" (the file after its last "\").
std::wstring FormatFrameLine(const StackFrameInfo& frame);
// "[0x00400000]  MODULE_BASE_ADDRESS\r\n".
std::wstring FormatModuleBaseLine(uint64_t moduleBase);

// Whether a text already holds a stack trace.
bool HasStackTrace(std::wstring_view text);

struct SourceLocation {
  std::wstring file;
  int line = 0;
};
// The location named by the first frame line of a stack trace: the text
// after " -> ", split at its last ":" into file and line (both trimmed of
// blanks, tabs and line ends; the line decimal). None when the first frame
// has no such part or the line is not a number.
std::optional<SourceLocation> FirstFrameLocation(std::wstring_view stackTrace);

// The text up to the first line end (the whole text when it has none).
std::wstring FirstLine(std::wstring_view text);
// Lines of a text split at "\r\n", "\n" or "\r", without empty ones.
std::vector<std::wstring> NonEmptyLines(std::wstring_view text);

// The report of one failure as the log and the error dialog show it.
struct ExceptionReport {
  std::wstring typeName;    // "EXCEPTION_GENERIC", "SEH_AV_READ_NULLPTR", ...
  std::wstring message;     // one line
  std::wstring details;     // the full text, with the stack trace when there is one
  std::wstring sourceFile;  // where it was raised (may be empty)
  int sourceLine = 0;
};
// The log lines of a report: "<type name>: <message>", then every non-empty
// line of the details after the message line.
std::vector<std::wstring> ReportLogLines(const ExceptionReport& report);

// Builds the report of an exception of the family: message = the first
// line of its message, details = the whole message plus where it was raised.
ExceptionReport ReportOf(const Exception& e);

// Error dialog layout, in dialog units. n = lines of the message + 1,
// clamped to 3..30; the message label is n x 8.3 high and the dialog
// (n - 3) x 8.3 + 60; everything below the label moves down by
// (n - 3) x 8.3 ("row").
struct DialogRect {
  int x = 0, y = 0, cx = 0, cy = 0;
};
struct ErrorDialogLayout {
  int lines = 0;  // n
  int width = 350;
  int height = 0;          // without details
  int expandedHeight = 0;  // with the details shown
  DialogRect icon, message, close, send, details, detailsEdit, copy;
};
int ErrorDialogLineCount(std::wstring_view message);
ErrorDialogLayout LayoutErrorDialog(std::wstring_view message);

// Whether anybody can answer a window: the process is not in session 0
// (services), does not run as LocalSystem, and its window station is visible
// (interactive). A dialog may appear when, besides, prompts are allowed (not
// quiet).
struct DesktopFacts {
  bool sessionZero = false;
  bool localSystem = false;
  bool visibleWindowStation = true;
};
bool HasInteractiveDesktop(const DesktopFacts& desktop);
bool MayShowErrorDialog(bool promptsAllowed, const DesktopFacts& desktop);
// Why there is no interactive desktop, for the log: "session 0", "the
// LocalSystem account" or "no interactive window station" (the first that
// holds); empty when there is one.
const wchar_t* NoDesktopReason(const DesktopFacts& desktop);

}  // namespace prereq
