#include "evaluation/Versions.h"

namespace prereq {

namespace {

constexpr uint32_t kPartLimit = 2147483647;  // parts stay within a signed 32-bit integer

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// True when the text is made of the digits 0-9 only (the empty text too).
bool AllDigits(std::wstring_view text) {
  for (wchar_t c : text)
    if (!IsDigit(c)) return false;
  return true;
}

// Compares two digit texts as numbers of any length: leading zeros are
// dropped, then the longer number is the greater one, and equal lengths
// compare digit by digit. The empty text counts as 0.
int CompareDecimalTexts(std::wstring_view a, std::wstring_view b) {
  while (!a.empty() && a.front() == L'0') a.remove_prefix(1);
  while (!b.empty() && b.front() == L'0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

bool ParseVersion(std::wstring_view text, VersionQuad& version) {
  version = VersionQuad{};
  size_t at = 0;
  while (at < text.size() && !IsDigit(text[at])) ++at;
  if (at == text.size()) return false;  // empty, or no digit at all

  int count = 0;
  while (count < 4 && at < text.size()) {
    uint32_t part = 0;
    while (at < text.size() && IsDigit(text[at])) {
      const uint32_t digit = static_cast<uint32_t>(text[at] - L'0');
      if (part > (kPartLimit - digit) / 10) {
        version = VersionQuad{};
        return false;
      }
      part = part * 10 + digit;
      ++at;
    }
    version.parts[static_cast<size_t>(count)] = part;
    ++count;
    while (at < text.size() && !IsDigit(text[at])) ++at;
  }
  version.count = count;
  return true;
}

std::wstring FormatVersion(const VersionQuad& version) {
  int last = -1;
  for (int i = 3; i >= 0; --i) {
    const uint32_t part = version.parts[static_cast<size_t>(i)];
    if (part != 0 && part != 65535) {
      last = i;
      break;
    }
  }
  if (last < 0) return L"0.0.0.0";
  if (last < 1) last = 1;
  std::wstring text;
  for (int i = 0; i <= last; ++i) {
    if (i > 0) text.push_back(L'.');
    text += std::to_wstring(version.parts[static_cast<size_t>(i)]);
  }
  return text;
}

int CompareVersions(const VersionQuad& a, const VersionQuad& b) {
  for (size_t i = 0; i < 4; ++i) {
    if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
  }
  return 0;
}

bool VersionInRange(const std::vector<std::wstring>& values, std::wstring_view verMin,
                    std::wstring_view verMax) {
  if (values.empty()) return false;
  VersionQuad low, high;
  ParseVersion(verMin, low);  // an unparsable bound reads as all zeros: absent
  ParseVersion(verMax, high);
  const bool hasLow = !low.IsZero();
  const bool hasHigh = !high.IsZero();
  if (!hasLow && !hasHigh) return true;
  for (const std::wstring& text : values) {
    VersionQuad value;
    ParseVersion(text, value);
    if (value.IsZero()) continue;
    if (hasLow && CompareVersions(value, low) < 0) continue;
    if (hasHigh && CompareVersions(value, high) > 0) continue;
    return true;
  }
  return false;
}

bool CompareWithReference(std::wstring_view value, std::wstring_view refContent) {
  if (refContent.empty()) return false;
  const std::wstring_view reference = refContent.substr(1);
  switch (refContent.front()) {
    case L'C':
      return value.find(reference) != std::wstring_view::npos;
    case L'X':
      return value.find(reference) == std::wstring_view::npos;
    case L'S':
      return value.starts_with(reference);
    case L'E':
      return value.ends_with(reference);
    case L'M':
      return value == reference;
    case L'D':
      return value != reference;
    case L'G':
    case L'L': {
      if (!AllDigits(value) || !AllDigits(reference)) return false;
      const int order = CompareDecimalTexts(value, reference);
      return refContent.front() == L'G' ? order > 0 : order < 0;
    }
    default:
      return false;
  }
}

}  // namespace prereq
