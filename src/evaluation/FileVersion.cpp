#include "evaluation/FileVersion.h"

#include <windows.h>

#include <new>
#include <vector>

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {
// Reads the whole version information block; the platform error on failure.
uint32_t ReadVersionInfo(const std::wstring& path, std::vector<BYTE>& data) {
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return ::GetLastError();
  try {
    data.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return ::GetLastError();
  return 0;
}
}  // namespace

FileVersionResult GetFileVersion(const std::wstring& path) {
  FileVersionResult result;
  std::vector<BYTE> data;
  result.error = ReadVersionInfo(path, data);
  if (result.error != 0) return result;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) ||
      info == nullptr || len < sizeof(VS_FIXEDFILEINFO)) {
    result.error = ::GetLastError();
    if (result.error == 0) result.error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return result;
  }
  result.versionMS = info->dwFileVersionMS;
  result.versionLS = info->dwFileVersionLS;
  return result;
}

bool GetProductName(const std::wstring& path, std::wstring& name) {
  std::vector<BYTE> data;
  if (ReadVersionInfo(path, data) != 0) return false;
  unsigned language = 1033, codePage = 1250;
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT len = 0;
  if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &len) &&
      translation != nullptr && len >= sizeof(Translation)) {
    language = translation->language;
    codePage = translation->codePage;
  }
  std::wstring query =
      Format(L"\\StringFileInfo\\%04x%04x\\%s", {language, codePage, L"ProductName"});
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &len) ||
      value == nullptr || len == 0 || value[0] == L'\0')
    return false;
  name.assign(value);
  return true;
}

}  // namespace prereq
