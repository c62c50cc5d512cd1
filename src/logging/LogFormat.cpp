#include "logging/LogFormat.h"

#include "platform/core/TextFormat.h"

namespace prereq {

std::wstring FormatLogTimestamp(const LocalTime& t) {
  return Format(L"%04d-%02d-%02d %02d-%02d-%02d",
                {t.year, t.month, t.day, t.hour, t.minute, t.second});
}

std::wstring FormatOsVersionLine(const OsInfo& os) {
  return Format(L"OS Version: %u.%u.%u SP%u (%s) [%s]\r\n",
                {os.majorVersion, os.minorVersion, os.buildNumber, os.servicePackMajor,
                 os.isServer ? L"server" : L"workstation", os.is64BitWindows ? L"x64" : L"x86"});
}

std::wstring ProcessorNameFromBrand(uint32_t highestExtendedLeaf, const char (&brand)[48]) {
  if (highestExtendedLeaf < 0x80000004u) return L"UnkownCPU";
  std::wstring name;
  for (char c : brand) {
    if (c == '\0') break;
    name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return name;
}

std::wstring FormatLogHeader(const OsInfo& os, std::wstring_view cpuName) {
  std::wstring out(kLogBanner);
  out += FormatOsVersionLine(os);
  out += L"CPU: ";
  out += cpuName;
  out += L"\r\n\r\n";
  return out;
}

bool IsLogFlushPoint(std::wstring_view text) {
  static constexpr std::wstring_view kPrefixes[] = {
      L"Launching file:",       L"Launching URL:",  L"Rebooting machine...",
      L"Download failed.",      L"Launch failed.",  L"Downloaded file was rejected.",
      L"Redirect refused",      L"Too many redirects",
  };
  for (std::wstring_view prefix : kPrefixes)
    if (text.substr(0, prefix.size()) == prefix) return true;
  return text == kLogClosingLine || text.find(L"Error:") != std::wstring_view::npos;
}

}  // namespace prereq
