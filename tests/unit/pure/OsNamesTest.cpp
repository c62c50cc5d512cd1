#include <gtest/gtest.h>

#include <string>

#include "evaluation/OsConditions.h"

using namespace prereq;

namespace {

enum Kind { Workstation, Server };
enum Arch { X86, X64 };

OsInfo Os(uint32_t major, uint32_t minor, uint32_t build, uint32_t sp, Kind kind, Arch arch) {
  OsInfo os;
  os.majorVersion = major;
  os.minorVersion = minor;
  os.buildNumber = build;
  os.servicePackMajor = sp;
  os.isServer = kind == Server;
  os.is64BitWindows = arch == X64;
  return os;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

struct NameCase {
  uint32_t major, minor, build, sp;
  Kind kind;
  Arch arch;
  const wchar_t* detailed;
  const wchar_t* general;
};

// Every row of both name tables, with the server and architecture variants
// that choose between rows.
const NameCase kNameCases[] = {
    // Windows 11: release builds keep their name on servers; x64 in every name.
    {11, 0, 22000, 0, Workstation, X64, L"Windows 11 version 21H2 x64", L"Windows 11 x64"},
    {11, 0, 22000, 0, Server, X86, L"Windows 11 version 21H2 x64", L"Windows 11 x64"},
    {11, 0, 22621, 0, Server, X64, L"Windows 11 version 22H2 x64", L"Windows Server x64"},
    {11, 0, 22631, 0, Workstation, X64, L"Windows 11 version 23H2 x64", L"Windows 11 x64"},
    {11, 0, 26100, 0, Server, X64, L"Windows 11 version 24H2 x64", L"Windows Server x64"},
    {11, 0, 26100, 0, Workstation, X64, L"Windows 11 version 24H2 x64", L"Windows 11 x64"},
    {11, 0, 26200, 0, Workstation, X86, L"Windows 11 version 25H2 x64", L"Windows 11 x64"},
    {11, 0, 22635, 0, Server, X64, L"Windows Server x64", L"Windows Server x64"},
    {11, 0, 22635, 0, Server, X86, L"Windows 11 x64", L"Windows 11 x64"},
    {11, 0, 27000, 0, Workstation, X64, L"Windows 11 x64", L"Windows 11 x64"},
    // Windows 10 releases.
    {10, 0, 10240, 0, Workstation, X86, L"Windows 10 version 1507 x86", L"Windows 10 x86"},
    {10, 0, 10240, 0, Workstation, X64, L"Windows 10 version 1507 x64", L"Windows 10 x64"},
    {10, 0, 10586, 0, Server, X64, L"Windows 10 version 1511 x64", L"Windows Server x64"},
    {10, 0, 14393, 0, Server, X64, L"Windows Server 2016 x64", L"Windows Server x64"},
    {10, 0, 14393, 0, Server, X86, L"Windows 10 version 1607 x86", L"Windows 10 x86"},
    {10, 0, 14393, 0, Workstation, X64, L"Windows 10 version 1607 x64", L"Windows 10 x64"},
    {10, 0, 15063, 0, Workstation, X86, L"Windows 10 version 1703 x86", L"Windows 10 x86"},
    {10, 0, 16299, 0, Workstation, X64, L"Windows 10 version 1709 x64", L"Windows 10 x64"},
    {10, 0, 17134, 0, Workstation, X86, L"Windows 10 version 1803 x86", L"Windows 10 x86"},
    {10, 0, 17763, 0, Server, X64, L"Windows Server 2019 x64", L"Windows Server x64"},
    {10, 0, 17763, 0, Workstation, X64, L"Windows 10 version 1809 x64", L"Windows 10 x64"},
    {10, 0, 18362, 0, Workstation, X64, L"Windows 10 version 1903 x64", L"Windows 10 x64"},
    {10, 0, 18363, 0, Workstation, X86, L"Windows 10 version 1909 x86", L"Windows 10 x86"},
    {10, 0, 19041, 0, Workstation, X64, L"Windows 10 version 2004 x64", L"Windows 10 x64"},
    {10, 0, 19042, 0, Workstation, X86, L"Windows 10 version 20H2 x86", L"Windows 10 x86"},
    {10, 0, 19043, 0, Workstation, X64, L"Windows 10 version 21H1 x64", L"Windows 10 x64"},
    {10, 0, 19044, 0, Workstation, X86, L"Windows 10 version 21H2 x86", L"Windows 10 x86"},
    {10, 0, 19045, 0, Workstation, X64, L"Windows 10 version 22H2 x64", L"Windows 10 x64"},
    {10, 0, 20348, 0, Server, X64, L"Windows Server 2022 x64", L"Windows Server x64"},
    {10, 0, 20348, 0, Workstation, X64, L"Windows 10 version 21H2 x64", L"Windows 10 x64"},
    {10, 0, 19046, 0, Server, X64, L"Windows Server x64", L"Windows Server x64"},
    {10, 0, 19046, 0, Server, X86, L"Windows 10 x86", L"Windows 10 x86"},
    {10, 0, 21999, 0, Workstation, X64, L"Windows 10 x64", L"Windows 10 x64"},
    // Windows 8.1 and 8: only 64-bit servers have server names.
    {6, 3, 9600, 0, Server, X64, L"Windows Server 2012 R2 x64", L"Windows Server 2012 R2 x64"},
    {6, 3, 9600, 0, Server, X86, L"Windows 8.1 x86", L"Windows 8.1 x86"},
    {6, 3, 9600, 0, Workstation, X64, L"Windows 8.1 x64", L"Windows 8.1 x64"},
    {6, 2, 9200, 0, Server, X64, L"Windows Server 2012 x64", L"Windows Server 2012 x64"},
    {6, 2, 9200, 0, Workstation, X86, L"Windows 8 x86", L"Windows 8 x86"},
    // Windows 7 and Server 2008 R2 by service pack.
    {6, 1, 7600, 0, Workstation, X86, L"Windows 7 RTM x86", L"Windows 7 x86"},
    {6, 1, 7601, 1, Workstation, X64, L"Windows 7 SP1 x64", L"Windows 7 x64"},
    {6, 1, 7601, 2, Workstation, X64, L"Windows 7 x64", L"Windows 7 x64"},
    {6, 1, 7601, 1, Server, X86, L"Windows 7 SP1 x86", L"Windows 7 x86"},
    {6, 1, 7600, 0, Server, X64, L"Windows Server 2008 R2 RTM x64", L"Windows Server 2008 R2 x64"},
    {6, 1, 7601, 1, Server, X64, L"Windows Server 2008 R2 SP1 x64", L"Windows Server 2008 R2 x64"},
    {6, 1, 7601, 3, Server, X64, L"Windows Server 2008 R2 x64", L"Windows Server 2008 R2 x64"},
    // Vista and Server 2008: any server counts.
    {6, 0, 6000, 0, Workstation, X86, L"Windows Vista RTM x86", L"Windows Vista x86"},
    {6, 0, 6001, 1, Workstation, X64, L"Windows Vista SP1 x64", L"Windows Vista x64"},
    {6, 0, 6002, 2, Workstation, X86, L"Windows Vista SP2 x86", L"Windows Vista x86"},
    {6, 0, 6002, 3, Workstation, X64, L"Windows Vista x64", L"Windows Vista x64"},
    {6, 0, 6001, 0, Server, X86, L"Windows Server 2008 RTM x86", L"Windows Server 2008 x86"},
    {6, 0, 6001, 1, Server, X64, L"Windows Server 2008 RTM x64", L"Windows Server 2008 x64"},
    {6, 0, 6002, 2, Server, X86, L"Windows Server 2008 SP2 x86", L"Windows Server 2008 x86"},
    {6, 0, 6002, 3, Server, X64, L"Windows Server 2008 x64", L"Windows Server 2008 x64"},
    // XP x64 and Server 2003.
    {5, 2, 3790, 0, Workstation, X64, L"Windows XP x64", L"Windows XP x64"},
    {5, 2, 3790, 1, Workstation, X64, L"Windows XP SP1 x64", L"Windows XP x64"},
    {5, 2, 3790, 2, Workstation, X86, L"Windows XP SP2 x64", L"Windows XP x64"},
    {5, 2, 3790, 3, Workstation, X64, L"Windows XP x64", L"Windows XP x64"},
    {5, 2, 3790, 0, Server, X86, L"Windows Server 2003 x86", L"Windows Server 2003 x86"},
    {5, 2, 3790, 1, Server, X64, L"Windows Server 2003 SP1 x64", L"Windows Server 2003 x64"},
    {5, 2, 3790, 2, Server, X86, L"Windows Server 2003 SP2 x86", L"Windows Server 2003 x86"},
    {5, 2, 3790, 4, Server, X64, L"Windows Server 2003 x64", L"Windows Server 2003 x64"},
    // XP.
    {5, 1, 2600, 0, Workstation, X86, L"Windows XP x86", L"Windows XP x86"},
    {5, 1, 2600, 1, Workstation, X86, L"Windows XP SP1 x86", L"Windows XP x86"},
    {5, 1, 2600, 2, Server, X64, L"Windows XP SP2 x86", L"Windows XP x86"},
    {5, 1, 2600, 3, Workstation, X86, L"Windows XP SP3 x86", L"Windows XP x86"},
    {5, 1, 2600, 4, Workstation, X86, L"Windows XP x86", L"Windows XP x86"},
    // Versions no row names.
    {0, 0, 0, 0, Workstation, X86, L"OsNotIdentified", L"OsNotIdentified"},
    {4, 0, 1381, 6, Workstation, X86, L"OsNotIdentified", L"OsNotIdentified"},
    {5, 0, 2195, 4, Server, X86, L"OsNotIdentified", L"OsNotIdentified"},
    {5, 3, 0, 0, Workstation, X86, L"OsNotIdentified", L"OsNotIdentified"},
    {6, 4, 9841, 0, Workstation, X64, L"OsNotIdentified", L"OsNotIdentified"},
    {10, 1, 19045, 0, Workstation, X64, L"OsNotIdentified", L"OsNotIdentified"},
    {11, 1, 22000, 0, Server, X64, L"OsNotIdentified", L"OsNotIdentified"},
    {12, 0, 30000, 0, Workstation, X64, L"OsNotIdentified", L"OsNotIdentified"},
};

TEST(SystemNames, EveryRowOfBothTables) {
  for (const NameCase& c : kNameCases) {
    const OsInfo os = Os(c.major, c.minor, c.build, c.sp, c.kind, c.arch);
    const std::string where = std::to_string(c.major) + "." + std::to_string(c.minor) + " build " +
                              std::to_string(c.build) + " SP" + std::to_string(c.sp) +
                              (c.kind == Server ? " server" : "") + (c.arch == X64 ? " x64" : " x86");
    EXPECT_EQ(Narrow(DetailedSystemName(os)), Narrow(c.detailed)) << where;
    EXPECT_EQ(Narrow(GeneralSystemName(os)), Narrow(c.general)) << where;
  }
}

TEST(IsWindows10OrLater, ComparesMajorMinorServicePackBuild) {
  const struct {
    uint32_t major, minor, sp, build;
    bool expected;
  } cases[] = {
      {10, 0, 0, 0, true},    {10, 0, 0, 10240, true}, {11, 0, 0, 22000, true},
      {10, 1, 0, 0, true},    {12, 0, 0, 0, true},     {6, 3, 0, 9600, false},
      {6, 1, 1, 7601, false}, {9, 99, 9, 99999, false}, {0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    OsInfo os;
    os.majorVersion = c.major;
    os.minorVersion = c.minor;
    os.servicePackMajor = c.sp;
    os.buildNumber = c.build;
    EXPECT_EQ(IsWindows10OrLater(os), c.expected) << c.major << "." << c.minor << " " << c.build;
  }
}

constexpr const wchar_t* kAll64 =
    L"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64";
constexpr const wchar_t* kAll32 =
    L"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86";

struct ListCase {
  const char* name;
  OsInfo os;
  std::wstring winNT;
  std::wstring winNT64;
  bool allowed;
};

TEST(OsListAllows, ExclusionLists) {
  const OsInfo win7sp1x64 = Os(6, 1, 7601, 1, Workstation, X64);
  const OsInfo win7sp1x86 = Os(6, 1, 7601, 1, Workstation, X86);
  const OsInfo win81x64 = Os(6, 3, 9600, 0, Workstation, X64);
  const OsInfo win8x64 = Os(6, 2, 9200, 0, Workstation, X64);
  const OsInfo server2016 = Os(10, 0, 14393, 0, Server, X64);
  const OsInfo win11server = Os(11, 0, 26100, 0, Server, X64);
  const OsInfo unknown32 = Os(0, 0, 0, 0, Workstation, X86);
  const ListCase cases[] = {
      {"empty lists allow", win7sp1x64, L"", L"", true},
      // All-versions texts, each for its own architecture only.
      {"all64 on 64-bit", win7sp1x64, L"", kAll64, false},
      {"all32 on 32-bit", win7sp1x86, kAll32, L"", false},
      {"all32 on unknown 32-bit", unknown32, kAll32, L"", false},
      {"all32 ignored on 64-bit", win7sp1x64, kAll32, L"", true},
      {"all64 ignored on 32-bit", win7sp1x86, L"", kAll64, true},
      {"all64 text in the 32-bit list", win7sp1x86, kAll64, L"", true},
      {"all64 text with a trailing blank", win7sp1x64, L"", std::wstring(kAll64) + L" ", true},
      // ", " items against the general and the detailed name.
      {"general name, first item", win7sp1x64, L"", L"Windows 7 x64, Windows 8 x64", false},
      {"general name, last item", win8x64, L"", L"Windows 7 x64, Windows 8 x64", false},
      {"not named", win81x64, L"", L"Windows 7 x64, Windows 8 x64", true},
      {"detailed name, middle item", win7sp1x64, L"",
       L"Windows 8 x64, Windows 7 SP1 x64, Windows 10 x64", false},
      {"other service pack", win7sp1x64, L"", L"Windows 7 RTM x64", true},
      {"comma without blank is no separator", win8x64, L"", L"Windows 7 x64,Windows 8 x64", true},
      {"two blanks leave one in the item", win8x64, L"", L"Windows 7 x64,  Windows 8 x64", true},
      {"names are case-sensitive", win7sp1x64, L"", L"windows 7 x64", true},
      {"no prefix match", win7sp1x64, L"", L"Windows 7 x6", true},
      {"32-bit list on 64-bit Windows", win7sp1x64, L"Windows 7 x64", L"", true},
      {"64-bit list on 32-bit Windows", win7sp1x86, L"", L"Windows 7 x86", true},
      {"32-bit list on 32-bit Windows", win7sp1x86, L"Windows 7 x86", L"Windows 8 x64", false},
      {"server 2016 by detailed name", server2016, L"", L"Windows Server 2016 x64", false},
      {"server 2016 by general name", server2016, L"", L"Windows Server x64", false},
      {"11 server by general name", win11server, L"", L"Windows 11 x64, Windows Server x64", false},
      {"11 server not by workstation name", win11server, L"", L"Windows 11 x64", true},
      {"unknown system named", unknown32, L"Windows 7 x86, Windows 10 x86", L"", true},
  };
  for (const ListCase& c : cases)
    EXPECT_EQ(OsListAllows(c.os, c.winNT, c.winNT64), c.allowed) << c.name;
}

TEST(LanguageListAllows, SemicolonEndedDecimalItems) {
  const struct {
    const wchar_t* list;
    uint16_t id;
    bool allowed;
  } cases[] = {
      {L"", 1033, true},
      {L"1033;1031;", 1031, true},
      {L"1033;1031;", 1036, false},
      {L" \t1031;", 1031, true},         // leading blanks
      {L"+1031;", 1031, true},           // sign
      {L"1031abc;", 1031, true},         // reading stops at the first non-digit
      {L";1031;", 1031, true},           // an empty item reads as 0
      {L"x;", 0, true},
      {L"1031", 1031, false},            // not ended by ";": no item
      {L"66567;", 1031, true},           // 65536 + 1031: the low 16 bits count
      {L"-1;", 65535, true},
      {L"4294968327;", 1031, true},      // beyond 32 bits: wraps, no overflow
      {L"99999999999999999999999;", 1031, false},
  };
  for (const auto& c : cases) {
    std::wstring list = c.list;
    EXPECT_EQ(LanguageListAllows(list, c.id), c.allowed)
        << std::string(list.begin(), list.end()) << " / " << c.id;
  }
}

}  // namespace
