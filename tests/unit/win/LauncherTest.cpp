#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "acquisition/PrerequisiteRunner.h"
#include "execution/PackageLauncher.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

// Keeps what the launcher records instead of writing the registry.
class RecordingStore : public ResultStore {
 public:
  RecordingStore() : ResultStore("PrereqTestLauncherStore") {}
  int SetInt(const std::string& name, int32_t value) override {
    recorded.emplace_back(name, value);
    return 0;
  }
  std::vector<std::pair<std::string, int32_t>> recorded;
};

class FixedDecider : public RebootDecider {
 public:
  bool IsInstalledNow(size_t index) override {
    asked.push_back(index);
    return installed;
  }
  bool installed = false;
  std::vector<size_t> asked;
};

// Counts restarts instead of asking Windows for one.
class TestLauncher : public PackageLauncher {
 public:
  using PackageLauncher::PackageLauncher;
  bool RebootMachine(bool silent) override {
    ++reboots;
    lastSilent = silent;
    return false;
  }
  void NoPause() { pauseAfterFailureMs = 0; }
  int reboots = 0;
  bool lastSilent = false;
};

std::vector<std::string> MarkerLines(const std::wstring& path) {
  std::string content;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    content.resize(GetFileSize(h, nullptr));
    DWORD read = 0;
    ReadFile(h, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    content.resize(read);
    CloseHandle(h);
  }
  std::istringstream in(content);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

LaunchItem Item(const std::wstring& path, const std::wstring& commandLine,
                RebootMode mode = RebootMode::None, const std::wstring& name = L"Ret") {
  LaunchItem item;
  item.path = path;
  item.commandLine = commandLine;
  item.displayName = L"Item";
  item.rebootMode = mode;
  item.resultPropertyName = name;
  item.prereqIndex = 7;
  return item;
}

}  // namespace

TEST(Launcher, HasExtension) {
  const struct {
    const wchar_t* path;
    const wchar_t* ext;
    bool holds;
  } cases[] = {
      {L"C:\\a\\b.msix", L"msix", true},   {L"C:\\a\\b.MSIX", L".msix", true},
      {L"C:\\a\\b.appx", L"msix", false},  {L"C:\\a\\bmsix", L"msix", false},
      {L"msix", L"msix", false},           {L".msix", L"msix", true},
      {L"C:\\a\\b.tar.gz", L"tar.gz", false},  // no "." inside the extension
      {L"C:\\a.d\\b", L"", true},          {L"C:\\a\\b.exe", L"", false},
      {L"C:\\a\\b.msixbundle", L"msix", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HasExtension(c.path, c.ext), c.holds) << c.path << L" " << c.ext;
}

TEST(Launcher, ShellRouteRecordsEveryReturnCode) {
  TestFolder dir;
  const std::wstring marker = dir / L"marker.txt";
  RecordingStore store;
  FixedDecider decider;
  TestLauncher launcher(store, decider);
  launcher.isLocalSystem = [] { return false; };
  launcher.NoPause();
  const std::wstring package = ToolPath(L"package");
  // The long-path prefix is dropped before the shell sees the path.
  launcher.launchList = {Item(package, L"0 " + marker + L" /qn"),
                         Item(L"\\\\?\\" + package, L"3010 " + marker + L" /Q", RebootMode::None, L""),
                         Item(package, L"0x80070005 " + marker + L" -quiet"),
                         Item(dir / L"missing.exe", L"")};
  EXPECT_TRUE(launcher.LaunchPackage(0));
  EXPECT_TRUE(launcher.LaunchPackage(1));
  EXPECT_FALSE(launcher.LaunchPackage(2));
  EXPECT_EQ(launcher.lastLaunchError, 0u);  // it ran: not a launch error
  EXPECT_FALSE(launcher.LaunchPackage(3));
  EXPECT_EQ(launcher.lastLaunchError, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"Ret", 0}, {"", 3010}, {"Ret", static_cast<int32_t>(0x80070005)}, {"Ret", 2}};
  EXPECT_EQ(store.recorded, expected);
  EXPECT_EQ(launcher.launchList[1].returnCode, 3010u);
  const auto lines = MarkerLines(marker);
  ASSERT_EQ(lines.size(), 3u);
  // Hidden with a quiet switch, shown with /Q.
  EXPECT_EQ(lines[0].substr(0, 7), "show=0 ");
  EXPECT_EQ(lines[1].substr(0, 7), "show=1 ");
  EXPECT_EQ(lines[2].substr(0, 7), "show=0 ");
}

TEST(Launcher, RebootRules) {
  const struct {
    const wchar_t* exitCode;
    RebootMode mode;
    bool installedNow;
    PackageLauncher::Outcome outcome;
    bool required, refused;
    int reboots;
  } cases[] = {
      {L"0", RebootMode::None, false, PackageLauncher::Outcome::Done, false, false, 0},
      {L"3010", RebootMode::None, false, PackageLauncher::Outcome::Reboot, false, true, 0},
      {L"0", RebootMode::Always, false, PackageLauncher::Outcome::Reboot, true, false, 1},
      {L"3010", RebootMode::Always, false, PackageLauncher::Outcome::Reboot, true, false, 1},
      {L"0", RebootMode::WhenInstalled, false, PackageLauncher::Outcome::Done, false, false, 0},
      {L"0", RebootMode::WhenInstalled, true, PackageLauncher::Outcome::Reboot, true, false, 1},
      {L"3010", RebootMode::WhenInstalled, false, PackageLauncher::Outcome::Reboot, false, true, 0},
      // A failed package gets no reboot rule.
      {L"1", RebootMode::Always, true, PackageLauncher::Outcome::Failed, false, false, 0},
  };
  for (const auto& c : cases) {
    RecordingStore store;
    FixedDecider decider;
    decider.installed = c.installedNow;
    TestLauncher launcher(store, decider);
    launcher.NoPause();
    launcher.launchList = {Item(ToolPath(L"exitcode"), c.exitCode, c.mode)};
    const std::wstring label = std::wstring(c.exitCode) + L" mode " +
                               std::to_wstring(static_cast<int>(c.mode));
    EXPECT_EQ(launcher.InstallPackage(0, true), c.outcome) << label;
    EXPECT_EQ(launcher.rebootRequired, c.required) << label;
    EXPECT_EQ(launcher.rebootRefused, c.refused) << label;
    EXPECT_EQ(launcher.reboots, c.reboots) << label;
    if (c.reboots) EXPECT_TRUE(launcher.lastSilent);
    if (c.mode == RebootMode::WhenInstalled && c.outcome != PackageLauncher::Outcome::Failed &&
        std::wstring(c.exitCode) == L"0")
      EXPECT_EQ(decider.asked, std::vector<size_t>{7}) << label;
  }
}

TEST(Launcher, PauseAfterCrashCodes) {
  RecordingStore store;
  FixedDecider decider;
  PackageLauncher launcher(store, decider);
  launcher.launchList = {Item(ToolPath(L"package"), L"0xC0000005"), Item(ToolPath(L"package"), L"1")};
  DWORD start = GetTickCount();
  EXPECT_FALSE(launcher.LaunchPackage(0));
  EXPECT_GE(GetTickCount() - start, 1950u);
  start = GetTickCount();
  EXPECT_FALSE(launcher.LaunchPackage(1));
  EXPECT_LT(GetTickCount() - start, 1900u);
}

TEST(Launcher, SystemAccountRouteStartsTheFileItself) {
  TestFolder dir;
  const std::wstring marker = dir / L"marker.txt";
  RecordingStore store;
  FixedDecider decider;
  TestLauncher launcher(store, decider);
  launcher.isLocalSystem = [] { return true; };
  launcher.launchList = {Item(ToolPath(L"package"), L"7 " + marker + L" %PREREQ_UT_ARG%")};
  SetEnvironmentVariableW(L"PREREQ_UT_ARG", L"resolved");
  EXPECT_FALSE(launcher.LaunchPackage(0));
  EXPECT_EQ(launcher.launchList[0].returnCode, 7u);
  const auto lines = MarkerLines(marker);
  ASSERT_EQ(lines.size(), 1u);
  // The quoted path, a space, then the resolved arguments behind their own space.
  EXPECT_EQ(lines[0], "show=1 cmd=\"" + ToAnsi(ToolPath(L"package")) + "\"  7 " + ToAnsi(marker) +
                          " resolved");
}

TEST(Launcher, SystemAccountRouteInstallsMsiThroughMsiexec) {
  const wchar_t product[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C02}";
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductW(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
  ASSERT_NE(MsiQueryProductStateW(product), INSTALLSTATE_DEFAULT);
  // An upper-case extension behind the long-path prefix.
  TestFolder dir;
  const std::wstring copy = dir / L"Pkg B.MSI";
  ASSERT_TRUE(CopyFileW((ToolsFolder() + L"prereq-ut-b.msi").c_str(), copy.c_str(), FALSE));
  DWORD code = 1;
  ASSERT_TRUE(LaunchAsLocalSystem(copy, L"/qn", code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(MsiQueryProductStateW(product), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(MsiConfigureProductW(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
            static_cast<UINT>(ERROR_SUCCESS));

  code = 0;
  EXPECT_FALSE(LaunchAsLocalSystem(dir / L"missing.exe", L"", code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

namespace {

// Sets the current folder for the scope (CreateProcess looks there for a bare
// program name after the program's own folder).
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& folder) {
    wchar_t old[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, old);
    old_.assign(old, n < MAX_PATH ? n : 0);
    SetCurrentDirectoryW(folder.c_str());
  }
  ~CurrentFolder() { SetCurrentDirectoryW(old_.c_str()); }

 private:
  std::wstring old_;
};

DWORD SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

}  // namespace

TEST(Launcher, SystemAccountRouteNeverRunsAPlantedMsiexec) {
  // A folder that holds the package and a planted msiexec.exe, made the
  // current folder: started by bare name, the planted one would run (as the
  // system account) instead of the Windows Installer.
  const wchar_t product[] = L"{7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5C02}";
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductW(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
  TestFolder dir;
  ASSERT_TRUE(CopyFileW(ToolPath(L"exitcode").c_str(), (dir / L"msiexec.exe").c_str(), FALSE));
  const std::wstring package = dir / L"pkg.msi";
  ASSERT_TRUE(CopyFileW((ToolsFolder() + L"prereq-ut-b.msi").c_str(), package.c_str(), FALSE));
  const DWORD size = SizeOf(package);
  {
    CurrentFolder here(dir.path());
    DWORD code = 1;
    ASSERT_TRUE(LaunchAsLocalSystem(package, L"/qn", code));
    EXPECT_EQ(code, 0u);
  }
  // The planted program appends to its second argument, the package.
  EXPECT_EQ(SizeOf(package), size);
  EXPECT_EQ(MsiQueryProductStateW(product), INSTALLSTATE_DEFAULT);
  MsiConfigureProductW(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

TEST(Launcher, SystemAccountRouteGivesPatchesAndUpdatesToTheirInstallers) {
  // Broken .msp and .msu files: CreateProcess cannot start either kind itself
  // (error 193); msiexec /p and wusa.exe start and answer with an error of
  // their own. A planted msiexec.exe and wusa.exe in the current folder
  // must not be the ones that run.
  TestFolder dir;
  for (const wchar_t* name : {L"msiexec.exe", L"wusa.exe"})
    ASSERT_TRUE(CopyFileW(ToolPath(L"exitcode").c_str(), (dir / name).c_str(), FALSE));
  CurrentFolder here(dir.path());
  for (const wchar_t* name : {L"fix.msp", L"KB1.MSU"}) {
    const std::wstring package = dir / name;
    WriteBytes(package, "not a package");
    DWORD code = 0;
    EXPECT_TRUE(LaunchAsLocalSystem(package, L"/quiet", code)) << name;
    EXPECT_NE(code, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << name;
    EXPECT_NE(code, 0u) << name;  // a broken package is not installed
    EXPECT_EQ(SizeOf(package), 13u) << name;  // the planted programs did not run
  }
}

TEST(Launcher, FinalPathDropsTheLongPrefix) {
  TestFolder dir;
  const std::wstring file = dir / L"f.msi";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  const std::wstring final = FinalPathOf(file);
  EXPECT_EQ(final.rfind(L"\\\\?\\", 0), std::wstring::npos) << final;
  EXPECT_EQ(CompareStringOrdinal(final.c_str(), -1, file.c_str(), -1, TRUE), CSTR_EQUAL) << final;
  EXPECT_EQ(FinalPathOf(dir / L"missing.msi"), dir / L"missing.msi");
}

namespace {

struct Observer : ProgressObserver {
  void SetRange(uint32_t count, uint32_t) override { ranges.push_back(count); }
  bool IsCancelled() override { return cancelAfter >= 0 && statuses.size() >= size_t(cancelAfter); }
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void*) override {
    errors.emplace_back(text, code);
    return code;
  }
  void StatusText(const std::wstring& text, int kind) override {
    statuses.push_back(text);
    EXPECT_EQ(kind, kStatusKindAcquisition);
  }
  int cancelAfter = -1;
  std::vector<uint32_t> ranges;
  std::vector<std::wstring> statuses;
  std::vector<std::pair<std::wstring, uint32_t>> errors;
};

struct LoopFixture {
  TestFolder dir;
  PrereqList list;
  PackagedFiles files;
  StatusWindow status;
  RecordingStore store;
  std::wstring marker = dir / L"marker.txt";
  LoopFixture() {
    list.general.Options = L"q";
    list.general.DownloadFolder = dir.path() + L"\\dl";
    files.extractionFolder = ToolsFolder();
  }
  // A shipped package.exe exiting with `code`.
  void Add(const std::wstring& code, const std::wstring& options) {
    Prerequisite p;
    p.DisplayName = L"P" + std::to_wstring(list.Count());
    p.state = PrereqState::FromPackage;
    p.selected = true;
    p.locationKind = LocationKind::SetupFile;
    p.Location = L"package.exe";
    p.NoUiCommandLine = code + L" " + marker + L" " + p.DisplayName;
    p.BasicUiCommandLine = L"basic";
    p.Options = options;
    p.RetValPropName = L"R" + std::to_wstring(list.Count());
    list.prereqs.push_back(p);
  }
  size_t Runs() { return MarkerLines(marker).size(); }
};

}  // namespace

TEST(InstallLoop, MandatoryFailuresEndTheLoop) {
  const struct {
    const wchar_t* codes[3];
    const wchar_t* options[3];
    uint32_t result;
    size_t runs;
    uint32_t error;  // 0: none reported
    const wchar_t* text;  // what the error report says
  } cases[] = {
      {{L"0", L"1", L"0"}, {L"", L"", L""}, 0, 3, 0, L""},
      {{L"0", L"1", L"0"}, {L"", L"m", L""}, kInstallFailed, 2, 0xE0000024,
       L"The installation of P1 ended with code 1."},
      {{L"0", L"0x80000000", L"0"}, {L"", L"m", L""}, kInstallFailed, 2, 0xE0000024,
       L"The installation of P1 ended with code 0x80000000."},
      {{L"3010", L"0", L"0"}, {L"m", L"", L""}, kInstallFailed, 1, 0xE0000025,
       L"The installation of P0 needs a restart of the computer before setup can go on."},
      {{L"3010", L"0", L"0"}, {L"", L"", L""}, 0, 3, 0, L""},
  };
  for (const auto& c : cases) {
    LoopFixture f;
    for (int i = 0; i < 3; ++i) f.Add(c.codes[i], c.options[i]);
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    Observer observer;
    EXPECT_EQ(runner.RunInstallLoop(&observer), c.result);
    EXPECT_EQ(f.Runs(), c.runs);
    EXPECT_EQ(observer.ranges, std::vector<uint32_t>{3});
    ASSERT_EQ(observer.errors.size(), c.error ? 1u : 0u);
    if (c.error) EXPECT_EQ(observer.errors[0].second, c.error);
    if (c.error) {
      EXPECT_EQ(ToUtf8(observer.errors[0].first), ToUtf8(c.text));
    }
    EXPECT_EQ(observer.statuses.size(), c.runs);
  }
  // A package that cannot be started: why, in the system's words.
  LoopFixture f;
  f.Add(L"0", L"m");
  f.list.prereqs[0].Location = L"missing.exe";
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  Observer observer;
  EXPECT_EQ(runner.RunInstallLoop(&observer), kInstallFailed);
  ASSERT_EQ(observer.errors.size(), 1u);
  const std::wstring& text = observer.errors[0].first;
  EXPECT_EQ(text.rfind(L"The installation of P0 could not be started: ", 0), 0u) << ToUtf8(text);
  EXPECT_GT(text.size(), std::wstring(L"The installation of P0 could not be started: .").size());
  EXPECT_EQ(text.back(), L'.');
}

TEST(InstallLoop, CancelAndShutdownStopBeforeTheNextPackage) {
  LoopFixture f;
  f.Add(L"0", L"");
  f.Add(L"0", L"");
  {
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    Observer observer;
    observer.cancelAfter = 1;
    EXPECT_EQ(runner.RunInstallLoop(&observer), kInstallCancelled);
    EXPECT_EQ(f.Runs(), 1u);
  }
  {
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    runner.rebootInProgress = true;
    EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u);
    EXPECT_EQ(f.Runs(), 1u);
  }
  // Nothing to run: the range is still set.
  LoopFixture empty;
  PrerequisiteRunner runner(empty.list, empty.files, empty.status, empty.store);
  Observer observer;
  EXPECT_EQ(runner.RunInstallLoop(&observer), 0u);
  EXPECT_EQ(observer.ranges, std::vector<uint32_t>{0});
}

TEST(InstallLoop, NothingStartsAfterAnAcceptedRestart) {
  // A package's reboot rule fires and Windows accepts the restart; the
  // process lives on for a moment, and the loop must not start the next
  // package then. A refused restart lets the loop go on.
  for (bool accepted : {true, false}) {
    LoopFixture f;
    f.Add(L"0", L"r");  // optional, reboot after the package
    f.Add(L"0", L"");
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    UINT askedFlags = 0;
    runner.launcher.exitWindows = [&](UINT flags, DWORD) {
      askedFlags = flags;
      return accepted;
    };
    EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u) << accepted;
    EXPECT_EQ(f.Runs(), accepted ? 1u : 2u) << accepted;
    EXPECT_TRUE(runner.launcher.rebootRequired) << accepted;
    EXPECT_EQ(runner.rebootInProgress.load(), accepted) << accepted;
    // Asked for only when the shutdown privilege could be enabled.
    if (askedFlags != 0) EXPECT_EQ(askedFlags, static_cast<UINT>(EWX_REBOOT | EWX_FORCE));
    else EXPECT_EQ(f.Runs(), 2u);
  }
}

TEST(InstallLoop, RestartQuestionOwnedByAWindowThatIsGone) {
  // The foreground window at the time of the question belongs to a package
  // that has just ended: the question is still asked, and only a Yes
  // restarts.
  LoopFixture f;
  f.Add(L"0", L"r");
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  HWND gone = CreateWindowW(L"STATIC", L"gone", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  runner.launcher.questionOwner = [gone] { return gone; };
  bool restarted = false;
  runner.launcher.exitWindows = [&](UINT, DWORD) { return restarted = true; };
  std::atomic<bool> answered{false};
  std::thread answer([&] {
    for (int i = 0; i < 200 && !answered; ++i) {
      if (HWND box = FindWindowW(nullptr, L"Confirmation")) {
        PostMessageW(box, WM_COMMAND, IDNO, 0);
        answered = true;
      }
      Sleep(50);
    }
  });
  runner.launcher.RebootMachine(false);
  answered = true;
  answer.join();
  EXPECT_FALSE(restarted);
  EXPECT_TRUE(runner.launcher.rebootRefused);
}

TEST(InstallLoop, LaunchListPathsAndCommandLines) {
  LoopFixture f;
  f.list.general.Options = L"qb";  // both letters: the basic-UI line
  f.Add(L"0", L"rR");
  Prerequisite present;
  present.DisplayName = L"Present";
  present.state = PrereqState::Download;
  present.present = true;
  present.selected = true;
  present.locationKind = LocationKind::Url;
  present.Location = L"file:///C:/setup/x.exe";
  present.BasicUiCommandLine = L"%PREREQ_UT_ARG% /passive";
  present.Options = L"R";
  f.list.prereqs.push_back(present);
  present.Location = L"http://127.0.0.1:9/a/y.exe";
  present.Folder = L"sub";
  f.list.prereqs.push_back(present);
  f.list.prereqs.back().selected = false;  // not selected: no item
  f.list.prereqs.push_back(present);
  SetEnvironmentVariableW(L"PREREQ_UT_ARG", L"resolved");
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  runner.BuildLaunchList();
  const auto& items = runner.launcher.launchList;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].path, ToolsFolder() + L"package.exe");
  EXPECT_EQ(items[0].commandLine, L"basic");
  EXPECT_EQ(items[0].rebootMode, RebootMode::WhenInstalled);
  EXPECT_EQ(items[1].path, L"C:\\setup\\x.exe");
  EXPECT_EQ(items[1].commandLine, L"resolved /passive");
  EXPECT_EQ(items[1].rebootMode, RebootMode::None);
  EXPECT_EQ(items[2].prereqIndex, 3u);
  EXPECT_EQ(items[2].path, f.list.DownloadFolder() + L"sub\\y.exe");
}

TEST(Launcher, ReturnCodeMeaningsRetriesAndRestarts) {
  using O = PackageLauncher::Outcome;
  constexpr RebootMode N = RebootMode::None, A = RebootMode::Always;
  const struct {
    const wchar_t* codes;      // package.exe's codes, one per run
    const wchar_t* exitCodes;  // the prerequisite's ExitCodes
    RebootMode mode;
    bool waitSucceeds;
    O outcome;
    std::vector<uint32_t> attempts;
    ExitMeaning meaning;
    bool refused, inProgress;
    int reboots;
  } cases[] = {
      {L"1638", L"", N, true, O::Done, {1638}, ExitMeaning::Success, false, false, 0},
      {L"1638", L"", A, true, O::Reboot, {1638}, ExitMeaning::Success, false, false, 1},
      {L"1638", L"1638:failure", A, true, O::Failed, {1638}, ExitMeaning::Failure, false, false, 0},
      {L"5", L"5:reboot", N, true, O::Reboot, {5}, ExitMeaning::Reboot, true, false, 0},
      // A restart started by the package: nothing more starts, not even the reboot rule.
      {L"1641", L"", A, true, O::Restarted, {1641}, ExitMeaning::Restarted, false, true, 0},
      {L"1641", L"1641:failure", N, true, O::Failed, {1641}, ExitMeaning::Failure, false, false, 0},
      // Retries: at most 3 after the first run; the last code counts.
      {L"1618,1618,1618,0", L"", N, true, O::Done, {1618, 1618, 1618, 0}, ExitMeaning::Success,
       false, false, 0},
      {L"1618", L"", N, true, O::Failed, {1618, 1618, 1618, 1618}, ExitMeaning::Retry, false, false, 0},
      {L"1618", L"", N, false, O::Failed, {1618}, ExitMeaning::Retry, false, false, 0},
      {L"1618", L"1618:failure", N, true, O::Failed, {1618}, ExitMeaning::Failure, false, false, 0},
      {L"7,0", L"7:retry", N, true, O::Done, {7, 0}, ExitMeaning::Success, false, false, 0},
  };
  for (const auto& c : cases) {
    TestFolder dir;
    RecordingStore store;
    FixedDecider decider;
    TestLauncher launcher(store, decider);
    launcher.NoPause();
    launcher.isLocalSystem = [] { return false; };
    std::atomic<bool> inProgress{false};
    launcher.rebootInProgress = &inProgress;
    int waits = 0;
    launcher.waitForInstaller = [&] {
      ++waits;
      return c.waitSucceeds;
    };
    LaunchItem item = Item(ToolPath(L"package"), std::wstring(c.codes) + L" " + (dir / L"m.txt"), c.mode);
    item.exitCodes = ParseExitCodes(c.exitCodes).table;
    launcher.launchList = {item};
    const std::wstring label = std::wstring(c.codes) + L" / " + c.exitCodes;
    EXPECT_EQ(launcher.InstallPackage(0, true), c.outcome) << label;
    const LaunchItem& ran = launcher.launchList[0];
    EXPECT_EQ(ran.returnCodes, c.attempts) << label;
    EXPECT_EQ(ran.meaning, c.meaning) << label;
    EXPECT_EQ(waits, static_cast<int>(c.attempts.size()) - 1 + (c.waitSucceeds ? 0 : 1)) << label;
    EXPECT_EQ(launcher.rebootRefused, c.refused) << label;
    EXPECT_EQ(inProgress.load(), c.inProgress) << label;
    EXPECT_EQ(launcher.reboots, c.reboots) << label;
    // One code in the store: the last attempt's.
    ASSERT_EQ(store.recorded.size(), 1u) << label;
    EXPECT_EQ(static_cast<uint32_t>(store.recorded[0].second), c.attempts.back()) << label;
  }
}

TEST(InstallLoop, PackageThatStartedARestartEndsTheLoop) {
  LoopFixture f;
  f.Add(L"1641", L"m");
  f.Add(L"0", L"");
  RunRecorder recorder;
  recorder.report.prereqs.resize(2);
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  runner.recorder = &recorder;
  EXPECT_EQ(runner.RunInstallLoop(nullptr), 0u);  // no mandatory failure
  EXPECT_EQ(f.Runs(), 1u);
  EXPECT_TRUE(runner.rebootInProgress.load());
  EXPECT_FALSE(runner.launcher.rebootRequired);
  ASSERT_TRUE(recorder.report.prereqs[0].launch.has_value());
  EXPECT_EQ(recorder.report.prereqs[0].launch->meaning, ExitMeaning::Restarted);
  EXPECT_FALSE(recorder.report.prereqs[1].launch.has_value());
}
