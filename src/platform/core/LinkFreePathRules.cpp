#include "platform/core/LinkFreePathRules.h"

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

// The platform's attribute bits and tag bit, spelled out so that these rules
// build without it.
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeDevice = 0x40;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kTagNameSurrogate = 0x20000000;

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// A name that the file system can hold and a lookup takes literally.
bool IsPlainName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case L'*': case L'?': case L'<': case L'>': case L'"': case L'|': case L':': case L'/':
        return false;
      default:
        break;
    }
  }
  return true;
}

// The length of the root (with its backslash) at the start of a full path;
// 0 when the path has none of the accepted forms.
size_t RootLength(std::wstring_view path) {
  auto shareRoot = [&](size_t serverStart) -> size_t {
    const size_t serverEnd = path.find(L'\\', serverStart);
    if (serverEnd == std::wstring_view::npos || serverEnd == serverStart) return 0;
    const size_t shareEnd = path.find(L'\\', serverEnd + 1);
    if (shareEnd == serverEnd + 1) return 0;
    const std::wstring_view server = path.substr(serverStart, serverEnd - serverStart);
    const std::wstring_view share =
        path.substr(serverEnd + 1, (shareEnd == std::wstring_view::npos ? path.size() : shareEnd) -
                                       serverEnd - 1);
    if (!IsPlainName(server) || !IsPlainName(share)) return 0;
    return shareEnd == std::wstring_view::npos ? path.size() : shareEnd + 1;
  };
  auto driveRoot = [&](size_t at) -> size_t {
    if (path.size() < at + 3 || !IsAsciiLetter(path[at]) || path[at + 1] != L':' ||
        path[at + 2] != L'\\')
      return 0;
    return at + 3;
  };
  if (StartsWith(path, kLongUncPrefix)) return shareRoot(kLongUncPrefix.size());
  if (StartsWith(path, kLongPrefix)) {
    if (const size_t drive = driveRoot(kLongPrefix.size())) return drive;
    // "\\?\Volume{...}\": a volume named by its GUID.
    const size_t end = path.find(L'\\', kLongPrefix.size());
    const std::wstring_view volume =
        path.substr(kLongPrefix.size(), end == std::wstring_view::npos ? std::wstring_view::npos
                                                                        : end - kLongPrefix.size());
    if (end == std::wstring_view::npos || !StartsWith(volume, L"Volume{") || volume.back() != L'}')
      return 0;
    return end + 1;
  }
  if (StartsWith(path, L"\\\\.\\") || StartsWith(path, L"\\\\?")) return 0;  // devices
  if (StartsWith(path, L"\\\\")) return shareRoot(2);
  return driveRoot(0);
}

}  // namespace

std::wstring VolumePath::Prefix(size_t count) const {
  std::wstring out = root;
  for (size_t i = 0; i < count && i < names.size(); ++i) {
    if (i != 0) out.push_back(L'\\');
    out += names[i];
  }
  return out;
}

std::optional<VolumePath> SplitAtVolumeRoot(std::wstring_view fullPath) {
  size_t rootLength = RootLength(fullPath);
  if (rootLength == 0) return std::nullopt;
  VolumePath out;
  out.root = std::wstring(fullPath.substr(0, rootLength));
  if (out.root.back() != L'\\') out.root.push_back(L'\\');  // "\\server\share" alone
  size_t pos = rootLength;
  while (pos < fullPath.size()) {
    size_t end = fullPath.find(L'\\', pos);
    if (end == std::wstring_view::npos) end = fullPath.size();
    const std::wstring_view name = fullPath.substr(pos, end - pos);
    if (!IsPlainName(name)) return std::nullopt;
    out.names.emplace_back(name);
    if (end == fullPath.size()) break;
    pos = end + 1;  // a trailing backslash leaves pos at the end
  }
  return out;
}

std::optional<ParentAndName> SplitParentAndName(std::wstring_view fullPath) {
  std::optional<VolumePath> split = SplitAtVolumeRoot(fullPath);
  if (!split || split->names.empty() || fullPath.back() == L'\\') return std::nullopt;
  ParentAndName out;
  out.name = split->names.back();
  out.folder = split->Prefix(split->names.size() - 1);
  return out;
}

std::wstring NativePathOf(std::wstring_view fullPath) {
  if (RootLength(fullPath) == 0) return {};
  if (StartsWith(fullPath, kLongUncPrefix))
    return L"\\??\\UNC\\" + std::wstring(fullPath.substr(kLongUncPrefix.size()));
  if (StartsWith(fullPath, kLongPrefix))
    return L"\\??\\" + std::wstring(fullPath.substr(kLongPrefix.size()));
  if (StartsWith(fullPath, L"\\\\")) return L"\\??\\UNC\\" + std::wstring(fullPath.substr(2));
  return L"\\??\\" + std::wstring(fullPath);
}

bool IsLinkReparseTag(uint32_t tag) { return tag == 0 || (tag & kTagNameSurrogate) != 0; }

ComponentVerdict JudgeComponent(const ComponentFacts& facts) {
  auto isLink = [](uint32_t attributes, uint32_t tag) {
    return (attributes & kAttributeReparsePoint) != 0 && IsLinkReparseTag(tag);
  };
  if (isLink(facts.entryAttributes, facts.entryTag) ||
      isLink(facts.handleAttributes, facts.handleTag))
    return ComponentVerdict::Link;
  const uint32_t attributes = facts.entryAttributes | facts.handleAttributes;
  if (facts.wantFolder) {
    if ((attributes & kAttributeDirectory) == 0) return ComponentVerdict::NotAFolder;
  } else {
    if (!facts.diskFile || (attributes & (kAttributeDirectory | kAttributeDevice)) != 0)
      return ComponentVerdict::NotAFile;
    if (facts.singleNameRequired && facts.linkCount != 1) return ComponentVerdict::HardLinked;
  }
  // The opened object must be the entry of the folder held above it: a link
  // that was followed anyway shows here as another place. Where the file
  // system cannot tell final paths at all, the attributes decide alone.
  if (facts.finalPath.empty() && facts.parentFinalPath.empty()) return ComponentVerdict::Usable;
  std::wstring expected(facts.parentFinalPath);
  if (expected.empty() || expected.back() != L'\\') expected.push_back(L'\\');
  expected += facts.entryName;
  if (facts.entryName.empty() || !EqualsIgnoringAsciiCase(facts.finalPath, expected))
    return ComponentVerdict::ElsewhereOnDisk;
  return ComponentVerdict::Usable;
}

const wchar_t* ComponentVerdictText(ComponentVerdict verdict) {
  switch (verdict) {
    case ComponentVerdict::Usable: return L"usable";
    case ComponentVerdict::Link: return L"it is a link";
    case ComponentVerdict::NotAFolder: return L"it is not a folder";
    case ComponentVerdict::NotAFile: return L"it is not a file";
    case ComponentVerdict::HardLinked: return L"it has more than one name";
    case ComponentVerdict::ElsewhereOnDisk: return L"it lies outside its folder";
  }
  return L"";
}

}  // namespace prereq
