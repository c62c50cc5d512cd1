#pragma once
// The configuration checker: reads a configuration file's bytes exactly as a
// run does (the same decoding rule, parser and loaders) and reports the
// mistakes a run forgives silently. Pure: the file system is reached only
// through LintEnvironment.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace prereq {

enum class Severity { Warning, Error };

struct Finding {
  size_t line = 1;  // the line as an editor counts it (LF, CR LF or CR end a line), from 1
  Severity severity = Severity::Warning;
  std::wstring text;
};

struct LintEnvironment {
  // Whether a file shipped with the setup exists, given by its path relative
  // to the folder that holds the configuration (backslashes, as written in
  // the configuration; compared without regard to case, as Windows does).
  // Empty: shipped files are not checked.
  std::function<bool(const std::wstring& relativePath)> shippedFileExists;
};

// All findings for one configuration file, ordered by line.
std::vector<Finding> LintConfiguration(std::span<const uint8_t> fileBytes,
                                       const LintEnvironment& environment);

// Counts of a list of findings.
struct FindingCounts {
  size_t errors = 0;
  size_t warnings = 0;
};
FindingCounts CountFindings(const std::vector<Finding>& findings);

// The exit status of the checker: 0 clean, 1 warnings only, 2 errors.
int LintExitStatus(const FindingCounts& counts);

// One finding as "file:line: error: text" (or "warning").
std::wstring FormatFinding(std::wstring_view file, const Finding& finding);

// The nearest of `candidates` to a misspelt name: the one equal without
// regard to case, else the one within a small edit distance; empty when none
// is near.
std::wstring NearestName(std::wstring_view name, std::span<const std::wstring> candidates);

}  // namespace prereq
