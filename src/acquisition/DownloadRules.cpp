#include "acquisition/DownloadRules.h"

#include <cstddef>

#include "acquisition/TransferRules.h"

namespace prereq {

namespace {

bool IsSeparator(wchar_t c) {
  return std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos;
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

// How many positions the backward search for the start of a name examines.
constexpr ptrdiff_t kNameWindow = 40;

}  // namespace

bool FileUrlLocalPath(std::wstring_view url, std::wstring& path) {
  if (!StartsWithNoCase(url, L"file://")) return false;  // also "file:///"
  // The path the transfer engine reads: "file://server/share/x" names the
  // share \\server\share, never the relative path server\share\x.
  path = FileUrlPath(url);
  return true;
}

std::wstring FileNameFromUrl(std::wstring_view url) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(url.size());
  if (n == 0) return {};

  // The name ends before a second "://" (a URL carried inside the query) or at
  // the last character.
  ptrdiff_t end = n - 1;
  const size_t scheme = url.find(L"://");
  if (scheme != std::wstring_view::npos && n >= static_cast<ptrdiff_t>(scheme) + 4) {
    const size_t second = url.find(L"://", scheme + 4);
    if (second != std::wstring_view::npos) end = static_cast<ptrdiff_t>(second);
  }

  // The last extension before the end: the name stops at the first separator
  // after its ".".
  ptrdiff_t last = end;
  const size_t dot = url.rfind(L'.', static_cast<size_t>(end));
  if (dot != std::wstring_view::npos) {
    ptrdiff_t at = static_cast<ptrdiff_t>(dot) + 1;
    while (at < end && !IsSeparator(url[static_cast<size_t>(at)])) ++at;
    last = at >= end ? end : at - 1;
  }

  // The name starts after the nearest separator among the last 40 positions.
  ptrdiff_t start = -1;
  for (ptrdiff_t at = last; at >= 0 && at > last - kNameWindow; --at) {
    if (IsSeparator(url[static_cast<size_t>(at)])) {
      start = at + 1;
      break;
    }
  }
  if (start < 0) {
    start = last - kNameWindow;
    if (start < 0) start = 0;
    // The one position in front of the window was not examined; a separator
    // there does not belong to the name.
    else if (IsSeparator(url[static_cast<size_t>(start)])) ++start;
  }
  if (start > last) return {};
  return std::wstring(url.substr(static_cast<size_t>(start), static_cast<size_t>(last - start + 1)));
}

std::wstring TargetPath(std::wstring_view downloadFolder, std::wstring_view url,
                        std::wstring_view folder) {
  std::wstring_view folderPart = folder;
  std::wstring_view filePart;
  const size_t mark = folder.find(L'?');
  if (mark != std::wstring_view::npos) {
    folderPart = folder.substr(0, mark);
    filePart = folder.substr(mark + 1);
  }
  std::wstring path(downloadFolder);
  path += folderPart;
  if (!path.empty() && path.back() != L'\\') path.push_back(L'\\');
  if (!filePart.empty()) path += filePart;
  else path += FileNameFromUrl(url);
  return path;
}

bool IsPresentWith(const Prerequisite& prereq, std::wstring_view downloadFolder,
                   const FileProbe& probe) {
  std::wstring local;
  if (FileUrlLocalPath(prereq.Location, local)) return true;
  uint64_t size = 0;
  if (!probe(TargetPath(downloadFolder, prereq.Location, prereq.Folder), size)) return false;
  return prereq.ExactSize == 0 ||
         static_cast<uint32_t>(prereq.ExactSize) == static_cast<uint32_t>(size);
}

}  // namespace prereq
