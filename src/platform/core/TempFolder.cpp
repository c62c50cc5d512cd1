#include "platform/core/TempFolder.h"

#include <windows.h>

#include "platform/core/PathForms.h"
#include "platform/core/Security.h"

namespace prereq {

namespace {
using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);

std::wstring SystemTempFolder() {
  static const auto getTempPath2 = reinterpret_cast<GetTempPath2Fn>(
      ::GetProcAddress(::GetModuleHandleW(L"Kernel32.dll"), "GetTempPath2W"));
  wchar_t buffer[MAX_PATH + 1] = {};
  std::wstring folder;
  if (getTempPath2 != nullptr) {
    DWORD n = getTempPath2(MAX_PATH, buffer);
    if (n > 0 && n <= MAX_PATH) folder.assign(buffer, n);
  } else {
    UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    folder.assign(buffer, n);
    if (folder.back() == L'\\') folder.pop_back();
    folder += L"\\SystemTemp\\";
  }
  if (!folder.empty() && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    CreateFolderWithSddl(folder, kSystemTempSddl);  // failure ignored
  }
  return folder;
}
}  // namespace

std::wstring ComputeTempFolder(bool localSystem) {
  std::wstring folder;
  if (localSystem) {
    folder = SystemTempFolder();
  } else {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, buffer);
    if (n > 0 && n <= MAX_PATH) folder.assign(buffer, n);
  }
  return FromLongPathForm(folder);
}

const std::wstring& ProgramTempFolder() {
  static const std::wstring folder = ComputeTempFolder(IsLocalSystem());
  return folder;
}

}  // namespace prereq
