#include "chainer/CleanupRules.h"

#include <algorithm>

namespace prereq {

namespace {

constexpr wchar_t kFileSeparator = L'\u0001';
constexpr std::wstring_view kLiteralPrefix = L"\\\\?\\";
constexpr std::wstring_view kLiteralUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool IsSeparator(wchar_t c, bool literal) { return c == L'\\' || (!literal && c == L'/'); }

// The next piece of `text` from `pos` (separators before it skipped); empty
// at the end.
std::wstring_view NextPiece(std::wstring_view text, size_t& pos, bool literal) {
  while (pos < text.size() && IsSeparator(text[pos], literal)) ++pos;
  const size_t start = pos;
  while (pos < text.size() && !IsSeparator(text[pos], literal)) ++pos;
  return text.substr(start, pos - start);
}

bool DotsAndBlanksOnly(std::wstring_view piece) {
  return piece.find_first_not_of(L". ") == std::wstring_view::npos;
}

// Appends the pieces of `rest` to `path` by the rules of ResolveFullPath.
bool AddPieces(std::wstring_view rest, ResolvedPath& path) {
  size_t pos = 0;
  for (;;) {
    std::wstring_view piece = NextPiece(rest, pos, path.literal);
    if (piece.empty()) return true;
    if (path.literal) {
      if (piece == L"." || piece == L"..") return false;
      path.pieces.emplace_back(piece);
      continue;
    }
    if (piece == L".") continue;
    if (piece == L"..") {
      if (!path.pieces.empty()) path.pieces.pop_back();
      continue;
    }
    if (DotsAndBlanksOnly(piece)) return false;
    size_t end = piece.size();
    while (end > 0 && (piece[end - 1] == L' ' || piece[end - 1] == L'.')) --end;
    path.pieces.emplace_back(piece.substr(0, end));
  }
}

// "\\server\share" from the text after the two leading separators.
bool TakeShare(std::wstring_view text, size_t& pos, bool literal, std::wstring& root) {
  // The server and the share follow at once: no empty piece between them.
  if (pos < text.size() && IsSeparator(text[pos], literal)) return false;
  std::wstring_view server = NextPiece(text, pos, literal);
  if (server.empty() || pos >= text.size()) return false;
  ++pos;  // the one separator between server and share
  if (pos < text.size() && IsSeparator(text[pos], literal)) return false;
  std::wstring_view share = NextPiece(text, pos, literal);
  if (share.empty()) return false;
  if (!literal && (server == L"." || server == L"?" || DotsAndBlanksOnly(share))) return false;
  root = L"\\\\";
  root += server;
  root.push_back(L'\\');
  root += share;
  return true;
}

// "X:" at the start of `text`, followed by its end or a separator.
bool IsDriveRoot(std::wstring_view text, bool literal) {
  return text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == L':' &&
         (text.size() == 2 || IsSeparator(text[2], literal));
}

bool IsDriveText(std::wstring_view root) {
  return root.size() == 2 && IsAsciiLetter(root[0]) && root[1] == L':';
}

}  // namespace

void CleanupState::AddFolder(std::wstring_view path) {
  for (const std::wstring& entry : folderList)
    if (EqualsIgnoringCase(entry, path)) return;
  folderList.emplace_back(path);
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::vector<std::wstring> SplitCleanupFiles(std::wstring_view files) {
  std::vector<std::wstring> tokens;
  size_t pos = 0;
  while (pos < files.size()) {
    while (pos < files.size() && files[pos] == kFileSeparator) ++pos;
    const size_t start = pos;
    while (pos < files.size() && files[pos] != kFileSeparator) ++pos;
    if (pos > start) tokens.emplace_back(files.substr(start, pos - start));
  }
  return tokens;
}

std::wstring ResolvedPath::Text() const {
  std::wstring out;
  if (literal) {
    if (IsDriveText(root)) {
      out = kLiteralPrefix;
      out += root;
    } else if (StartsWith(root, L"\\\\") && !StartsWith(root, kLiteralPrefix)) {
      out = kLiteralUncPrefix;
      out += std::wstring_view(root).substr(2);
    } else {
      out = root;
    }
  } else {
    out = root;
  }
  if (pieces.empty()) {
    if (IsDriveText(root)) out.push_back(L'\\');
    return out;
  }
  for (const std::wstring& piece : pieces) {
    out.push_back(L'\\');
    out += piece;
  }
  return out;
}

std::optional<ResolvedPath> ResolvedPath::Parent() const {
  if (pieces.empty()) return std::nullopt;
  ResolvedPath parent = *this;
  parent.pieces.pop_back();
  return parent;
}

std::optional<ResolvedPath> ResolveFullPath(std::wstring_view path) {
  ResolvedPath out;
  size_t pos = 0;
  if (StartsWith(path, kLiteralPrefix)) {
    out.literal = true;
    std::wstring_view rest = path.substr(kLiteralPrefix.size());
    if (StartsWith(rest, L"UNC\\")) {
      pos = kLiteralUncPrefix.size();
      if (!TakeShare(path, pos, true, out.root)) return std::nullopt;
    } else if (IsDriveRoot(rest, true)) {
      out.root = rest.substr(0, 2);
      pos = kLiteralPrefix.size() + 2;
    } else {
      pos = kLiteralPrefix.size();
      std::wstring_view name = NextPiece(path, pos, true);
      if (name.empty() || name == L"." || name == L"..") return std::nullopt;
      out.root = kLiteralPrefix;
      out.root += name;
    }
  } else if (path.size() >= 4 && IsSeparator(path[0], false) && IsSeparator(path[1], false) &&
             path[2] == L'.' && IsSeparator(path[3], false)) {
    pos = kDevicePrefix.size();
    std::wstring_view name = NextPiece(path, pos, false);
    if (name.empty() || DotsAndBlanksOnly(name)) return std::nullopt;
    out.root = kDevicePrefix;
    out.root += name;
  } else if (path.size() >= 2 && IsSeparator(path[0], false) && IsSeparator(path[1], false)) {
    pos = 2;
    if (!TakeShare(path, pos, false, out.root)) return std::nullopt;
  } else if (IsDriveRoot(path, false)) {
    out.root = path.substr(0, 2);
    pos = 2;
  } else {
    return std::nullopt;  // relative, "\x" on the current drive, "C:x"
  }
  if (!AddPieces(path.substr(pos), out)) return std::nullopt;
  return out;
}

namespace {

bool Inside(const ResolvedPath& path, const ResolvedPath& root) {
  if (path.root != root.root) return false;
  if (path.pieces.size() <= root.pieces.size()) return false;
  return std::equal(root.pieces.begin(), root.pieces.end(), path.pieces.begin());
}

}  // namespace

bool LiesInside(std::wstring_view path, std::wstring_view root) {
  const std::optional<ResolvedPath> p = ResolveFullPath(path);
  const std::optional<ResolvedPath> r = ResolveFullPath(root);
  return p && r && Inside(*p, *r);
}

std::vector<std::wstring> FoldersInsideRoot(std::wstring_view folder, std::wstring_view root) {
  std::vector<std::wstring> chain;
  const std::optional<ResolvedPath> r = ResolveFullPath(root);
  std::optional<ResolvedPath> f = ResolveFullPath(folder);
  if (!r) return chain;
  while (f && Inside(*f, *r)) {
    chain.push_back(f->Text());
    f = f->Parent();
  }
  return chain;
}

std::optional<std::wstring> AcceptCleanupToken(std::wstring_view token, std::wstring_view root) {
  if (root.empty() || token.size() < 2) return std::nullopt;
  // A full path: a drive with its root folder, or a share or namespaced path.
  const bool drive = IsDriveRoot(token, false) && token.size() > 2;
  const bool share = token[0] == L'\\' && token[1] == L'\\';
  if (!drive && !share) return std::nullopt;
  // Wildcards would let the existence test find another file than the one
  // deleted; the "?" of a "\\?\" prefix is not one.
  const std::wstring_view body = StartsWith(token, kLiteralPrefix)
                                     ? token.substr(kLiteralPrefix.size())
                                     : token;
  if (body.find_first_of(L"*?<>\"|") != std::wstring_view::npos) return std::nullopt;
  // A trailing separator names a folder, never a file to delete.
  if (token.back() == L'\\' || token.back() == L'/') return std::nullopt;
  const std::optional<ResolvedPath> p = ResolveFullPath(token);
  const std::optional<ResolvedPath> r = ResolveFullPath(root);
  if (!p || !r || !Inside(*p, *r)) return std::nullopt;
  return p->Text();
}

CleanupState BuildCleanupState(const ChainerSettings& settings, std::wstring_view modulePath,
                               std::wstring_view iniPath,
                               const std::function<bool(const std::wstring&)>& exists) {
  CleanupState state;
  state.cleanupScript = settings.CleanupScript;
  state.scriptElevated = false;
  state.retryCount = kCleanupRetryCount;
  if (!state.cleanupScript.empty()) state.AddFolder(state.cleanupScript);
  state.cleanupRoot = settings.CleanupFolders;

  for (const std::wstring& token : SplitCleanupFiles(settings.CleanupFiles)) {
    std::optional<std::wstring> path = AcceptCleanupToken(token, state.cleanupRoot);
    if (path && exists(*path)) state.deleteList.push_back(std::move(*path));
  }
  state.deleteList.emplace_back(iniPath);

  state.AddFolder(modulePath);
  const size_t slash = modulePath.rfind(L'\\');
  if (!state.cleanupRoot.empty() && slash != std::wstring_view::npos) {
    for (const std::wstring& folder :
         FoldersInsideRoot(modulePath.substr(0, slash), state.cleanupRoot))
      state.AddFolder(folder);
  }
  return state;
}

bool FolderMayGoToScript(const std::vector<std::wstring>& entryPaths,
                         const std::vector<std::wstring>& folderList) {
  if (entryPaths.empty()) return true;
  if (entryPaths.size() > 1) return false;
  return std::any_of(folderList.begin(), folderList.end(), [&](const std::wstring& listed) {
    return EqualsIgnoringCase(listed, entryPaths.front());
  });
}

}  // namespace prereq
