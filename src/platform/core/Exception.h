#pragma once
// The system's exception family. Conditions that should not happen in normal
// use (index out of range, allocation failure, invalid length) are raised as
// these; everything that can fail in normal use returns a 32-bit code instead.
// Hardware faults on guarded threads become SehException objects
// (ExceptionHandling.h).
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace prereq {

// Error codes carried by the exceptions raised for programming faults.
inline constexpr uint32_t kErrorRange = 0x8000000B;           // index outside a list
inline constexpr uint32_t kErrorOutOfResources = 0x80004005;  // general failure / no memory
inline constexpr uint32_t kErrorInvalidArgument = 0x80070057; // invalid length or position
// Code every Exception starts with unless the raise site sets another.
inline constexpr uint32_t kErrorGenericException = 0xE0010064;

// Exception type codes (GetType).
enum class ExceptionType : int {
  Std = 0, Unhandled = 1, Generic = 2, Win32 = 3, Cmd = 4, XmlParse = 5,
  ErrorSignaling = 6, Seh = 7,
};

// Name of an exception type code ("Exception ???" for unknown codes).
const wchar_t* ExceptionTypeName(int type);

// What a hardware access fault tried to do, and where (SehException).
enum class SehFaultKind : uint32_t {
  Generic = 0,         // not an access violation, or an unknown access type
  AvReadNullPtr = 1,   // read at address 0
  AvReadBadPtr = 2,    // read at another address
  AvWriteNullPtr = 3,
  AvWriteBadPtr = 4,
  AvDepNullPtr = 5,    // execution (data-execution prevention) at address 0
  AvDepBadPtr = 6,
};

// Name of a fault kind ("SEH_GENERIC" for any value outside the table).
const wchar_t* SehFaultKindName(uint32_t kind);

// Name of a structured-exception code ("ACCESS_VIOLATION" for 0xC0000005);
// nullptr for a code outside the table.
const char* SehCodeName(uint32_t code);

// The text of the stack trace of the calling thread (at most `maxFrames`
// frames), or an empty text where none can be produced. The Windows build
// installs one (InstallProcessGuards); without it Clone adds no trace.
using StackTraceProvider = std::wstring (*)(int maxFrames);
void SetStackTraceProvider(StackTraceProvider provider);

// Frames of the traces appended by Clone and by the fault translation.
inline constexpr int kReportStackFrames = 200;

class IException {
 public:
  // Throws a copy of the object as its own dynamic type.
  [[noreturn]] virtual void Throw() const = 0;
  // A new heap copy. With `withStackTrace`, "\r\n" and a stack trace of the
  // calling thread are appended to the copy's message first, unless the
  // message already holds a stack trace (so a trace is never added twice).
  virtual std::unique_ptr<IException> Clone(bool withStackTrace) const = 0;
  virtual int GetType() const = 0;
  virtual ~IException() = default;
  virtual const wchar_t* GetTypeName() const = 0;
  // One constant object shared by every exception of the process; nothing
  // in the system reads it.
  virtual const void* Shared() const;

  std::unique_ptr<IException> Clone() const { return Clone(false); }
};

class Exception : public IException, public std::exception {
 public:
  // Every constructor starts with kErrorGenericException; `code` overrides it.
  Exception(std::wstring message, const char* sourceFile, int sourceLine,
            uint32_t code = kErrorGenericException);
  Exception(std::wstring message, std::wstring sourceFile, int sourceLine,
            uint32_t code = kErrorGenericException);

  [[noreturn]] void Throw() const override { throw *this; }
  std::unique_ptr<IException> Clone(bool withStackTrace) const override;
  using IException::Clone;
  int GetType() const override { return static_cast<int>(ExceptionType::Generic); }
  const wchar_t* GetTypeName() const override { return L"EXCEPTION_GENERIC"; }
  const char* what() const noexcept override { return "prereq::Exception"; }

  const std::wstring& Message() const { return message_; }
  uint32_t Code() const { return code_; }
  void SetCode(uint32_t code) { code_ = code; }
  const std::wstring& SourceFile() const { return sourceFile_; }
  int SourceLine() const { return sourceLine_; }

 protected:
  // Appends "\r\n" and a trace unless the message already holds one.
  void AppendStackTrace();

 private:
  std::wstring message_;
  uint32_t code_;
  std::wstring sourceFile_;
  int sourceLine_;
};

// A hardware fault or other structured exception of a guarded thread.
class SehException : public Exception {
 public:
  SehException(std::wstring message, std::wstring sourceFile, int sourceLine,
               SehFaultKind kind);

  [[noreturn]] void Throw() const override { throw *this; }
  std::unique_ptr<IException> Clone(bool withStackTrace) const override;
  using IException::Clone;
  int GetType() const override { return static_cast<int>(ExceptionType::Seh); }
  // The fault kind's name (for example "SEH_AV_READ_NULLPTR").
  const wchar_t* GetTypeName() const override { return SehFaultKindName(kind_); }

  uint32_t FaultKind() const { return kind_; }

 private:
  uint32_t kind_;
};

// Raise(message, file, line[, code]): constructs an Exception and throws it.
[[noreturn]] void Raise(const std::wstring& message, const char* sourceFile, int sourceLine,
                        uint32_t code = kErrorGenericException);

}  // namespace prereq

// Raise sites pass their own source path and line.
#define PREREQ_RAISE_RANGE() \
  ::prereq::Raise(L"Index out of range", __FILE__, __LINE__, ::prereq::kErrorRange)
#define PREREQ_RAISE_OUT_OF_RESOURCES() \
  ::prereq::Raise(L"Out of resources", __FILE__, __LINE__, ::prereq::kErrorOutOfResources)
#define PREREQ_RAISE_INVALID_ARGUMENT() \
  ::prereq::Raise(L"Invalid argument", __FILE__, __LINE__, ::prereq::kErrorInvalidArgument)
