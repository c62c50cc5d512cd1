#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstdlib>

#include "TestFolder.h"
#include "chainer/ChainerApp.h"
#include "evaluation/FileVersion.h"
#include "evaluation/OsInfo.h"
#include "platform/core/Handles.h"
#include "platform/core/Security.h"
#include "platform/core/TempFolder.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

struct ReadCase {
  const char* name;
  std::string bytes;
  bool ok;
  std::wstring text;
};

TEST(ReadConfigurationText, ReadsTheWholeFileAndDecodesIt) {
  TestFolder dir;
  const ReadCase cases[] = {
      {"empty_file", "", false, L""},
      {"one_byte", "\xFF", false, L""},
      {"mark_only", "\xFF\xFE", true, L""},
      {"mark_and_text", std::string("\xFF\xFE[\0A\0]\0", 8), true, L"[A]"},
      {"odd_byte_dropped", std::string("\xFF\xFE" "a\0b\0c", 7), true, L"ab"},
      {"no_mark_read_whole", std::string("[\0A\0]\0", 6), true, L"[A]"},
      {"mark_then_one_byte", "\xFF\xFEz", true, L""},
      {"utf8_lf", "[A]\nk=\xC3\xA9", true, L"[A]\r\nk=\u00e9"},
  };
  for (const ReadCase& c : cases) {
    std::wstring path = dir / L"c.ini";
    WriteBytes(path, c.bytes);
    ConfigText config;
    config.text = L"stale";
    EXPECT_EQ(ReadConfigurationText(path, static_cast<uint32_t>(c.bytes.size()), config), c.ok)
        << c.name;
    EXPECT_EQ(config.text, c.text) << c.name;
  }
  ConfigText config;
  EXPECT_FALSE(ReadConfigurationText(dir / L"missing.ini", 10, config));
}

DWORD WINAPI HoldInstallerMutex(void* param) {
  auto* mode = static_cast<int*>(param);
  HANDLE m = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
  Sleep(300);
  if (*mode == 0) ReleaseMutex(m);  // mode 1: the thread ends owning it (abandoned)
  CloseHandle(m);
  return 0;
}

// What another thread gets from the mutex right now: WAIT_OBJECT_0 when it is
// free, WAIT_TIMEOUT while someone owns it.
DWORD WINAPI TryInstallerMutex(void* param) {
  HANDLE m = static_cast<HANDLE>(param);
  const DWORD result = WaitForSingleObject(m, 0);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(m);
  return result;
}

DWORD WaitFromAnotherThread(HANDLE mutex) {
  KernelHandle thread(CreateThread(nullptr, 0, TryInstallerMutex, mutex, 0, nullptr));
  WaitForSingleObject(thread.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread.get(), &code);
  return code;
}

TEST(WaitForInstaller, NothingRunning) {
  const InstallerWaitResult wait = WaitForInstaller();
  EXPECT_EQ(wait.outcome, InstallerWait::NotRunning);
  EXPECT_EQ(wait.error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(WaitForInstaller, TakesTheMutexAndGivesItBackAtOnce) {
  for (int mode : {0, 1}) {
    KernelHandle thread(CreateThread(nullptr, 0, HoldInstallerMutex, &mode, 0, nullptr));
    // Our own reference keeps the mutex alive after the holder's handle.
    KernelHandle ours;
    for (int i = 0; i < 100 && !ours; ++i) {
      ours.reset(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
      if (!ours) Sleep(5);
    }
    ASSERT_TRUE(ours.valid());
    const DWORD start = GetTickCount();
    const InstallerWaitResult wait = WaitForInstaller();
    EXPECT_GE(GetTickCount() - start, 150u) << mode;
    EXPECT_EQ(wait.outcome, mode == 0 ? InstallerWait::Acquired : InstallerWait::Abandoned) << mode;
    EXPECT_EQ(wait.releaseError, 0u) << mode;
    WaitForSingleObject(thread.get(), INFINITE);
    // Another waiter (a second setup, an msiexec) gets the mutex now, while
    // this thread is still alive, and gets it in order, not abandoned.
    EXPECT_EQ(WaitFromAnotherThread(ours.get()), static_cast<DWORD>(WAIT_OBJECT_0)) << mode;
  }
}

TEST(WaitForInstaller, AnotherObjectOfThatNameIsAFailure) {
  // The name taken by an event: the mutex cannot be opened.
  KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, L"Global\\_MSIExecute"));
  ASSERT_TRUE(event.valid());
  const InstallerWaitResult wait = WaitForInstaller();
  EXPECT_EQ(wait.outcome, InstallerWait::Failed);
  EXPECT_EQ(wait.error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(TempFolder, UserAndLocalSystemRules) {
  wchar_t expected[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH, expected);
  EXPECT_EQ(ComputeTempFolder(false), std::wstring(expected, n));
  EXPECT_EQ(ProgramTempFolder(), std::wstring(expected, n));

  // Wine has no GetTempPath2W: the Windows folder + "\SystemTemp\", created
  // with exactly two access entries and no inheritance.
  wchar_t windows[MAX_PATH];
  UINT w = GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring system = ComputeTempFolder(true);
  bool hasTempPath2 =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W") != nullptr;
  if (!hasTempPath2) EXPECT_EQ(system, std::wstring(windows, w) + L"\\SystemTemp\\");
  ASSERT_NE(GetFileAttributesW(system.c_str()), INVALID_FILE_ATTRIBUTES);

}

TEST(TempFolder, SystemTempAccessListHasExactlyTwoEntries) {
  // What the folder is created with (Wine does not keep a directory's
  // security descriptor, so the descriptor itself is checked).
  LocalMemory sd = SecurityDescriptorFromSddl(kSystemTempSddl);
  ASSERT_TRUE(sd.valid());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  ASSERT_EQ(dacl->AceCount, 2);
  std::vector<std::wstring> sids;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), 0);
    EXPECT_EQ(ace->Mask & GENERIC_ALL, static_cast<DWORD>(GENERIC_ALL));
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(&ace->SidStart, &text);
    sids.push_back(text ? text : L"");
    LocalFree(text);
  }
  EXPECT_EQ(sids, (std::vector<std::wstring>{L"S-1-5-18", L"S-1-5-32-544"}));
}

TEST(OsInfo, MatchesThePrefix) {
  const OsInfo& os = GetOsInfo();
  const char* arch = std::getenv("PREREQ_TEST_ARCH");
  if (arch == nullptr) GTEST_SKIP() << "PREREQ_TEST_ARCH not set";
  EXPECT_EQ(os.is64BitWindows, std::string(arch) == "win64");
  // A fresh prefix is Windows 7 SP1 workstation unless a test changed it.
  EXPECT_EQ(os.majorVersion, 6u);
  EXPECT_EQ(os.minorVersion, 1u);
  EXPECT_EQ(os.buildNumber, 7601u);
  EXPECT_EQ(os.servicePackMajor, 1u);
  EXPECT_FALSE(os.isServer);
  EXPECT_EQ(&GetOsInfo(), &os);
}

TEST(FileVersion, ProductNameAndVersionOfAnExecutable) {
  std::wstring self = GetModulePath();
  std::wstring name;
  ASSERT_TRUE(GetProductName(self, name));
  EXPECT_EQ(name, L"Prereq Unit Tests");
  FileVersionResult v = GetFileVersion(self);
  EXPECT_EQ(v.error, 0u);
  EXPECT_EQ(v.versionMS, (2u << 16) | 7u);
  EXPECT_EQ(v.versionLS, (1u << 16) | 3u);

  TestFolder dir;
  WriteBytes(dir / L"plain.txt", "no resources");
  EXPECT_FALSE(GetProductName(dir / L"plain.txt", name));
  v = GetFileVersion(dir / L"plain.txt");
  EXPECT_NE(v.error, 0u);
  EXPECT_EQ(v.versionMS, 0u);
}

TEST(Handles, OwnersCloseOnEveryPath) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    KernelHandle owner(raw);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(raw, &flags));
  }
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));

  FileHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  KernelHandle moved(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  KernelHandle target(std::move(moved));
  EXPECT_FALSE(moved.valid());
  EXPECT_TRUE(target.valid());

  int runs = 0;
  {
    ScopeGuard guard([&] { ++runs; });
  }
  {
    ScopeGuard guard([&] { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 1);
}

TEST(ResourceStrings, TableTexts) {
  // The unit-test executable carries the program's string table (with its
  // windows).
  const struct {
    UINT id;
    const wchar_t* text;
  } cases[] = {
      {153, L"Installing %s"},
      {161, L"%s Setup"},
      {198, L"Opening site of %s"},
      {199, L"Downloading %s"},
      {216, L"You must reboot your computer in order to continue the installation. Press Yes to "
            L"restart now or press No to abort the installation and manually restart later."},
      {217, L"Confirmation"},
      {220, L"Preparing..."},
      {223, L"Searching for prerequisites..."},
      // The error dialog and its reports.
      {IDS_ERROR_CAPTION, L"Error"},
      {IDS_ERROR_CLOSE, L"Close"},
      {IDS_ERROR_SEND_REPORT, L"Send Error Report"},
      {IDS_ERROR_SHOW_DETAILS, L"Details >>"},
      {IDS_ERROR_HIDE_DETAILS, L"Details <<"},
      {IDS_ERROR_COPY, L"Copy"},
      {IDS_REPORT_TERMINATE, L"The program called terminate."},
      {IDS_REPORT_ABORT, L"The program called abort."},
      {IDS_REPORT_UNIDENTIFIED, L"Unidentified exception"},
      {162, L""},  // no such text
  };
  for (const auto& c : cases) EXPECT_EQ(LoadResourceString(c.id), c.text) << c.id;
}

}  // namespace
