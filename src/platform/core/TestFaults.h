#pragma once
// Failures on purpose, for the unit tests and for the test build of the
// program (PREREQ_TEST_HOOKS); the shipped program does not include this.
// Each fault uses values the compiler cannot know, so that the faulting
// instruction is really executed.
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>

#include "platform/core/Exception.h"

namespace prereq::testfaults {

enum class Fault {
  NullRead, BadRead, NullWrite, NullCall, DivideByZero, StackOverflow,
  Raise, BadAlloc, Unknown, Terminate,
};

// The fault named by a text of the test build's environment ("av-read",
// ...); false when the text names none.
inline bool FaultByName(const char* name, Fault& fault) {
  static const struct {
    const char* name;
    Fault fault;
  } kNames[] = {
      {"av-read", Fault::NullRead},       {"av-bad-read", Fault::BadRead},
      {"av-write", Fault::NullWrite},     {"av-exec", Fault::NullCall},
      {"div0", Fault::DivideByZero},      {"stack-overflow", Fault::StackOverflow},
      {"throw", Fault::Raise},            {"bad-alloc", Fault::BadAlloc},
      {"unknown", Fault::Unknown},       {"terminate", Fault::Terminate},
  };
  for (const auto& entry : kNames) {
    if (std::strcmp(entry.name, name) == 0) {
      fault = entry.fault;
      return true;
    }
  }
  return false;
}

[[gnu::noinline]] inline int ReadAt(uintptr_t address) {
  volatile int* volatile pointer = reinterpret_cast<volatile int*>(address);
  return *pointer;
}

[[gnu::noinline]] inline void WriteAt(uintptr_t address) {
  volatile int* volatile pointer = reinterpret_cast<volatile int*>(address);
  *pointer = 1;
}

[[gnu::noinline]] inline void CallNull() {
  void (*volatile function)() = nullptr;
  function();
}

[[gnu::noinline]] inline int DivideBy(int divisor) {
  volatile int zero = divisor;
  volatile int result = 1000 / zero;
  return result;
}

[[gnu::noinline]] inline int Recurse(int depth) {
  volatile char block[4096];
  block[0] = static_cast<char>(depth);
  block[sizeof block - 1] = block[0];
  return Recurse(depth + 1) + block[sizeof block - 1];
}

// Addresses the tests expect in the reports.
inline constexpr uintptr_t kBadAddress = 0x10;

[[gnu::noinline]] inline void Cause(Fault fault) {
  switch (fault) {
    case Fault::NullRead: ReadAt(0); break;
    case Fault::BadRead: ReadAt(kBadAddress); break;
    case Fault::NullWrite: WriteAt(0); break;
    case Fault::NullCall: CallNull(); break;
    case Fault::DivideByZero: DivideBy(0); break;
    case Fault::StackOverflow: Recurse(0); break;
    case Fault::Raise: PREREQ_RAISE_RANGE();
    case Fault::BadAlloc: throw std::bad_alloc();
    case Fault::Unknown: throw 42;
    case Fault::Terminate: std::terminate();
  }
}

}  // namespace prereq::testfaults
