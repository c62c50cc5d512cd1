#include "evaluation/OsInfo.h"

#include <windows.h>

#include <mutex>

#include "platform/core/Handles.h"

namespace prereq {

namespace {

bool ReadDword(HKEY key, const wchar_t* name, uint32_t& out) {
  DWORD value = 0, size = sizeof(value), type = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return false;
  out = value;
  return true;
}

// Reads a text value into a buffer of `bytes` bytes; false when unreadable.
bool ReadText(HKEY key, const wchar_t* name, size_t bytes, std::wstring& out) {
  std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD size = static_cast<DWORD>(bytes), type = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  buffer.resize(size / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  out = std::move(buffer);
  return true;
}

// Windows is 64-bit: this 32-bit process runs under WOW64 (a 64-bit build of
// the program is on 64-bit Windows by definition).
bool IsWindows64() {
#if defined(_WIN64)
  return true;
#else
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  static const auto fn = reinterpret_cast<IsWow64ProcessFn>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "IsWow64Process"));
  BOOL wow64 = FALSE;
  return fn != nullptr && fn(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

OsInfo ReadOsInfo() {
  OsInfo os;
  RegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
    return os;
  ReadDword(key.get(), L"CurrentMajorVersionNumber", os.majorVersion);
  ReadDword(key.get(), L"CurrentMinorVersionNumber", os.minorVersion);
  std::wstring text;
  if (os.majorVersion == 0 && ReadText(key.get(), L"CurrentVersion", 32, text) &&
      text.size() == 3) {
    os.majorVersion = static_cast<uint32_t>(text[0] - L'0');
    os.minorVersion = static_cast<uint32_t>(text[2] - L'0');
  }
  if (ReadText(key.get(), L"CurrentBuildNumber", 520, text))
    os.buildNumber = ParseBuildNumber(text.data(), text.size());
  if (os.majorVersion == 10 && os.buildNumber > 21999) os.majorVersion = 11;
  if (ReadText(key.get(), L"CSDVersion", 520, text) && !text.empty())
    os.servicePackMajor = static_cast<uint32_t>(text.back() - L'0');
  os.is64BitWindows = IsWindows64();

  RegKey options;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                      0, KEY_READ | KEY_WOW64_64KEY, options.put()) == ERROR_SUCCESS &&
      ReadText(options.get(), L"ProductType", 520, text))
    os.isServer = text != L"WinNT";
  return os;
}

}  // namespace

const OsInfo& GetOsInfo() {
  static const OsInfo info = ReadOsInfo();
  return info;
}

}  // namespace prereq
