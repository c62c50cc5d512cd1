#pragma once
// The system's exception family. Conditions that should not happen in normal
// use (index out of range, allocation failure, invalid length) are raised as
// these; everything that can fail in normal use returns a 32-bit code instead.
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

class IException {
 public:
  virtual ~IException() = default;
  // Throws a copy of the object as its own dynamic type.
  [[noreturn]] virtual void Throw() const = 0;
  virtual std::unique_ptr<IException> Clone() const = 0;
  virtual int GetType() const = 0;
  virtual const wchar_t* GetTypeName() const = 0;
};

class Exception : public IException, public std::exception {
 public:
  Exception(std::wstring message, const char* sourceFile, int sourceLine,
            uint32_t code = kErrorGenericException);

  [[noreturn]] void Throw() const override { throw *this; }
  std::unique_ptr<IException> Clone() const override {
    return std::make_unique<Exception>(*this);
  }
  int GetType() const override { return static_cast<int>(ExceptionType::Generic); }
  const wchar_t* GetTypeName() const override { return L"EXCEPTION_GENERIC"; }
  const char* what() const noexcept override { return "prereq::Exception"; }

  const std::wstring& Message() const { return message_; }
  uint32_t Code() const { return code_; }
  void SetCode(uint32_t code) { code_ = code; }
  const std::wstring& SourceFile() const { return sourceFile_; }
  int SourceLine() const { return sourceLine_; }

 private:
  std::wstring message_;
  uint32_t code_;
  std::wstring sourceFile_;
  int sourceLine_;
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
