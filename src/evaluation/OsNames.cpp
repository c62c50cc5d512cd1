// System names as the exclusion lists spell them, and the list rules for
// systems and languages. No platform calls: the process-wide versions live in
// OsConditions.cpp.
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "evaluation/OsConditions.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

constexpr std::wstring_view kNotIdentified = L"OsNotIdentified";

// Lists that name every system of one architecture.
constexpr std::wstring_view kAll64BitSystems =
    L"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64";
constexpr std::wstring_view kAll32BitSystems =
    L"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86";

std::wstring Arch(const OsInfo& os) { return os.is64BitWindows ? L"x64" : L"x86"; }
bool Is64BitServer(const OsInfo& os) { return os.isServer && os.is64BitWindows; }
bool IsVersion(const OsInfo& os, uint32_t major, uint32_t minor) {
  return os.majorVersion == major && os.minorVersion == minor;
}

// Builds of Windows 10 with a release name of their own; the servers among
// them have their own names on 64-bit Windows.
struct Win10Release {
  uint32_t build;
  const wchar_t* release;
  const wchar_t* server64;  // nullptr: named like the workstation
};
constexpr Win10Release kWin10Releases[] = {
    {10240, L"1507", nullptr},
    {10586, L"1511", nullptr},
    {14393, L"1607", L"Windows Server 2016 x64"},
    {15063, L"1703", nullptr},
    {16299, L"1709", nullptr},
    {17134, L"1803", nullptr},
    {17763, L"1809", L"Windows Server 2019 x64"},
    {18362, L"1903", nullptr},
    {18363, L"1909", nullptr},
    {19041, L"2004", nullptr},
    {19042, L"20H2", nullptr},
    {19043, L"21H1", nullptr},
    {19044, L"21H2", nullptr},
    {19045, L"22H2", nullptr},
    {20348, L"21H2", L"Windows Server 2022 x64"},
};

// Windows 11 releases; servers with these builds are named the same.
struct Win11Release {
  uint32_t build;
  const wchar_t* name;
};
constexpr Win11Release kWin11Releases[] = {
    {22000, L"Windows 11 version 21H2 x64"},
    {22621, L"Windows 11 version 22H2 x64"},
    {22631, L"Windows 11 version 23H2 x64"},
    {26100, L"Windows 11 version 24H2 x64"},
    {26200, L"Windows 11 version 25H2 x64"},
};

std::wstring Windows11Name(const OsInfo& os) {
  for (const Win11Release& r : kWin11Releases)
    if (os.buildNumber == r.build) return r.name;
  return Is64BitServer(os) ? L"Windows Server x64" : L"Windows 11 x64";
}

std::wstring Windows10Name(const OsInfo& os) {
  for (const Win10Release& r : kWin10Releases) {
    if (os.buildNumber != r.build) continue;
    if (r.server64 != nullptr && Is64BitServer(os)) return r.server64;
    return L"Windows 10 version " + std::wstring(r.release) + L" " + Arch(os);
  }
  return Is64BitServer(os) ? L"Windows Server x64" : L"Windows 10 " + Arch(os);
}

// The word for a service pack: the entry whose number is servicePackMajor,
// `other` when none is.
struct SpWord {
  uint32_t sp;
  const wchar_t* word;
};
std::wstring BySp(const OsInfo& os, std::initializer_list<SpWord> words, const wchar_t* other) {
  for (const SpWord& w : words)
    if (w.sp == os.servicePackMajor) return w.word;
  return other;
}

}  // namespace

std::wstring DetailedSystemName(const OsInfo& os) {
  const std::wstring arch = Arch(os);
  if (IsVersion(os, 11, 0)) return Windows11Name(os);
  if (IsVersion(os, 10, 0)) return Windows10Name(os);
  if (IsVersion(os, 6, 3))
    return Is64BitServer(os) ? L"Windows Server 2012 R2 x64" : L"Windows 8.1 " + arch;
  if (IsVersion(os, 6, 2))
    return Is64BitServer(os) ? L"Windows Server 2012 x64" : L"Windows 8 " + arch;
  if (IsVersion(os, 6, 1)) {
    if (Is64BitServer(os))
      return BySp(os, {{0, L"Windows Server 2008 R2 RTM x64"}, {1, L"Windows Server 2008 R2 SP1 x64"}},
                  L"Windows Server 2008 R2 x64");
    return BySp(os, {{0, L"Windows 7 RTM "}, {1, L"Windows 7 SP1 "}}, L"Windows 7 ") + arch;
  }
  if (IsVersion(os, 6, 0)) {
    if (os.isServer)
      return BySp(os,
                  {{0, L"Windows Server 2008 RTM "}, {1, L"Windows Server 2008 RTM "},
                   {2, L"Windows Server 2008 SP2 "}},
                  L"Windows Server 2008 ") +
             arch;
    return BySp(os, {{0, L"Windows Vista RTM "}, {1, L"Windows Vista SP1 "}, {2, L"Windows Vista SP2 "}},
                L"Windows Vista ") +
           arch;
  }
  if (IsVersion(os, 5, 2)) {
    if (os.isServer)
      return BySp(os, {{1, L"Windows Server 2003 SP1 "}, {2, L"Windows Server 2003 SP2 "}},
                  L"Windows Server 2003 ") +
             arch;
    return BySp(os, {{1, L"Windows XP SP1 x64"}, {2, L"Windows XP SP2 x64"}}, L"Windows XP x64");
  }
  if (IsVersion(os, 5, 1))
    return BySp(os, {{1, L"Windows XP SP1 x86"}, {2, L"Windows XP SP2 x86"}, {3, L"Windows XP SP3 x86"}},
                L"Windows XP x86");
  return std::wstring(kNotIdentified);
}

std::wstring GeneralSystemName(const OsInfo& os) {
  const std::wstring arch = Arch(os);
  const bool server64 = Is64BitServer(os);
  if (IsVersion(os, 11, 0)) return server64 ? L"Windows Server x64" : L"Windows 11 x64";
  if (IsVersion(os, 10, 0)) return server64 ? L"Windows Server x64" : L"Windows 10 " + arch;
  if (IsVersion(os, 6, 3)) return server64 ? L"Windows Server 2012 R2 x64" : L"Windows 8.1 " + arch;
  if (IsVersion(os, 6, 2)) return server64 ? L"Windows Server 2012 x64" : L"Windows 8 " + arch;
  if (IsVersion(os, 6, 1)) return server64 ? L"Windows Server 2008 R2 x64" : L"Windows 7 " + arch;
  if (IsVersion(os, 6, 0))
    return os.isServer ? L"Windows Server 2008 " + arch : L"Windows Vista " + arch;
  if (IsVersion(os, 5, 2)) return os.isServer ? L"Windows Server 2003 " + arch : L"Windows XP x64";
  if (IsVersion(os, 5, 1)) return L"Windows XP x86";
  return std::wstring(kNotIdentified);
}

std::wstring_view AllSystemsList(bool is64BitWindows) {
  return is64BitWindows ? kAll64BitSystems : kAll32BitSystems;
}

std::vector<SystemName> KnownSystemNames() {
  struct Version {
    uint32_t major, minor;
  };
  // The versions that have names of their own; any other is "OsNotIdentified".
  constexpr Version kVersions[] = {{11, 0}, {10, 0}, {6, 3}, {6, 2}, {6, 1}, {6, 0}, {5, 2}, {5, 1}};
  std::vector<uint32_t> builds{0};
  for (const Win10Release& r : kWin10Releases) builds.push_back(r.build);
  for (const Win11Release& r : kWin11Releases) builds.push_back(r.build);

  std::vector<SystemName> names;
  auto add = [&names](std::wstring name, const OsInfo& os, bool detailed) {
    SystemName* entry = nullptr;
    for (SystemName& known : names)
      if (known.name == name) entry = &known;
    if (entry == nullptr) {
      entry = &names.emplace_back();
      entry->name = std::move(name);
      entry->majorVersion = os.majorVersion;
      entry->minorVersion = os.minorVersion;
    }
    (detailed ? entry->detailed : entry->general) = true;
    (os.is64BitWindows ? entry->on64BitWindows : entry->on32BitWindows) = true;
  };
  for (const Version& v : kVersions)
    for (uint32_t build : builds)
      for (uint32_t sp = 0; sp <= 4; ++sp)
        for (int server = 0; server <= 1; ++server)
          for (int is64 = 0; is64 <= 1; ++is64) {
            OsInfo os;
            os.majorVersion = v.major;
            os.minorVersion = v.minor;
            os.buildNumber = build;
            os.servicePackMajor = sp;
            os.isServer = server != 0;
            os.is64BitWindows = is64 != 0;
            add(DetailedSystemName(os), os, true);
            add(GeneralSystemName(os), os, false);
          }
  OsInfo unknown;  // version 0.0
  add(DetailedSystemName(unknown), unknown, true);
  add(GeneralSystemName(unknown), unknown, false);
  return names;
}

bool IsWindows10OrLater(const OsInfo& os) {
  return std::tie(os.majorVersion, os.minorVersion, os.servicePackMajor, os.buildNumber) >=
         std::make_tuple(10u, 0u, 0u, 0u);
}

bool OsListAllows(const OsInfo& os, std::wstring_view winNTVersions,
                  std::wstring_view winNT64Versions) {
  return OsListAllowsNames(os.is64BitWindows, winNTVersions, winNT64Versions,
                           DetailedSystemName(os), GeneralSystemName(os));
}

bool OsListAllowsNames(bool is64BitWindows, std::wstring_view winNTVersions,
                       std::wstring_view winNT64Versions, std::wstring_view detailedName,
                       std::wstring_view generalName) {
  const std::wstring_view list = is64BitWindows ? winNT64Versions : winNTVersions;
  if (list == (is64BitWindows ? kAll64BitSystems : kAll32BitSystems)) return false;
  if (list.empty()) return true;
  constexpr std::wstring_view kSeparator = L", ";
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(kSeparator, start);
    const std::wstring_view item =
        list.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
    if (item == detailedName || item == generalName) return false;
    if (end == std::wstring_view::npos) return true;
    start = end + kSeparator.size();
  }
}

bool LanguageListAllows(std::wstring_view languageList, uint16_t languageId) {
  if (languageList.empty()) return true;
  size_t start = 0;
  for (size_t end; (end = languageList.find(L';', start)) != std::wstring_view::npos;
       start = end + 1) {
    const std::wstring_view item = languageList.substr(start, end - start);
    // Leading blanks, an optional sign, then digits up to the first other
    // character. Unsigned arithmetic wraps instead of overflowing; the low
    // 16 bits are all that count.
    size_t i = 0;
    while (i < item.size() && (item[i] == L' ' || (item[i] >= L'\t' && item[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < item.size() && (item[i] == L'+' || item[i] == L'-')) negative = item[i++] == L'-';
    uint32_t value = 0;
    for (; i < item.size() && item[i] >= L'0' && item[i] <= L'9'; ++i)
      value = value * 10u + static_cast<uint32_t>(item[i] - L'0');
    if (negative) value = 0u - value;
    if (static_cast<uint16_t>(value) == languageId) return true;
  }
  return false;
}

std::wstring MachineName(uint32_t machine) {
  switch (machine) {
    case 0x14C: return L"x86";
    case 0x8664: return L"x64";
    case 0xAA64: return L"ARM64";
    case 0x1C4: return L"ARM";
    default: return Format(L"0x%X", {machine});
  }
}

}  // namespace prereq
