#include "platform/core/PathForms.h"

#include <vector>

namespace prereq {

namespace {
constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::wstring StripTrailingBlanksAndDots(std::wstring_view piece) {
  if (piece == L"." || piece == L"..") return std::wstring(piece);
  size_t end = piece.size();
  while (end > 0 && (piece[end - 1] == L' ' || piece[end - 1] == L'.')) --end;
  return std::wstring(piece.substr(0, end));
}
}  // namespace

std::wstring ToLongPathForm(std::wstring_view path) {
  if (path.size() <= 247) return std::wstring(path);
  // Already namespaced ("\\?\", "\\.\"): never prefixed twice.
  if (StartsWith(path, kLongPrefix) || StartsWith(path, L"\\\\.\\")) return std::wstring(path);
  if (StartsWith(path, L"\\\\")) {
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

bool ExceedsPathLimit(std::wstring_view path) {
  // The long-path form adds at most six characters ("\\?\UNC\" for "\\").
  if (path.size() + 6 <= kMaxPathLength) return false;
  return ToLongPathForm(path).size() > kMaxPathLength;
}

std::wstring FromLongPathForm(std::wstring_view path) {
  if (StartsWith(path, kLongUncPrefix)) {
    std::wstring out(L"\\\\");
    out.append(path.substr(kLongUncPrefix.size()));
    return out;
  }
  if (StartsWith(path, kLongPrefix)) return std::wstring(path.substr(kLongPrefix.size()));
  return std::wstring(path);
}

std::wstring NormalizePath(std::wstring_view path) {
  // The prefix stays with the root piece.
  size_t prefixLen = 0;
  bool unc = false;
  if (StartsWith(path, kLongUncPrefix)) {
    prefixLen = kLongUncPrefix.size();
    unc = true;
  } else if (StartsWith(path, kLongPrefix)) {
    prefixLen = kLongPrefix.size();
  } else if (StartsWith(path, L"\\\\")) {
    prefixLen = 2;
    unc = true;
  }
  size_t rootEnd = path.find(L'\\', prefixLen);
  if (rootEnd == std::wstring_view::npos) rootEnd = path.size();
  (void)unc;  // the server name is the text up to the next backslash either way

  std::wstring out(path.substr(0, prefixLen));
  out += StripTrailingBlanksAndDots(path.substr(prefixLen, rootEnd - prefixLen));
  size_t pos = rootEnd;
  while (pos < path.size()) {
    size_t start = pos + 1;  // skip the separator
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (out.empty() || (out.back() != L'\\' && out.back() != L']')) out.push_back(L'\\');
    out += StripTrailingBlanksAndDots(path.substr(start, end - start));
    pos = end;
  }
  return out;
}

std::wstring WithTrailingBackslash(std::wstring_view path) {
  std::wstring out(path);
  if (!out.empty() && out.back() != L'\\') out.push_back(L'\\');
  return out;
}

}  // namespace prereq
