#include "platform/core/Handles.h"

#include <string>

namespace prereq {

namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

template <typename T>
T Kernel32Function(const char* name) {
  HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
  return k32 ? reinterpret_cast<T>(::GetProcAddress(k32, name)) : nullptr;
}
}  // namespace

Library LoadSystemLibrary(const wchar_t* fileName) {
  // The library and every library it needs come from the system folder only.
  // Loaded by its full path with the altered search order instead, the
  // libraries it needs would still be looked for in the current folder and
  // along PATH, which the setup's folder can be part of.
  if (Library library{::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)}) return library;
  // Windows 7 without its search-path update does not know the flag; there
  // the full path with the altered search order is the best it has.
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return Library();
  wchar_t folder[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return Library();
  std::wstring path(folder, n);
  if (path.back() != L'\\') path.push_back(L'\\');
  path += fileName;
  return Library(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void LoadLibrariesFromSystemFolderOnly() {
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  static const auto setDirectories = Kernel32Function<SetDirectoriesFn>("SetDefaultDllDirectories");
  if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

Wow64RedirectionOff::Wow64RedirectionOff() {
  static const DisableFn disable = Kernel32Function<DisableFn>("Wow64DisableWow64FsRedirection");
  if (disable != nullptr && disable(&old_)) active_ = true;
}

Wow64RedirectionOff::~Wow64RedirectionOff() {
  static const RevertFn revert = Kernel32Function<RevertFn>("Wow64RevertWow64FsRedirection");
  if (active_ && revert != nullptr) revert(old_);
}

}  // namespace prereq
