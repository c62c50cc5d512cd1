#include "evaluation/SearchRules.h"

#include <limits>

namespace prereq {

namespace {

constexpr SearchKindInfo kSearchKinds[] = {
    {SearchKind::FileVersion, L"FileVersion",
     L"file path, optionally followed by \"?\" and a folder depth",
     L"the version of the first matching file", true, true},
    {SearchKind::RegistrySubkeys, L"RegistrySubkeys", L"registry key path",
     L"the names of all subkeys of the key", true, false},
    {SearchKind::RegistryValueVersion, L"RegistryValueVersion",
     L"registry key path, \"\\\", value name", L"the value's data, taken as text", true, false},
    {SearchKind::MsiProductCode, L"MsiProductCode", L"product code",
     L"the installed product's version", true, false},
    {SearchKind::MsiUpgradeCode, L"MsiUpgradeCode", L"upgrade code",
     L"the version of every installed product related to the upgrade code", true, false},
    {SearchKind::RegistryKeyExists, L"RegistryKeyExists", L"registry key path",
     L"the key can be opened", false, false},
    {SearchKind::RegistryKeyMissing, L"RegistryKeyMissing", L"registry key path",
     L"the key cannot be opened", false, false},
    {SearchKind::RegistryValueExists, L"RegistryValueExists",
     L"registry key path, \"\\\", value name", L"the value can be read", false, false},
    {SearchKind::RegistryValueMissing, L"RegistryValueMissing",
     L"registry key path, \"\\\", value name",
     L"the key cannot be opened or the value cannot be read", false, false},
    {SearchKind::RegistryValueCompare, L"RegistryValueCompare",
     L"registry key path, \"\\\", value name",
     L"the value, read as text, passes the RefContent comparison", false, false},
    {SearchKind::CommandExitCode, L"CommandExitCode", L"name of a file shipped with the setup",
     L"the detection program, run with SearchCmdLine, exits with 0", false, false},
    {SearchKind::MsiComponent, L"MsiComponent", L"component code",
     L"the component is installed locally or runs from source", false, false},
    {SearchKind::RegistryValueNames, L"RegistryValueNames", L"registry key path",
     L"the names of all values of the key", true, false},
    {SearchKind::MsixPackage, L"MsixPackage", L"name?architecture?publisher",
     L"the version of the installed packaged app (Windows 10 and later)", true, false},
    {SearchKind::SubfolderNames, L"SubfolderNames", L"folder path",
     L"the name of every subfolder of the folder", true, true},
};

}  // namespace

std::span<const SearchKindInfo> SearchKinds() { return kSearchKinds; }

const SearchKindInfo* FindSearchKind(int32_t searchType) {
  for (const SearchKindInfo& info : kSearchKinds)
    if (static_cast<int32_t>(info.kind) == searchType) return &info;
  return nullptr;
}

bool CombineSearches(size_t count, int32_t op, const std::function<bool(size_t)>& runEntry) {
  bool result = op == 0;
  for (size_t i = 0; i < count; ++i) {
    const bool found = runEntry(i);
    if (op == 0) result = result && found;
    else if (op == 1) result = result || found;
    if ((op == 0 && !result) || (op == 1 && result)) break;
  }
  return result;
}

PrereqState StateAfterSearch(bool found, LocationKind kind) {
  if (found) return PrereqState::Installed;
  switch (kind) {
    case LocationKind::Url:
      return PrereqState::Download;
    case LocationKind::OpenSite:
      return PrereqState::OpenSite;
    default:
      return PrereqState::FromPackage;
  }
}

const wchar_t* StateText(PrereqState state) {
  switch (state) {
    case PrereqState::Installed:
      return L"An acceptable version was found.";
    case PrereqState::FromPackage:
      return L"No acceptable version found. It must be installed from package.";
    case PrereqState::Download:
      return L"No acceptable version found. It must be downloaded.";
    case PrereqState::OpenSite:
      return L"No acceptable version found. It must be downloaded manually from a site.";
    case PrereqState::OsNotSupported:
      return L"No acceptable version found. Operating System not supported.";
    case PrereqState::AlreadyDownloaded:
      return L"No acceptable version found. It is already downloaded and it will be installed.";
    case PrereqState::NotSelected:
      return L"Not selected for install.";
    default:
      return L"Undefined";
  }
}

bool MustBeObtained(PrereqState state) {
  return state == PrereqState::FromPackage || state == PrereqState::Download ||
         state == PrereqState::OpenSite;
}

bool ProcessorExcludes(bool haveFunction, bool callSucceeded, uint16_t nativeMachine,
                       bool optionC, bool optionD) {
  if (!haveFunction) return optionD;  // no ARM64 machine without the function
  if (!callSucceeded) return false;   // unknown machine: nothing decided
  return nativeMachine == kMachineArm64 ? optionC : optionD;
}

DepthSplit SplitDepthSuffix(std::wstring_view searchString) {
  const size_t mark = searchString.find(L'?', 1);
  if (mark == std::wstring_view::npos) return {searchString, {}};
  return {searchString.substr(0, mark), searchString.substr(mark)};
}

int32_t ParseDepth(std::wstring_view suffix) {
  if (suffix.empty() || suffix.front() != L'?') return 0;
  size_t at = 1;
  while (at < suffix.size() && (suffix[at] == L' ' || (suffix[at] >= L'\t' && suffix[at] <= L'\r')))
    ++at;
  bool negative = false;
  if (at < suffix.size() && (suffix[at] == L'-' || suffix[at] == L'+')) {
    negative = suffix[at] == L'-';
    ++at;
  }
  constexpr int64_t kCap = std::numeric_limits<int32_t>::max();
  int64_t depth = 0;
  for (; at < suffix.size() && suffix[at] >= L'0' && suffix[at] <= L'9'; ++at) {
    depth = depth * 10 + (suffix[at] - L'0');
    if (depth > kCap) depth = kCap;  // deeper than any folder tree
  }
  return static_cast<int32_t>(negative ? -depth : depth);
}

bool SearchesAsWritten(std::wstring_view searchString) {
  return SplitDepthSuffix(searchString).path.find_first_of(L"\\]%!") != std::wstring_view::npos;
}

std::vector<std::wstring> FileSearchCandidates(std::wstring_view searchString,
                                               const std::vector<std::wstring>& fixedDriveRoots) {
  if (SearchesAsWritten(searchString)) return {std::wstring(searchString)};
  const DepthSplit split = SplitDepthSuffix(searchString);
  std::vector<std::wstring> candidates;
  candidates.reserve(fixedDriveRoots.size());
  for (const std::wstring& root : fixedDriveRoots) {
    std::wstring candidate = root;
    candidate += split.path;
    candidate += split.suffix;
    candidates.push_back(std::move(candidate));
  }
  return candidates;
}

std::vector<std::wstring> SplitDriveStrings(std::wstring_view buffer) {
  std::vector<std::wstring> roots;
  size_t at = 0;
  while (at < buffer.size()) {
    size_t end = buffer.find(L'\0', at);
    if (end == std::wstring_view::npos) end = buffer.size();
    if (end == at) break;  // the empty string that ends the list
    roots.emplace_back(buffer.substr(at, end - at));
    at = end + 1;
  }
  return roots;
}

FolderAndName SplitFolderAndName(std::wstring_view path) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring_view::npos) return {std::wstring(), std::wstring(path)};
  return {std::wstring(path.substr(0, slash + 1)), std::wstring(path.substr(slash + 1))};
}

bool SubkeyOf(std::wstring_view path, std::wstring& subkey) {
  const size_t slash = path.find(L'\\');
  if (slash == std::wstring_view::npos) return false;
  subkey.assign(path.substr(slash + 1));
  return true;
}

bool SplitValuePath(std::wstring_view path, KeyAndValue& out) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring_view::npos) return false;
  out.keyPath.assign(path.substr(0, slash));
  out.valueName.assign(path.substr(slash + 1));
  return true;
}

}  // namespace prereq
