#include "platform/core/Exception.h"

namespace prereq {

const wchar_t* ExceptionTypeName(int type) {
  switch (type) {
    case 0: return L"EXCEPTION_STD";
    case 1: return L"EXCEPTION_UNHANDLED";
    case 2: return L"EXCEPTION_GENERIC";
    case 3: return L"EXCEPTION_WIN32";
    case 4: return L"EXCEPTION_CMD";
    case 5: return L"EXCEPTION_XML_PARSE";
    case 6: return L"EXCEPTION_ERROR_SIGNALING";
    case 7: return L"EXCEPTION_SEH";
    default: return L"Exception ???";
  }
}

static std::wstring WidenAscii(const char* text) {
  std::wstring out;
  for (const char* p = text ? text : ""; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

Exception::Exception(std::wstring message, const char* sourceFile, int sourceLine, uint32_t code)
    : message_(std::move(message)), code_(code), sourceFile_(WidenAscii(sourceFile)),
      sourceLine_(sourceLine) {}

void Raise(const std::wstring& message, const char* sourceFile, int sourceLine, uint32_t code) {
  throw Exception(message, sourceFile, sourceLine, code);
}

}  // namespace prereq
