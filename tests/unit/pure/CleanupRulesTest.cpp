#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "chainer/CleanupRules.h"

using namespace prereq;

namespace {

using Texts = std::vector<std::wstring>;

std::wstring ResolvedText(std::wstring_view path) {
  const std::optional<ResolvedPath> resolved = ResolveFullPath(path);
  return resolved ? resolved->Text() : L"<none>";
}

}  // namespace

TEST(CleanupRules, SplitsCleanupFilesWithoutEmptyTokens) {
  const struct {
    std::wstring files;
    Texts tokens;
  } cases[] = {
      {L"", {}},
      {L"\u0001", {}},
      {L"\u0001\u0001\u0001", {}},
      {L"a", {L"a"}},
      {L"a\u0001b", {L"a", L"b"}},
      {L"a\u0001\u0001b", {L"a", L"b"}},          // two separators in a row
      {L"a\u0001b\u0001", {L"a", L"b"}},          // one at the end
      {L"\u0001a\u0001\u0001\u0001b\u0001\u0001", {L"a", L"b"}},
      {L" a \u0001\u0002", {L" a ", L"\u0002"}},  // nothing else separates
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCleanupFiles(c.files), c.tokens) << c.files.size();
}

TEST(CleanupRules, ResolvesFullPathsTheWayThePlatformReadsThem) {
  const struct {
    const wchar_t* path;
    const wchar_t* resolved;
  } cases[] = {
      {L"C:\\T\\x", L"C:\\T\\x"},
      {L"C:\\", L"C:\\"},
      {L"C:", L"C:\\"},
      {L"c:\\T\\", L"c:\\T"},
      {L"C:\\T\\\\x\\\\\\y", L"C:\\T\\x\\y"},           // doubled separators
      {L"C:/T/x\\/y", L"C:\\T\\x\\y"},                  // "/" separates too
      {L"C:\\T\\.\\x\\.", L"C:\\T\\x"},
      {L"C:\\T\\..\\Windows\\x", L"C:\\Windows\\x"},
      {L"C:\\T\\a\\..\\..\\..\\..\\x", L"C:\\x"},        // never above the root
      {L"C:\\T\\x. .\\y.", L"C:\\T\\x\\y"},             // trailing blanks and dots go
      {L"C:\\T\\...\\x", L"<none>"},                    // dots only: unclear
      {L"C:\\T\\.. \\x", L"<none>"},
      {L"C:\\T\\ \\x", L"<none>"},
      {L"\\\\srv\\share\\a\\..\\..\\x", L"\\\\srv\\share\\x"},  // the share is the root
      {L"//srv/share/x", L"\\\\srv\\share\\x"},
      {L"\\\\srv", L"<none>"},
      {L"\\\\srv\\", L"<none>"},
      {L"\\\\srv\\\\share", L"<none>"},
      {L"\\\\\\srv\\share", L"<none>"},
      {L"\\\\?\\C:\\T\\x. ", L"\\\\?\\C:\\T\\x. "},      // literal: nothing stripped
      {L"\\\\?\\C:\\T\\..\\x", L"<none>"},
      {L"\\\\?\\C:\\T/..", L"\\\\?\\C:\\T/.."},         // "/" is a character there
      {L"\\\\?\\UNC\\srv\\share\\x", L"\\\\?\\UNC\\srv\\share\\x"},
      {L"\\\\?\\Volume{1}\\x", L"\\\\?\\Volume{1}\\x"},
      {L"\\\\.\\C:\\T\\..\\x", L"\\\\.\\C:\\x"},
      {L"\\a.\\b", L"<none>"},                        // one separator is no device prefix
      {L"x\\srv\\share\\f", L"<none>"},               // nor a share
      {L"x", L"<none>"},
      {L"T\\x", L"<none>"},
      {L"..\\x", L"<none>"},
      {L"\\T\\x", L"<none>"},                           // the current drive's root
      {L"C:x", L"<none>"},                              // the drive's current folder
      {L"1:\\x", L"<none>"},
      {L"", L"<none>"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolvedText(c.path), c.resolved) << c.path;

  const std::optional<ResolvedPath> literal = ResolveFullPath(L"\\\\?\\C:\\T\\x");
  ASSERT_TRUE(literal);
  EXPECT_EQ(literal->root, L"C:");  // the same root as C:\T
  EXPECT_TRUE(literal->literal);
  EXPECT_EQ(ResolveFullPath(L"\\\\?\\UNC\\s\\sh\\x")->root, L"\\\\s\\sh");
  EXPECT_FALSE(ResolveFullPath(L"C:\\")->Parent());  // a root has no parent
  EXPECT_EQ(ResolveFullPath(L"C:\\T")->Parent()->Text(), L"C:\\");
}

TEST(CleanupRules, LiesInsideComparesAtAFolderBoundary) {
  const struct {
    const wchar_t* path;
    const wchar_t* root;
    bool inside;
  } cases[] = {
      {L"C:\\T\\x", L"C:\\T", true},
      {L"C:\\T\\x", L"C:\\T\\", true},
      {L"C:\\T\\x", L"C:\\T\\\\", true},
      {L"C:\\T\\a\\b\\x", L"C:\\T", true},
      {L"C:\\T\\x", L"C:\\", true},
      {L"C:\\T\\x", L"C:", true},
      {L"C:\\Tools\\x", L"C:\\T", false},             // not at a boundary
      {L"C:\\T", L"C:\\T", false},                    // the root itself
      {L"C:\\T\\", L"C:\\T", false},
      {L"C:\\T\\.", L"C:\\T", false},
      {L"C:\\", L"C:\\", false},
      {L"C:\\T\\..\\Windows\\x", L"C:\\T", false},    // ".." leads out
      {L"C:\\T\\a\\..\\..\\T2\\x", L"C:\\T", false},
      {L"C:\\T\\a\\..\\x", L"C:\\T", true},           // ".." stays inside
      {L"C:\\T\\.\\x", L"C:\\T", true},
      {L"C:\\T\\\\x", L"C:\\T", true},
      {L"C:\\T/x", L"C:\\T", true},
      {L"C:\\T/../Windows/x", L"C:\\T", false},
      {L"C:\\T\\x", L"C:\\T\\..\\T", true},           // the root is resolved too
      {L"C:\\t\\x", L"C:\\T", false},                 // with case
      {L"D:\\T\\x", L"C:\\T", false},
      {L"\\\\?\\C:\\T\\x", L"C:\\T", true},
      {L"\\\\?\\C:\\T\\..\\W\\x", L"C:\\T", false},
      {L"\\\\.\\C:\\T\\x", L"C:\\T", false},         // another namespace
      {L"\\\\srv\\share\\x", L"\\\\srv\\share", true},
      {L"\\\\srv\\share2\\x", L"\\\\srv\\share", false},
      {L"\\\\?\\UNC\\srv\\share\\x", L"\\\\srv\\share\\", true},
      {L"T\\x", L"T", false},                         // relative: never
      {L"C:\\T\\x", L"", false},
      {L"C:\\T\\x", L"T", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LiesInside(c.path, c.root), c.inside) << c.path << L" in " << c.root;
}

TEST(CleanupRules, FolderChainEndsAtTheRootOrWhenNoParentRemains) {
  const struct {
    const wchar_t* folder;
    const wchar_t* root;
    Texts chain;
  } cases[] = {
      {L"C:\\T\\A\\B", L"C:\\T", {L"C:\\T\\A\\B", L"C:\\T\\A"}},
      {L"C:\\T\\A\\B", L"C:\\T\\", {L"C:\\T\\A\\B", L"C:\\T\\A"}},  // trailing backslash
      {L"C:\\T\\A", L"C:\\T", {L"C:\\T\\A"}},
      {L"C:\\T", L"C:\\T", {}},
      {L"C:\\T\\A\\B", L"C:\\t", {}},             // other case: not the same root
      {L"C:\\T\\A\\B", L"D:\\Other", {}},         // not on the path
      {L"C:\\T\\A\\B", L"C:\\T\\A\\B\\C", {}},
      {L"C:\\T\\A\\B", L"C:\\", {L"C:\\T\\A\\B", L"C:\\T\\A", L"C:\\T"}},
      {L"C:\\T\\A\\B", L"C:", {L"C:\\T\\A\\B", L"C:\\T\\A", L"C:\\T"}},
      {L"C:\\T\\A\\..\\B", L"C:\\T", {L"C:\\T\\B"}},
      {L"C:\\T\\A\\B", L"", {}},
      {L"T\\A\\B", L"T", {}},
      {L"\\\\s\\sh\\A\\B", L"\\\\s\\sh", {L"\\\\s\\sh\\A\\B", L"\\\\s\\sh\\A"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FoldersInsideRoot(c.folder, c.root), c.chain) << c.folder << L" to " << c.root;
}

TEST(CleanupRules, AcceptsExistingFullPathsInsideTheRootOnly) {
  const std::wstring root = L"C:\\T";
  const struct {
    const wchar_t* token;
    const wchar_t* accepted;  // nullptr: dropped
  } cases[] = {
      {L"C:\\T\\a.txt", L"C:\\T\\a.txt"},
      {L"C:\\T\\sub\\\\a.txt", L"C:\\T\\sub\\a.txt"},
      {L"C:\\T\\sub\\..\\a.txt", L"C:\\T\\a.txt"},
      {L"\\\\?\\C:\\T\\a.txt", L"\\\\?\\C:\\T\\a.txt"},
      {L"C:\\Tools\\a.txt", nullptr},
      {L"C:\\T\\..\\Windows\\win.ini", nullptr},
      {L"C:\\T", nullptr},
      {L"a.txt", nullptr},
      {L"T\\a.txt", nullptr},
      {L".\\a.txt", nullptr},
      {L"\\T\\a.txt", nullptr},
      {L"C:T\\a.txt", nullptr},
      {L"\\:T\\a.txt", nullptr},
      {L"C", nullptr},
      {L"C:\\T\\*.txt", nullptr},
      {L"C:\\T\\a?.txt", nullptr},
      {L"C:\\T\\a<", nullptr},
      {L"C:\\T\\a\"", nullptr},
      {L"C:\\T\\a.txt\\", nullptr},  // a trailing separator names a folder
      {L"C:\\T\\a.txt/", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::wstring> accepted = AcceptCleanupToken(c.token, root);
    if (c.accepted) {
      EXPECT_EQ(accepted.value_or(L"<dropped>"), c.accepted) << c.token;
    } else {
      EXPECT_FALSE(accepted) << c.token;
    }
  }
  EXPECT_FALSE(AcceptCleanupToken(L"C:\\T\\a.txt", L""));  // no root: nothing
  // A share is named with two backslashes.
  const std::wstring share = L"\\\\srv\\share";
  EXPECT_EQ(AcceptCleanupToken(L"\\\\srv\\share\\a.txt", share).value_or(L""), L"\\\\srv\\share\\a.txt");
  EXPECT_FALSE(AcceptCleanupToken(L"\\/srv/share/a.txt", share));
  EXPECT_FALSE(AcceptCleanupToken(L"//srv/share/a.txt", share));
}

TEST(CleanupRules, BuildsTheListsFromTheChainerSection) {
  const std::set<std::wstring> onDisk = {L"C:\\T\\A\\B\\keep.txt", L"C:\\T\\x.txt",
                                         L"C:\\T\\A\\y.txt", L"C:\\Tools\\z.txt",
                                         L"C:\\Windows\\w.txt"};
  std::vector<std::wstring> asked;
  auto exists = [&](const std::wstring& path) {
    asked.push_back(path);
    return onDisk.count(path) > 0;
  };
  ChainerSettings settings;
  settings.CleanupScript = L"C:\\T\\A\\B\\clean.ps1";
  settings.CleanupFolders = L"C:\\T";
  settings.CleanupFiles = std::wstring(L"C:\\T\\x.txt\u0001\u0001C:\\Tools\\z.txt\u0001") +
                          L"C:\\T\\missing.txt\u0001x.txt\u0001C:\\T\\..\\Windows\\w.txt\u0001" +
                          L"C:\\T\\A\\\\y.txt\u0001";

  const CleanupState state = BuildCleanupState(settings, L"C:\\T\\A\\B\\prereq.exe",
                                               L"C:\\T\\A\\B\\prereq.ini", exists);
  EXPECT_EQ(state.deleteList,
            (Texts{L"C:\\T\\x.txt", L"C:\\T\\A\\y.txt", L"C:\\T\\A\\B\\prereq.ini"}));
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\A\\B\\clean.ps1", L"C:\\T\\A\\B\\prereq.exe",
                                     L"C:\\T\\A\\B", L"C:\\T\\A"}));
  EXPECT_EQ(state.cleanupScript, settings.CleanupScript);
  EXPECT_EQ(state.cleanupRoot, L"C:\\T");
  EXPECT_FALSE(state.scriptElevated);
  EXPECT_EQ(state.retryCount, 10);
  // Only tokens inside the root are looked for on disk.
  EXPECT_EQ(asked, (Texts{L"C:\\T\\x.txt", L"C:\\T\\missing.txt", L"C:\\T\\A\\y.txt"}));
}

TEST(CleanupRules, ListsWithoutRootScriptOrWithTheExecutableOutsideTheRoot) {
  auto exists = [](const std::wstring&) { return true; };
  ChainerSettings settings;
  settings.CleanupFiles = L"C:\\T\\x.txt";
  // No root: only the configuration file is deleted; no script is listed.
  CleanupState state = BuildCleanupState(settings, L"C:\\T\\A\\prereq.exe",
                                         L"C:\\T\\A\\prereq.ini", exists);
  EXPECT_EQ(state.deleteList, (Texts{L"C:\\T\\A\\prereq.ini"}));
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\A\\prereq.exe"}));

  // The executable outside the root: the configuration file still goes.
  settings.CleanupFolders = L"C:\\T";
  state = BuildCleanupState(settings, L"D:\\Setup\\prereq.exe", L"D:\\Setup\\prereq.ini", exists);
  EXPECT_EQ(state.deleteList, (Texts{L"C:\\T\\x.txt", L"D:\\Setup\\prereq.ini"}));
  EXPECT_EQ(state.folderList, (Texts{L"D:\\Setup\\prereq.exe"}));

  // A root with a trailing backslash or another case never loops; the root
  // itself is never listed.
  settings.CleanupFolders = L"C:\\T\\";
  state = BuildCleanupState(settings, L"C:\\T\\A\\prereq.exe", L"C:\\T\\A\\prereq.ini", exists);
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\A\\prereq.exe", L"C:\\T\\A"}));
  settings.CleanupFolders = L"c:\\t";
  state = BuildCleanupState(settings, L"C:\\T\\A\\prereq.exe", L"C:\\T\\A\\prereq.ini", exists);
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\A\\prereq.exe"}));
  // The executable directly in the root: no folder.
  settings.CleanupFolders = L"C:\\T";
  state = BuildCleanupState(settings, L"C:\\T\\prereq.exe", L"C:\\T\\prereq.ini", exists);
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\prereq.exe"}));
}

TEST(CleanupRules, FolderListSkipsPathsThatDifferOnlyInCase) {
  CleanupState state;
  state.AddFolder(L"C:\\T\\A");
  state.AddFolder(L"c:\\t\\a");
  state.AddFolder(L"C:\\T\\A\\");
  state.AddFolder(L"C:\\T\\\u00C4");
  state.AddFolder(L"C:\\T\\\u00E4");  // only A-Z fold, as _wcsicmp in the C locale
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\A", L"C:\\T\\A\\", L"C:\\T\\\u00C4",
                                     L"C:\\T\\\u00E4"}));
  EXPECT_TRUE(EqualsIgnoringCase(L"AbZ[", L"aBz["));
  EXPECT_FALSE(EqualsIgnoringCase(L"@", L"`"));  // neighbours of A and a
  EXPECT_FALSE(EqualsIgnoringCase(L"a", L"ab"));

  // The script and the executable given twice.
  ChainerSettings settings;
  settings.CleanupScript = L"C:\\T\\PREREQ.EXE";
  settings.CleanupFolders = L"C:\\T";
  state = BuildCleanupState(settings, L"C:\\T\\prereq.exe", L"C:\\T\\prereq.ini",
                            [](const std::wstring&) { return false; });
  EXPECT_EQ(state.folderList, (Texts{L"C:\\T\\PREREQ.EXE"}));
}

TEST(CleanupRules, AFolderGoesToTheScriptOnlyWithAtMostOneListedEntry) {
  const Texts list = {L"C:\\T\\A\\B\\prereq.exe", L"C:\\T\\A\\B", L"C:\\T\\A"};
  EXPECT_TRUE(FolderMayGoToScript({}, list));
  EXPECT_TRUE(FolderMayGoToScript({L"C:\\T\\A\\B\\prereq.exe"}, list));
  EXPECT_TRUE(FolderMayGoToScript({L"c:\\t\\a\\b"}, list));
  EXPECT_FALSE(FolderMayGoToScript({L"C:\\T\\A\\B\\other.txt"}, list));
  EXPECT_FALSE(FolderMayGoToScript({L"C:\\T\\A\\B\\prereq.exe", L"C:\\T\\A\\B\\log.txt"}, list));
  // Two listed entries are still two: the count decides first.
  EXPECT_FALSE(FolderMayGoToScript({L"C:\\T\\A\\B", L"C:\\T\\A\\B\\prereq.exe"}, list));
}

TEST(CleanupRules, ResolutionIsStableOnArbitraryText) {
  // Texts over the characters that matter to the rules: whatever comes out
  // of the acceptance lies inside the root and resolves to itself.
  const std::wstring alphabet = L"\\/.:? CTa*\u0001";
  const std::wstring roots[] = {L"C:\\T", L"C:\\T\\", L"C:", L"\\\\s\\T", L"\\\\?\\C:\\T"};
  std::mt19937 random(7);
  size_t accepted = 0;
  for (int n = 0; n < 20000; ++n) {
    std::wstring text(random() % 16, L'\0');
    for (wchar_t& c : text) c = alphabet[random() % alphabet.size()];
    if (n % 2 == 0) text = L"C:\\T\\" + text;
    for (const std::wstring& root : roots) {
      const std::optional<std::wstring> path = AcceptCleanupToken(text, root);
      if (!path) continue;
      ++accepted;
      ASSERT_TRUE(LiesInside(*path, root)) << text << L" in " << root;
      ASSERT_EQ(ResolvedText(*path), *path) << text;
      const std::optional<ResolvedPath> again = ResolveFullPath(*path);
      ASSERT_TRUE(again);
      for (const std::wstring& piece : again->pieces)
        ASSERT_TRUE(piece != L"." && piece != L".." && !piece.empty()) << text;
    }
    const std::optional<ResolvedPath> resolved = ResolveFullPath(text);
    if (resolved) {
      ASSERT_EQ(ResolvedText(resolved->Text()), resolved->Text()) << text;
      for (const std::wstring& folder : FoldersInsideRoot(text, L"C:\\T"))
        ASSERT_TRUE(LiesInside(folder, L"C:\\T")) << folder;
    }
    SplitCleanupFiles(text);
  }
  EXPECT_GT(accepted, 1000u);  // the texts reach the accepting paths too
}
