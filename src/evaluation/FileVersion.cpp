#include "evaluation/FileVersion.h"

#include <windows.h>
#include <knownfolders.h>

#include <new>
#include <vector>

#include "evaluation/KnownFolder.h"
#include "evaluation/OsConditions.h"
#include "platform/core/Handles.h"
#include "platform/core/TempFolder.h"
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

// What DllGetVersion fills in: the structure of five DWORDs whose first one
// carries its size.
struct DllVersionInfo {
  DWORD cbSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformID;
};
static_assert(sizeof(DllVersionInfo) == 20);
using DllGetVersionFn = HRESULT(CALLBACK*)(DllVersionInfo*);

// The fixed version words of the file itself.
FileVersionResult ReadFixedVersion(const std::wstring& path) {
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

const std::wstring& WindowsFolderPath() {
  static const std::wstring folder = [] {
    std::wstring path;
    return GetKnownFolderPath(FOLDERID_Windows, path) ? path : std::wstring();
  }();
  return folder;
}

}  // namespace

bool ReadsFromCopy(const std::wstring& path) {
  const std::wstring& windows = WindowsFolderPath();
  return IsWindows10OrLater() && !windows.empty() && path.compare(0, windows.size(), windows) == 0;
}

FileVersionResult GetFileVersionFromCopy(const std::wstring& path) {
  const std::wstring& tempFolder = ProgramTempFolder();
  wchar_t copyPath[MAX_PATH] = {};
  if (tempFolder.empty() || ::GetTempFileNameW(tempFolder.c_str(), L"shim_clone", 0, copyPath) == 0)
    return ReadFixedVersion(path);
  // GetTempFileNameW has created the file: it goes whatever happens next.
  const std::wstring copy = copyPath;
  ScopeGuard removeCopy([&copy] { ::DeleteFileW(copy.c_str()); });
  BOOL copied;
  {
    Wow64RedirectionOff redirectionOff;
    copied = ::CopyFileW(path.c_str(), copy.c_str(), FALSE);
  }
  return ReadFixedVersion(copied ? copy : path);
}

FileVersionResult GetFileVersion(const std::wstring& path) {
  return ReadsFromCopy(path) ? GetFileVersionFromCopy(path) : ReadFixedVersion(path);
}

LibraryVersion GetLibraryVersion(const std::wstring& path) {
  LibraryVersion version;
  {
    Library library(::LoadLibraryW(path.c_str()));
    if (library) {
      const auto getVersion =
          reinterpret_cast<DllGetVersionFn>(::GetProcAddress(library.get(), "DllGetVersion"));
      if (getVersion != nullptr) {
        DllVersionInfo info{};
        info.cbSize = sizeof(info);
        if (SUCCEEDED(getVersion(&info))) {
          version.major = info.dwMajorVersion;
          version.minor = info.dwMinorVersion;
          version.ok = true;
          return version;
        }
      }
    }
  }  // unloaded before the file version is read
  const FileVersionResult file = GetFileVersion(path);
  if (file.error != 0) return version;
  version.major = file.versionMS >> 16;
  version.minor = 0;
  version.ok = true;
  return version;
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
