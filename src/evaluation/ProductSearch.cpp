// Windows Installer products and components, and detection programs.
#include <windows.h>
#include <msi.h>

#include "evaluation/FolderProperties.h"
#include "evaluation/SearchKinds.h"
#include "execution/ProcessUtil.h"

namespace prereq::searches {

namespace {

constexpr DWORD kProductCodeLength = 38;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
constexpr int kMoreDataTries = 4;         // a text that keeps growing is given up

// The installed product's "VersionString"; false when the query fails.
bool ProductVersion(const wchar_t* productCode, std::wstring& version) {
  DWORD size = 0;
  UINT result = ::MsiGetProductInfoW(productCode, INSTALLPROPERTY_VERSIONSTRING, nullptr, &size);
  if (result != ERROR_SUCCESS) return false;
  for (int attempt = 0; attempt < kMoreDataTries; ++attempt) {
    std::wstring buffer(static_cast<size_t>(size) + 1, L'\0');
    DWORD length = size + 1;
    result = ::MsiGetProductInfoW(productCode, INSTALLPROPERTY_VERSIONSTRING, buffer.data(), &length);
    if (result == ERROR_MORE_DATA) {
      size = length;
      continue;
    }
    if (result != ERROR_SUCCESS) return false;
    buffer.resize(length);
    version = std::move(buffer);
    return true;
  }
  return false;
}

}  // namespace

void CollectProductVersion(const std::wstring& productCode, std::vector<std::wstring>& values) {
  std::wstring version;
  if (ProductVersion(productCode.c_str(), version)) values.push_back(std::move(version));
}

void CollectRelatedVersions(const std::wstring& upgradeCode, std::vector<std::wstring>& values) {
  wchar_t product[kProductCodeLength + 1];
  for (DWORD index = 0;; ++index) {
    // ERROR_NO_MORE_ITEMS ends the list; a malformed code ends it at once.
    if (::MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, index, product) != ERROR_SUCCESS) break;
    std::wstring version;
    if (ProductVersion(product, version)) values.push_back(std::move(version));
  }
}

bool ComponentInstalled(const std::wstring& componentCode) {
  DWORD size = 0;
  INSTALLSTATE state = ::MsiLocateComponentW(componentCode.c_str(), nullptr, &size);
  for (int attempt = 0; attempt < kMoreDataTries; ++attempt) {
    if (state != INSTALLSTATE_MOREDATA && state != INSTALLSTATE_LOCAL &&
        state != INSTALLSTATE_SOURCE)
      break;  // absent, unknown or broken: no path to read
    std::wstring path(static_cast<size_t>(size) + 1, L'\0');
    DWORD length = size + 1;
    state = ::MsiLocateComponentW(componentCode.c_str(), path.data(), &length);
    if (state != INSTALLSTATE_MOREDATA) break;
    size = length;
  }
  return state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_SOURCE;
}

bool DetectionProgramSucceeds(const PrereqList& list, const SearchEntry& entry) {
  const std::wstring program = list.GetSearchFile(entry);
  if (program.empty()) return false;  // no shipped file to start
  const std::wstring commandLine = ExpandProperties(entry.SearchCmdLine, false);
  // A program the shell hands over without a process of its own tells no
  // exit code: it does not count as having answered 0.
  DWORD exitCode = STILL_ACTIVE;
  const bool started = ProcessUtil::ShellExecuteAndWait(program, commandLine, std::wstring(),
                                                        entry.RefContent == L"WND_HIDE", exitCode);
  return started && exitCode == 0;
}

}  // namespace prereq::searches
