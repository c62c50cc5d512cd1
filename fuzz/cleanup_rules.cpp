// The clean-up's text rules: PowerShell single-quoted literals must give back
// every text they quote, alone, in the paths array and through the command
// line's argument splitter; and the paths the clean-up accepts or walks must
// lie inside the clean-up root. Input: three lines (a text or path, a second
// path, the root).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FuzzText.h"
#include "chainer/CleanupRules.h"
#include "execution/CleanupScriptRules.h"

using namespace prereq;

namespace {

// PowerShell's single quotes, written out here again so that the target does
// not trust the rule it checks.
bool IsQuote(wchar_t c) {
  return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

// Reads the array 'a','b',... back as PowerShell does: each element one
// literal, a single quote followed by another standing for the second.
std::optional<std::vector<std::wstring>> ParseArray(std::wstring_view text) {
  std::vector<std::wstring> out;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsQuote(text[i])) return std::nullopt;
    std::wstring value;
    size_t j = i + 1;
    for (;;) {
      if (j >= text.size()) return std::nullopt;
      if (IsQuote(text[j])) {
        if (j + 1 < text.size() && IsQuote(text[j + 1])) {
          value.push_back(text[j + 1]);
          j += 2;
          continue;
        }
        break;
      }
      value.push_back(text[j++]);
    }
    out.push_back(std::move(value));
    i = j + 1;
    if (i == text.size()) break;
    if (text[i] != L',') return std::nullopt;
    ++i;
    if (i == text.size()) return std::nullopt;  // a trailing comma
  }
  return out;
}

// The argument that starts at `text` (a double quote) as the platform's
// argument splitter reads it: 2n backslashes before a quote give n and the
// quote toggles, 2n+1 give n and a literal quote; other backslashes are
// literal.
std::wstring SplitQuotedArgument(std::wstring_view text) {
  std::wstring out;
  bool quoted = false;
  size_t i = 0;
  while (i < text.size()) {
    size_t backslashes = 0;
    while (i < text.size() && text[i] == L'\\') ++backslashes, ++i;
    if (i < text.size() && text[i] == L'"') {
      out.append(backslashes / 2, L'\\');
      if (backslashes % 2 == 1) {
        out.push_back(L'"');
      } else {
        quoted = !quoted;
      }
      ++i;
      continue;
    }
    out.append(backslashes, L'\\');
    if (i == text.size()) break;
    if (!quoted && (text[i] == L' ' || text[i] == L'\t')) break;
    out.push_back(text[i++]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 3);
  const std::wstring first(f[0]), second(f[1]), root(f[2]);

  std::wstring back;
  fuzz::Check(ParsePowerShellLiteral(QuotePowerShellLiteral(first), back) && back == first,
              "a quoted literal does not give its text back");
  ParsePowerShellLiteral(first, back);  // any text: no crash

  const std::vector<std::wstring> paths{first, second, root};
  const std::wstring array = PowerShellPathsArgument(paths);
  const auto parsed = ParseArray(array);
  fuzz::Check(parsed && *parsed == paths, "the paths array does not give its paths back");

  const std::wstring command = CleanupScriptCommand(second, array, kCleanupRetryCount);
  const std::wstring parameters = CleanupScriptParameters(command);
  const std::wstring marker = L"-Command ";
  const size_t at = parameters.find(marker);
  fuzz::Check(at != std::wstring::npos, "no -Command in the parameters");
  fuzz::Check(SplitQuotedArgument(std::wstring_view(parameters).substr(at + marker.size())) ==
                  command,
              "the argument splitter does not hand PowerShell the command unchanged");

  if (const auto accepted = AcceptCleanupToken(first, root))
    fuzz::Check(LiesInside(*accepted, root), "an accepted token lies outside the root");
  for (const std::wstring& folder : FoldersInsideRoot(second, root))
    fuzz::Check(LiesInside(folder, root), "the upward walk left the root");
  for (const std::wstring& token : SplitCleanupFiles(first))
    fuzz::Check(!token.empty() && token.find(L'\x01') == std::wstring::npos,
                "an empty token or a separator inside a token");
  return 0;
}
