#include "execution/MsixRules.h"

#include "evaluation/Versions.h"

namespace prereq {

namespace {
constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr size_t kLongestShortPath = 247;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
}  // namespace

bool IsUncPath(std::wstring_view path) {
  if (StartsWith(path, kLongUncPrefix)) return true;
  if (StartsWith(path, kLongPrefix) || StartsWith(path, kDevicePrefix)) return false;
  return StartsWith(path, L"\\\\");
}

std::wstring MsixPackagePathForm(std::wstring_view path) {
  if (path.size() <= kLongestShortPath) return std::wstring(path);
  if (StartsWith(path, kLongPrefix) || StartsWith(path, kDevicePrefix)) return std::wstring(path);
  if (IsUncPath(path)) {
    std::wstring out(kLongUncPrefix);
    out.append(path.substr(2));
    return out;
  }
  if (path[1] == L':') {
    std::wstring out(kLongPrefix);
    out.append(path);
    return out;
  }
  return std::wstring(path);
}

std::wstring_view ArchitectureText(uint32_t architecture) {
  switch (static_cast<MsixArchitecture>(architecture)) {
    case MsixArchitecture::X86:
      return L"x86";
    case MsixArchitecture::Arm:
      return L"arm";
    case MsixArchitecture::X64:
      return L"x64";
    case MsixArchitecture::Neutral:
      return L"neutral";
    case MsixArchitecture::Arm64:
      return L"arm64";
  }
  return {};
}

bool MsixPackageMatches(const MsixQuery& query, const MsixIdentity& package) {
  if (package.name != query.name) return false;
  if (!query.publisher.empty() && package.publisher != query.publisher) return false;
  if (!query.architecture.empty()) {
    const std::wstring_view text = ArchitectureText(package.architecture);
    if (text.empty() || text != query.architecture) return false;
  }
  return true;
}

std::wstring MsixVersionText(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision) {
  VersionQuad version;
  version.parts = {major, minor, build, revision};
  version.count = 4;
  return FormatVersion(version);
}

MsixQuery SplitMsixSearchString(std::wstring_view searchString) {
  MsixQuery query;
  std::wstring* const fields[] = {&query.name, &query.architecture, &query.publisher};
  size_t at = 0;
  for (std::wstring* field : fields) {
    while (at < searchString.size() && searchString[at] == L'?') ++at;
    if (at == searchString.size()) break;
    size_t end = searchString.find(L'?', at);
    if (end == std::wstring_view::npos) end = searchString.size();
    field->assign(searchString.substr(at, end - at));
    at = end;
  }
  return query;
}

}  // namespace prereq
