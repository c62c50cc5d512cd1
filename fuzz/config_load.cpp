// The whole configuration load: the bytes are decoded as a run reads a
// configuration file (the decoding's properties checked: line ends, the
// designed form unchanged, a text read back the same in the designed form),
// and the text is parsed and loaded the way a run loads it (general options, prerequisites with their search entries, the
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
#include "platform/core/TextCodec.h"
#include "chainer/ConfigText.h"
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

// Every CR is followed by LF and every LF follows a CR.
bool OnlyCrLf(std::wstring_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n')) return false;
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) return false;
  }
  return true;
}

// The decoding of a configuration file's bytes.
std::wstring DecodeAndCheck(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const ConfigText config = DecodeConfigText(bytes);
  fuzz::Check(OnlyCrLf(config.text), "a lone CR or LF left in the decoded text");
  fuzz::Check(IsReadConfigEncoding(config.encoding) || config.text.empty(),
              "text from an encoding that is not read");
  if (config.encoding == ConfigEncoding::Utf16Le &&
      (config.lineEnds == ConfigLineEnds::CrLf || config.lineEnds == ConfigLineEnds::None))
    fuzz::Check(config.text == DecodeUtf16(bytes.subspan(2), false),
                "the designed form read otherwise than it always was");
  // The text written back in the designed form reads the same.
  std::vector<uint8_t> back{0xFF, 0xFE};
  for (wchar_t c : config.text) {
    back.push_back(static_cast<uint8_t>(c & 0xFF));
    back.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  const ConfigText again = DecodeConfigText(back);
  fuzz::Check(again.text == config.text, "the designed form of the text reads differently");
  fuzz::Check(IsDesignedConfigForm(again), "the text written back is not in the designed form");
  DescribeConfigForm(config);
  return config.text;
}

void Load(const IniFile& ini) {
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every code unit, as the fuzz input gives them; then the run's reading of
  // the same bytes.
  const std::wstring wide = fuzz::WideFrom(data, size);
  Load(ParseIni(wide));
  const std::wstring decoded = DecodeAndCheck(data, size);
  if (decoded != wide) Load(ParseIni(decoded));
  return 0;
}
