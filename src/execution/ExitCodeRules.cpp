#include "execution/ExitCodeRules.h"

#include <algorithm>

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

constexpr ExitMeaningInfo kMeanings[] = {
    {ExitMeaning::Success, L"success", L"installed"},
    {ExitMeaning::Reboot, L"reboot",
     L"installed; Windows must restart to complete it (as 3010): the prerequisite's reboot rule "
     L"restarts now, otherwise the restart is owed when the run ends"},
    {ExitMeaning::Restarted, L"restarted",
     L"installed, and the package has started a restart: no further package starts, and the run "
     L"ends as with a restart in progress (exit code -1, the result store stays)"},
    {ExitMeaning::Retry, L"retry",
     L"another installation was running: the run waits for the Windows Installer as at its start "
     L"and runs the package again, at most 3 times; after that the code counts as a failure"},
    {ExitMeaning::Failure, L"failure", L"the package failed"},
};

constexpr ExitCodeEntry kDefaults[] = {
    {0, ExitMeaning::Success},     {3010, ExitMeaning::Reboot}, {1641, ExitMeaning::Restarted},
    {1638, ExitMeaning::Success},  {1618, ExitMeaning::Retry},
};

// A code as ParseExitCodes describes it; none when it is not one.
std::optional<uint32_t> ParseCode(std::wstring_view text) {
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    const std::wstring_view digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (wchar_t c : digits) {
      const int v = HexDigitValue(c);
      if (v < 0) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(v);
    }
    return value;
  }
  const bool negative = !text.empty() && text[0] == L'-';
  const std::wstring_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - L'0');
  }
  if (negative) {
    if (value > 0x80000000ull) return std::nullopt;
    return static_cast<uint32_t>(0x100000000ull - value);  // 0 stays 0
  }
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

std::wstring_view ExitMeaningWord(ExitMeaning meaning) {
  for (const ExitMeaningInfo& m : kMeanings)
    if (m.meaning == meaning) return m.word;
  return L"failure";
}

std::optional<ExitMeaning> ExitMeaningByWord(std::wstring_view word) {
  for (const ExitMeaningInfo& m : kMeanings)
    if (m.word == word) return m.meaning;
  return std::nullopt;
}

std::span<const ExitMeaningInfo> ExitMeanings() { return kMeanings; }
std::span<const ExitCodeEntry> DefaultExitCodes() { return kDefaults; }

ExitMeaning ExitCodeTable::MeaningOf(uint32_t code) const {
  for (const ExitCodeEntry& e : configured_)
    if (e.code == code) return e.meaning;
  for (const ExitCodeEntry& e : kDefaults)
    if (e.code == code) return e.meaning;
  return ExitMeaning::Failure;
}

bool ExitCodeTable::Configured(uint32_t code) const {
  return std::any_of(configured_.begin(), configured_.end(),
                     [code](const ExitCodeEntry& e) { return e.code == code; });
}

std::vector<ExitCodeEntry> ExitCodeTable::Effective() const {
  std::vector<ExitCodeEntry> all = configured_;
  for (const ExitCodeEntry& e : kDefaults)
    if (!Configured(e.code)) all.push_back(e);
  return all;
}

ParsedExitCodes ParseExitCodes(std::wstring_view text) {
  ParsedExitCodes out;
  std::vector<ExitCodeEntry> entries;
  if (TrimWideSpace(text).empty()) return out;
  size_t item = 0;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(L',', start);
    const std::wstring_view raw =
        TrimWideSpace(text.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos
                                                                 : comma - start));
    const std::wstring written(raw);
    const size_t colon = raw.find(L':');
    if (raw.empty()) {
      out.issues.push_back({ExitCodeIssue::Kind::EmptyItem, item, written});
    } else if (colon == std::wstring_view::npos) {
      out.issues.push_back({ExitCodeIssue::Kind::NoColon, item, written});
    } else {
      const std::optional<uint32_t> code = ParseCode(TrimWideSpace(raw.substr(0, colon)));
      const std::optional<ExitMeaning> meaning = ExitMeaningByWord(TrimWideSpace(raw.substr(colon + 1)));
      if (!code) {
        out.issues.push_back({ExitCodeIssue::Kind::BadCode, item, written});
      } else if (!meaning) {
        out.issues.push_back({ExitCodeIssue::Kind::UnknownMeaning, item, written});
      } else if (std::any_of(entries.begin(), entries.end(),
                             [&](const ExitCodeEntry& e) { return e.code == *code; })) {
        out.issues.push_back({ExitCodeIssue::Kind::Duplicate, item, written});
      } else {
        entries.push_back({*code, *meaning});
      }
    }
    if (comma == std::wstring_view::npos) break;
    start = comma + 1;
    ++item;
  }
  out.table = ExitCodeTable(std::move(entries));
  return out;
}

std::wstring FormatReturnCode(uint32_t code) {
  if (code < 0x80000000u) return Format(L"%u", {code});
  return Format(L"%u (0x%08X)", {code, code});
}

}  // namespace prereq
