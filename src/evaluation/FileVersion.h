#pragma once
#include <cstdint>
#include <string>

namespace prereq {

struct FileVersionResult {
  uint32_t versionMS = 0;  // major << 16 | minor
  uint32_t versionLS = 0;  // build << 16 | revision
  uint32_t error = 0;      // 0, the platform's last error, or 8 (no memory)
};

// The fixed file version of an executable file. On Windows 10 or later a file
// under the Windows folder is read from a temporary copy.
FileVersionResult GetFileVersion(const std::wstring& path);

// The rule for the copy: Windows 10 or later and the path begins with the
// Windows folder (case-sensitive).
bool ReadsFromCopy(const std::wstring& path);
// Reads the version from a "shim_clone" copy in the program's temporary folder
// (made with file-system redirection off, deleted afterwards); from the file
// itself when no copy can be made.
FileVersionResult GetFileVersionFromCopy(const std::wstring& path);

struct LibraryVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  bool ok = false;
};

// A library's own version report (DllGetVersion), or the high word of its file
// version as major with minor 0.
LibraryVersion GetLibraryVersion(const std::wstring& path);

// The ProductName of a file's version information; false when it has none or
// it is empty.
bool GetProductName(const std::wstring& path, std::wstring& name);

}  // namespace prereq
