#pragma once
// The platform-free rules of the installed-package lookup: the architecture
// texts, which installed package answers a lookup, and how a search string
// names it.
#include <cstdint>
#include <string>
#include <string_view>

namespace prereq {

// ProcessorArchitecture values that have a text.
enum class MsixArchitecture : uint32_t {
  X86 = 0,
  Arm = 5,
  X64 = 9,
  Neutral = 11,
  Arm64 = 12,
};

// "x86", "arm", "x64", "neutral" or "arm64"; empty for any other value.
std::wstring_view ArchitectureText(uint32_t architecture);

// What a lookup asks for. Publisher and architecture may be empty (any).
struct MsixQuery {
  std::wstring name;
  std::wstring architecture;
  std::wstring publisher;
};

// The installed package's identity as the package manager reports it.
struct MsixIdentity {
  std::wstring_view name;
  std::wstring_view publisher;
  uint32_t architecture = 0;
};

// The name equals the query's exactly (an empty name only matches an empty
// one); a non-empty publisher equals the package's exactly; a non-empty
// architecture equals the package's architecture text exactly (with case), and
// a package without a text never matches one.
bool MsixPackageMatches(const MsixQuery& query, const MsixIdentity& package);

// The four 16-bit parts of a package version formatted like every collected
// version: "1.0" for 1.0.0.0, "2.5.3" for 2.5.3.0.
std::wstring MsixVersionText(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision);

// The search string of the package search, "name?architecture?publisher": up
// to three tokens separated by "?" (a run of them is one separator, leading
// ones are skipped), missing tokens empty.
MsixQuery SplitMsixSearchString(std::wstring_view searchString);

}  // namespace prereq
