#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/core/LinkFreePathRules.h"

using namespace prereq;

namespace {

std::string N(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(SplitAtVolumeRoot, RootsAndNames) {
  struct Case {
    const wchar_t* path;
    const wchar_t* root;  // nullptr: refused
    std::vector<std::wstring> names;
  };
  const Case cases[] = {
      {L"C:\\", L"C:\\", {}},
      {L"C:\\s.log", L"C:\\", {L"s.log"}},
      {L"c:\\T\\X\\Tasks\\s.log", L"c:\\", {L"T", L"X", L"Tasks", L"s.log"}},
      {L"C:\\a\\", L"C:\\", {L"a"}},  // a trailing backslash ends the path
      {L"\\\\server\\share", L"\\\\server\\share\\", {}},
      {L"\\\\server\\share\\", L"\\\\server\\share\\", {}},
      {L"\\\\server\\share\\dir\\f.exe", L"\\\\server\\share\\", {L"dir", L"f.exe"}},
      {L"\\\\?\\C:\\x\\y", L"\\\\?\\C:\\", {L"x", L"y"}},
      {L"\\\\?\\UNC\\s\\sh\\x", L"\\\\?\\UNC\\s\\sh\\", {L"x"}},
      {L"\\\\?\\Volume{0a1b}\\x", L"\\\\?\\Volume{0a1b}\\", {L"x"}},
      {L"C:\\name with blanks\\f", L"C:\\", {L"name with blanks", L"f"}},
      // Not full, no share, devices, doubled separators, dots, wildcards.
      {L"", nullptr, {}},
      {L"x", nullptr, {}},
      {L"\\x", nullptr, {}},
      {L"C:x", nullptr, {}},
      {L"C:", nullptr, {}},
      {L"1:\\x", nullptr, {}},
      {L"\\\\server", nullptr, {}},
      {L"\\\\server\\sh?\\x", nullptr, {}},  // the share's name is checked to its end
      {L"\\\\server\\", nullptr, {}},
      {L"\\\\\\share\\x", nullptr, {}},
      {L"\\\\.\\pipe\\x", nullptr, {}},
      {L"\\\\?\\GLOBALROOT\\Device\\x", nullptr, {}},
      {L"\\\\?\\Volume{0a1b\\x", nullptr, {}},
      {L"\\\\?\\Volume{0a1b}", nullptr, {}},
      {L"\\\\?\\Volumes{0a1b}\\x", nullptr, {}},
      {L"\\\\?\\", nullptr, {}},
      {L"C:\\a\\\\b", nullptr, {}},
      {L"C:\\a\\.\\b", nullptr, {}},
      {L"C:\\a\\..\\b", nullptr, {}},
      {L"C:\\a*", nullptr, {}},
      {L"C:\\a?", nullptr, {}},
      {L"C:\\a<b", nullptr, {}},
      {L"C:\\f.txt:stream", nullptr, {}},
      {L"C:\\a/b", nullptr, {}},
      {L"C:\\a\x01", nullptr, {}},
      {L"C:\\a\x1F", nullptr, {}},
      {L"C:\\a\x20", L"C:\\", {L"a\x20"}},
  };
  for (const Case& c : cases) {
    const std::optional<VolumePath> split = SplitAtVolumeRoot(c.path);
    ASSERT_EQ(split.has_value(), c.root != nullptr) << N(c.path);
    if (!split) continue;
    EXPECT_EQ(split->root, c.root) << N(c.path);
    EXPECT_EQ(split->names, c.names) << N(c.path);
  }
}

TEST(SplitAtVolumeRoot, PrefixesWalkDownFromTheRoot) {
  const std::optional<VolumePath> split = SplitAtVolumeRoot(L"\\\\s\\sh\\a\\b\\c.txt");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->Prefix(0), L"\\\\s\\sh\\");
  EXPECT_EQ(split->Prefix(1), L"\\\\s\\sh\\a");
  EXPECT_EQ(split->Prefix(3), L"\\\\s\\sh\\a\\b\\c.txt");
  EXPECT_EQ(split->Prefix(9), L"\\\\s\\sh\\a\\b\\c.txt");  // no more names than there are
}

TEST(SplitParentAndName, FolderOfAFileAlsoInARoot) {
  const struct {
    const wchar_t* path;
    const wchar_t* folder;  // nullptr: none
    const wchar_t* name;
  } cases[] = {
      {L"C:\\s.log", L"C:\\", L"s.log"},  // the log in a drive root
      {L"C:\\a\\b.txt", L"C:\\a", L"b.txt"},
      {L"\\\\s\\sh\\b.txt", L"\\\\s\\sh\\", L"b.txt"},
      {L"C:\\", nullptr, nullptr},
      {L"C:\\a\\", nullptr, nullptr},
      {L"relative.txt", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<ParentAndName> parts = SplitParentAndName(c.path);
    ASSERT_EQ(parts.has_value(), c.folder != nullptr) << N(c.path);
    if (!parts) continue;
    EXPECT_EQ(parts->folder, c.folder) << N(c.path);
    EXPECT_EQ(parts->name, c.name) << N(c.path);
  }
}

TEST(NativePathOf, DrivesAndShares) {
  EXPECT_EQ(NativePathOf(L"C:\\x\\y"), L"\\??\\C:\\x\\y");
  EXPECT_EQ(NativePathOf(L"\\\\?\\C:\\x"), L"\\??\\C:\\x");
  EXPECT_EQ(NativePathOf(L"\\\\s\\sh\\x"), L"\\??\\UNC\\s\\sh\\x");
  EXPECT_EQ(NativePathOf(L"\\\\?\\UNC\\s\\sh\\x"), L"\\??\\UNC\\s\\sh\\x");
  EXPECT_EQ(NativePathOf(L"relative"), L"");
  EXPECT_EQ(NativePathOf(L"\\\\.\\pipe\\x"), L"");
}

TEST(IsLinkReparseTag, NameSurrogatesAndUnknownTagsAreLinks) {
  const std::pair<uint32_t, bool> cases[] = {
      {0xA0000003, true},   // mount point, junction
      {0xA000000C, true},   // symbolic link
      {0xA000001D, true},   // Linux symbolic link (WSL)
      {0x20000000, true},   // the name-surrogate bit alone
      {0, true},            // no tag known (Wine)
      {0x9000001A, false},  // cloud placeholder
      {0x80000013, false},  // deduplicated
      {0x80000017, false},  // compressed (WOF)
      {0x1FFFFFFF, false},
  };
  for (const auto& [tag, link] : cases) EXPECT_EQ(IsLinkReparseTag(tag), link) << std::hex << tag;
}

TEST(JudgeComponent, OnlyPlainEntriesOfTheFolderHeldAbove) {
  const std::wstring parent = L"\\\\?\\C:\\T";
  const std::wstring here = L"\\\\?\\C:\\T\\X";
  const std::wstring rootFinal = L"\\\\?\\C:\\";
  const std::wstring inRoot = L"\\\\?\\C:\\s.log";
  struct Case {
    const char* name;
    bool wantFolder;
    uint32_t entryAttributes, entryTag, handleAttributes, handleTag;
    bool diskFile;
    uint32_t links;
    bool singleName;
    std::wstring finalPath, parentFinal, entryName;
    ComponentVerdict verdict;
  };
  const Case cases[] = {
      {"folder", true, 0x10, 0, 0x10, 0, true, 1, false, here, parent, L"X", ComponentVerdict::Usable},
      {"folder_other_case", true, 0x10, 0, 0x10, 0, true, 1, false, L"\\\\?\\c:\\t\\x", parent, L"X",
       ComponentVerdict::Usable},
      // A junction seen by name (Windows, or a Unix link under Wine), or by
      // its handle.
      {"junction_by_name", true, 0x410, 0xA0000003, 0x10, 0, true, 1, false, here, parent, L"X",
       ComponentVerdict::Link},
      {"wine_link_by_name", true, 0x410, 0, 0x10, 0, true, 1, false, L"\\\\?\\C:\\Windows", parent, L"X",
       ComponentVerdict::Link},
      {"link_by_handle", true, 0x10, 0, 0x410, 0xA000000C, true, 1, false, here, parent, L"X",
       ComponentVerdict::Link},
      {"cloud_folder", true, 0x410, 0x9000001A, 0x410, 0x9000001A, true, 1, false, here, parent, L"X",
       ComponentVerdict::Usable},
      // Followed anyway: its final path is elsewhere (a link to a sibling
      // too).
      {"followed_elsewhere", true, 0x10, 0, 0x10, 0, true, 1, false, L"\\\\?\\C:\\Windows", parent, L"X",
       ComponentVerdict::ElsewhereOnDisk},
      {"followed_to_sibling", false, 0x20, 0, 0x20, 0, true, 1, true, L"\\\\?\\C:\\T\\other.log", parent,
       L"s.log", ComponentVerdict::ElsewhereOnDisk},
      {"one_final_path_missing", true, 0x10, 0, 0x10, 0, true, 1, false, L"", parent, L"X",
       ComponentVerdict::ElsewhereOnDisk},
      {"no_final_paths_at_all", true, 0x10, 0, 0x10, 0, true, 1, false, L"", L"", L"X",
       ComponentVerdict::Usable},
      {"not_a_folder", true, 0x20, 0, 0x20, 0, true, 1, false, here, parent, L"X",
       ComponentVerdict::NotAFolder},
      // Files: in a drive root (whose final path ends with a backslash).
      {"file_in_root", false, 0x20, 0, 0x20, 0, true, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::Usable},
      {"file_normal_attribute", false, 0x80, 0, 0x80, 0, true, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::Usable},
      {"file_link", false, 0x420, 0xA000000C, 0x20, 0, true, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::Link},
      {"file_is_folder", false, 0x10, 0, 0x10, 0, true, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::NotAFile},
      {"file_is_device", false, 0x40, 0, 0x40, 0, true, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::NotAFile},
      {"file_is_pipe", false, 0x80, 0, 0x80, 0, false, 1, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::NotAFile},
      // Names of a file that is written: one and only one.
      {"two_names_written", false, 0x20, 0, 0x20, 0, true, 2, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::HardLinked},
      {"many_names_written", false, 0x20, 0, 0x20, 0, true, 1000, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::HardLinked},
      {"no_name_written", false, 0x20, 0, 0x20, 0, true, 0, true, inRoot, rootFinal, L"s.log",
       ComponentVerdict::HardLinked},
      {"two_names_read", false, 0x20, 0, 0x20, 0, true, 2, false, inRoot, rootFinal, L"s.log",
       ComponentVerdict::Usable},
      // A link is judged first: nothing else about it counts.
      {"link_and_hard_link", false, 0x420, 0, 0x20, 0, true, 2, true, L"", parent, L"s.log",
       ComponentVerdict::Link},
  };
  for (const Case& c : cases) {
    ComponentFacts facts;
    facts.wantFolder = c.wantFolder;
    facts.entryAttributes = c.entryAttributes;
    facts.entryTag = c.entryTag;
    facts.handleAttributes = c.handleAttributes;
    facts.handleTag = c.handleTag;
    facts.diskFile = c.diskFile;
    facts.linkCount = c.links;
    facts.singleNameRequired = c.singleName;
    facts.finalPath = c.finalPath;
    facts.parentFinalPath = c.parentFinal;
    facts.entryName = c.entryName;
    EXPECT_EQ(JudgeComponent(facts), c.verdict) << c.name;
  }
}

TEST(ComponentVerdictText, OneTextEach) {
  const std::pair<ComponentVerdict, std::wstring> cases[] = {
      {ComponentVerdict::Usable, L"usable"},
      {ComponentVerdict::Link, L"it is a link"},
      {ComponentVerdict::NotAFolder, L"it is not a folder"},
      {ComponentVerdict::NotAFile, L"it is not a file"},
      {ComponentVerdict::HardLinked, L"it has more than one name"},
      {ComponentVerdict::ElsewhereOnDisk, L"it lies outside its folder"},
  };
  for (const auto& [verdict, text] : cases) EXPECT_EQ(ComponentVerdictText(verdict), text) << N(text);
}

}  // namespace
