#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "evaluation/FolderProperties.h"
#include "evaluation/OsInfo.h"
#include "platform/core/TempFolder.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

std::string U8(const std::wstring& w) { return ToUtf8(w); }

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR p = nullptr;
  std::wstring out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &p))) out = p;
  CoTaskMemFree(p);
  return out;
}

std::wstring Slash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

std::wstring WindowsDir() {
  wchar_t b[MAX_PATH];
  return std::wstring(b, GetWindowsDirectoryW(b, MAX_PATH));
}

// Sets an environment variable for the test's scope and restores it.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t b[32768];
    DWORD n = GetEnvironmentVariableW(name, b, 32768);
    had_ = n > 0;
    if (had_) old_.assign(b, n);
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

 private:
  std::wstring name_, old_;
  bool had_ = false;
};

// A key under HKCU\Software\PrereqTests (or another root), removed afterwards.
class TestKey {
 public:
  explicit TestKey(const std::wstring& sub, HKEY root = HKEY_CURRENT_USER, REGSAM view = 0)
      : root_(root), path_(L"Software\\PrereqTests\\" + sub), view_(view) {
    EXPECT_EQ(RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                              &key_, nullptr),
              ERROR_SUCCESS);
  }
  ~TestKey() {
    RegCloseKey(key_);
    RegDeleteKeyExW(root_, path_.c_str(), view_, 0);
    RegDeleteKeyExW(root_, L"Software\\PrereqTests", view_, 0);  // fails while others use it
  }
  void Set(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    EXPECT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data),
                             static_cast<DWORD>(bytes)),
              ERROR_SUCCESS);
  }
  void SetText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    Set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  HKEY get() const { return key_; }
  const std::wstring& path() const { return path_; }

 private:
  HKEY root_;
  std::wstring path_;
  REGSAM view_;
  HKEY key_ = nullptr;
};

// The system folder of the process's own bitness: the 32-bit one for the
// program, the native one for a 64-bit build (where no 32-bit subsystem may
// exist at all).
#ifdef _WIN64
const KNOWNFOLDERID& kOwnSystem = FOLDERID_System;
#else
const KNOWNFOLDERID& kOwnSystem = FOLDERID_SystemX86;
#endif

TEST(ResolveFolderProperty, KnownFolderTable) {
  const struct {
    const wchar_t* name;
    const KNOWNFOLDERID& id;
  } rows[] = {
      {L"AdminToolsFolder", FOLDERID_AdminTools},
      {L"AppDataFolder", FOLDERID_RoamingAppData},
      {L"CommonAppDataFolder", FOLDERID_ProgramData},
      {L"CommonFiles64Folder", FOLDERID_ProgramFilesCommon},
      {L"CommonFilesFolder", FOLDERID_ProgramFilesCommon},
      {L"DesktopFolder", FOLDERID_Desktop},
      {L"FavoritesFolder", FOLDERID_Favorites},
      {L"FontsFolder", FOLDERID_Fonts},
      {L"LocalAppDataFolder", FOLDERID_LocalAppData},
      {L"MyPicturesFolder", FOLDERID_Pictures},
      {L"NetHoodFolder", FOLDERID_NetHood},
      {L"PersonalFolder", FOLDERID_Documents},
      {L"PrintHoodFolder", FOLDERID_PrintHood},
      {L"ProgramFilesFolder", FOLDERID_ProgramFiles},
      {L"ProgramMenuFolder", FOLDERID_Programs},
      {L"RecentFolder", FOLDERID_Recent},
      {L"SendToFolder", FOLDERID_SendTo},
      {L"StartMenuFolder", FOLDERID_StartMenu},
      {L"System16Folder", kOwnSystem},
      {L"System64Folder", FOLDERID_System},
      {L"StartupFolder", FOLDERID_Startup},
      {L"TemplateFolder", FOLDERID_Templates},
      {L"AllUsersDesktopFolder", FOLDERID_PublicDesktop},
      {L"ProgramFiles", FOLDERID_ProgramFiles},
  };
  for (const auto& row : rows) {
    const std::wstring expected = KnownFolder(row.id);
    ASSERT_FALSE(expected.empty()) << U8(row.name);
    std::wstring value = L"untouched";
    EXPECT_TRUE(ResolveFolderProperty(row.name, false, value)) << U8(row.name);
    EXPECT_EQ(U8(value), U8(Slash(expected))) << U8(row.name);
  }
}

TEST(ResolveFolderProperty, PlatformFolders) {
  wchar_t sys[MAX_PATH];
  const std::wstring system32(sys, GetSystemDirectoryW(sys, MAX_PATH));
  wchar_t module[MAX_PATH];
  std::wstring exe(module, GetModuleFileNameW(nullptr, module, MAX_PATH));
  const std::wstring windows = WindowsDir();
  const struct {
    const wchar_t* name;
    bool use64;
    std::wstring expected;
  } rows[] = {
      {L"SystemFolder", false, Slash(KnownFolder(kOwnSystem))},
      {L"SystemFolder", true, Slash(KnownFolder(FOLDERID_System))},
      {L"System32Folder", false, Slash(system32)},
      {L"WindowsFolder", false, Slash(windows)},
      {L"WindowsVolume", false, windows.substr(0, 3)},
      {L"TempFolder", false, Slash(ProgramTempFolder())},
      {L"SETUPEXEDIR", false, exe.substr(0, exe.rfind(L'\\') + 1)},
  };
  for (const auto& row : rows) {
    std::wstring value;
    ASSERT_GT(row.expected.size(), 1u) << U8(row.name);
    EXPECT_TRUE(ResolveFolderProperty(row.name, row.use64, value)) << U8(row.name);
    EXPECT_EQ(U8(value), U8(row.expected)) << U8(row.name) << " use64=" << row.use64;
  }
  EXPECT_EQ(windows.substr(1, 2), L":\\");  // a drive letter to take

#ifdef _WIN64
  // A 64-bit process: its own system folder is the native one, with or
  // without the 64-bit flag, also where a WOW64 folder exists.
  for (const bool use64 : {false, true}) {
    std::wstring value;
    ASSERT_TRUE(ResolveFolderProperty(L"SystemFolder", use64, value));
    EXPECT_EQ(U8(value), U8(Slash(windows) + L"system32\\"));
  }
#endif
}

TEST(ResolveFolderProperty, UnrecognisedNames) {
  for (const wchar_t* name : {L"", L"NoSuchFolder", L"windowsfolder", L"WindowsFolder ",
                              L"PROGRAMFILESFOLDER", L"setupexedir"}) {
    std::wstring value = L"untouched";
    EXPECT_FALSE(ResolveFolderProperty(name, false, value)) << U8(name);
    EXPECT_EQ(value, L"untouched");
  }
}

TEST(ResolveFolderProperty, ProgramFiles64FromTheEnvironment) {
  {
    ScopedEnv env(L"ProgramW6432", L"D:\\Apps64");
    std::wstring value;
    ASSERT_TRUE(ResolveFolderProperty(L"ProgramFiles64Folder", false, value));
    EXPECT_EQ(U8(value), "D:\\Apps64\\");
  }
  {
    ScopedEnv env(L"ProgramW6432", L"D:\\Apps64\\");
    std::wstring value;
    ASSERT_TRUE(ResolveFolderProperty(L"ProgramFiles64Folder", false, value));
    EXPECT_EQ(U8(value), "D:\\Apps64\\");  // no second backslash
  }
  {
    ScopedEnv env(L"ProgramW6432", nullptr);  // undefined: the known folder
    std::wstring value;
    ASSERT_TRUE(ResolveFolderProperty(L"ProgramFiles64Folder", false, value));
    EXPECT_EQ(U8(value), U8(Slash(KnownFolder(FOLDERID_ProgramFiles))));
  }
}

TEST(ExpandProperties, FoldersEnvironmentAndRegistry) {
  const std::wstring programFiles = KnownFolder(FOLDERID_ProgramFiles);
  EXPECT_EQ(U8(ExpandProperties(L"[ProgramFilesFolder]App\\setup.exe", false)),
            U8(Slash(programFiles) + L"App\\setup.exe"));
#ifdef _WIN64
  EXPECT_EQ(U8(programFiles), "C:\\Program Files");
#else
  if (GetOsInfo().is64BitWindows) EXPECT_EQ(U8(programFiles), "C:\\Program Files (x86)");
#endif

  wchar_t w6432[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"ProgramW6432", w6432, MAX_PATH);
  if (n > 0 && n < MAX_PATH)
    EXPECT_EQ(U8(ExpandProperties(L"[ProgramFiles64Folder]", false)),
              U8(Slash(std::wstring(w6432, n))));

  EXPECT_EQ(U8(ExpandProperties(L"[WindowsVolume]x", false)), U8(WindowsDir().substr(0, 3) + L"x"));

  ScopedEnv defined(L"PREREQ_UT_VALUE", L"V [WindowsFolder]");
  ScopedEnv undefined(L"PREREQ_UT_UNDEFINED", nullptr);
  EXPECT_EQ(U8(ExpandProperties(L"a%PREREQ_UT_VALUE%b%PREREQ_UT_UNDEFINED%c", false)),
            "aV [WindowsFolder]b%PREREQ_UT_UNDEFINED%c");
  // Percent-encoded URLs stay as written; a defined variable with an empty
  // value is replaced by nothing.
  EXPECT_EQ(U8(ExpandProperties(L"http://host/My%20Setup%20v2.exe", false)),
            "http://host/My%20Setup%20v2.exe");
  ScopedEnv empty(L"PREREQ_UT_EMPTY", L"");
  if (GetEnvironmentVariableW(L"PREREQ_UT_EMPTY", nullptr, 0) != 0 ||
      GetLastError() != ERROR_ENVVAR_NOT_FOUND)
    EXPECT_EQ(U8(ExpandProperties(L"<%PREREQ_UT_EMPTY%>", false)), "<>");

  TestKey key(L"Expand");
  key.SetText(L"Name", L"from registry %PREREQ_UT_VALUE%");
  EXPECT_EQ(U8(ExpandProperties(L"<!HKCU\\" + key.path() + L"\\Name!>", false)),
            "<from registry %PREREQ_UT_VALUE%>");
  EXPECT_EQ(U8(ExpandProperties(L"<!HKCU\\" + key.path() + L"\\Missing!>", false)), "<>");

  EXPECT_EQ(U8(ExpandProperties(L"[NoSuchFolder]\\x[", false)), "[NoSuchFolder]\\x[");
}

TEST(RegistryRoot, RootNames) {
  const struct {
    const wchar_t* path;
    HKEY root;
  } cases[] = {
      {L"HKLM\\Software", HKEY_LOCAL_MACHINE},
      {L"hklm\\Software", HKEY_LOCAL_MACHINE},
      {L"HKEY_LOCAL_MACHINE\\x", HKEY_LOCAL_MACHINE},
      {L"HKCU\\x", HKEY_CURRENT_USER},
      {L"Hkey_Current_User\\x", HKEY_CURRENT_USER},
      {L"HKCR\\x", HKEY_CLASSES_ROOT},
      {L"hkcc\\x", HKEY_CURRENT_CONFIG},
      {L"HKEY_CURRENT_CONFIG\\x", HKEY_CURRENT_CONFIG},
      {L"HKU\\x", HKEY_USERS},
      {L"Anything\\x", HKEY_USERS},
      {L"\\x", HKEY_USERS},
      {L"HKLM", nullptr},
      {L"", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(RegistryRoot(c.path), c.root) << U8(c.path);
}

TEST(ReadValueText, ValueTypes) {
  TestKey key(L"Values");
  const std::wstring big(300, L'b');
  const std::wstring fits(99, L'f');    // 200 bytes with its NUL: the first buffer
  const std::wstring over(100, L'o');   // 202 bytes with its NUL
  key.SetText(L"sz", L"text");
  key.SetText(L"expand", L"%WINDIR%\\x", REG_EXPAND_SZ);
  key.Set(L"multi", REG_MULTI_SZ, L"a\0bc\0\0", 7 * sizeof(wchar_t));
  key.SetText(L"big", big);
  key.SetText(L"fits", fits);
  key.SetText(L"over", over);
  key.Set(L"noNul", REG_SZ, L"abc", 3 * sizeof(wchar_t));
  key.Set(L"nuls", REG_SZ, L"ab\0\0\0", 5 * sizeof(wchar_t));
  key.Set(L"oddBytes", REG_SZ, "a\0b\0c", 5);
  key.Set(L"empty", REG_SZ, L"", sizeof(wchar_t));
  key.Set(L"emptyNoData", REG_SZ, nullptr, 0);
  const DWORD max = 0xFFFFFFFFu, small = 42;
  key.Set(L"dwordMax", REG_DWORD, &max, sizeof(max));
  key.Set(L"dword", REG_DWORD, &small, sizeof(small));
  key.Set(L"dwordShort", REG_DWORD, &small, 2);
  const unsigned long long q = 7;
  key.Set(L"qword", REG_QWORD, &q, sizeof(q));
  key.Set(L"binary", REG_BINARY, "t\0e\0x\0t\0", 8);
  key.Set(L"bigEndian", REG_DWORD_BIG_ENDIAN, &small, sizeof(small));
  key.SetText(L"", L"default value");

  const struct {
    const wchar_t* name;
    bool read;
    std::wstring text;
  } cases[] = {
      {L"sz", true, L"text"},
      {L"expand", true, L"%WINDIR%\\x"},            // not expanded
      {L"multi", true, std::wstring(L"a\0bc", 4)},  // inner NULs stay
      {L"big", true, big},
      {L"fits", true, fits},
      {L"over", true, over},
      {L"noNul", true, L"abc"},
      {L"nuls", true, L"ab"},
      {L"oddBytes", true, L"ab"},
      {L"empty", true, L""},
      {L"emptyNoData", true, L""},
      {L"dwordMax", true, L"4294967295"},
      {L"dword", true, L"42"},
      {L"dwordShort", false, L"keep"},
      {L"qword", false, L"keep"},
      {L"binary", false, L"keep"},
      {L"bigEndian", false, L"keep"},
      {L"missing", false, L"keep"},
      {L"", true, L"default value"},
  };
  for (const auto& c : cases) {
    std::wstring text = L"keep";
    EXPECT_EQ(ReadValueText(key.get(), c.name, text), c.read) << U8(c.name);
    EXPECT_EQ(text, c.text) << U8(c.name);
  }
}

TEST(ReadRegistryText, WholePaths) {
  TestKey key(L"Paths");
  key.SetText(L"Name", L"value");
  key.SetText(L"", L"default");
  const DWORD number = 3010;
  key.Set(L"Number", REG_DWORD, &number, sizeof(number));
  const std::wstring k = key.path();
  const struct {
    std::wstring path;
    std::wstring text;
  } cases[] = {
      {L"HKCU\\" + k + L"\\Name", L"value"},
      {L"hkey_current_user\\" + k + L"\\Name", L"value"},
      {L"HKCU\\" + k + L"\\Number", L"3010"},
      {L"HKCU\\" + k + L"\\", L"default"},          // the key's default value
      {L"HKCU\\" + k + L"\\Missing", L""},
      {L"HKCU\\" + k + L"\\NoKey\\Name", L""},
      {L"HKCU\\Name", L""},                         // the root itself has no such value
      {L"HKCU" + k, L""},                           // no backslash: no root
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(U8(ReadRegistryText(c.path, false)), U8(c.text)) << U8(c.path);
}

TEST(ReadRegistryText, RegistryViews) {
  // One value in each view of HKLM\Software (the same key where Windows has
  // only one view); the 32-bit one written first.
  TestKey view32(L"View", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
  view32.SetText(L"Which", L"v32");
  TestKey view64(L"View", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
  view64.SetText(L"Which", L"v64");
  const std::wstring path = L"HKLM\\" + view64.path() + L"\\Which";
  EXPECT_EQ(U8(ReadRegistryText(path, true)), "v64");
#ifdef _WIN64
  EXPECT_EQ(U8(ReadRegistryText(path, false)), "v64");  // a 64-bit process's own view
#else
  EXPECT_EQ(U8(ReadRegistryText(path, false)), GetOsInfo().is64BitWindows ? "v32" : "v64");
#endif
  EXPECT_EQ(U8(ExpandProperties(L"!" + path + L"!", true)), "v64");
}

}  // namespace
