#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "evaluation/FolderPropertyNames.h"
#include "evaluation/SearchRules.h"

using namespace prereq;

namespace {

PrereqState S(int value) { return static_cast<PrereqState>(value); }

std::string N(std::wstring_view w) {
  std::string out;
  for (wchar_t c : w) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

TEST(CombineSearches, OperatorsAndEarlyStop) {
  struct Case {
    int32_t op;
    std::vector<bool> found;
    bool result;
    size_t run;  // how many entries were run
  };
  const Case cases[] = {
      {0, {}, true, 0},  // no entries: installed with AND
      {1, {}, false, 0},  // ... and not installed with OR
      {0, {true, true, true}, true, 3},
      {0, {true, false, true}, false, 2},  // AND stops at the first entry not found
      {0, {false, true}, false, 1},
      {1, {false, true, false}, true, 2},  // OR stops at the first entry found
      {1, {false, false, false}, false, 3},
      {2, {true, true}, false, 2},  // other operators leave the start value alone
  };
  for (const Case& c : cases) {
    size_t run = 0;
    const bool result = CombineSearches(c.found.size(), c.op, [&](size_t i) {
      EXPECT_EQ(i, run);  // in order
      ++run;
      return static_cast<bool>(c.found[i]);
    });
    EXPECT_EQ(result, c.result) << "op " << c.op << " entries " << c.found.size();
    EXPECT_EQ(run, c.run) << "op " << c.op << " entries " << c.found.size();
  }
}

// The states the evaluation never logs itself; later steps report them.
TEST(StateText, DerivedAndUnknownStates) {
  EXPECT_STREQ(StateText(S(4)), L"No acceptable version found. Operating System not supported.");
  EXPECT_STREQ(StateText(S(5)),
               L"No acceptable version found. It is already downloaded and it will be installed.");
  EXPECT_STREQ(StateText(S(7)), L"Not selected for install.");
  for (int unknown : {6, 8, -1}) EXPECT_STREQ(StateText(S(unknown)), L"Undefined") << unknown;
}

TEST(ProcessorExcludes, OptionsCAndD) {
  struct Case {
    bool have, ok;
    uint16_t machine;
    bool c, d, excluded;
  };
  const Case cases[] = {
      {true, true, kMachineArm64, true, false, true},    // "c": not on ARM64
      {true, true, kMachineArm64, false, true, false},   // "d": only on ARM64
      {true, true, 0x8664, false, true, true},
      {true, true, 0x8664, false, false, false},
      {true, false, 0x8664, true, true, false},          // failed call decides nothing
      {false, false, 0, false, true, true},              // without the function: "d" excludes
      {false, false, 0, true, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProcessorExcludes(c.have, c.ok, c.machine, c.c, c.d), c.excluded)
        << c.have << c.ok << " " << c.machine << " " << c.c << c.d;
}

TEST(FileSearchCandidates, AsWrittenOrOnEveryFixedDrive) {
  const std::vector<std::wstring> drives = {L"C:\\", L"E:\\"};
  const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
      {L"setup.dll?2", {L"C:\\setup.dll?2", L"E:\\setup.dll?2"}},
      {L"C:\\x\\a.dll?1", {L"C:\\x\\a.dll?1"}},
      {L"[SystemFolder]a.dll", {L"[SystemFolder]a.dll"}},
      {L"%WINDIR%a.dll?1", {L"%WINDIR%a.dll?1"}},
      {L"!HKLM!a.dll", {L"!HKLM!a.dll"}},
      {L"a.dll?\\x", {L"C:\\a.dll?\\x", L"E:\\a.dll?\\x"}},  // only the path before "?" counts
      {L"?x\\y.dll", {L"?x\\y.dll"}},  // a "?" in the first place is part of the path
  };
  for (const auto& [search, expected] : cases)
    EXPECT_EQ(FileSearchCandidates(search, drives), expected) << N(search);
  EXPECT_TRUE(FileSearchCandidates(L"a.dll", {}).empty());
}

TEST(PathSplits, DrivesFoldersAndRegistryPaths) {
  using namespace std::string_literals;
  const std::pair<std::wstring, std::vector<std::wstring>> drives[] = {
      {L"C:\\\0D:\\\0\0"s, {L"C:\\", L"D:\\"}},
      {L"C:\\\0D:\\"s, {L"C:\\", L"D:\\"}},  // no closing empty string
      {L"\0C:\\\0"s, {}},                      // the list ends at the first empty string
      {L""s, {}},
  };
  for (const auto& [buffer, roots] : drives) EXPECT_EQ(SplitDriveStrings(buffer), roots) << buffer.size();

  const FolderAndName file = SplitFolderAndName(L"C:\\dir\\setup.exe");
  EXPECT_EQ(file.folder, L"C:\\dir\\");
  EXPECT_EQ(file.name, L"setup.exe");
  EXPECT_EQ(SplitFolderAndName(L"setup.exe").name, L"setup.exe");

  std::wstring subkey;
  EXPECT_TRUE(SubkeyOf(L"HKLM\\Software\\A", subkey));
  EXPECT_EQ(subkey, L"Software\\A");
  EXPECT_FALSE(SubkeyOf(L"HKLM", subkey));

  KeyAndValue kv;
  ASSERT_TRUE(SplitValuePath(L"HKLM\\Software\\A\\Version", kv));
  EXPECT_EQ(kv.keyPath, L"HKLM\\Software\\A");
  EXPECT_EQ(kv.valueName, L"Version");
  ASSERT_TRUE(SplitValuePath(L"HKLM\\A\\", kv));  // the default value
  EXPECT_EQ(kv.keyPath, L"HKLM\\A");
  EXPECT_EQ(kv.valueName, L"");
  EXPECT_FALSE(SplitValuePath(L"Version", kv));
}

TEST(FolderPropertyNames, BothKindsWithCase) {
  const std::pair<const wchar_t*, bool> names[] = {
      {L"SETUPEXEDIR", true}, {L"ProgramFilesFolder", true}, {L"setupexedir", false},
      {L"programfilesfolder", false}, {L"NoSuchFolder", false}, {L"", false}};
  for (const auto& [name, known] : names) EXPECT_EQ(IsFolderPropertyName(name), known) << N(name);
}

TEST(ParseDepth, Table) {
  const std::pair<std::wstring, int32_t> cases[] = {
      {L"", 0},     {L"?", 0},     {L"?2", 2},   {L"? \t3", 3}, {L"?-1", -1},
      {L"?+4", 4},  {L"?2x5", 2},  {L"?x2", 0},  {L"?- 1", 0},
      {L"?99999999999999999999", INT_MAX},
      {L"?-99999999999999999999", -INT_MAX},
  };
  for (const auto& [suffix, depth] : cases) EXPECT_EQ(ParseDepth(suffix), depth) << N(suffix);
}

}  // namespace
