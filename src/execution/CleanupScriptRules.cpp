#include "execution/CleanupScriptRules.h"

#include "platform/core/TextFormat.h"

namespace prereq {

bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

std::wstring QuotePowerShellLiteral(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 2);
  out.push_back(L'\'');
  for (wchar_t c : text) {
    if (IsPowerShellSingleQuote(c)) out.push_back(c);
    out.push_back(c);
  }
  out.push_back(L'\'');
  return out;
}

bool ParsePowerShellLiteral(std::wstring_view quoted, std::wstring& out) {
  out.clear();
  if (quoted.empty() || !IsPowerShellSingleQuote(quoted.front())) return false;
  std::wstring value;
  size_t i = 1;
  while (i < quoted.size()) {
    const wchar_t c = quoted[i];
    if (!IsPowerShellSingleQuote(c)) {
      value.push_back(c);
      ++i;
      continue;
    }
    // A quote followed by another one stands for the second; alone it ends
    // the literal, which must then be the end of the text.
    if (i + 1 < quoted.size() && IsPowerShellSingleQuote(quoted[i + 1])) {
      value.push_back(quoted[i + 1]);
      i += 2;
      continue;
    }
    if (i + 1 != quoted.size()) return false;
    out = std::move(value);
    return true;
  }
  return false;  // never closed
}

std::wstring PowerShellPathsArgument(const std::vector<std::wstring>& paths) {
  std::wstring out;
  for (const std::wstring& path : paths) {
    if (!out.empty()) out.push_back(L',');
    out += QuotePowerShellLiteral(path);
  }
  return out;
}

std::wstring CleanupScriptCommand(std::wstring_view copyPath, std::wstring_view pathsArgument,
                                  int32_t retryCount) {
  return Format(L"& %s -paths %s -retry_count %d",
                {QuotePowerShellLiteral(copyPath), pathsArgument, retryCount});
}

std::wstring CleanupScriptParameters(std::wstring_view command) {
  // One argument between double quotes, written for the platform's argument
  // splitter: n backslashes before a double quote become 2n, the quote \".
  std::wstring quoted;
  size_t backslashes = 0;
  for (wchar_t c : command) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(2 * backslashes + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Before the closing quote, too.
  quoted.append(2 * backslashes, L'\\');
  return Format(L"-NoProfile -NonInteractive -NoLogo -ExecutionPolicy %s -Command \"%s\"",
                {L"RemoteSigned", quoted});
}

std::wstring ScriptCopyPath(std::wstring_view tempFileName) {
  const size_t slash = tempFileName.rfind(L'\\');
  const size_t nameStart = slash == std::wstring_view::npos ? 0 : slash + 1;
  const size_t dot = tempFileName.rfind(L'.');
  std::wstring out(tempFileName);
  if (dot != std::wstring_view::npos && dot >= nameStart) out.resize(dot);
  out += L".ps1";
  return out;
}

}  // namespace prereq
