#pragma once
// Four-part version texts, version ranges of the searches, and the text
// comparison of the registry-value search.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// Major, minor, build, revision, and how many of them were read. All four
// zero means no version.
struct VersionQuad {
  std::array<uint32_t, 4> parts{0, 0, 0, 0};
  int count = 0;

  bool IsZero() const { return parts[0] == 0 && parts[1] == 0 && parts[2] == 0 && parts[3] == 0; }
};

// Reads up to four runs of decimal digits; every other character separates
// runs, so prefixes such as "v" are skipped. Fails (all parts and the count
// zero) for a text without digits and for a part that would not fit in a
// signed 32-bit integer.
bool ParseVersion(std::wstring_view text, VersionQuad& version);

// The parts up to the last one that is neither 0 nor 65535, never fewer than
// two, joined by "."; "0.0.0.0" when there is no such part.
std::wstring FormatVersion(const VersionQuad& version);

// Negative, zero or positive as a is lower than, equal to or higher than b,
// major part first.
int CompareVersions(const VersionQuad& a, const VersionQuad& b);

// The range check of the collecting searches: nothing collected is not found;
// bounds that parse to all zeros are absent; without bounds anything
// collected is found; otherwise a value (all-zero values skipped) must lie
// within the inclusive bounds.
bool VersionInRange(const std::vector<std::wstring>& values, std::wstring_view verMin,
                    std::wstring_view verMax);

// The comparison of a registry value with RefContent: an operator letter
// (C contains, X does not contain, S begins with, E ends with, M equals,
// D differs, G greater, L less as decimal numbers) followed by the reference.
// Case-sensitive; an unknown letter or an empty RefContent fails.
bool CompareWithReference(std::wstring_view value, std::wstring_view refContent);

}  // namespace prereq
