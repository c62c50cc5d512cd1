#pragma once
// Operating-system names and the conditions a prerequisite sets on the system
// (exclusion lists, languages).
#include <cstdint>
#include <string>
#include <string_view>

#include "evaluation/OsInfo.h"

namespace prereq {

// Names of a system as the exclusion lists spell them (pure functions of the
// record; the process-wide ones are computed once from GetOsInfo()).
std::wstring DetailedSystemName(const OsInfo& os);
std::wstring GeneralSystemName(const OsInfo& os);

// (major, minor, servicePackMajor, buildNumber) is at least (10, 0, 0, 0).
bool IsWindows10OrLater(const OsInfo& os);
bool IsWindows10OrLater();

// True when neither list excludes the system: on 64-bit Windows
// WinNT64Versions counts, otherwise WinNTVersions.
bool OsListAllows(const OsInfo& os, std::wstring_view winNTVersions,
                  std::wstring_view winNT64Versions);
bool OsAllowed(std::wstring_view winNTVersions, std::wstring_view winNT64Versions);
// The list rule with names already computed: the all-versions text of the
// architecture, then every ", "-separated item against both names.
bool OsListAllowsNames(bool is64BitWindows, std::wstring_view winNTVersions,
                       std::wstring_view winNT64Versions, std::wstring_view detailedName,
                       std::wstring_view generalName);

// True when the list is empty or one of its ";"-ended items, read as a decimal
// number, equals the language identifier in its low 16 bits.
bool LanguageListAllows(std::wstring_view languageList, uint16_t languageId);
// The same for the system default language; logs "SystemDefault LangID=".
bool LanguageAllowed(std::wstring_view languageList);

}  // namespace prereq
