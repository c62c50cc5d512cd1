#include "platform/core/Security.h"

#include <sddl.h>

#include <vector>

#include "platform/core/Handles.h"

namespace prereq {

bool IsLocalSystem() {
  KernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return false;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  return ::IsWellKnownSid(user->User.Sid, WinLocalSystemSid) != FALSE;
}

LocalMemory SecurityDescriptorFromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
    return LocalMemory();
  return LocalMemory(sd);
}

BOOL CreateFolderWithSddl(const std::wstring& path, const wchar_t* sddl) {
  LocalMemory sd = SecurityDescriptorFromSddl(sddl);
  if (!sd) return FALSE;
  SECURITY_ATTRIBUTES sa{sizeof(sa), sd.get(), FALSE};
  return ::CreateDirectoryW(path.c_str(), &sa);
}

DesktopFacts CurrentDesktopFacts() {
  DesktopFacts facts;
  DWORD session = 0;
  facts.sessionZero =
      ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) != FALSE && session == 0;
  facts.localSystem = IsLocalSystem();
  USEROBJECTFLAGS flags{};
  HWINSTA station = ::GetProcessWindowStation();
  facts.visibleWindowStation =
      station != nullptr &&
      ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) != FALSE &&
      (flags.dwFlags & WSF_VISIBLE) != 0;
  return facts;
}

}  // namespace prereq
