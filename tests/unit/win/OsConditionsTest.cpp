#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "TestFolder.h"
#include "evaluation/FileVersion.h"
#include "evaluation/OsConditions.h"
#include "logging/Logger.h"
#include "platform/core/TempFolder.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR p = nullptr;
  std::wstring out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &p))) out = p;
  CoTaskMemFree(p);
  return out;
}

std::wstring SystemFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir, n) + L"\\" + name;
}

// Files the copy rule may leave behind: GetTempFileNameW keeps three letters
// of the prefix.
int CountCopies() {
  int count = 0;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((ProgramTempFolder() + L"shi*.tmp").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  do ++count;
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return count;
}

TEST(OsConditions, RunningSystem) {
  const OsInfo& os = GetOsInfo();
#ifdef _WIN64
  EXPECT_TRUE(os.is64BitWindows);
#endif
  const std::wstring detailed = DetailedSystemName(os), general = GeneralSystemName(os);
  EXPECT_EQ(IsWindows10OrLater(), os.majorVersion >= 10);

  EXPECT_TRUE(OsAllowed(L"", L""));
  const std::wstring all = os.is64BitWindows
      ? L"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64"
      : L"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86";
  const std::wstring byGeneral = L"Windows 95, " + general;
  const std::wstring byDetailed = detailed + L", Windows 95";
  if (os.is64BitWindows) {
    EXPECT_FALSE(OsAllowed(L"", all));
    EXPECT_FALSE(OsAllowed(L"", byGeneral));
    EXPECT_FALSE(OsAllowed(L"", byDetailed));
    EXPECT_TRUE(OsAllowed(byGeneral, L""));  // the 32-bit list does not count
  } else {
    EXPECT_FALSE(OsAllowed(all, L""));
    EXPECT_FALSE(OsAllowed(byGeneral, L""));
    EXPECT_FALSE(OsAllowed(byDetailed, L""));
    EXPECT_TRUE(OsAllowed(L"", byGeneral));
  }
}

std::wstring LogText(const std::wstring& path) {
  std::vector<unsigned char> bytes = ReadBytes(path);
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(bytes[i] | (bytes[i + 1] << 8));
  return out;
}

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(LanguageAllowed, SystemDefaultLanguageAndItsLogLine) {
  const LANGID id = GetSystemDefaultLangID();
  wchar_t name[128] = {};
  ASSERT_GT(GetLocaleInfoW(MAKELCID(id, SORT_DEFAULT), LOCALE_SLANGUAGE, name, 128), 0);
  const std::wstring line = L"SystemDefault LangID=" + std::to_wstring(id) + L"-" + name;

  // The process-wide log: its current file when another test opened one,
  // otherwise one file in the temporary folder that each run starts afresh.
  if (!TheLogger().IsOpen()) {
    const std::wstring own = ProgramTempFolder() + L"prereq-ut-language.log";
    DeleteFileW(own.c_str());
    TheLogger().SetLogFile(own);
  }
  const bool wasEnabled = loggingEnabled;
  loggingEnabled = true;
  TheLogger().WriteLine(L"opened");
  const std::wstring path = TheLogger().CurrentPath();
  const size_t before = Count(LogText(path), line);

  EXPECT_TRUE(LanguageAllowed(L""));  // no list: no lookup, no line
  EXPECT_TRUE(LanguageAllowed(std::to_wstring(id) + L";"));
  EXPECT_TRUE(LanguageAllowed(L"1;" + std::to_wstring(id + 65536) + L";"));
  EXPECT_FALSE(LanguageAllowed(std::to_wstring(id + 1) + L";"));
  EXPECT_EQ(Count(LogText(path), line), before + 3) << ToUtf8(line);

  loggingEnabled = false;
  EXPECT_TRUE(LanguageAllowed(std::to_wstring(id) + L";"));
  EXPECT_EQ(Count(LogText(path), line), before + 3);
  loggingEnabled = wasEnabled;
}

TEST(GetFileVersion, OwnVersionResource) {
  const FileVersionResult v = GetFileVersion(GetModulePath());
  EXPECT_EQ(v.error, 0u);
  EXPECT_EQ(v.versionMS, (2u << 16) | 7u);
  EXPECT_EQ(v.versionLS, (1u << 16) | 3u);
}

TEST(GetFileVersion, FailuresLeaveZeroWords) {
  TestFolder dir;
  WriteBytes(dir / L"plain.txt", "no version resource here");
  for (const std::wstring& path : {dir / L"missing.dll", dir / L"plain.txt"}) {
    for (bool copy : {false, true}) {
      const int copies = CountCopies();
      const FileVersionResult v = copy ? GetFileVersionFromCopy(path) : GetFileVersion(path);
      EXPECT_NE(v.error, 0u) << ToUtf8(path) << " copy=" << copy;
      EXPECT_EQ(v.versionMS, 0u);
      EXPECT_EQ(v.versionLS, 0u);
      EXPECT_EQ(CountCopies(), copies);  // the temporary file is gone again
    }
  }
}

TEST(GetFileVersion, SystemFileThroughACopy) {
  const std::wstring windows = KnownFolder(FOLDERID_Windows);
  ASSERT_FALSE(windows.empty());
  const std::wstring path = SystemFile(L"shlwapi.dll");
  ASSERT_EQ(path.compare(0, windows.size(), windows), 0);

  // Windows 10 and later read files under the Windows folder from a copy.
  EXPECT_EQ(ReadsFromCopy(path), IsWindows10OrLater());
  std::wstring otherCase = path;
  for (wchar_t& c : otherCase) c = towupper(c);
  if (otherCase.compare(0, windows.size(), windows) != 0) EXPECT_FALSE(ReadsFromCopy(otherCase));
  EXPECT_FALSE(ReadsFromCopy(GetModulePath()));

  const int copies = CountCopies();
  const FileVersionResult copied = GetFileVersionFromCopy(path);
  EXPECT_EQ(CountCopies(), copies);
  ASSERT_EQ(copied.error, 0u);
  EXPECT_NE(copied.versionMS, 0u);

  // The same words as the version information of the file itself.
  DWORD handle = 0;
  std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &handle));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len));
  EXPECT_EQ(copied.versionMS, info->dwFileVersionMS);
  EXPECT_EQ(copied.versionLS, info->dwFileVersionLS);
  const FileVersionResult direct = GetFileVersion(path);
  EXPECT_EQ(direct.versionMS, info->dwFileVersionMS);
  EXPECT_EQ(CountCopies(), copies);
}

TEST(GetLibraryVersion, OwnReportOrFileVersion) {
  // Libraries that report their own version: the shell is version 5 or later.
  for (const wchar_t* name : {L"shlwapi.dll", L"comctl32.dll", L"Shell32.dll"}) {
    const LibraryVersion v = GetLibraryVersion(name);
    EXPECT_TRUE(v.ok) << ToUtf8(name);
    EXPECT_GE(v.major, 5u) << ToUtf8(name);
  }
  // kernel32 has no DllGetVersion: the high word of its file version, minor 0.
  const std::wstring kernel = SystemFile(L"kernel32.dll");
  ASSERT_EQ(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DllGetVersion"), nullptr);
  const FileVersionResult file = GetFileVersion(kernel);
  ASSERT_EQ(file.error, 0u);
  const LibraryVersion v = GetLibraryVersion(kernel);
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.major, file.versionMS >> 16);
  EXPECT_EQ(v.minor, 0u);

  TestFolder dir;
  WriteBytes(dir / L"plain.dll", "not a library");
  EXPECT_FALSE(GetLibraryVersion(dir / L"plain.dll").ok);
  EXPECT_FALSE(GetLibraryVersion(dir / L"missing.dll").ok);
}

}  // namespace
