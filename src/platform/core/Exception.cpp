#include "platform/core/Exception.h"

#include <atomic>

#include "platform/core/ExceptionRules.h"

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

const wchar_t* SehFaultKindName(uint32_t kind) {
  switch (kind) {
    case 1: return L"SEH_AV_READ_NULLPTR";
    case 2: return L"SEH_AV_READ_BADPTR";
    case 3: return L"SEH_AV_WRITE_NULLPTR";
    case 4: return L"SEH_AV_WRITE_BADPTR";
    case 5: return L"SEH_AV_DEP_NULLPTR";
    case 6: return L"SEH_AV_DEP_BADPTR";
    default: return L"SEH_GENERIC";
  }
}

const char* SehCodeName(uint32_t code) {
  switch (code) {
    case 0xC0000005: return "ACCESS_VIOLATION";
    case 0x80000002: return "DATATYPE_MISALIGNMENT";
    case 0x80000003: return "BREAKPOINT";
    case 0x80000004: return "SINGLE_STEP";
    case 0x80000001: return "GUARD_PAGE";
    case 0xC000008C: return "ARRAY_BOUNDS_EXCEEDED";
    case 0xC000008D: return "FLT_DENORMAL_OPERAND";
    case 0xC000008E: return "FLT_DIVIDE_BY_ZERO";
    case 0xC000008F: return "FLT_INEXACT_RESULT";
    case 0xC0000090: return "FLT_INVALID_OPERATION";
    case 0xC0000091: return "FLT_OVERFLOW";
    case 0xC0000092: return "FLT_STACK_CHECK";
    case 0xC0000093: return "FLT_UNDERFLOW";
    case 0xC0000094: return "INT_DIVIDE_BY_ZERO";
    case 0xC0000095: return "INT_OVERFLOW";
    case 0xC0000096: return "PRIV_INSTRUCTION";
    case 0xC0000006: return "IN_PAGE_ERROR";
    case 0xC000001D: return "ILLEGAL_INSTRUCTION";
    case 0xC0000025: return "NONCONTINUABLE_EXCEPTION";
    case 0xC00000FD: return "STACK_OVERFLOW";
    case 0xC0000026: return "INVALID_DISPOSITION";
    case 0xC0000008: return "INVALID_HANDLE";
    default: return nullptr;
  }
}

namespace {

std::atomic<StackTraceProvider> stackTraceProvider{nullptr};

std::wstring WidenAscii(const char* text) {
  std::wstring out;
  for (const char* p = text ? text : ""; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

}  // namespace

void SetStackTraceProvider(StackTraceProvider provider) { stackTraceProvider = provider; }

const void* IException::Shared() const {
  static const int shared = 0;
  return &shared;
}

Exception::Exception(std::wstring message, const char* sourceFile, int sourceLine, uint32_t code)
    : Exception(std::move(message), WidenAscii(sourceFile), sourceLine, code) {}

Exception::Exception(std::wstring message, std::wstring sourceFile, int sourceLine,
                     uint32_t code)
    : message_(std::move(message)), code_(code), sourceFile_(std::move(sourceFile)),
      sourceLine_(sourceLine) {}

void Exception::AppendStackTrace() {
  if (HasStackTrace(message_)) return;
  const StackTraceProvider provider = stackTraceProvider;
  if (provider == nullptr) return;
  const std::wstring trace = provider(kReportStackFrames);
  if (trace.empty()) return;
  message_ += L"\r\n";
  message_ += trace;
}

std::unique_ptr<IException> Exception::Clone(bool withStackTrace) const {
  auto copy = std::make_unique<Exception>(*this);
  if (withStackTrace) copy->AppendStackTrace();
  return copy;
}

SehException::SehException(std::wstring message, std::wstring sourceFile, int sourceLine,
                           SehFaultKind kind)
    : Exception(std::move(message), std::move(sourceFile), sourceLine),
      kind_(static_cast<uint32_t>(kind)) {}

std::unique_ptr<IException> SehException::Clone(bool withStackTrace) const {
  auto copy = std::make_unique<SehException>(*this);
  if (withStackTrace) copy->AppendStackTrace();
  return copy;
}

void Raise(const std::wstring& message, const char* sourceFile, int sourceLine, uint32_t code) {
  throw Exception(message, sourceFile, sourceLine, code);
}

}  // namespace prereq
