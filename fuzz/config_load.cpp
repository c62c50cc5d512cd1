// The whole configuration load: the text is parsed and loaded the way a run
// loads it (general options, prerequisites with their search entries, the
// chainer settings, the download and extraction folders, with a fake
// expansion of references), and every pure rule that then reads the loaded
// texts runs over them: versions, quiet switches, target paths, presence,
// option letters, language and system lists, search strings, and the
// selection along ParentPrereq links.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "acquisition/DownloadRules.h"
#include "acquisition/Md5.h"
#include "acquisition/TransferRules.h"
#include "chainer/Configuration.h"
#include "chainer/IniFile.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/OsConditions.h"
#include "evaluation/SearchRules.h"
#include "evaluation/Selection.h"
#include "evaluation/Versions.h"
#include "execution/LaunchRules.h"
#include "execution/MsixRules.h"
#include "platform/core/PathForms.h"

using namespace prereq;

namespace {

// A machine with two folders, two environment variables and registry values
// named after their paths.
std::wstring FakeExpand(std::wstring_view text, bool use64) {
  ReferenceResolver resolver;
  resolver.folderProperty = [use64](std::wstring_view name, std::wstring& value) {
    if (name == L"TempFolder") value = L"C:\\Temp\\";
    else if (name == L"ProgramFilesFolder") value = use64 ? L"C:\\Program Files\\" : L"C:\\Program Files (x86)\\";
    else return false;
    return true;
  };
  resolver.environment = [](std::wstring_view name, std::wstring& value) {
    if (name == L"SystemRoot") value = L"C:\\Windows";
    else if (name == L"TEMP") value = L"C:\\Temp";
    else return false;
    return true;
  };
  resolver.registry = [](std::wstring_view path) { return L"reg:" + std::wstring(path); };
  return ExpandReferences(text, resolver);
}

// States spread over the prerequisites by their names, so that the selection
// meets every kind of parent and child.
PrereqState StateFor(const Prerequisite& p) {
  size_t h = p.DisplayName.size() * 31 + p.Id.size();
  for (wchar_t c : p.DisplayName) h = h * 131 + static_cast<size_t>(c);
  static constexpr PrereqState kStates[] = {PrereqState::Installed, PrereqState::FromPackage,
                                            PrereqState::Download, PrereqState::OpenSite,
                                            PrereqState::OsNotSupported};
  return kStates[h % 5];
}

void ReadPrerequisite(const Prerequisite& p, std::wstring_view downloadFolder) {
  VersionQuad v;
  ParseVersion(p.VerMin, v);
  ParseVersion(p.VerMax, v);
  IsQuietCommandLine(p.CommandLine);
  IsQuietCommandLine(p.BasicUiCommandLine);
  IsQuietCommandLine(p.NoUiCommandLine);
  WithLeadingSpace(FakeExpand(p.CommandLine, false));
  RebootModeFor(p.Options);
  LanguageListAllows(p.LanguageList, 0x0409);
  OsListAllowsNames(p.HasOption(L'x'), p.WinNTVersions, p.WinNT64Versions, L"Windows 7 SP1",
                    L"Windows 7");
  Md5TextMatches(p.MD5, "0123456789abcdef0123456789abcdef");
  const std::wstring target = TargetPath(downloadFolder, p.Location, p.Folder);
  fuzz::Check(target.compare(0, downloadFolder.size(), downloadFolder) == 0,
              "target path outside the download folder's text");
  ToLongPathForm(target);
  IsPresentWith(p, downloadFolder, [](const std::wstring&, uint64_t& size) {
    size = 4096;
    return true;
  });
  std::wstring local;
  FileUrlLocalPath(p.Location, local);
  FileUrlPath(p.Location);
  LocalSystemCommand(p.Location, target, WithLeadingSpace(p.CommandLine), L"C:\\Windows\\system32");
  for (const SearchEntry& e : p.Searches) {
    const DepthSplit split = SplitDepthSuffix(e.SearchString);
    ParseDepth(split.suffix);
    FileSearchCandidates(e.SearchString, {L"C:\\", L"D:\\"});
    std::wstring subkey;
    SubkeyOf(e.SearchString, subkey);
    KeyAndValue kv;
    SplitValuePath(e.SearchString, kv);
    SplitMsixSearchString(e.SearchString);
    CompareWithReference(e.SearchString, e.RefContent);
    VersionInRange({e.SearchString, e.VerMin}, e.VerMin, e.VerMax);
    FakeExpand(e.SearchCmdLine, true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const IniFile ini = ParseIni(fuzz::WideFrom(data, size));
  PrereqList list;
  list.expander = FakeExpand;
  list.tempFolder = [] { return std::wstring(L"C:\\Temp"); };
  LoadConfiguration(ini, list);
  ChainerSettings settings;
  LoadChainerSettings(ini, settings);
  const std::wstring downloadFolder = list.DownloadFolder();
  list.ResolveExtractionFolder();
  ChooseCommandLineField(list.general.Options);

  for (Prerequisite& p : list.prereqs) {
    ReadPrerequisite(p, downloadFolder);
    p.state = StateFor(p);
  }
  // The selection as the evaluation makes it, then again as after an install.
  size_t lines = 0;
  const SelectionLog log = [&lines](std::wstring_view) { ++lines; };
  for (size_t i = 0; i < list.Count(); ++i)
    SetSelectedWithLog(list, i, MustBeObtained(list.prereqs[i].state), log);
  for (size_t i = 0; i < list.Count(); ++i) {
    if (list.prereqs[i].state == PrereqState::Download) list.prereqs[i].state = PrereqState::Installed;
    SetSelectedWithLog(list, i, MustBeObtained(list.prereqs[i].state), log);
  }
  return 0;
}
