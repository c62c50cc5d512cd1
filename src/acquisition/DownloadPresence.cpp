// The presence rule against the file system of this machine.
#include <windows.h>

#include "acquisition/Acceptance.h"
#include "acquisition/DownloadRules.h"
#include "platform/core/PathForms.h"

namespace prereq {

bool SizeOfFileAt(const std::wstring& path, uint64_t& size) {
  if (ExceedsPathLimit(path)) return false;  // no system call takes it
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(ToLongPathForm(path).c_str(), GetFileExInfoStandard, &data))
    return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsPresent(const Prerequisite& prereq, const std::wstring& downloadFolder) {
  return IsPresentWith(prereq, downloadFolder, &SizeOfFileAt);
}

}  // namespace prereq
