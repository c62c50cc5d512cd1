#include <gtest/gtest.h>

#include "execution/ExitCodeRules.h"

using namespace prereq;

namespace {
using K = ExitCodeIssue::Kind;
constexpr ExitMeaning S = ExitMeaning::Success, B = ExitMeaning::Reboot, T = ExitMeaning::Restarted,
                      R = ExitMeaning::Retry, F = ExitMeaning::Failure;
}  // namespace

TEST(ExitCodeRules, DefaultsWithoutTheKey) {
  const ExitCodeTable table = ParseExitCodes(L"").table;
  const struct {
    uint32_t code;
    ExitMeaning meaning;
  } cases[] = {
      {0, S}, {3010, B}, {1641, T}, {1638, S}, {1618, R},
      // Neighbours of every listed code, and the extremes, are failures.
      {1, F}, {3009, F}, {3011, F}, {1640, F}, {1642, F}, {1637, F}, {1619, F}, {1617, F},
      {1602, F}, {1603, F}, {0xFFFFFFFFu, F},
  };
  for (const auto& c : cases) EXPECT_EQ(table.MeaningOf(c.code), c.meaning) << c.code;
  EXPECT_TRUE(table.ConfiguredEntries().empty());
}

TEST(ExitCodeRules, ParsesItemsAndReportsFaults) {
  const struct {
    const wchar_t* text;
    std::vector<ExitCodeEntry> entries;
    std::vector<K> issues;
  } cases[] = {
      {L"1638:success, 1641:restarted, 1618:retry, 5:failure",
       {{1638, S}, {1641, T}, {1618, R}, {5, F}}, {}},
      {L"  7 :  reboot\t", {{7, B}}, {}},
      // Code boundaries: 32 bits unsigned, negatives down to INT32_MIN, hex up to 8 digits.
      {L"4294967295:success", {{0xFFFFFFFFu, S}}, {}},
      {L"4294967296:success", {}, {K::BadCode}},
      {L"-1:success", {{0xFFFFFFFFu, S}}, {}},
      {L"-2147483648:success", {{0x80000000u, S}}, {}},
      {L"-2147483649:success", {}, {K::BadCode}},
      {L"-0:failure", {{0, F}}, {}},
      {L"0xC0000005:retry", {{0xC0000005u, R}}, {}},
      {L"0XffffFFFF:retry", {{0xFFFFFFFFu, R}}, {}},
      {L"0x100000000:retry", {}, {K::BadCode}},
      {L"0x:retry", {}, {K::BadCode}},
      {L"12a:retry, +5:retry, :retry, 1 2:retry", {}, {K::BadCode, K::BadCode, K::BadCode, K::BadCode}},
      // Meanings are lower-case words.
      {L"5:Success, 6:ok, 7:", {}, {K::UnknownMeaning, K::UnknownMeaning, K::UnknownMeaning}},
      {L"5 success", {}, {K::NoColon}},
      // The first entry of a code counts; empty items are passed over.
      {L"5:success,,5:failure,", {{5, S}}, {K::EmptyItem, K::Duplicate, K::EmptyItem}},
      {L"  ", {}, {}},
  };
  for (const auto& c : cases) {
    const ParsedExitCodes parsed = ParseExitCodes(c.text);
    EXPECT_EQ(parsed.table.ConfiguredEntries(), c.entries) << c.text;
    std::vector<K> kinds;
    for (const ExitCodeIssue& issue : parsed.issues) kinds.push_back(issue.kind);
    EXPECT_EQ(kinds, c.issues) << c.text;
  }
  const ParsedExitCodes parsed = ParseExitCodes(L"1:ok , 2:failure, x");
  ASSERT_EQ(parsed.issues.size(), 2u);
  EXPECT_EQ(parsed.issues[0].item, 0u);
  EXPECT_EQ(parsed.issues[0].text, L"1:ok");
  EXPECT_EQ(parsed.issues[1].item, 2u);
}

TEST(ExitCodeRules, ConfiguredEntriesReplaceDefaultsOnlyForTheirCodes) {
  const ExitCodeTable table = ParseExitCodes(L"1638:failure, 5:success, 1618:failure").table;
  EXPECT_EQ(table.MeaningOf(1638), F);
  EXPECT_EQ(table.MeaningOf(1618), F);
  EXPECT_EQ(table.MeaningOf(5), S);
  EXPECT_EQ(table.MeaningOf(0), S);     // defaults stay
  EXPECT_EQ(table.MeaningOf(3010), B);
  EXPECT_EQ(table.MeaningOf(1641), T);
  EXPECT_EQ(table.MeaningOf(6), F);
  EXPECT_TRUE(table.Configured(5));
  EXPECT_FALSE(table.Configured(0));
  const std::vector<ExitCodeEntry> effective = {{1638, F}, {5, S}, {1618, F}, {0, S}, {3010, B}, {1641, T}};
  EXPECT_EQ(table.Effective(), effective);
}

TEST(ExitCodeRules, WordsRoundTripAndFormat) {
  for (const ExitMeaningInfo& m : ExitMeanings()) {
    EXPECT_EQ(ExitMeaningByWord(m.word), m.meaning) << std::wstring(m.word);
    EXPECT_EQ(ExitMeaningWord(m.meaning), m.word);
  }
  EXPECT_FALSE(ExitMeaningByWord(L"Retry").has_value());
  EXPECT_EQ(FormatReturnCode(0x7FFFFFFF), L"2147483647");
  EXPECT_EQ(FormatReturnCode(0x80000000u), L"2147483648 (0x80000000)");
  EXPECT_EQ(FormatReturnCode(0xC0000005u), L"3221225477 (0xC0000005)");
}
