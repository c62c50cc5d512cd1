#include <gtest/gtest.h>

#include "chainer/IniFile.h"

using namespace prereq;

namespace {

std::wstring Dump(const IniFile& ini) {
  std::wstring out;
  for (const IniSection& s : ini.sections) {
    out += L"[" + s.name + L"]";
    for (const IniEntry& e : s.entries) out += L"{" + e.key + L"=" + e.value + L"}";
  }
  return out;
}

struct ParseCase {
  const char* name;
  std::wstring text;
  std::wstring expected;
};

class ParseIniTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseIniTest, ParsesAsTheReaderDoes) {
  EXPECT_EQ(Dump(ParseIni(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, ParseIniTest,
    testing::Values(
        ParseCase{"empty", L"", L""},
        ParseCase{"simple", L"[A]\r\nk=v\r\n", L"[A]{k=v}"},
        ParseCase{"leading_bom_dropped", L"\uFEFF[A]\r\nk=v", L"[A]{k=v}"},
        ParseCase{"blanks_around_header", L"  \t[A] \t\r\nk=v", L"[A]{k=v}"},
        ParseCase{"blanks_inside_brackets_kept", L"[ GeneralOptions ]\r\nk=v",
                  L"[ GeneralOptions ]{k=v}"},
        ParseCase{"trim_key_and_value", L"[A]\r\n  Options = qb  \r\n", L"[A]{Options=qb}"},
        ParseCase{"further_equals_in_value", L"[A]\r\nk=a=b", L"[A]{k=a=b}"},
        ParseCase{"lines_before_header_ignored", L"k=v\r\n[A]\r\nx=y", L"[A]{x=y}"},
        ParseCase{"line_without_equals_ignored", L"[A]\r\njunk\r\nx=y", L"[A]{x=y}"},
        ParseCase{"no_comment_syntax", L"[A]\r\n;k=v\r\n#x=y\r\n; note", L"[A]{;k=v}{#x=y}"},
        ParseCase{"unclosed_bracket_is_entry", L"[A]\r\n[B=1", L"[A]{[B=1}"},
        ParseCase{"duplicate_sections_and_keys_kept", L"[A]\r\nk=1\r\nk=2\r\n[A]\r\nk=3",
                  L"[A]{k=1}{k=2}[A]{k=3}"},
        ParseCase{"lf_only_is_one_line_header", L"[A\nk=v]", L"[A\nk=v]"},
        ParseCase{"lf_only_is_one_line_entry", L"[A]\r\nk=1\nz=2", L"[A]{k=1\nz=2}"},
        ParseCase{"lone_cr_not_a_line_end", L"[A]\r\nk=1\rz=2", L"[A]{k=1\rz=2}"},
        ParseCase{"empty_brackets", L"[]\r\nk=v", L"[]{k=v}"},
        ParseCase{"single_bracket_not_header", L"[\r\nk=v", L""},
        ParseCase{"empty_key", L"[A]\r\n=v", L"[A]{=v}"},
        ParseCase{"control_chars_before_header", L"\x01\x1f[A]\x02\r\nk=v", L"[A]{k=v}"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(IniFile, FindTakesTheFirstOfDuplicates) {
  IniFile ini = ParseIni(L"[App1]\r\nk=1\r\nk=2\r\n[App1]\r\nk=3\r\nz=4");
  const IniSection* s = FindSection(ini, L"App1");
  ASSERT_NE(s, nullptr);
  ASSERT_NE(FindEntry(*s, L"k"), nullptr);
  EXPECT_EQ(FindEntry(*s, L"k")->value, L"1");
  EXPECT_EQ(FindEntry(*s, L"z"), nullptr);  // only in the second App1
  EXPECT_EQ(FindSection(ini, L"app1"), nullptr);  // case-sensitive
}

struct DecimalCase {
  std::wstring text;
  int32_t expected;
};

TEST(ParseDecimal, ReadsAsSpecified) {
  const DecimalCase cases[] = {
      {L"", 0},          {L"   ", 0},       {L"12abc", 12},    {L"-+7", -7},
      {L"+", 0},         {L"-+", 0},        {L"-5", -5},       {L"0x10", 0},
      {L"  42", 42},     {L"\t42", 0},      {L"+13", 13},      {L"--3", 0},
      {L"2147483647", 2147483647},          {L"2147483648", INT32_MIN},
      {L"4294967296", 0},                   {L"-2147483648", INT32_MIN},
      {L"99999999999999999999", 1661992959},
      {L"abc", 0},       {L" -12 ", -12},
  };
  for (const DecimalCase& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.expected) << c.text.size();
}

}  // namespace
