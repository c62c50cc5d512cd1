#include "platform/core/ExceptionRules.h"

#include <algorithm>

namespace prereq {

std::wstring HexText(uint64_t value, int minDigits) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring out;
  do {
    out.push_back(kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < minDigits) out.push_back(L'0');
  std::reverse(out.begin(), out.end());
  return out;
}

namespace {

std::wstring Widen(const char* text) {
  std::wstring out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

std::wstring CodeAndAddress(uint32_t code, uint64_t address) {
  return L"(0x" + HexText(code, 8) + L") at address [0x" + HexText(address, 8) + L"]\r\n";
}

std::wstring_view Trim(std::wstring_view text) {
  const std::wstring_view blanks = L" \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::wstring_view::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

std::wstring FormatSehFirstLine(uint32_t code, uint64_t address) {
  const char* name = SehCodeName(code);
  const std::wstring head = name != nullptr ? Widen(name) : L"Unknown SEH Exception";
  return head + L" " + CodeAndAddress(code, address);
}

SehFaultKind ClassifySehFault(uint32_t code, size_t parameterCount, uint64_t access,
                              uint64_t address) {
  if (code != kSehAccessViolation || parameterCount < 2) return SehFaultKind::Generic;
  const bool null = address == 0;
  switch (access) {
    case 0: return null ? SehFaultKind::AvReadNullPtr : SehFaultKind::AvReadBadPtr;
    case 1: return null ? SehFaultKind::AvWriteNullPtr : SehFaultKind::AvWriteBadPtr;
    case 8: return null ? SehFaultKind::AvDepNullPtr : SehFaultKind::AvDepBadPtr;
    default: return SehFaultKind::Generic;
  }
}

std::wstring ComposeSehMessage(SehFaultKind kind, std::wstring_view firstLine,
                               std::wstring_view stackTrace) {
  std::wstring text = L"[";
  text += SehFaultKindName(static_cast<uint32_t>(kind));
  text += L"] ";
  text += firstLine;
  text += stackTrace;
  return text;
}

std::wstring FormatUnhandledFirstLine(uint32_t code, uint64_t address) {
  return std::wstring(L"[") + ExceptionTypeName(static_cast<int>(ExceptionType::Unhandled)) +
         L"] " + CodeAndAddress(code, address);
}

std::wstring FormatFrameLine(const StackFrameInfo& frame) {
  std::wstring line = L"[0x" + HexText(frame.address, 8) + L"]  ";
  line += frame.symbol ? *frame.symbol + L"()" : std::wstring(L"-----");
  if (frame.file) {
    const size_t slash = frame.file->rfind(L'\\');
    line += L" -> ";
    line += slash == std::wstring::npos ? *frame.file : frame.file->substr(slash + 1);
    line += L":" + std::to_wstring(frame.line);
  }
  line += L"\r\n";
  return line;
}

std::wstring FormatModuleBaseLine(uint64_t moduleBase) {
  return L"[0x" + HexText(moduleBase, 8) + L"]  MODULE_BASE_ADDRESS\r\n";
}

bool HasStackTrace(std::wstring_view text) {
  return text.find(kStackTraceHeader) != std::wstring_view::npos;
}

std::optional<SourceLocation> FirstFrameLocation(std::wstring_view stackTrace) {
  size_t start = stackTrace.find(kStackTraceHeader);
  if (start == std::wstring_view::npos) return std::nullopt;
  start += kStackTraceHeader.size();
  const size_t end = stackTrace.find(L"\r\n", start);
  const std::wstring_view frame =
      stackTrace.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos
                                                               : end - start);
  // The module-base line ends every trace; it is no frame.
  if (frame.find(L"MODULE_BASE_ADDRESS") != std::wstring_view::npos) return std::nullopt;
  const size_t arrow = frame.find(L" -> ");
  if (arrow == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view where = frame.substr(arrow + 4);
  const size_t colon = where.rfind(L':');
  if (colon == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view file = Trim(where.substr(0, colon));
  const std::wstring_view number = Trim(where.substr(colon + 1));
  if (file.empty() || number.empty() || number.size() > 9) return std::nullopt;
  int line = 0;
  for (wchar_t c : number) {
    if (c < L'0' || c > L'9') return std::nullopt;
    line = line * 10 + (c - L'0');
  }
  return SourceLocation{std::wstring(file), line};
}

std::wstring FirstLine(std::wstring_view text) {
  const size_t end = text.find_first_of(L"\r\n");
  return std::wstring(text.substr(0, end));
}

std::vector<std::wstring> NonEmptyLines(std::wstring_view text) {
  std::vector<std::wstring> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t end = text.find_first_of(L"\r\n", pos);
    const std::wstring_view line =
        text.substr(pos, end == std::wstring_view::npos ? std::wstring_view::npos : end - pos);
    if (!line.empty()) lines.emplace_back(line);
    if (end == std::wstring_view::npos) break;
    pos = end + 1;
  }
  return lines;
}

std::vector<std::wstring> ReportLogLines(const ExceptionReport& report) {
  std::vector<std::wstring> lines;
  lines.push_back(report.typeName + L": " + report.message);
  std::wstring_view details = report.details;
  // The details begin with the message line, already logged above.
  if (details.substr(0, report.message.size()) == report.message)
    details.remove_prefix(report.message.size());
  for (std::wstring& line : NonEmptyLines(details)) lines.push_back(std::move(line));
  return lines;
}

ExceptionReport ReportOf(const Exception& e) {
  ExceptionReport report;
  report.typeName = e.GetTypeName();
  report.message = FirstLine(e.Message());
  report.sourceFile = e.SourceFile();
  report.sourceLine = e.SourceLine();
  report.details = report.message + L"\r\nRaised at: " + e.SourceFile() + L":" +
                   std::to_wstring(e.SourceLine()) + L", code 0x" + HexText(e.Code(), 8) +
                   e.Message().substr(report.message.size());
  return report;
}

int ErrorDialogLineCount(std::wstring_view message) {
  // Lines end at "\r\n", "\n" or "\r"; a line end at the very end opens no
  // further line.
  int lines = 0;
  size_t pos = 0;
  while (pos < message.size()) {
    ++lines;
    const size_t end = message.find_first_of(L"\r\n", pos);
    if (end == std::wstring_view::npos) break;
    pos = end + (message.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
  }
  return std::clamp(lines + 1, 3, 30);
}

ErrorDialogLayout LayoutErrorDialog(std::wstring_view message) {
  ErrorDialogLayout l;
  l.lines = ErrorDialogLineCount(message);
  // 8.3 units per line, in tenths; fractions are cut as the template's
  // whole units require.
  const int row = (l.lines - 3) * 83 / 10;
  l.height = row + 60;
  const int buttons = row + 41;
  l.icon = {10, 10, 21, 21};
  l.message = {38, 10, 306, l.lines * 83 / 10};
  l.close = {296, buttons, 50, 14};
  l.send = {225, buttons, 65, 14};
  l.details = {5, buttons, 50, 14};
  l.detailsEdit = {4, row + 55, 342, 200};
  l.copy = {296, row + 260, 50, 14};
  l.expandedHeight = l.copy.y + l.copy.cy + 5;
  return l;
}

bool HasInteractiveDesktop(const DesktopFacts& desktop) {
  return !desktop.sessionZero && !desktop.localSystem && desktop.visibleWindowStation;
}

bool MayShowErrorDialog(bool promptsAllowed, const DesktopFacts& desktop) {
  return promptsAllowed && HasInteractiveDesktop(desktop);
}

const wchar_t* NoDesktopReason(const DesktopFacts& desktop) {
  if (desktop.sessionZero) return L"session 0";
  if (desktop.localSystem) return L"the LocalSystem account";
  if (!desktop.visibleWindowStation) return L"no interactive window station";
  return L"";
}

}  // namespace prereq
