// Folder properties, environment variables and registry references resolved
// on this machine.
#include "evaluation/FolderProperties.h"

#include <windows.h>
#include <knownfolders.h>

#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "evaluation/FileVersion.h"
#include "evaluation/FolderPropertyNames.h"
#include "evaluation/KnownFolder.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"
#include "platform/core/TempFolder.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"

namespace prereq {

namespace {

// A resolved folder: the obtained path with a trailing backslash. A folder the
// platform cannot name (empty path) leaves the property unrecognised.
bool FolderValue(const std::wstring& path, std::wstring& value) {
  if (path.empty()) return false;
  value = path;
  if (value.back() != L'\\') value.push_back(L'\\');
  return true;
}

// The value of an environment variable of any length; empty when it is not
// defined.
std::wstring EnvironmentValue(std::wstring_view name) {
  const std::wstring key(name);
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetEnvironmentVariableW(key.c_str(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};  // not defined (ERROR_ENVVAR_NOT_FOUND) or empty
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');  // n is the size needed, with the terminating NUL
  }
}

// The value of a defined environment variable, also an empty one; false when
// the variable is not defined.
bool DefinedEnvironmentValue(std::wstring_view name, std::wstring& value) {
  value.clear();
  if (name.empty()) return false;
  const std::wstring key(name);
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(key.c_str(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (n == 0) return ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;  // defined and empty
    if (n < buffer.size()) {
      buffer.resize(n);
      value = std::move(buffer);
      return true;
    }
    buffer.assign(n, L'\0');  // n is the size needed, with the terminating NUL
  }
}

// A directory that the platform reports through a (buffer, size) function.
template <typename Query>
std::wstring PlatformDirectory(Query query) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const UINT n = query(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');
  }
}

std::wstring WindowsDirectory() {
  return PlatformDirectory([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
}
std::wstring SystemDirectory() {
  return PlatformDirectory([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
}

struct WStringViewHash {
  using is_transparent = void;
  size_t operator()(std::wstring_view s) const noexcept { return std::hash<std::wstring_view>{}(s); }
};

// The system folder of this process's own bitness. The program is a 32-bit
// process, whose system folder is FOLDERID_SystemX86 (SysWOW64 on 64-bit
// Windows); a 64-bit build's own is FOLDERID_System. That build serves
// machines without a 32-bit subsystem, where no 32-bit system folder exists.
REFKNOWNFOLDERID OwnSystemFolderId() {
  if constexpr (sizeof(void*) == 8) {
    return FOLDERID_System;
  } else {
    return FOLDERID_SystemX86;
  }
}

// The platform's identifier of each known folder.
REFKNOWNFOLDERID KnownFolderId(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::AdminTools: return FOLDERID_AdminTools;
    case KnownFolder::RoamingAppData: return FOLDERID_RoamingAppData;
    case KnownFolder::ProgramData: return FOLDERID_ProgramData;
    case KnownFolder::ProgramFilesCommon: return FOLDERID_ProgramFilesCommon;
    case KnownFolder::Desktop: return FOLDERID_Desktop;
    case KnownFolder::Favorites: return FOLDERID_Favorites;
    case KnownFolder::Fonts: return FOLDERID_Fonts;
    case KnownFolder::LocalAppData: return FOLDERID_LocalAppData;
    case KnownFolder::Pictures: return FOLDERID_Pictures;
    case KnownFolder::NetHood: return FOLDERID_NetHood;
    case KnownFolder::Documents: return FOLDERID_Documents;
    case KnownFolder::PrintHood: return FOLDERID_PrintHood;
    case KnownFolder::ProgramFiles: return FOLDERID_ProgramFiles;
    case KnownFolder::Programs: return FOLDERID_Programs;
    case KnownFolder::Recent: return FOLDERID_Recent;
    case KnownFolder::SendTo: return FOLDERID_SendTo;
    case KnownFolder::StartMenu: return FOLDERID_StartMenu;
    case KnownFolder::SystemX86: return OwnSystemFolderId();
    case KnownFolder::System: return FOLDERID_System;
    case KnownFolder::Startup: return FOLDERID_Startup;
    case KnownFolder::Templates: return FOLDERID_Templates;
    case KnownFolder::PublicDesktop: return FOLDERID_PublicDesktop;
  }
  return FOLDERID_ProgramFiles;  // not reached: every folder has its case
}

using KnownFolderTable =
    std::unordered_map<std::wstring, KnownFolder, WStringViewHash, std::equal_to<>>;

// Installer folder property names and the known folders they stand for.
const KnownFolderTable& KnownFolders() {
  static const KnownFolderTable table = [] {
    KnownFolderTable t;
    for (const KnownFolderProperty& p : KnownFolderProperties())
      t.emplace(std::wstring(p.name), p.folder);
    return t;
  }();
  return table;
}

bool KnownFolderValue(REFKNOWNFOLDERID id, std::wstring& value) {
  std::wstring path;
  return GetKnownFolderPath(id, path) && FolderValue(path, value);
}

std::wstring& SetupFolderOverride() {
  static std::wstring folder;
  return folder;
}

const std::wstring& SetupExeDir() {
  if (!SetupFolderOverride().empty()) return SetupFolderOverride();
  static const std::wstring folder = [] {
    std::wstring path = GetModulePath();
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  }();
  return folder;
}

// The shell's major version: Shlwapi's report, or Shell32's when Shlwapi has
// none; 0 when neither answers.
uint32_t ShellMajorVersion() {
  static const uint32_t major = [] {
    // By full path: a bare name is looked for in the program's own folder
    // first, where a planted library would be loaded into this process.
    const std::wstring system = SystemFolder();
    if (system.empty()) return 0u;
    LibraryVersion v = GetLibraryVersion(system + L"\\Shlwapi.dll");
    if (!v.ok) v = GetLibraryVersion(system + L"\\Shell32.dll");
    return v.ok ? v.major : 0u;
  }();
  return major;
}

// Shells before version 5 have no known folders for these two; their
// environment variables stand in.
bool OldShellFolder(std::wstring_view name, std::wstring& value) {
  const wchar_t* variable = nullptr;
  if (name == L"ProgramFilesFolder" || name == L"ProgramFiles")
    variable = L"PROGRAMFILES";
  else if (name == L"AppDataFolder")
    variable = L"APPDATA";
  else
    return false;
  wchar_t buffer[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(variable, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;  // undefined, empty or cut
  return FolderValue(std::wstring(buffer, n), value);
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void SetSetupFolder(std::wstring_view folder) {
  SetupFolderOverride() = WithTrailingBackslash(folder);
}

bool ResolveFolderProperty(std::wstring_view name, bool use64, std::wstring& value) {
  for (const SpecialFolderProperty& special : SpecialFolderProperties()) {
    if (special.name != name) continue;
    switch (special.folder) {
      case SpecialFolder::ProgramFiles64:
        if (FolderValue(EnvironmentValue(L"ProgramW6432"), value)) return true;
        break;  // otherwise through the known-folder table below
      case SpecialFolder::System:
        return KnownFolderValue(use64 ? FOLDERID_System : OwnSystemFolderId(), value);
      case SpecialFolder::System32:
        return FolderValue(SystemDirectory(), value);
      case SpecialFolder::Windows:
        return FolderValue(WindowsDirectory(), value);
      case SpecialFolder::WindowsVolume: {
        const std::wstring windows = WindowsDirectory();
        if (windows.size() < 3) return false;  // no drive to take
        return FolderValue(windows.substr(0, 3), value);
      }
      case SpecialFolder::Temp:
        return FolderValue(ProgramTempFolder(), value);
      case SpecialFolder::SetupExeDir:
        return FolderValue(SetupExeDir(), value);
    }
    break;
  }

  const KnownFolderTable& table = KnownFolders();
  if (auto it = table.find(name);
      it != table.end() && KnownFolderValue(KnownFolderId(it->second), value))
    return true;

  if (ShellMajorVersion() < 5) return OldShellFolder(name, value);
  return false;
}

std::wstring ExpandProperties(std::wstring_view text, bool use64) {
  ReferenceResolver resolver;
  resolver.folderProperty = [use64](std::wstring_view name, std::wstring& value) {
    return ResolveFolderProperty(name, use64, value);
  };
  resolver.environment = [](std::wstring_view name, std::wstring& value) {
    return DefinedEnvironmentValue(name, value);
  };
  resolver.registry = [use64](std::wstring_view path) { return ReadRegistryText(path, use64); };
  return ExpandReferences(text, resolver);
}

HKEY RegistryRoot(std::wstring_view path) {
  const size_t slash = path.find(L'\\');
  if (slash == std::wstring_view::npos) return nullptr;
  const std::wstring_view root = path.substr(0, slash);
  if (EqualsNoCase(root, L"HKLM") || EqualsNoCase(root, L"HKEY_LOCAL_MACHINE"))
    return HKEY_LOCAL_MACHINE;
  if (EqualsNoCase(root, L"HKCU") || EqualsNoCase(root, L"HKEY_CURRENT_USER"))
    return HKEY_CURRENT_USER;
  if (EqualsNoCase(root, L"HKCR") || EqualsNoCase(root, L"HKEY_CLASSES_ROOT"))
    return HKEY_CLASSES_ROOT;
  if (EqualsNoCase(root, L"HKCC") || EqualsNoCase(root, L"HKEY_CURRENT_CONFIG"))
    return HKEY_CURRENT_CONFIG;
  return HKEY_USERS;
}

bool ReadValueText(HKEY key, const std::wstring& valueName, std::wstring& text) {
  std::vector<BYTE> data(200);
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(data.size());
  LSTATUS status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size);
  while (status == ERROR_MORE_DATA) {
    data.assign(static_cast<size_t>(size) + 2, 0);
    size = static_cast<DWORD>(data.size());
    status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size);
  }
  if (status != ERROR_SUCCESS) return false;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
      std::wstring value(size / sizeof(wchar_t), L'\0');
      if (!value.empty()) std::memcpy(value.data(), data.data(), value.size() * sizeof(wchar_t));
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      text = std::move(value);
      return true;
    }
    case REG_DWORD: {
      // Data shorter than a DWORD is malformed: nothing to format.
      if (size < sizeof(DWORD)) return false;
      DWORD number = 0;
      std::memcpy(&number, data.data(), sizeof(number));
      text = Format(L"%u", {static_cast<unsigned long>(number)});
      return true;
    }
    default:
      return false;
  }
}

std::wstring ReadRegistryText(std::wstring_view path, bool use64) {
  const HKEY root = RegistryRoot(path);
  if (root == nullptr) return {};
  const size_t first = path.find(L'\\');
  const size_t last = path.rfind(L'\\');
  const std::wstring keyPath(first < last ? path.substr(first + 1, last - first - 1)
                                          : std::wstring_view());
  const std::wstring valueName(path.substr(last + 1));
  RegKey key;
  if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | (use64 ? KEY_WOW64_64KEY : 0),
                      key.put()) != ERROR_SUCCESS)
    return {};
  std::wstring text;
  if (!ReadValueText(key.get(), valueName, text)) return {};
  return text;
}

}  // namespace prereq
