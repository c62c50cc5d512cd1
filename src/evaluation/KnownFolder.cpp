#include "evaluation/KnownFolder.h"

#include <objbase.h>

#include "platform/core/Handles.h"

namespace prereq {

bool GetKnownFolderPath(REFKNOWNFOLDERID id, std::wstring& path) {
  PWSTR buffer = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &buffer);
  // The shell's buffer is ours to free whether the call succeeded or not.
  ScopeGuard freeBuffer([&buffer] { ::CoTaskMemFree(buffer); });
  if (FAILED(hr) || buffer == nullptr) return false;
  path.assign(buffer);
  return true;
}

}  // namespace prereq
