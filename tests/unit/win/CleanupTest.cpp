#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFolder.h"
#include "ToolPaths.h"
#include "chainer/ChainerApp.h"
#include "chainer/Cleanup.h"
#include "execution/CleanupScript.h"
#include "execution/CleanupScriptRules.h"
#include "platform/core/WinText.h"
#include "ui/StatusWindow.h"

using namespace prereq;

namespace {

using Texts = std::vector<std::wstring>;

void MakeFolder(const std::wstring& path) {
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << "error " << GetLastError();
}

void MakeFile(const std::wstring& path, const std::string& content = "x") {
  WriteBytes(path, content);
  ASSERT_TRUE(FileExists(path)) << std::string(path.begin(), path.end());
}

IniFile Chainer(const std::wstring& lines) {
  return ParseIni(L"[PREREQUISITES]\r\n[PREREQ_CHAINER]\r\n" + lines);
}

// A record the stand-in powershell.exe (psstandin) wrote.
struct Record {
  std::wstring cmdline, cwd, show;
};

std::vector<std::wstring> RecordFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*.rec").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return files;
  do files.push_back(folder + L"\\" + fd.cFileName);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return files;
}

Record ReadRecord(const std::wstring& path) {
  const std::vector<unsigned char> bytes = ReadBytes(path);
  const std::wstring text = FromUtf8(std::string(bytes.begin(), bytes.end()));
  Record record;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(pos, end - pos);
    const size_t eq = line.find(L'=');
    const std::wstring key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == L"cmdline") record.cmdline = value;
    if (key == L"cwd") record.cwd = value;
    if (key == L"show") record.show = value;
    pos = end + 1;
  }
  return record;
}

// Waits up to 30 s for the started stand-in's record.
std::vector<std::wstring> WaitForRecords(const std::wstring& folder, size_t count) {
  std::vector<std::wstring> files;
  for (int i = 0; i < 600 && (files = RecordFiles(folder)).size() < count; ++i) Sleep(50);
  return files;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\" + pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = fd.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return names;
}

// The stand-in records into a folder of the test's own while it lives.
class RecordFolder {
 public:
  explicit RecordFolder(const std::wstring& path) : path_(path) {
    CreateDirectoryW(path.c_str(), nullptr);
    SetEnvironmentVariableW(L"PREREQ_PS_RECORDS", path.c_str());
  }
  ~RecordFolder() { SetEnvironmentVariableW(L"PREREQ_PS_RECORDS", nullptr); }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace

TEST(Cleanup, DeletesListedFilesInsideTheRootAndRemovesTheFoldersLeftEmpty) {
  TestFolder dir;
  const std::wstring root = dir / L"root";
  MakeFolder(root);
  MakeFolder(root + L"\\A");
  MakeFolder(root + L"\\A\\B");
  MakeFolder(root + L"\\sub");
  MakeFolder(root + L"\\sub\\deeper");
  MakeFolder(root + L"\\full");
  MakeFolder(root + L"\\Tools");
  MakeFolder(dir / L"rootx");
  MakeFolder(dir / L"outside");
  MakeFolder(dir / L"outside\\empty");
  const std::wstring exe = root + L"\\A\\B\\prereq.exe";
  const std::wstring ini = root + L"\\A\\B\\prereq.ini";
  MakeFile(exe);
  MakeFile(ini);
  MakeFile(root + L"\\x.txt");
  MakeFile(root + L"\\keep.txt");
  MakeFile(root + L"\\sub\\deeper\\only.txt");
  MakeFile(root + L"\\full\\listed.txt");
  MakeFile(root + L"\\full\\other.txt");
  MakeFile(root + L"\\Tools\\t.txt");
  MakeFile(dir / L"rootx\\r.txt");
  MakeFile(dir / L"outside\\o.txt");
  MakeFile(dir / L"outside\\empty\\e.txt");

  const wchar_t sep = L'\u0001';
  const std::wstring files = root + L"\\x.txt" + sep + sep +                // doubled separator
                             root + L"\\sub\\\\deeper\\only.txt" + sep +    // doubled backslash
                             root + L"\\full\\listed.txt" + sep +
                             root + L"\\missing.txt" + sep +
                             L"keep.txt" + sep +                             // relative
                             root + L"x\\r.txt" + sep +                      // C:\T vs C:\Tx
                             root + L"\\..\\outside\\o.txt" + sep +          // ".." leads out
                             dir / L"outside\\empty\\e.txt" + sep;           // separator at the end
  CleanupState state;
  ASSERT_TRUE(LoadCleanup(Chainer(L"CleanupFiles=" + files + L"\r\nCleanupFolders=" + root +
                                  L"\r\nCleanupScript=" + root + L"\\A\\B\\clean.ps1\r\n"),
                          exe, ini, state));
  EXPECT_EQ(state.deleteList, (Texts{root + L"\\x.txt", root + L"\\sub\\deeper\\only.txt",
                                     root + L"\\full\\listed.txt", ini}));

  std::vector<Texts> started;
  RunCleanup(state, [&](const CleanupState& s) { started.push_back(s.folderList); });

  EXPECT_FALSE(FileExists(root + L"\\x.txt"));
  EXPECT_FALSE(FileExists(ini));
  EXPECT_FALSE(FileExists(root + L"\\sub\\deeper"));  // emptied: removed up to the root
  EXPECT_FALSE(FileExists(root + L"\\sub"));
  EXPECT_FALSE(FileExists(root + L"\\full\\listed.txt"));
  EXPECT_TRUE(FileExists(root + L"\\full\\other.txt"));
  EXPECT_TRUE(FileExists(root));  // the root itself stays
  for (const wchar_t* kept : {L"\\keep.txt", L"\\Tools\\t.txt", L"\\A\\B\\prereq.exe"})
    EXPECT_TRUE(FileExists(root + kept)) << kept;
  EXPECT_TRUE(FileExists(dir / L"rootx\\r.txt"));
  EXPECT_TRUE(FileExists(dir / L"outside\\o.txt"));
  EXPECT_TRUE(FileExists(dir / L"outside\\empty\\e.txt"));

  // The script is missing on disk (a file path: it stays); B holds only the
  // executable and A only B.
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (Texts{root + L"\\A\\B\\clean.ps1", exe, root + L"\\A\\B", root + L"\\A"}));
}

TEST(Cleanup, FolderWithOtherContentAndItsParentsAreNotHandedToTheScript) {
  TestFolder dir;
  const std::wstring root = dir / L"root";
  MakeFolder(root);
  MakeFolder(root + L"\\A");
  MakeFolder(root + L"\\A\\B");
  const std::wstring exe = root + L"\\A\\B\\prereq.exe";
  MakeFile(exe);
  MakeFile(root + L"\\A\\B\\prereq.ini");
  MakeFile(root + L"\\A\\B\\setup.log");  // left by the run: B is not empty
  MakeFile(root + L"\\A\\B\\clean.ps1");

  CleanupState state;
  ASSERT_TRUE(LoadCleanup(Chainer(L"CleanupFolders=" + root + L"\r\nCleanupScript=" + root +
                                  L"\\A\\B\\clean.ps1\r\n"),
                          exe, root + L"\\A\\B\\prereq.ini", state));
  std::vector<Texts> started;
  RunCleanup(state, [&](const CleanupState& s) { started.push_back(s.folderList); });
  // B holds three entries: out; A then holds a folder that is not handed
  // over: out too.
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (Texts{root + L"\\A\\B\\clean.ps1", exe}));
  EXPECT_TRUE(FileExists(root + L"\\A\\B\\setup.log"));

  // The same with the log gone and an extra file beside B: B stays, A goes.
  DeleteFileW((root + L"\\A\\B\\setup.log").c_str());
  MakeFile(root + L"\\A\\other.txt");
  MakeFile(root + L"\\A\\B\\prereq.ini");
  DeleteFileW((root + L"\\A\\B\\clean.ps1").c_str());
  state = CleanupState{};
  ASSERT_TRUE(LoadCleanup(Chainer(L"CleanupFolders=" + root + L"\\\r\n"), exe,
                          root + L"\\A\\B\\prereq.ini", state));
  started.clear();
  RunCleanup(state, [&](const CleanupState& s) { started.push_back(s.folderList); });
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (Texts{exe, root + L"\\A\\B"}));
}

TEST(Cleanup, NoSectionNoRootAndFoldersOutsideTheRoot) {
  TestFolder dir;
  const std::wstring exe = dir / L"prereq.exe";
  const std::wstring ini = dir / L"prereq.ini";
  MakeFile(exe);
  MakeFile(ini);
  CleanupState state;
  EXPECT_FALSE(LoadCleanup(ParseIni(L"[GeneralOptions]\r\nOptions=q\r\n"), exe, ini, state));
  EXPECT_TRUE(state.deleteList.empty());
  EXPECT_TRUE(state.folderList.empty());
  int starts = 0;
  RunCleanup(state, [&](const CleanupState&) { ++starts; });
  EXPECT_EQ(starts, 0);
  EXPECT_TRUE(FileExists(ini));

  // An empty root: the configuration file goes, no folder is removed.
  MakeFolder(dir / L"sub");
  MakeFile(dir / L"sub\\prereq.ini");
  ASSERT_TRUE(LoadCleanup(Chainer(L"CleanupFiles=" + (dir / L"sub\\prereq.ini") + L"\r\n"), exe,
                          dir / L"sub\\prereq.ini", state));
  RunCleanup(state, [&](const CleanupState&) { ++starts; });
  EXPECT_FALSE(FileExists(dir / L"sub\\prereq.ini"));
  EXPECT_TRUE(FileExists(dir / L"sub"));
  EXPECT_EQ(starts, 1);

  // The chain climbs only inside the root.
  MakeFolder(dir / L"T");
  MakeFolder(dir / L"T\\a");
  MakeFolder(dir / L"T\\a\\b");
  MakeFolder(dir / L"U");
  MakeFolder(dir / L"U\\a");
  RemoveFolderChain(dir / L"U\\a", dir / L"T");
  EXPECT_TRUE(FileExists(dir / L"U\\a"));
  RemoveFolderChain(dir / L"T\\a\\b", L"");
  EXPECT_TRUE(FileExists(dir / L"T\\a\\b"));
  RemoveFolderChain(dir / L"T\\a\\b", dir / L"T\\");
  EXPECT_FALSE(FileExists(dir / L"T\\a"));
  EXPECT_TRUE(FileExists(dir / L"T"));
}

TEST(Cleanup, LongPathsAreDeletedAndRemovedInTheirLongForm) {
  TestFolder dir;
  const std::wstring root = dir / L"root";
  MakeFolder(root);
  std::wstring folder = root;
  std::vector<std::wstring> chain;
  while (folder.size() < 300) {
    folder += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    chain.push_back(folder);
  }
  const std::wstring file = folder + L"\\x.txt";
  WriteBytes(L"\\\\?\\" + file, "x");
  ASSERT_TRUE(FileExists(L"\\\\?\\" + file));
  CleanupState state;
  ASSERT_TRUE(LoadCleanup(Chainer(L"CleanupFiles=" + file + L"\r\nCleanupFolders=" + root + L"\r\n"),
                          dir / L"prereq.exe", dir / L"prereq.ini", state));
  ASSERT_EQ(state.deleteList.size(), 2u);
  EXPECT_EQ(state.deleteList[0], file);
  RunCleanup(state, [](const CleanupState&) {});
  EXPECT_FALSE(FileExists(L"\\\\?\\" + file));
  EXPECT_FALSE(FileExists(L"\\\\?\\" + chain.front()));  // every folder up to the root
  EXPECT_TRUE(FileExists(root));
}

TEST(CleanupScript, StartsTheStandInWithTheQuotedPathsInTheScriptsFolder) {
  TestFolder dir;
  RecordFolder records(dir / L"records");
  const std::wstring temp = dir / L"temp dir's \u2019x";
  const std::wstring scripts = dir / L"scripts folder";
  MakeFolder(temp);
  MakeFolder(scripts);
  const std::wstring script = scripts + L"\\clean.ps1";
  MakeFile(script, "param($paths, $retry_count)\r\n");
  const Texts paths = {script, dir / L"O'Brien\u2018s setup\\prereq.exe", dir / L"O'Brien"};

  ASSERT_TRUE(RunCleanupScriptWith(paths, script, false, 10, ToolPath(L"psstandin"), temp));
  const std::vector<std::wstring> files = WaitForRecords(records.path(), 1);
  ASSERT_EQ(files.size(), 1u);
  const Record record = ReadRecord(files[0]);

  const std::vector<std::wstring> copies = FilesIn(temp, L"*");
  ASSERT_EQ(copies.size(), 1u);  // the copy only: the ".tmp" name is gone
  const std::wstring copy = temp + L"\\" + copies[0];
  EXPECT_EQ(copies[0].substr(0, 3), L"KX_");
  EXPECT_EQ(copies[0].substr(copies[0].size() - 4), L".ps1");
  EXPECT_EQ(ReadBytes(copy), ReadBytes(script));

  const std::wstring parameters =
      L"-NoProfile -NonInteractive -NoLogo -ExecutionPolicy RemoteSigned -Command \"& '" +
      dir.path() + L"\\temp dir''s \u2019\u2019x\\" + copies[0] + L"' -paths '" + script + L"','" +
      dir.path() + L"\\O''Brien\u2018\u2018s setup\\prereq.exe','" + dir.path() +
      L"\\O''Brien' -retry_count 10\"";
  ASSERT_GE(record.cmdline.size(), parameters.size());
  EXPECT_EQ(record.cmdline.substr(record.cmdline.size() - parameters.size()), parameters);
  EXPECT_NE(record.cmdline.find(L"psstandin.exe"), std::wstring::npos);
  EXPECT_TRUE(EqualsIgnoringCase(record.cwd, scripts) ||
              EqualsIgnoringCase(record.cwd, scripts + L"\\"))
      << std::string(record.cwd.begin(), record.cwd.end());
  EXPECT_EQ(record.show, L"0");  // SW_HIDE

  // A second start gets a copy of its own.
  ASSERT_TRUE(RunCleanupScriptWith(paths, script, false, 10, ToolPath(L"psstandin"), temp));
  EXPECT_EQ(WaitForRecords(records.path(), 2).size(), 2u);
  EXPECT_EQ(FilesIn(temp, L"KX_*.ps1").size(), 2u);
}

TEST(CleanupScript, StartsNothingWithoutPathsScriptOrPowerShell) {
  TestFolder dir;
  RecordFolder records(dir / L"records");
  const std::wstring temp = dir / L"temp";
  MakeFolder(temp);
  const std::wstring script = dir / L"clean.ps1";
  MakeFile(script);
  const std::wstring standIn = ToolPath(L"psstandin");

  EXPECT_TRUE(RunCleanupScriptWith({}, script, false, 10, standIn, temp));
  EXPECT_FALSE(RunCleanupScriptWith({script}, dir / L"missing.ps1", false, 10, standIn, temp));
  EXPECT_FALSE(RunCleanupScriptWith({script}, L"", false, 10, standIn, temp));
  EXPECT_FALSE(RunCleanupScriptWith({script}, script, false, 10, standIn, L""));
  EXPECT_TRUE(RunCleanupScriptWith({script}, script, false, 10, L"", temp));
  EXPECT_TRUE(ShellRunHidden(L"", L"-x", temp));
  EXPECT_TRUE(ShellRunHidden(dir / L"missing.exe", L"", temp));  // true also when it fails
  Sleep(1500);
  EXPECT_EQ(RecordFiles(records.path()).size(), 0u);
  EXPECT_EQ(FilesIn(temp, L"*").size(), 0u);  // no copy, no ".tmp" left
}

TEST(CleanupScript, PowerShellIsLookedForInTheSystemFolder) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring expected = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
  const std::wstring found = GetPowerShellPath();
  if (GetFileAttributesW(expected.c_str()) == INVALID_FILE_ATTRIBUTES) {
    EXPECT_EQ(found, L"");
  } else {
    EXPECT_TRUE(EqualsIgnoringCase(found, expected)) << std::string(found.begin(), found.end());
  }
}

TEST(ChainerAppCleanup, RunsOnceWhetherCalledOrLeftToTheDestructor) {
  TestFolder dir;
  const std::wstring root = dir / L"root";
  MakeFolder(root);
  MakeFolder(root + L"\\setup");
  const std::wstring exe = root + L"\\setup\\prereq.exe";
  const std::wstring ini = root + L"\\setup\\prereq.ini";
  MakeFile(exe);
  const std::wstring text = L"[GeneralOptions]\r\nOptions=q\r\n[PREREQUISITES]\r\n"
                            L"[PREREQ_CHAINER]\r\nCleanupFolders=" + root +
                            L"\r\nCleanupFiles=" + root + L"\\x.txt\r\n";
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  MakeFile(ini, bytes);
  MakeFile(root + L"\\x.txt");

  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  {
    ChainerApp app(exe);
    app.Run();
    EXPECT_EQ(app.exitCode, 0);
    EXPECT_TRUE(FileExists(ini));  // nothing happens before the clean-up
    app.RunCleanup();
    EXPECT_FALSE(FileExists(ini));
    EXPECT_FALSE(FileExists(root + L"\\x.txt"));
    MakeFile(root + L"\\x.txt");
    app.RunCleanup();  // once only
    EXPECT_TRUE(FileExists(root + L"\\x.txt"));
  }
  EXPECT_TRUE(FileExists(root + L"\\x.txt"));  // nor again by the destructor

  // Left to the destructor.
  MakeFile(ini, bytes);
  {
    ChainerApp app(exe);
    app.Run();
  }
  EXPECT_FALSE(FileExists(ini));
  EXPECT_FALSE(FileExists(root + L"\\x.txt"));
  SetCurrentDirectoryW(cwd);
  uiAllowed = true;
}
