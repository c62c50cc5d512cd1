#include "execution/ErrorText.h"

#include <windows.h>

#include "platform/core/Handles.h"
#include "platform/core/TextFormat.h"

namespace prereq {

std::wstring ErrorText(uint32_t code) {
  std::wstring text = SystemMessageText(code);
  if (text.empty()) return Format(L"%d", {static_cast<int32_t>(code)});
  return text;
}

std::wstring SystemMessageText(uint32_t code) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  LocalMemory owner(buffer);
  if (n == 0 || buffer == nullptr) return {};
  // System texts end with a line break; a log line must not.
  while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' ')) --n;
  return std::wstring(buffer, n);
}

}  // namespace prereq
