#pragma once
// Text rules of the clean-up script start: PowerShell single-quoted literals,
// the script's command and the PowerShell parameters that carry it, and the
// name of the script's copy.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// The characters PowerShell takes as a single quote: U+0027 and the
// typographic quotes U+2018, U+2019, U+201A and U+201B.
bool IsPowerShellSingleQuote(wchar_t c);

// The text as a PowerShell single-quoted literal: a U+0027 before and after,
// and every single-quote character of the text (IsPowerShellSingleQuote)
// doubled; nothing else inside is special to PowerShell.
std::wstring QuotePowerShellLiteral(std::wstring_view text);

// The inverse: `quoted` must be exactly one single-quoted literal (opened and
// closed by single-quote characters of any of the five kinds, a pair of them
// inside standing for its second character, nothing after the closing one).
// True with the literal's value in `out`; false (and `out` empty) otherwise.
// For every text t: ParsePowerShellLiteral(QuotePowerShellLiteral(t)) gives t.
bool ParsePowerShellLiteral(std::wstring_view quoted, std::wstring& out);

// The paths as a PowerShell array: each one a single-quoted literal, joined
// in order with "," and no blanks ('C:\A','C:\B').
std::wstring PowerShellPathsArgument(const std::vector<std::wstring>& paths);

// The script's command: the call operator with the copy as a literal, then
// "-paths" with the array and "-retry_count" with the count:
//   & '<copy>' -paths 'C:\A','C:\B' -retry_count 10
std::wstring CleanupScriptCommand(std::wstring_view copyPath, std::wstring_view pathsArgument,
                                  int32_t retryCount);

// The parameters of powershell.exe for the command:
//   -NoProfile -NonInteractive -NoLogo -ExecutionPolicy RemoteSigned -Command "<command>"
// The command is one argument of the command line: a double quote inside it
// is written \" and the backslashes before one are doubled, so the argument
// splitter hands PowerShell the command unchanged.
std::wstring CleanupScriptParameters(std::wstring_view command);

// The copy's path for a unique temporary file name: the extension of the file
// name (from its last ".") replaced with ".ps1", or ".ps1" appended when the
// name has no ".".
std::wstring ScriptCopyPath(std::wstring_view tempFileName);

}  // namespace prereq
