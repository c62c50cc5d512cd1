#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestFolder.h"
#include "ToolPaths.h"
#include "acquisition/DownloadRules.h"
#include "evaluation/OsConditions.h"
#include "evaluation/Search.h"
#include "logging/Logger.h"
#include "platform/core/Handles.h"
#include "platform/core/TempFolder.h"
#include "platform/core/WinText.h"

using namespace prereq;

namespace {

using S = PrereqState;

// The log of the evaluation without the language condition's lines.
class EvaluationLog : public LogCapture {
 public:
  EvaluationLog()
      : LogCapture(L"prereq-ut-evaluation.log", [](const std::wstring& line) {
          return line.rfind(L"SystemDefault LangID=", 0) == 0;
        }) {}
};

Prerequisite Prereq(const std::wstring& name, LocationKind kind, int32_t op,
                    std::vector<SearchEntry> searches = {}, const std::wstring& options = L"") {
  Prerequisite p;
  p.DisplayName = name;
  p.locationKind = kind;
  p.Location = kind == LocationKind::Url ? L"http://127.0.0.1:9/" + name + L".exe" : name + L".exe";
  p.Operator = op;
  p.Searches = std::move(searches);
  p.Options = options;
  p.ignoreDetection = p.HasOption(L'i');
  return p;
}

SearchEntry KeyExists(const std::wstring& path) {
  SearchEntry e;
  e.SearchType = 5;
  e.SearchString = path;
  return e;
}

const std::wstring kFound = L"Search result:An acceptable version was found.";
const std::wstring kDownload = L"Search result:No acceptable version found. It must be downloaded.";
const std::wstring kSite =
    L"Search result:No acceptable version found. It must be downloaded manually from a site.";
const std::wstring kPackage =
    L"Search result:No acceptable version found. It must be installed from package.";

// A key under HKCU\Software\PrereqTests that a test creates and removes.
class ScratchKey {
 public:
  explicit ScratchKey(const std::wstring& name)
      : sub_(L"Software\\PrereqTests\\" + name + L"-" + std::to_wstring(GetCurrentProcessId())) {}
  ~ScratchKey() { RegDeleteTreeW(HKEY_CURRENT_USER, sub_.c_str()); }
  void Create() {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, sub_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
  }
  std::wstring Path() const { return L"HKCU\\" + sub_; }

 private:
  std::wstring sub_;
};

TEST(EvaluatePrereq, EntriesDecideByLocation) {
  struct Case {
    LocationKind kind;
    int32_t op;
    bool keyExists;  // the one entry, when there is one
    bool withEntry;
    S state;
    std::wstring resultLine;
  };
  const Case cases[] = {
      {LocationKind::Url, 0, false, false, S::Installed, kFound},  // no entries, AND
      {LocationKind::Url, 1, false, false, S::Download, kDownload},  // no entries, OR
      {LocationKind::OpenSite, 1, false, false, S::OpenSite, kSite},
      {LocationKind::SetupFile, 1, false, false, S::FromPackage, kPackage},
      {LocationKind::SetupFile, 0, true, true, S::Installed, kFound},
      {LocationKind::SetupFile, 0, false, true, S::FromPackage, kPackage},
      {LocationKind::Url, 1, true, true, S::Installed, kFound},
  };
  ScratchKey present(L"Evaluate");
  present.Create();
  for (const Case& c : cases) {
    PrereqList list;
    std::vector<SearchEntry> entries;
    if (c.withEntry) entries.push_back(KeyExists(present.Path() + (c.keyExists ? L"" : L"\\Missing")));
    list.prereqs.push_back(Prereq(L"Runtime 1.0", c.kind, c.op, entries));
    EvaluationLog log;
    EvaluatePrereq(list, 0, false);
    EXPECT_EQ(list.prereqs[0].state, c.state);
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{L"Searching for:Runtime 1.0", c.resultLine}));
  }
}

TEST(EvaluatePrereq, OptionIgnoresDetectionAndKeepsItsState) {
  TestFolder dir;
  PackagedFiles files;
  files.extractionFolder = ToolsFolder();
  PrereqList list;
  list.packagedFiles = &files;
  ScratchKey key(L"Ignore");
  key.Create();

  SearchEntry program;
  program.SearchType = 10;
  program.SearchString = L"exitcode.exe";
  program.RefContent = L"WND_HIDE";
  program.SearchCmdLine = L"0 \"" + (dir / L"marker.txt") + L"\"";
  list.prereqs.push_back(Prereq(L"Ignored", LocationKind::Url, 0, {KeyExists(key.Path()), program}, L"i"));
  list.prereqs.push_back(Prereq(L"Site", LocationKind::OpenSite, 0, {KeyExists(key.Path())}, L"xi"));
  list.prereqs.push_back(Prereq(L"Shipped", LocationKind::SetupFile, 0, {}, L"i"));
  {
    EvaluationLog log;
    EvaluatePrereq(list, 0, false);
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{L"Searching for:Ignored", kDownload}));
  }
  EvaluatePrereq(list, 1, false);
  EvaluatePrereq(list, 2, false);
  EXPECT_EQ(list.prereqs[0].state, S::Download);  // not installed, although every entry holds
  EXPECT_EQ(list.prereqs[1].state, S::OpenSite);
  EXPECT_EQ(list.prereqs[2].state, S::FromPackage);
  EXPECT_EQ(MarkerRuns(dir / L"marker.txt"), 0);  // the searches did not run

  // A re-evaluation leaves the state as it is, whatever it was set to.
  list.prereqs[0].state = S::Installed;
  {
    EvaluationLog log;
    EvaluatePrereq(list, 0, true);
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{L"Searching for:Ignored"});
  }
  EXPECT_EQ(list.prereqs[0].state, S::Installed);
  EXPECT_EQ(MarkerRuns(dir / L"marker.txt"), 0);
}

TEST(EvaluatePrereq, ReevaluationFollowsTheMachine) {
  ScratchKey key(L"Reevaluate");
  PrereqList list;
  list.prereqs.push_back(Prereq(L"Later", LocationKind::Url, 0, {KeyExists(key.Path())}));
  EvaluatePrereq(list, 0, false);
  EXPECT_EQ(list.prereqs[0].state, S::Download);
  key.Create();  // as if the package had been installed
  EvaluatePrereq(list, 0, true);
  EXPECT_EQ(list.prereqs[0].state, S::Installed);
}

TEST(EvaluatePrereq, SystemConditionsAreFinal) {
  const std::wstring general = GeneralSystemName(GetOsInfo());
  const std::wstring otherLanguage = std::to_wstring(GetSystemDefaultLangID() + 1) + L";";
  struct Case {
    std::wstring winNT, winNT64, languages, options;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {general, general, L"", L"", {L"Wrong OS or Os language for:Tool"}},
      {L"", L"", otherLanguage, L"", {L"Wrong OS or Os language for:Tool"}},
      {L"", L"", L"", L"d", {}},  // only on ARM64: the test machines are not
  };
  for (const Case& c : cases) {
    PrereqList list;
    Prerequisite p = Prereq(L"Tool", LocationKind::Url, 0, {}, c.options);
    p.WinNTVersions = c.winNT;
    p.WinNT64Versions = c.winNT64;
    p.LanguageList = c.languages;
    list.prereqs.push_back(p);
    {
      EvaluationLog log;
      EvaluatePrereq(list, 0, false);
      EXPECT_EQ(list.prereqs[0].state, S::OsNotSupported) << ToUtf8(c.options);
      EXPECT_EQ(log.Lines(), c.log) << ToUtf8(c.options);
    }
    // Without the condition the decision stands: nothing is evaluated again.
    list.prereqs[0].WinNTVersions = list.prereqs[0].WinNT64Versions = list.prereqs[0].LanguageList = L"";
    list.prereqs[0].Options = L"";
    EvaluationLog log;
    EvaluatePrereq(list, 0, true);
    EvaluatePrereq(list, 0, false);
    EXPECT_EQ(list.prereqs[0].state, S::OsNotSupported);
    EXPECT_TRUE(log.Lines().empty());
  }

  // "c" excludes ARM64 only; the own language passes.
  PrereqList list;
  Prerequisite p = Prereq(L"Tool", LocationKind::Url, 0, {}, L"c");
  p.LanguageList = std::to_wstring(GetSystemDefaultLangID()) + L";";
  list.prereqs.push_back(p);
  EvaluatePrereq(list, 0, false);
  EXPECT_EQ(list.prereqs[0].state, S::Installed);
}

TEST(EvaluateAll, StatesPresenceAndSelection) {
  TestFolder download;
  WriteBytes(download / L"Base.exe", "12345");
  WriteBytes(download / L"Sized.exe", "12345");
  const std::wstring general = GeneralSystemName(GetOsInfo());

  PrereqList list;
  list.general.DownloadFolder = download.path();
  list.prereqs.push_back(Prereq(L"Base", LocationKind::Url, 1));  // 0: downloaded before
  list.prereqs.push_back(Prereq(L"Sized", LocationKind::Url, 1));  // 1: wrong size
  list.prereqs.back().ExactSize = 3;
  list.prereqs.push_back(Prereq(L"Installed", LocationKind::Url, 0));  // 2
  list.prereqs.push_back(Prereq(L"Child", LocationKind::SetupFile, 1));  // 3
  list.prereqs.back().ParentPrereq = L"Installed";
  list.prereqs.push_back(Prereq(L"Excluded", LocationKind::Url, 1));  // 4
  list.prereqs.back().WinNTVersions = list.prereqs.back().WinNT64Versions = general;
  list.prereqs.push_back(Prereq(L"Local", LocationKind::Url, 1));  // 5: a file URL
  list.prereqs.back().Location = L"file:///C:/nowhere/setup.exe";
  list.prereqs.push_back(Prereq(L"Kid", LocationKind::Url, 1));  // 6: parent comes later
  list.prereqs.back().ParentPrereq = L"Site";
  list.prereqs.push_back(Prereq(L"Site", LocationKind::OpenSite, 1));  // 7
  list.prereqs.push_back(Prereq(L"Orphan", LocationKind::Url, 1));  // 8
  list.prereqs.back().ParentPrereq = L"Nobody";

  EvaluationLog log;
  EXPECT_NO_THROW(EvaluateAll(list));

  const S states[] = {S::Download, S::Download, S::Installed, S::FromPackage, S::OsNotSupported,
                      S::Download, S::Download, S::OpenSite, S::Download};
  const bool present[] = {true, false, false, false, false, true, false, false, false};
  const bool selected[] = {true, true, false, true, false, true, true, true, true};
  for (size_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list.prereqs[i].state, states[i]) << i;
    EXPECT_EQ(list.prereqs[i].present, present[i]) << i;
    EXPECT_EQ(list.prereqs[i].selected, selected[i]) << i;
  }

  std::vector<std::wstring> selections;
  for (const std::wstring& line : log.Lines())
    if (line.rfind(L"Prerequisite selected for install:", 0) == 0 || line.rfind(L"Parent", 0) == 0)
      selections.push_back(line);
  const std::vector<std::wstring> expected = {
      L"Prerequisite selected for install:Base",  L"Prerequisite selected for install:Sized",
      L"Prerequisite selected for install:Child", L"Prerequisite selected for install:Local",
      L"Prerequisite selected for install:Kid",   L"Prerequisite selected for install:Site",
      L"Prerequisite selected for install:Orphan", L"Parent prerequisite not found:Nobody",
  };
  EXPECT_EQ(selections, expected);

  // Deselecting the parent takes its child along.
  SetSelected(list, 7, false);
  EXPECT_FALSE(list.prereqs[7].selected);
  EXPECT_FALSE(list.prereqs[6].selected);
}

TEST(IsPresent, FilesOfTheDownloadFolder) {
  TestFolder dir;
  WriteBytes(dir / L"five.exe", "12345");
  CreateDirectoryW((dir / L"folder.exe").c_str(), nullptr);
  CreateDirectoryW((dir / L"sub").c_str(), nullptr);
  WriteBytes(dir / L"sub\\named.msi", "");
  const std::wstring folder = dir.path() + L"\\";
  struct Case {
    std::wstring url, sub;
    int32_t size;
    bool present;
  };
  const Case cases[] = {
      {L"http://h/five.exe", L"", 5, true},
      {L"http://h/five.exe", L"", 4, false},
      {L"http://h/folder.exe", L"", 0, false},  // a folder is no package file
      {L"http://h/none.exe", L"", 0, false},
      {L"http://h/get.php?id=1", L"sub?named.msi", 0, true},
      {L"FILE://C:/nowhere.exe", L"", 0, true},
  };
  for (const Case& c : cases) {
    Prerequisite p;
    p.Location = c.url;
    p.locationKind = LocationKind::Url;
    p.Folder = c.sub;
    p.ExactSize = c.size;
    EXPECT_EQ(IsPresent(p, folder), c.present) << ToUtf8(c.url) << " " << ToUtf8(c.sub);
  }
}

}  // namespace
