#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "evaluation/OsInfo.h"
#include "evaluation/Search.h"
#include "platform/core/Handles.h"
#include "platform/core/WinText.h"

using namespace prereq;
using namespace std::string_literals;

namespace {

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
  std::sort(v.begin(), v.end());
  return v;
}

SearchEntry Entry(int type, std::wstring what, std::wstring min = L"", std::wstring max = L"",
                  std::wstring ref = L"", std::wstring cmd = L"") {
  SearchEntry e;
  e.SearchType = type;
  e.SearchString = std::move(what);
  e.VerMin = std::move(min);
  e.VerMax = std::move(max);
  e.RefContent = std::move(ref);
  e.SearchCmdLine = std::move(cmd);
  return e;
}

// A registry key made for one test and deleted with everything below it.
class TestKey {
 public:
  TestKey(HKEY root, const std::wstring& sub, REGSAM view = 0) : root_(root), view_(view) {
    path_ = L"Software\\PrereqTests\\" + sub + L"-" + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                              key_.put(), nullptr),
              ERROR_SUCCESS);
  }
  ~TestKey() {
    key_.reset();
    // Deleted through its parent opened in the same view.
    RegKey parent;
    if (RegOpenKeyExW(root_, L"Software\\PrereqTests", 0, KEY_ALL_ACCESS | view_, parent.put()) ==
        ERROR_SUCCESS) {
      RegDeleteTreeW(parent.get(), path_.substr(path_.rfind(L'\\') + 1).c_str());
    }
  }
  void Set(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
    EXPECT_EQ(RegSetValueExW(key_.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  }
  void SetText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
    Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(const std::wstring& name, DWORD value) { Set(name, REG_DWORD, &value, sizeof(value)); }
  void Subkey(const std::wstring& name) {
    RegKey sub;
    EXPECT_EQ(RegCreateKeyExW(key_.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                              nullptr, sub.put(), nullptr),
              ERROR_SUCCESS);
  }
  void SetDwordIn(const std::wstring& sub, const std::wstring& name, DWORD value) {
    EXPECT_EQ(RegSetKeyValueW(key_.get(), sub.c_str(), name.c_str(), REG_DWORD, &value, sizeof(value)),
              ERROR_SUCCESS);
  }
  // The path as the searches spell it, with the root given.
  std::wstring Path(const std::wstring& root) const { return root + L"\\" + path_; }

 private:
  HKEY root_;
  REGSAM view_;
  std::wstring path_;
  RegKey key_;
};

TEST(RegistrySearch, EveryRegistryKind) {
  TestKey key(HKEY_CURRENT_USER, L"Search");
  key.Subkey(L"1.0");
  key.Subkey(L"2.5");
  key.Subkey(L"abc");
  key.Subkey(L"Names");
  key.SetDwordIn(L"Names", L"1.5", 1);
  key.SetDwordIn(L"Names", L"2.0", 1);
  key.SetText(L"Version", L"3.1.4");
  key.SetDword(L"Dword", 12);
  key.SetText(L"Text", L"12a");
  key.Set(L"Multi", REG_MULTI_SZ, L"5.0\0x\0", 14);
  key.Set(L"Binary", REG_BINARY, L"4.2", 6);  // no NUL of its own
  key.Set(L"Odd", REG_BINARY, "7\0x", 3);     // the odd last byte is no character
  key.SetText(L"Empty", L"");
  key.SetText(L"", L"default");
  const std::wstring k = key.Path(L"HKCU");
  const std::wstring missing = k + L"\\Missing";

  struct Case {
    SearchEntry entry;
    bool found;
    std::vector<std::wstring> values;  // sorted
  };
  const Case cases[] = {
      // 1: subkey names, compared as versions.
      {Entry(1, k), true, {L"1.0", L"2.5", L"Names", L"abc"}},
      {Entry(1, L"HKEY_CURRENT_USER\\" + k.substr(5), L"2.0"), true, {L"1.0", L"2.5", L"Names", L"abc"}},
      {Entry(1, k, L"3.0"), false, {L"1.0", L"2.5", L"Names", L"abc"}},
      {Entry(1, missing), false, {}},
      // 2: value data as text up to its first NUL, whatever the type.
      {Entry(2, k + L"\\Version", L"3.0", L"3.2"), true, {L"3.1.4"}},
      {Entry(2, k + L"\\Multi", L"5"), true, {L"5.0"}},
      {Entry(2, k + L"\\Binary", L"4.2", L"4.2"), true, {L"4.2"}},
      {Entry(2, k + L"\\Odd"), true, {L"7"}},
      {Entry(2, k + L"\\Dword"), true, {std::wstring(1, L'\x0C')}},  // the DWORD's bytes
      {Entry(2, k + L"\\Empty"), true, {L""}},
      {Entry(2, k + L"\\Nothing"), false, {}},
      // 5, 6: the key opens.
      {Entry(5, k), true, {}},
      {Entry(5, missing), false, {}},
      {Entry(5, L"HKCU"), false, {}},  // a path without "\" cannot be opened
      {Entry(6, k), false, {}},
      {Entry(6, missing), true, {}},
      {Entry(5, L"NoSuchRoot\\" + k.substr(5)), false, {}},  // HKEY_USERS
      // 7, 8: the value can be queried.
      {Entry(7, k + L"\\Version"), true, {}},
      {Entry(7, k + L"\\"), true, {}},  // the default value
      {Entry(7, k + L"\\Nothing"), false, {}},
      {Entry(7, missing + L"\\Version"), false, {}},
      {Entry(8, k + L"\\Version"), false, {}},
      {Entry(8, k + L"\\Nothing"), true, {}},
      {Entry(8, L"HKCU"), true, {}},
      // 9: the value read as text against RefContent.
      {Entry(9, k + L"\\Dword", L"", L"", L"G10"), true, {}},
      {Entry(9, k + L"\\Text", L"", L"", L"G10"), false, {}},
      {Entry(9, k + L"\\Version", L"", L"", L"M3.1.4"), true, {}},
      {Entry(9, k + L"\\Version", L"", L"", L"M3.1"), false, {}},
      {Entry(9, k + L"\\Multi", L"", L"", L"M5.0\0x"s), true, {}},  // only trailing NULs go
      {Entry(9, k + L"\\Binary", L"", L"", L"X"), false, {}},       // not read as text
      {Entry(9, k + L"\\Nothing", L"", L"", L"X"), false, {}},
      // 12: value names.
      {Entry(12, k), true,
       {L"", L"Binary", L"Dword", L"Empty", L"Multi", L"Odd", L"Text", L"Version"}},
      {Entry(12, missing), false, {}},
      {Entry(12, k + L"\\Names", L"1.8"), true, {L"1.5", L"2.0"}},
      {Entry(12, k + L"\\Names", L"2.1"), false, {L"1.5", L"2.0"}},
  };
  PrereqList list;
  for (const Case& c : cases) {
    const SearchResult r = RunSearch(list, c.entry, false);
    const std::string label = std::to_string(c.entry.SearchType) + " " + ToUtf8(c.entry.SearchString) +
                              " [" + ToUtf8(c.entry.VerMin) + "," + ToUtf8(c.entry.VerMax) + "] " +
                              ToUtf8(c.entry.RefContent);
    EXPECT_EQ(r.found, c.found) << label;
    EXPECT_EQ(Sorted(r.values), c.values) << label;
  }

  SearchResult read = RunSearch(list, Entry(9, k + L"\\Dword", L"", L"", L"G10"), false);
  EXPECT_EQ(read.value, L"12");
}

// Option "x": registry keys are opened in the 64-bit view. A key that exists
// only in the 64-bit view, and one only in the 32-bit view.
TEST(RegistrySearch, SixtyFourBitView) {
  TestKey only64(HKEY_LOCAL_MACHINE, L"View64", KEY_WOW64_64KEY);
  TestKey only32(HKEY_LOCAL_MACHINE, L"View32", KEY_WOW64_32KEY);
  only64.SetText(L"Name", L"1.0");
  only32.SetText(L"Name", L"1.0");
  const std::wstring k64 = only64.Path(L"HKLM"), k32 = only32.Path(L"HKLM");
#ifdef _WIN64
  const bool sees64Plain = true, sees32Plain = false, sees32WithX = false;
#else
  const bool wow64 = GetOsInfo().is64BitWindows;  // without WOW64 there is one view
  const bool sees64Plain = !wow64, sees32Plain = true, sees32WithX = !wow64;
#endif
  PrereqList list;
  for (int kind : {5, 12}) {
    EXPECT_EQ(RunSearch(list, Entry(kind, k64), false).found, sees64Plain) << kind;
    EXPECT_EQ(RunSearch(list, Entry(kind, k32), false).found, sees32Plain) << kind;
    EXPECT_TRUE(RunSearch(list, Entry(kind, k64), true).found) << kind;
    EXPECT_EQ(RunSearch(list, Entry(kind, k32), true).found, sees32WithX) << kind;
  }
  EXPECT_TRUE(RunSearch(list, Entry(9, k64 + L"\\Name", L"", L"", L"M1.0"), true).found);
  EXPECT_EQ(RunSearch(list, Entry(2, k64 + L"\\Name", L"1.0"), false).found, sees64Plain);
}

TEST(FileSearch, VersionsOfFilesInAFolderTree) {
  TestFolder dir;
  CreateDirectoryW((dir / L"a").c_str(), nullptr);
  CreateDirectoryW((dir / L"a\\b").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(GetModulePath().c_str(), (dir / L"a\\b\\versioned.exe").c_str(), FALSE));
  WriteBytes(dir / L"plain.dll", "no version information");
  CreateDirectoryW((dir / L"folder.dll").c_str(), nullptr);

  struct Case {
    std::wstring search, min, max;
    bool found;
    std::vector<std::wstring> values;
  };
  const std::wstring d = dir.path();
  const Case cases[] = {
      {GetModulePath(), L"", L"", true, {L"2.7.1.3"}},
      {GetModulePath(), L"2.7", L"2.8", true, {L"2.7.1.3"}},
      {GetModulePath(), L"2.7.1.4", L"", false, {L"2.7.1.3"}},
      {d + L"\\plain.dll", L"", L"", true, {L"0.0.0.0"}},  // no version information
      {d + L"\\plain.dll", L"0.1", L"", false, {L"0.0.0.0"}},
      {d + L"\\missing.dll", L"", L"", false, {}},
      {d + L"\\versioned.exe?2", L"2.0", L"", true, {L"2.7.1.3"}},
      {d + L"\\versioned.exe?1", L"", L"", false, {}},
      {d + L"\\versioned.exe? 5", L"", L"", true, {L"2.7.1.3"}},
      {d + L"\\a\\b\\vers*.exe", L"2.7", L"", true, {L"2.7.1.3"}},  // the file a pattern finds
      {d + L"\\a\\*.exe?1", L"", L"", true, {L"2.7.1.3"}},
      {d + L"\\folder.dll", L"", L"", true, {L"0.0.0.0"}},  // the find test takes folders too
  };
  PrereqList list;
  for (const Case& c : cases) {
    const SearchResult r = RunSearch(list, Entry(0, c.search, c.min, c.max), false);
    EXPECT_EQ(r.found, c.found) << ToUtf8(c.search) << " " << ToUtf8(c.min) << "-" << ToUtf8(c.max);
    EXPECT_EQ(r.values, c.values) << ToUtf8(c.search);
  }
}

TEST(FileSearch, BareNameOnEveryFixedDrive) {
  // C: is a fixed drive of every prefix; the file lies two levels below it.
  const std::wstring name = L"prereq-ut-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring top = L"C:\\" + name;
  ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
  ScopeGuard remove([&] { TestFolder::RemoveTree(top); });
  ASSERT_TRUE(CreateDirectoryW((top + L"\\inner").c_str(), nullptr));
  const std::wstring file = name + L".exe";
  ASSERT_TRUE(CopyFileW(GetModulePath().c_str(), (top + L"\\inner\\" + file).c_str(), FALSE));

  PrereqList list;
  const SearchResult two = RunSearch(list, Entry(0, file + L"?2"), false);
  EXPECT_TRUE(two.found);
  EXPECT_EQ(two.values, std::vector<std::wstring>{L"2.7.1.3"});
  EXPECT_FALSE(RunSearch(list, Entry(0, file + L"?1"), false).found);
  EXPECT_FALSE(RunSearch(list, Entry(0, file), false).found);
}

TEST(FileSearch, RedirectionOffWithOptionX) {
  // A file in the native system folder (System32 of a 64-bit Windows).
  wchar_t windows[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::wstring name = L"prereq-ut-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
  const std::wstring native = std::wstring(windows, n) + L"\\System32\\" + name;
  {
    Wow64RedirectionOff off;
    WriteBytes(native, "plain");
  }
  ScopeGuard remove([&] {
    Wow64RedirectionOff off;
    DeleteFileW(native.c_str());
  });

#ifdef _WIN64
  const bool seenPlain = true;
#else
  const bool seenPlain = !GetOsInfo().is64BitWindows;  // redirected to SysWOW64 otherwise
#endif
  PrereqList list;
  const std::wstring search = L"%WINDIR%\\System32\\" + name;
  EXPECT_EQ(RunSearch(list, Entry(0, search), false).found, seenPlain);
  EXPECT_TRUE(RunSearch(list, Entry(0, search), true).found);
  EXPECT_TRUE(RunSearch(list, Entry(0, search + L"?1"), true).found);
}

TEST(SubfolderSearch, NamesOfSubfolders) {
  TestFolder dir;
  CreateDirectoryW((dir / L"1.0").c_str(), nullptr);
  CreateDirectoryW((dir / L"3.0").c_str(), nullptr);
  WriteBytes(dir / L"5.0", "a file, not a folder");
  PrereqList list;
  const std::vector<std::wstring> both = {L"1.0", L"3.0"};

  SearchResult r = RunSearch(list, Entry(14, dir.path(), L"2.0"), false);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(Sorted(r.values), both);
  r = RunSearch(list, Entry(14, dir.path() + L"\\", L"4.0"), false);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(Sorted(r.values), both);
  EXPECT_TRUE(RunSearch(list, Entry(14, dir.path(), L"", L"1.0"), true).found);
  r = RunSearch(list, Entry(14, dir / L"missing"), false);
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.values.empty());

  TestFolder empty;
  EXPECT_FALSE(RunSearch(list, Entry(14, empty.path()), false).found);
}

TEST(RunSearch, UnknownKindsAndPackagesKind) {
  PrereqList list;
  for (int kind : {-1, 15, 1000}) EXPECT_TRUE(RunSearch(list, Entry(kind, L"anything", L"9.9"), false).found);
  // Kind 13 collects nothing for now.
  const SearchResult r = RunSearch(list, Entry(13, L"Some.Package?x64?CN=Someone"), false);
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.values.empty());
}

// A list whose shipped files are the test programs.
struct ToolList {
  PackagedFiles files;
  PrereqList list;
  ToolList() {
    files.extractionFolder = ToolsFolder();
    list.packagedFiles = &files;
  }
};

TEST(DetectionProgram, ExitCodeDecides) {
  TestFolder dir;
  ToolList tools;
  const std::wstring marker = dir / L"marker.txt";
  SetEnvironmentVariableW(L"PREREQ_UT_MARKER", marker.c_str());
  ScopeGuard unset([] { SetEnvironmentVariableW(L"PREREQ_UT_MARKER", nullptr); });

  struct Case {
    std::wstring file, cmd, ref;
    bool found;
    int runs;  // total starts so far
  };
  const Case cases[] = {
      {L"exitcode.exe", L"0 %PREREQ_UT_MARKER%", L"WND_HIDE", true, 1},
      {L"exitcode.exe", L"3 %PREREQ_UT_MARKER%", L"WND_HIDE", false, 2},
      {L"exitcode.exe", L"0 %PREREQ_UT_MARKER%", L"", true, 3},  // shown
      {L"no-such-program.exe", L"0 %PREREQ_UT_MARKER%", L"WND_HIDE", false, 3},
  };
  for (const Case& c : cases) {
    const SearchResult r = RunSearch(tools.list, Entry(10, c.file, L"", L"", c.ref, c.cmd), false);
    EXPECT_EQ(r.found, c.found) << ToUtf8(c.file) << " " << ToUtf8(c.cmd);
    EXPECT_EQ(MarkerRuns(marker), c.runs) << ToUtf8(c.file) << " " << ToUtf8(c.cmd);
  }

  // Without a packaged-file table there is nothing to start.
  PrereqList bare;
  EXPECT_FALSE(RunSearch(bare, Entry(10, L"exitcode.exe", L"", L"", L"WND_HIDE", L"0 %PREREQ_UT_MARKER%"),
                         false).found);
  EXPECT_EQ(MarkerRuns(marker), 3);
}

TEST(RunSearches, EarlyStopStartsNoLaterProgram) {
  TestFolder dir;
  ToolList tools;
  TestKey key(HKEY_CURRENT_USER, L"EarlyStop");
  const std::wstring marker = dir / L"marker.txt";
  const SearchEntry present = Entry(5, key.Path(L"HKCU"));
  const SearchEntry absent = Entry(5, key.Path(L"HKCU") + L"\\Missing");
  const SearchEntry program = Entry(10, L"exitcode.exe", L"", L"", L"WND_HIDE", L"0 \"" + marker + L"\"");

  struct Case {
    std::vector<SearchEntry> entries;
    int32_t op;
    bool result;
    int runs;  // total starts so far
  };
  const Case cases[] = {
      {{absent, program}, 0, false, 0},   // AND stops at the first entry not found
      {{present, program}, 1, true, 0},   // OR stops at the first entry found
      {{present, program}, 0, true, 1},
      {{absent, program}, 1, true, 2},
      {{program, absent, program}, 0, false, 3},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(RunSearches(tools.list, c.entries, c.op, false), c.result) << i;
    EXPECT_EQ(MarkerRuns(marker), c.runs) << i;
  }
}

}  // namespace
