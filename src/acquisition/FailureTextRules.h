#pragma once
// What the passes tell the user when something goes wrong: which download or
// installation failed and why, in the texts of the string table, and the
// message of the open-site pass. Pure: the string table is reached through a
// lookup, the system's message texts are handed in.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "acquisition/AcceptanceRules.h"

namespace prereq {

// A text of the string table by its number; empty when the table has none.
using StringLookup = std::function<std::wstring(uint32_t id)>;

// A result or exit code as the user reads it: decimal below 0x80000000,
// otherwise "0x" and eight hexadecimal digits (0xC0000005).
std::wstring CodeText(uint32_t code);

// Why a download failed: the string table's reason for the result code of
// the transfer (with the HTTP status of the server's last answer where the
// code stands for an HTTP answer), else the system's message for the code
// (`systemText`, empty when the system has none; its closing full stop is
// dropped), else "error " and CodeText.
std::wstring DownloadFailureReason(const StringLookup& strings, uint32_t code, uint32_t httpStatus,
                                   std::wstring_view systemText);

// "The download of <name> failed: <reason>."
std::wstring DownloadFailedText(const StringLookup& strings, std::wstring_view name, uint32_t code,
                                uint32_t httpStatus, std::wstring_view systemText);

// "The download of <name> was rejected: <why the verdict rejects it>."
// (Accepted gives the size-or-digest reason too: it never reaches here.)
std::wstring DownloadRejectedText(const StringLookup& strings, std::wstring_view name,
                                  Acceptance verdict);

enum class PackageFailure {
  EndedWithCode,  // the package ran and returned a failure code
  NotStarted,     // the package could not be started (or deployed)
  NeedsRestart,   // the package asks for a restart before the run can go on
};
// "The installation of <name> ended with code 1603." and the like; `code` is
// the exit code, or the system error of a start that failed (described by
// `systemText`, as for downloads).
std::wstring PackageFailedText(const StringLookup& strings, std::wstring_view name,
                               PackageFailure failure, uint32_t code, std::wstring_view systemText);

// The open-site pass's message for a prerequisite: the list's manual-download
// text when one is set, otherwise the string table's; "%s" in it stands for
// the DisplayName.
std::wstring ManualDownloadText(const StringLookup& strings, std::wstring_view listText,
                                std::wstring_view name);

}  // namespace prereq
