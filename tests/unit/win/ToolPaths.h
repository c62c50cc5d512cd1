#pragma once
// Paths of the test programs built beside the unit tests (build/<arch>/tools).
#include <windows.h>

#include <string>

#include "platform/core/WinText.h"

// The tools folder with a trailing backslash: ..\tools\ from this executable.
inline std::wstring ToolsFolder() {
  std::wstring self = prereq::GetModulePath();
  self.resize(self.rfind(L'\\'));      // the tests folder
  self.resize(self.rfind(L'\\') + 1);  // the build folder, with its backslash
  return self + L"tools\\";
}

inline std::wstring ToolPath(const std::wstring& name) { return ToolsFolder() + name + L".exe"; }

// Lines of a marker file that the exitcode tool appends "ran" to.
inline int MarkerRuns(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  const DWORD size = GetFileSize(h, nullptr);
  CloseHandle(h);
  return static_cast<int>(size / 5);  // "ran\r\n"
}
