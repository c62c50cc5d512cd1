#include <gtest/gtest.h>
#include <windows.h>

#include "TestFolder.h"
#include "acquisition/Md5.h"
#include "acquisition/PrerequisiteRunner.h"
#include "chainer/ChainingRun.h"

using namespace prereq;

namespace {

struct RunnerFixture {
  TestFolder dir;
  PrereqList list;
  PackagedFiles files;
  StatusWindow status;
  ResultStore store{"PrereqTestRunnerStore"};
  RunnerFixture() { list.general.DownloadFolder = dir.path() + L"\\dl"; }
  Prerequisite& Add(PrereqState state, bool selected, LocationKind kind, std::wstring options = L"") {
    Prerequisite p;
    p.DisplayName = L"P" + std::to_wstring(list.Count());
    p.state = state;
    p.selected = selected;
    p.locationKind = kind;
    p.Location = L"http://127.0.0.1:9/p" + std::to_wstring(list.Count()) + L".exe";
    p.Options = std::move(options);
    list.prereqs.push_back(p);
    return list.prereqs.back();
  }
};

TEST(PrerequisiteRunner, ActionRule) {
  RunnerFixture f;
  f.Add(PrereqState::Download, false, LocationKind::Url);           // not selected
  f.Add(PrereqState::Download, true, LocationKind::Url);            // download
  f.Add(PrereqState::Download, true, LocationKind::Url).present = true;  // already there
  f.Add(PrereqState::OsNotSupported, true, LocationKind::Url);
  f.Add(PrereqState::Installed, true, LocationKind::OpenSite);
  f.Add(PrereqState::Installed, true, LocationKind::SetupFile);
  f.Add(PrereqState::Installed, true, LocationKind::Url);           // target file missing
  Prerequisite& fileUrl = f.Add(PrereqState::Installed, true, LocationKind::Url);
  fileUrl.Location = L"file:///C:/setup/x.exe";                     // present by definition
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  const PrerequisiteAction expected[] = {
      PrerequisiteAction::Skip,           PrerequisiteAction::Download,
      PrerequisiteAction::RunPresentFile, PrerequisiteAction::NotApplicable,
      PrerequisiteAction::OpenSite,       PrerequisiteAction::RunShippedFile,
      PrerequisiteAction::Download,       PrerequisiteAction::RunPresentFile};
  for (size_t i = 0; i < f.list.Count(); ++i) EXPECT_EQ(runner.Action(i), expected[i]) << i;
}

TEST(PrerequisiteRunner, MandatoryCheckLooksAtSelectedMandatoryOnly) {
  RunnerFixture f;
  f.Add(PrereqState::Download, true, LocationKind::Url, L"");      // optional, selected
  f.Add(PrereqState::Installed, false, LocationKind::Url, L"m");   // mandatory, done
  f.Add(PrereqState::Download, true, LocationKind::Url, L"mi");    // "i" exempts
  PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
  EXPECT_TRUE(CheckMandatory(runner));
  f.list.At(1).selected = true;
  f.list.At(1).state = PrereqState::Download;
  EXPECT_FALSE(CheckMandatory(runner));
}

struct AcceptCase {
  const char* name;
  std::string content;
  uint32_t expectedSize;
  std::wstring md5;
  bool accepted;
};

TEST(PrerequisiteRunner, AcceptanceBySizeAndMd5) {
  TestFolder dir;
  const AcceptCase cases[] = {
      {"no_checks", "abc", 0, L"", true},
      {"size_ok", "abc", 3, L"", true},
      {"size_wrong", "abc", 4, L"", false},
      {"md5_ok", "abc", 0, L"900150983cd24fb0d6963f7d28e17f72", true},
      {"md5_upper_case", "abc", 3, L"900150983CD24FB0D6963F7D28E17F72", true},
      {"md5_longer_text", "abc", 0, L"900150983cd24fb0d6963f7d28e17f72ZZ", true},
      {"md5_shorter_text", "abc", 0, L"900150983cd24fb0d6963f7d28e17f7", false},
      {"md5_wrong", "abc", 0, L"00000000000000000000000000000000", false},
      {"empty_file_md5_of_empty", "", 0, L"d41d8cd98f00b204e9800998ecf8427e", false},
  };
  for (const AcceptCase& c : cases) {
    std::wstring path = dir / L"f.bin";
    WriteBytes(path, c.content);
    EXPECT_EQ(AcceptDownloadedFile(path, c.expectedSize, c.md5), c.accepted) << c.name;
    // The digest the transfer took while writing the same bytes decides the
    // same way.
    WrittenDigests written;
    written.known = true;
    written.bytes = c.content.size();
    written.md5 = Md5HexOf(c.content.data(), c.content.size());
    EXPECT_EQ(AcceptDownloadedFile(path, c.expectedSize, c.md5, written), c.accepted) << c.name << " (written)";
  }
  EXPECT_FALSE(AcceptDownloadedFile(dir / L"missing.bin", 3, L""));
}

// A file that changed after it was written: the written digest is not taken
// for a file of another length, and a file that is gone fails as it does
// when read.
TEST(PrerequisiteRunner, WrittenDigestOnlyForTheFileAsWritten) {
  TestFolder dir;
  const std::wstring md5 = L"900150983cd24fb0d6963f7d28e17f72";  // "abc"
  WrittenDigests written;
  written.known = true;
  written.bytes = 3;
  written.md5 = "900150983cd24fb0d6963f7d28e17f72";
  const std::wstring path = dir / L"f.bin";
  struct Case {
    const char* name;
    const char* content;  // nullptr: no file
    bool accepted;
  };
  const Case cases[] = {
      {"as written", "abc", true},
      {"grown", "abcd", false},
      {"cut", "ab", false},
      {"emptied", "", false},
      {"gone", nullptr, false},
      // Rewritten in place with as many bytes: not noticed, as it is not when
      // it happens after a file was read. Whoever can write the download
      // folder can change the file at any time before it runs.
      {"same length, other bytes", "abd", true},
  };
  for (const Case& c : cases) {
    DeleteFileW(path.c_str());
    if (c.content != nullptr) WriteBytes(path, c.content);
    EXPECT_EQ(AcceptDownloadedFile(path, 0, md5, written), c.accepted) << c.name;
  }
  // Without an MD5 to check the written digest plays no part.
  WriteBytes(path, "abcd");
  EXPECT_TRUE(AcceptDownloadedFile(path, 4, L"", written));
}

TEST(PrerequisiteRunner, DestructionRemovesDownloadsAndCreatedFolders) {
  RunnerFixture f;
  std::wstring folder = f.dir / L"made";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\inner").c_str(), nullptr);
  WriteBytes(folder + L"\\inner\\x.exe", "x");
  {
    PrerequisiteRunner runner(f.list, f.files, f.status, f.store);
    runner.context.foldersCreated = {folder, folder + L"\\inner"};
    runner.context.deletionList = {folder + L"\\inner\\x.exe"};
  }
  EXPECT_FALSE(FileExists(folder));
}

}  // namespace
