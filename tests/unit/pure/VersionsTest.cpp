#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "evaluation/Versions.h"

using namespace prereq;

namespace {

std::string N(std::wstring_view w) {
  std::string out;
  for (wchar_t c : w) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

TEST(ParseVersion, Table) {
  struct Case {
    std::wstring text;
    bool ok;
    std::array<uint32_t, 4> parts;
    int count;
  };
  const Case cases[] = {
      {L"", false, {0, 0, 0, 0}, 0},
      {L"abc", false, {0, 0, 0, 0}, 0},
      {L"1", true, {1, 0, 0, 0}, 1},
      {L"1.2.3.4", true, {1, 2, 3, 4}, 4},
      {L"1.2.3.4.5", true, {1, 2, 3, 4}, 4},  // a fifth run is not read
      {L"v1.2", true, {1, 2, 0, 0}, 2},       // a prefix before the first digit is skipped
      {L"V 10.0-19041 build7", true, {10, 0, 19041, 7}, 4},
      {L"1..2", true, {1, 2, 0, 0}, 2},  // a run of separators is one separator
      {L"0.0.0.0", true, {0, 0, 0, 0}, 4},
      {L"2147483647.1", true, {2147483647, 1, 0, 0}, 2},
      // Parts that do not fit in a signed 32-bit integer fail as a whole.
      {L"2147483648", false, {0, 0, 0, 0}, 0},
      {L"1.2.99999999999", false, {0, 0, 0, 0}, 0},
      {L"1.2.3.4.99999999999", true, {1, 2, 3, 4}, 4},  // never reached
      {L"\u0661.\u0662", false, {0, 0, 0, 0}, 0},      // only 0-9 are digits
  };
  for (const Case& c : cases) {
    VersionQuad v;
    v.parts = {9, 9, 9, 9};
    v.count = 9;
    EXPECT_EQ(ParseVersion(c.text, v), c.ok) << N(c.text);
    EXPECT_EQ(v.parts, c.parts) << N(c.text);
    EXPECT_EQ(v.count, c.count) << N(c.text);
  }
}

TEST(FormatVersion, Table) {
  const std::pair<std::array<uint32_t, 4>, std::wstring> cases[] = {
      {{4, 0, 0, 0}, L"4.0"},
      {{1, 2, 3, 0}, L"1.2.3"},
      {{1, 2, 3, 4}, L"1.2.3.4"},
      {{0, 0, 0, 0}, L"0.0.0.0"},
      {{65535, 65535, 65535, 65535}, L"0.0.0.0"},
      {{1, 65535, 65535, 65535}, L"1.65535"},  // never fewer than two parts
      {{1, 0, 65535, 2}, L"1.0.65535.2"},
  };
  for (const auto& [parts, text] : cases) {
    VersionQuad v;
    v.parts = parts;
    EXPECT_EQ(FormatVersion(v), text);
  }
}

TEST(VersionInRange, Table) {
  struct Case {
    std::vector<std::wstring> values;
    std::wstring min, max;
    bool found;
  };
  const Case cases[] = {
      {{}, L"", L"", false},                      // nothing collected
      {{L"garbage"}, L"", L"", true},             // no bounds: anything collected
      {{L""}, L"abc", L"0.0", true},              // unparsable and all-zero bounds are absent
      {{L"1.2"}, L"1.2", L"", true},              // bounds are inclusive
      {{L"1.2.0.0"}, L"1.2", L"", true},
      {{L"1.10"}, L"1.2", L"", true},             // parts compare as numbers
      {{L"1.1.9"}, L"1.2", L"", false},
      {{L"1.2"}, L"v1.2", L"", true},             // a letter before the first digit
      {{L"4.8.09032"}, L"4.8", L"4.8.9999", true},
      {{L"4.8.10000"}, L"4.8", L"4.8.9999", false},
      {{L"2.0.0.0"}, L"", L"2.0", true},
      {{L"2.0.0.1"}, L"", L"2.0", false},
      {{L"0.0.0.0"}, L"1.0", L"", false},         // all-zero values are skipped
      {{L"3.0", L"1.5", L"2.5"}, L"2.0", L"3.0", true},  // any value in range
      {{L"3.1", L"1.5"}, L"2.0", L"3.0", false},
      {{L"2147483648.0", L"5.0"}, L"1.0", L"", true},    // an overflowing value is skipped
      {{L"1.0"}, L"2147483648", L"", true},              // an overflowing bound is absent
  };
  for (const Case& c : cases) {
    std::string label = N(c.min) + ".." + N(c.max) + " :";
    for (const auto& v : c.values) label += " " + N(v);
    EXPECT_EQ(VersionInRange(c.values, c.min, c.max), c.found) << label;
  }
}

TEST(CompareWithReference, Table) {
  struct Case {
    std::wstring value, ref;
    bool holds;
  };
  const Case cases[] = {
      {L"Hello World", L"Clo W", true},
      {L"Hello World", L"Clo w", false},  // case-sensitive
      {L"Hello World", L"Xlo w", true},
      {L"Hello", L"C", true},             // an empty reference is contained everywhere
      {L"Hello", L"SHel", true},
      {L"Hello", L"Ello", true},
      {L"Hello", L"EHello!", false},
      {L"Hello", L"MHello", true},
      {L"Hello", L"DHello", false},
      {L"Hello", L"Dhello", true},
      {L"12", L"G10", true},
      {L"12a", L"G10", false},            // not decimal digits only
      {L"10", L"G10", false},
      {L"9", L"L10", true},
      {L"10", L"L10", false},             // equal is neither greater nor less
      {L"-1", L"L0", false},              // a sign is not a digit
      {L"", L"L1", true},                 // an empty text counts as 0
      {L"5", L"G", true},
      {L"007", L"G7", false},             // leading zeros do not count
      {L"007", L"L8", true},
      {L"123456789012345678901234567890", L"G99999999999999999999", true},
      {L"x", L"", false},                 // no operator
      {L"x", L"cx", false},               // unknown operator (letters are case-sensitive)
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareWithReference(c.value, c.ref), c.holds) << N(c.value) << " vs " << N(c.ref);
}

}  // namespace
