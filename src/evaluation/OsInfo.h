#pragma once
// The running Windows system, identified once per process.
#include <cstdint>

namespace prereq {

struct OsInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t servicePackMajor = 0;
  bool isServer = false;        // the product type is not a workstation
  bool is64BitWindows = false;  // this 32-bit process runs under WOW64
};

// The process-wide record, filled on the first call (thread-safe).
const OsInfo& GetOsInfo();

// The decimal conversion of "CurrentBuildNumber": an optional leading "-" and
// digits; any other character ends the number.
uint32_t ParseBuildNumber(const wchar_t* text, size_t length);

}  // namespace prereq
