#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "execution/CleanupScriptRules.h"

using namespace prereq;

namespace {

// The argument splitting of the platform's C runtime (and of
// CommandLineToArgvW) for the arguments after the program name: blanks
// separate, "..." groups, 2n backslashes before a quote give n and the quote
// opens or closes, 2n+1 give n and a literal quote, "" inside a group gives a
// literal quote.
std::vector<std::wstring> SplitArguments(std::wstring_view line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring arg;
    bool inQuotes = false;
    while (i < line.size() && (inQuotes || (line[i] != L' ' && line[i] != L'\t'))) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        arg.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          arg.push_back(L'"');
          ++i;
        } else if (inQuotes && i + 1 < line.size() && line[i + 1] == L'"') {
          arg.push_back(L'"');
          i += 2;
        } else {
          inQuotes = !inQuotes;
          ++i;
        }
      } else {
        arg.append(backslashes, L'\\');
        if (i < line.size() && (inQuotes || (line[i] != L' ' && line[i] != L'\t'))) {
          arg.push_back(line[i]);
          ++i;
        }
      }
    }
    args.push_back(arg);
  }
  return args;
}

const wchar_t kQuotes[] = {L'\'', L'\u2018', L'\u2019', L'\u201A', L'\u201B'};

}  // namespace

TEST(PowerShellLiteral, QuotesEverySingleQuoteKindAndNothingElse) {
  const struct {
    std::wstring text;
    std::wstring quoted;
  } cases[] = {
      {L"", L"''"},
      {L"C:\\A B\\x", L"'C:\\A B\\x'"},
      {L"C:\\Users\\O'Brien\\x", L"'C:\\Users\\O''Brien\\x'"},
      {L"'", L"''''"},
      {L"''", L"''''''"},
      {L"a\u2018b", L"'a\u2018\u2018b'"},
      {L"a\u2019b", L"'a\u2019\u2019b'"},
      {L"a\u201Ab", L"'a\u201A\u201Ab'"},
      {L"a\u201Bb", L"'a\u201B\u201Bb'"},
      {L"'\u2019", L"'''\u2019\u2019'"},
      // Double quotes (also typographic), dollars, backticks, semicolons and
      // the quote look-alikes outside the set are plain text in a literal.
      {L"x\"y\u201C\u201D$a`b;c", L"'x\"y\u201C\u201D$a`b;c'"},
      {L"\u2032\u02BC\uFF07", L"'\u2032\u02BC\uFF07'"},
      {L"'; Remove-Item C:\\ -Recurse; '", L"'''; Remove-Item C:\\ -Recurse; '''"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotePowerShellLiteral(c.text), c.quoted);
    std::wstring back;
    EXPECT_TRUE(ParsePowerShellLiteral(c.quoted, back));
    EXPECT_EQ(back, c.text);
  }
  for (wchar_t c = 0; c < 0x2100; ++c) {
    const bool quote = c == L'\'' || (c >= 0x2018 && c <= 0x201B);
    EXPECT_EQ(IsPowerShellSingleQuote(c), quote) << static_cast<int>(c);
  }
  EXPECT_FALSE(IsPowerShellSingleQuote(L'\u201C'));
  EXPECT_FALSE(IsPowerShellSingleQuote(L'\u2017'));
}

TEST(PowerShellLiteral, ParsesWhatPowerShellReadsAndRejectsTheRest) {
  const struct {
    std::wstring quoted;
    bool ok;
    std::wstring value;
  } cases[] = {
      {L"''", true, L""},
      {L"'abc'", true, L"abc"},
      // Any of the five kinds opens and closes; a pair stands for its second.
      {L"\u2018abc\u2019", true, L"abc"},
      {L"\u201Babc\u201A", true, L"abc"},
      {L"'a'\u2019b'", true, L"a\u2019b"},
      {L"'a\u2019'b'", true, L"a'b"},
      {L"''''", true, L"'"},
      {L"", false, L""},
      {L"abc", false, L""},
      {L"\"abc\"", false, L""},
      {L"'", false, L""},
      {L"'abc", false, L""},
      {L"'''", false, L""},        // a pair, then never closed
      {L"'a''", false, L""},
      {L"'a'b'", false, L""},      // text after the closing quote
      {L"'a' ", false, L""},
      {L"'a','b'", false, L""},    // two literals are not one
      {L" 'a'", false, L""},
  };
  for (const auto& c : cases) {
    std::wstring value = L"stale";
    EXPECT_EQ(ParsePowerShellLiteral(c.quoted, value), c.ok);
    EXPECT_EQ(value, c.value);
  }
}

TEST(PowerShellLiteral, RoundTripsEveryText) {
  // Every text of up to four characters over an alphabet of the quote kinds
  // and their neighbours.
  const std::vector<wchar_t> alphabet = {L'\'', L'\u2018', L'\u2019', L'\u201A', L'\u201B',
                                         L'\u201C', L'"', L'a', L' ', L'\\', L'\0'};
  std::vector<std::wstring> texts = {L""};
  for (size_t length = 1, begin = 0; length <= 4; ++length) {
    const size_t end = texts.size();
    for (size_t i = begin; i < end; ++i)
      for (wchar_t c : alphabet) texts.push_back(texts[i] + c);
    begin = end;
  }
  ASSERT_EQ(texts.size(), 1u + 11u + 121u + 1331u + 14641u);
  // And long random texts, half of their characters quotes.
  std::mt19937 random(20240611);
  for (int n = 0; n < 2000; ++n) {
    std::wstring text(random() % 64, L'\0');
    for (wchar_t& c : text)
      c = random() % 2 ? kQuotes[random() % 5] : static_cast<wchar_t>(random() % 0x10000);
    texts.push_back(text);
  }
  for (const std::wstring& text : texts) {
    std::wstring back;
    ASSERT_TRUE(ParsePowerShellLiteral(QuotePowerShellLiteral(text), back));
    ASSERT_EQ(back, text);
  }
}

TEST(CleanupScriptRules, PathsArrayCommandAndParameters) {
  EXPECT_EQ(PowerShellPathsArgument({}), L"");
  EXPECT_EQ(PowerShellPathsArgument({L"first"}), L"'first'");
  EXPECT_EQ(PowerShellPathsArgument({L"first", L"second"}), L"'first','second'");
  EXPECT_EQ(PowerShellPathsArgument({L"C:\\O'Brien\\a b", L"C:\\x\u2019"}),
            L"'C:\\O''Brien\\a b','C:\\x\u2019\u2019'");

  const std::wstring command = CleanupScriptCommand(
      L"C:\\Temp dir\\KX_1A.ps1", PowerShellPathsArgument({L"first", L"second"}), 10);
  EXPECT_EQ(command, L"& 'C:\\Temp dir\\KX_1A.ps1' -paths 'first','second' -retry_count 10");
  EXPECT_EQ(CleanupScriptCommand(L"C:\\it's\\KX_2.ps1", L"'a'", -3),
            L"& 'C:\\it''s\\KX_2.ps1' -paths 'a' -retry_count -3");

  EXPECT_EQ(CleanupScriptParameters(command),
            L"-NoProfile -NonInteractive -NoLogo -ExecutionPolicy RemoteSigned -Command \"& "
            L"'C:\\Temp dir\\KX_1A.ps1' -paths 'first','second' -retry_count 10\"");
}

TEST(CleanupScriptRules, CommandReachesPowerShellAsOneUnchangedArgument) {
  const std::wstring commands[] = {
      L"& 'C:\\a b\\KX_1.ps1' -paths 'C:\\x\\','C:\\y' -retry_count 10",
      L"ends with backslashes\\\\",
      L"quote\" inside",
      L"backslashes before a quote\\\\\" and \\\"",
      L"\"",
      L"",
      L"tab\tand  two blanks",
  };
  for (const std::wstring& command : commands) {
    const std::vector<std::wstring> args = SplitArguments(CleanupScriptParameters(command));
    const std::vector<std::wstring> expected = {L"-NoProfile",      L"-NonInteractive",
                                                L"-NoLogo",         L"-ExecutionPolicy",
                                                L"RemoteSigned",    L"-Command",
                                                command};
    EXPECT_EQ(args, expected);
  }
}

TEST(CleanupScriptRules, CopyPathTakesThePs1Extension) {
  const struct {
    const wchar_t* temp;
    const wchar_t* copy;
  } cases[] = {
      {L"C:\\Temp\\KX_1A2B.tmp", L"C:\\Temp\\KX_1A2B.ps1"},
      {L"C:\\My.Temp\\KX_1A2B.tmp", L"C:\\My.Temp\\KX_1A2B.ps1"},
      {L"C:\\My.Temp\\KX_1A2B", L"C:\\My.Temp\\KX_1A2B.ps1"},  // no "." in the name
      {L"C:\\Temp\\KX_1.a.tmp", L"C:\\Temp\\KX_1.a.ps1"},      // from the last "."
      {L"KX_9.tmp", L"KX_9.ps1"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScriptCopyPath(c.temp), c.copy) << c.temp;
}
