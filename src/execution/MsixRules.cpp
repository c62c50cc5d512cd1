#include "execution/MsixRules.h"

#include "evaluation/Versions.h"

namespace prereq {

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
