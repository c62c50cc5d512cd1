#pragma once
// Texts of the log file: time stamps, the header and its processor name.
#include <cstdint>
#include <string>
#include <string_view>

#include "evaluation/OsInfo.h"

namespace prereq {

inline constexpr std::wstring_view kLogBanner = L"\r\n<< Corvane (x86) Log >>\r\n";
inline constexpr std::wstring_view kLogClosingLine =
    L"=====================End of Log=====================\r\n";
inline constexpr std::wstring_view kLogFolderName = L"CORVANE_LOGS";

struct LocalTime {
  int year, month, day, hour, minute, second;
};

// "%04d-%02d-%02d %02d-%02d-%02d".
std::wstring FormatLogTimestamp(const LocalTime& t);

// "OS Version: %u.%u.%u SP%u (%s) [%s]\r\n".
std::wstring FormatOsVersionLine(const OsInfo& os);

// The processor name from the 48 bytes of the brand-string leaves, taken
// unchanged up to the first NUL; "UnkownCPU" when the highest extended leaf
// is below 0x80000004.
std::wstring ProcessorNameFromBrand(uint32_t highestExtendedLeaf, const char (&brand)[48]);

// The whole header: banner, OS line, "CPU: " line, empty line.
std::wstring FormatLogHeader(const OsInfo& os, std::wstring_view cpuName);

// Whether the log is flushed to disk after this line. Every line is written
// to the file at once, and the system keeps written data when the process
// dies; a flush only guards against the machine going down. It is paid where
// that matters: a line that comes right before a package or a browser is
// started ("Launching file:", "Launching URL:") or the machine is restarted
// ("Rebooting machine..."), every line that reports an error (one that
// contains "Error:", or begins with "Download failed.", "Launch failed.",
// "Downloaded file was rejected.", "Redirect refused" or "Too many
// redirects"), and the closing line.
bool IsLogFlushPoint(std::wstring_view text);

}  // namespace prereq
