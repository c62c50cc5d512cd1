#pragma once
// Operating-system names and the conditions a prerequisite sets on the system
// (exclusion lists, languages).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "evaluation/OsInfo.h"

namespace prereq {

// Names of a system as the exclusion lists spell them (pure functions of the
// record; the process-wide ones are computed once from GetOsInfo()).
std::wstring DetailedSystemName(const OsInfo& os);
std::wstring GeneralSystemName(const OsInfo& os);

// The list text that names every system of one kind of Windows: a
// WinNT64Versions (or WinNTVersions) equal to it excludes them all.
std::wstring_view AllSystemsList(bool is64BitWindows);

// A name that the naming rules can give: the version it belongs to, whether
// it is given on 32-bit Windows (where WinNTVersions counts) and on 64-bit
// Windows (WinNT64Versions), as the detailed name, the general name or both.
// "OsNotIdentified" belongs to version 0.0 (every version without a name).
struct SystemName {
  std::wstring name;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  bool on32BitWindows = false;
  bool on64BitWindows = false;
  bool detailed = false;
  bool general = false;
};
// Every name the rules give, each once, newest version first.
std::vector<SystemName> KnownSystemNames();

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
// The localized name of a language as the platform's locale information
// reports it; empty when it has none. (Windows only.)
std::wstring LanguageDisplayName(uint16_t languageId);

// The same for the system default language; logs "SystemDefault LangID=".
bool LanguageAllowed(std::wstring_view languageList);

// The machine as the conditions see it: the version and the system names of
// the exclusion lists, the system default language of LanguageList, and the
// processor of options "c" and "d".
struct MachineFacts {
  uint32_t majorVersion = 0, minorVersion = 0, buildNumber = 0, servicePack = 0;
  bool server = false, is64BitWindows = false;
  std::wstring detailedName, generalName;
  uint32_t languageId = 0;
  std::wstring languageName;
  bool nativeMachineKnown = false;  // the platform reported the native machine
  uint32_t nativeMachine = 0;       // 0x14C x86, 0x8664 x64, 0xAA64 ARM64
};
// The facts of this machine. (Windows only.)
MachineFacts CollectMachineFacts();
// The kind name of a processor code: "x86" (0x14C), "x64" (0x8664), "ARM64"
// (0xAA64), "ARM" (0x1C4), otherwise "0x" and the code in hexadecimal.
std::wstring MachineName(uint32_t machine);

}  // namespace prereq
