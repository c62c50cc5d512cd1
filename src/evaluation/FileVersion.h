#pragma once
#include <cstdint>
#include <string>

namespace prereq {

struct FileVersionResult {
  uint32_t versionMS = 0;  // major << 16 | minor
  uint32_t versionLS = 0;  // build << 16 | revision
  uint32_t error = 0;      // 0, the platform's last error, or 8 (no memory)
};

// The fixed file version of an executable file.
FileVersionResult GetFileVersion(const std::wstring& path);

// The ProductName of a file's version information; false when it has none or
// it is empty.
bool GetProductName(const std::wstring& path, std::wstring& name);

}  // namespace prereq
