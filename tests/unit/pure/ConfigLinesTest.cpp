// Line numbers and passed-over lines of the parser, the key tables that the
// loaders read through, and why the loading of the list ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "chainer/ConfigSchema.h"
#include "chainer/Configuration.h"
#include "chainer/IniFile.h"

using namespace prereq;

namespace {

TEST(IniLines, SectionsAndEntriesKnowTheirLine) {
  // Line 3 is empty, line 4 holds a lone LF (one line for the parser), the
  // leading U+FEFF belongs to line 1.
  const IniFile ini = ParseIni(L"\uFEFF[A]\r\nk=1\r\n\r\nx=1\ny=2\r\n  [B]  \r\nz=3");
  ASSERT_EQ(ini.sections.size(), 2u);
  EXPECT_EQ(ini.sections[0].line, 1u);
  ASSERT_EQ(ini.sections[0].entries.size(), 2u);
  EXPECT_EQ(ini.sections[0].entries[0].line, 2u);
  EXPECT_EQ(ini.sections[0].entries[1].line, 4u);
  EXPECT_EQ(ini.sections[0].entries[1].value, L"1\ny=2");
  EXPECT_EQ(ini.sections[1].line, 5u);
  EXPECT_EQ(ini.sections[1].entries[0].line, 6u);
}

TEST(IniLines, ReportsTheLinesItPassesOver) {
  std::vector<IgnoredLine> ignored;
  const IniFile ini =
      ParseIni(L"before\r\n; note=1\r\n[A]\r\nno equals\r\n\r\n[B\r\n; comment\r\nk=v", &ignored);
  ASSERT_EQ(ini.sections.size(), 1u);
  struct Expected {
    size_t line;
    IgnoredLineKind kind;
    std::wstring text;
  };
  const Expected expected[] = {
      {1, IgnoredLineKind::BeforeFirstSection, L"before"},
      {2, IgnoredLineKind::BeforeFirstSection, L"; note=1"},
      {4, IgnoredLineKind::NoEquals, L"no equals"},
      {6, IgnoredLineKind::NoEquals, L"[B"},
      {7, IgnoredLineKind::NoEquals, L"; comment"},
  };
  ASSERT_EQ(ignored.size(), std::size(expected));
  for (size_t i = 0; i < ignored.size(); ++i) {
    EXPECT_EQ(ignored[i].line, expected[i].line) << i;
    EXPECT_EQ(ignored[i].kind, expected[i].kind) << i;
    EXPECT_EQ(ignored[i].text, expected[i].text) << i;
  }
  // Reporting changes nothing in the document.
  const IniFile plain = ParseIni(L"before\r\n; note=1\r\n[A]\r\nno equals\r\n\r\n[B\r\n; comment\r\nk=v");
  ASSERT_EQ(plain.sections.size(), 1u);
  EXPECT_EQ(plain.sections[0].entries.size(), ini.sections[0].entries.size());
}

// Every key of a table fills its field: the loader reads through the table.
TEST(ConfigSchema, EveryGeneralKeyFillsItsField) {
  for (const KeySpec<GeneralOptions>& row : GeneralOptionKeys()) {
    const std::wstring value = row.type == ValueType::Choice ? L"prereqs"
                               : row.type == ValueType::Bool ? L"TRUE"
                                                              : L"7x";
    PrereqList list;
    LoadConfiguration(ParseIni(L"[GeneralOptions]\r\n" + std::wstring(row.key) + L"=" + value), list);
    GeneralOptions defaults;
    bool changed = false;
    std::visit(
        [&](auto member) {
          using M = decltype(member);
          if constexpr (!std::is_same_v<M, std::monostate>) changed = list.general.*member != defaults.*member;
        },
        row.field);
    EXPECT_TRUE(changed) << std::string(row.key.begin(), row.key.end());
  }
}

TEST(ConfigSchema, EveryPrerequisiteAndSearchKeyFillsItsField) {
  for (const KeySpec<Prerequisite>& row : PrerequisiteKeys()) {
    if (row.type == ValueType::Location || std::holds_alternative<std::monostate>(row.field)) continue;
    PrereqList list;
    LoadConfiguration(ParseIni(L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nSetupFile=s\r\n" +
                               std::wstring(row.key) + L"=7x"),
                      list);
    ASSERT_EQ(list.Count(), 1u);
    Prerequisite defaults;
    bool changed = false;
    std::visit(
        [&](auto member) {
          using M = decltype(member);
          if constexpr (!std::is_same_v<M, std::monostate>) changed = list.At(0).*member != defaults.*member;
        },
        row.field);
    EXPECT_TRUE(changed) << std::string(row.key.begin(), row.key.end());
  }
  for (const KeySpec<SearchEntry>& row : SearchEntryKeys()) {
    // Entry 2 has every key but the one under test set to nothing special.
    std::wstring text = L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nSetupFile=s\r\n"
                        L"SearchType1=0\r\nSearchString1=x\r\n";
    for (const KeySpec<SearchEntry>& other : SearchEntryKeys())
      if (other.key == L"SearchType" || other.key == L"SearchString" || other.key == row.key)
        text += std::wstring(other.key) + L"2=" + (other.key == row.key ? L"7x" : L"0") + L"\r\n";
    PrereqList list;
    LoadConfiguration(ParseIni(text), list);
    ASSERT_EQ(list.At(0).Searches.size(), 2u);
    const SearchEntry& entry = list.At(0).Searches[1];
    SearchEntry defaults;
    bool changed = false;
    std::visit(
        [&](auto member) {
          using M = decltype(member);
          if constexpr (!std::is_same_v<M, std::monostate>) changed = entry.*member != defaults.*member;
        },
        row.field);
    EXPECT_TRUE(changed) << std::string(row.key.begin(), row.key.end());
  }
}

TEST(ConfigSchema, KeysAreUniqueWithinTheirSection) {
  auto unique = [](auto table) {
    std::set<std::wstring_view> seen;
    for (const auto& row : table)
      if (!seen.insert(row.key).second) return false;
    return true;
  };
  EXPECT_TRUE(unique(GeneralOptionKeys()));
  EXPECT_TRUE(unique(PrerequisiteKeys()));
  EXPECT_TRUE(unique(SearchEntryKeys()));
  EXPECT_TRUE(unique(ChainerSettingKeys()));
  // The location keys, in the order in which the first one present wins.
  std::vector<std::wstring_view> locations;
  for (const auto& row : PrerequisiteKeys())
    if (row.type == ValueType::Location) locations.push_back(row.key);
  EXPECT_EQ(locations, (std::vector<std::wstring_view>{L"SetupFile", L"OpenSite", L"Url"}));
}

TEST(ConfigSchema, ValueReadings) {
  EXPECT_TRUE(IsTrueWord(L"true"));
  EXPECT_TRUE(IsTrueWord(L"TrUe"));
  EXPECT_FALSE(IsTrueWord(L"true "));
  EXPECT_FALSE(IsTrueWord(L"yes"));
  EXPECT_FALSE(IsTrueWord(L""));
  EXPECT_EQ(KeepFilesValue(L"complete"), 2);
  EXPECT_EQ(KeepFilesValue(L"minimum"), 1);
  EXPECT_EQ(KeepFilesValue(L"prereqs"), 5);
  EXPECT_EQ(KeepFilesValue(L"Prereqs"), 0);
  EXPECT_EQ(NumberedKey(L"App", 12), L"App12");
}

struct StopCase {
  const char* name;
  std::wstring text;
  size_t loaded;
  LoadStop stop;
  int app;
  int search;
};

TEST(LoadOutcome, SaysWhyTheListEnded) {
  const std::wstring two = L"[PREREQUISITES]\r\nApp1=a\r\nApp2=b\r\n[App1]\r\nUrl=u\r\n";
  const StopCase cases[] = {
      {"no_index", L"[App1]\r\nUrl=u", 0, LoadStop::NoIndexSection, 0, 0},
      {"end", L"[PREREQUISITES]\r\nApp1=a\r\n[App1]\r\nUrl=u", 1, LoadStop::EndOfList, 2, 0},
      {"empty_index", L"[PREREQUISITES]\r\n", 0, LoadStop::EndOfList, 1, 0},
      {"no_section", two, 1, LoadStop::NoSection, 2, 0},
      {"no_location", two + L"[App2]\r\nDisplayName=b", 1, LoadStop::NoLocation, 2, 0},
      {"search_without_string", two + L"[App2]\r\nUrl=u\r\nSearchType1=1\r\nSearchString1=s\r\nSearchType2=1",
       1, LoadStop::SearchWithoutString, 2, 2},
  };
  for (const StopCase& c : cases) {
    PrereqList list;
    LoadOutcome outcome;
    LoadConfiguration(ParseIni(c.text), list, &outcome);
    EXPECT_EQ(list.Count(), c.loaded) << c.name;
    EXPECT_EQ(outcome.stop, c.stop) << c.name;
    EXPECT_EQ(outcome.appNumber, c.app) << c.name;
    if (c.stop == LoadStop::SearchWithoutString) { EXPECT_EQ(outcome.searchNumber, c.search) << c.name; }
  }
}

}  // namespace
