#pragma once
// What a package's return code means: the built-in table of the codes that
// Windows Installer packages return, and a prerequisite's ExitCodes value
// ("1638:success, 1641:restarted, 1618:retry, 5:failure") laid over it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

enum class ExitMeaning {
  Success,    // installed
  Reboot,     // installed; a restart is needed to complete (as 3010)
  Restarted,  // installed; the package has started a restart: nothing more starts
  Retry,      // another installation was running: wait for it, run the package again
  Failure,
};

// The word of a meaning as ExitCodes, the log and the result file spell it:
// "success", "reboot", "restarted", "retry", "failure".
std::wstring_view ExitMeaningWord(ExitMeaning meaning);
// The meaning a word names, compared with case; none for any other text.
std::optional<ExitMeaning> ExitMeaningByWord(std::wstring_view word);

struct ExitMeaningInfo {
  ExitMeaning meaning;
  std::wstring_view word;
  std::wstring_view effect;  // what a run does after a package returned it
};
// Every meaning, in the order above, for the guide and the tools.
std::span<const ExitMeaningInfo> ExitMeanings();

struct ExitCodeEntry {
  uint32_t code = 0;
  ExitMeaning meaning = ExitMeaning::Failure;
  bool operator==(const ExitCodeEntry&) const = default;
};

// The table without an ExitCodes key: 0 success, 3010 reboot, 1641
// restarted, 1638 success, 1618 retry; every other code is a failure.
std::span<const ExitCodeEntry> DefaultExitCodes();

// How many times a package whose code means "retry" is run again (after the
// first run) before its last code counts as a failure.
inline constexpr uint32_t kMaxPackageRetries = 3;

// A prerequisite's table: the configured entries first (the first entry of a
// code wins), then the defaults.
class ExitCodeTable {
 public:
  ExitCodeTable() = default;
  explicit ExitCodeTable(std::vector<ExitCodeEntry> configured) : configured_(std::move(configured)) {}

  ExitMeaning MeaningOf(uint32_t code) const;
  // Whether the meaning of `code` comes from the configuration.
  bool Configured(uint32_t code) const;
  // The configured entries in the order given (duplicates left out).
  const std::vector<ExitCodeEntry>& ConfiguredEntries() const { return configured_; }
  // The whole table as it applies: configured entries, then the defaults they
  // do not replace; "every other code" is a failure.
  std::vector<ExitCodeEntry> Effective() const;

 private:
  std::vector<ExitCodeEntry> configured_;
};

// A fault in one item of an ExitCodes value; the run passes the item over.
struct ExitCodeIssue {
  enum class Kind {
    EmptyItem,       // nothing between two commas, or a trailing comma
    NoColon,         // no ":" between code and meaning
    BadCode,         // not a decimal number (optionally negative) or 0x hexadecimal, or out of range
    UnknownMeaning,  // not one of the meaning words (compared with case)
    Duplicate,       // the code was given before: the first one counts
  };
  Kind kind;
  size_t item = 0;     // position of the item, from 0
  std::wstring text;   // the item as written, without surrounding blanks
};

struct ParsedExitCodes {
  ExitCodeTable table;
  std::vector<ExitCodeIssue> issues;
};

// Reads an ExitCodes value: items separated by ",", each a code, ":" and a
// meaning word, white space allowed around each part. A code is decimal (a
// negative one, down to -2147483648, stands for its 32-bit pattern, as
// return codes are unsigned) or hexadecimal after "0x"/"0X", at most
// 0xFFFFFFFF. Faulty items are left out; an empty value gives the defaults.
ParsedExitCodes ParseExitCodes(std::wstring_view text);

// The code as the log and the tools print it: unsigned decimal, and for
// codes of 0x80000000 and above also the hexadecimal pattern
// ("3221225477 (0xC0000005)").
std::wstring FormatReturnCode(uint32_t code);

}  // namespace prereq
