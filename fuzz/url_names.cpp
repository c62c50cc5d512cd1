// Names and paths taken from URLs: the file name a URL suggests, the target
// path in the download folder, the presence rule, the two file-URL readings,
// percent-decoding and the share of a network path; and the split of the
// paths they give at their volume root, which the link-free file operations
// walk down. Input: three lines (URL, Folder value, download folder).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzText.h"
#include "acquisition/DownloadRules.h"
#include "acquisition/TransferRules.h"
#include "platform/core/LinkFreePathRules.h"

using namespace prereq;

namespace {

bool HasSeparator(std::wstring_view name) {
  return name.find_first_of(L"\\/:*?\"<>|") != std::wstring_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 3);
  const std::wstring_view url = f[0], folder = f[1], downloadFolder = f[2];

  const std::wstring name = FileNameFromUrl(url);
  fuzz::Check(name.size() <= 41, "file name longer than 41 characters");
  fuzz::Check(!HasSeparator(name), "file name with a separator");
  fuzz::Check(url.find(name) != std::wstring_view::npos, "file name not taken from the URL");

  const std::wstring target = TargetPath(downloadFolder, url, folder);
  fuzz::Check(target.compare(0, downloadFolder.size(), downloadFolder) == 0, "target path prefix");

  Prerequisite p;
  p.Location = std::wstring(url);
  p.Folder = std::wstring(folder);
  p.ExactSize = static_cast<int32_t>(fuzz::NumberOf(folder));
  std::wstring probed;
  const bool present = IsPresentWith(p, downloadFolder, [&](const std::wstring& path, uint64_t& s) {
    probed = path;
    s = 12345;
    return true;
  });
  std::wstring local;
  if (FileUrlLocalPath(url, local)) {
    fuzz::Check(present, "a file URL is not present");
    fuzz::Check(local.find(L'/') == std::wstring::npos, "slash left in a local path");
    // "file://" gives way to at most the two backslashes of a share.
    fuzz::Check(local.size() + 5 <= url.size(), "local path longer than the URL");
  } else {
    fuzz::Check(probed == target, "presence probed another path");
  }

  const std::wstring path = FileUrlPath(url);
  fuzz::Check(path.find(L'/') == std::wstring::npos, "slash left in a file-URL path");
  if (url.size() < 5) fuzz::Check(path.empty(), "path from a text that is no file URL");
  const std::wstring share = ShareOfUncPath(path);
  fuzz::Check(path.compare(0, share.size(), share) == 0, "share is not a prefix of its path");
  ShareOfUncPath(url);

  const std::wstring decoded = PercentDecode(url);
  fuzz::Check(decoded.size() <= url.size(), "decoding made the text longer");
  bool plain = true;
  for (wchar_t c : url) plain = plain && c < 0x80 && c != L'%';
  if (plain) fuzz::Check(decoded == url, "decoding changed plain ASCII");

  // The walk from the volume root down: a path splits into its root and
  // names that join back to it, each name plain (no separator, no dots
  // alone, no wildcard); its folder and last name come from the same split.
  for (const std::wstring& full : {target, path, std::wstring(downloadFolder)}) {
    const std::optional<VolumePath> split = SplitAtVolumeRoot(full);
    if (!split) continue;
    fuzz::Check(!split->root.empty() && split->root.back() == L'\\', "root without its backslash");
    std::wstring joined = split->Prefix(split->names.size());
    std::wstring expected = full;
    if (expected.back() == L'\\' && !split->names.empty()) expected.pop_back();
    if (expected.back() != L'\\' && split->names.empty()) expected.push_back(L'\\');
    fuzz::Check(joined == expected, "split does not join back to the path");
    for (const std::wstring& name : split->names) {
      fuzz::Check(!name.empty() && name != L"." && name != L"..", "empty or dot name");
      fuzz::Check(name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos, "name with a separator");
    }
    const std::optional<ParentAndName> parts = SplitParentAndName(full);
    if (parts) {
      fuzz::Check(!split->names.empty() && parts->name == split->names.back(), "last name differs");
      fuzz::Check(SplitAtVolumeRoot(parts->folder).has_value(), "folder of a path does not split");
    }
    const std::wstring native = NativePathOf(full);
    fuzz::Check(!native.empty() && native.compare(0, 4, L"\\??\\") == 0, "no native form of a full path");
  }

  IsAbsoluteTargetPath(target);
  const std::wstring_view tail = FileNamePart(target);
  fuzz::Check(tail.find_first_of(L"\\/") == std::wstring_view::npos, "name part with a separator");
  return 0;
}
