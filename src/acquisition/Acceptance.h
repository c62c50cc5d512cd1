#pragma once
// The acceptance check of a file against the file system: the size, MD5 and
// SHA-256 rules of AcceptanceRules.h applied to what is read from the file.
#include <windows.h>

#include <functional>
#include <string>

#include "acquisition/AcceptanceRules.h"
#include "acquisition/StreamDigest.h"

namespace prereq {

struct AcceptanceResult {
  Acceptance verdict = Acceptance::Accepted;
  uint32_t error = 0;  // with Sha256Unavailable: the system error
  // The check stopped because `cancelled` answered true: no verdict (the
  // verdict is then a rejection).
  bool cancelled = false;
};

// Asked before every block that is read for a digest; true stops the check.
using CancelCheck = std::function<bool()>;

// Judges the file at `path` (any length: read through the long-path form).
// The size is read as the download acceptance reads it (opened sharing read;
// a file that cannot be opened has size 0). Digests that `known` carries (the
// transfer engine's, computed over exactly the bytes it wrote) are taken as
// they are; the missing ones are computed in one pass over the file, in
// blocks of 65536 bytes over the size it had when it was opened (sharing read
// and write); an empty or unreadable file has none. Nothing is read that the
// configured checks do not need.
AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const FileDigests* known = nullptr, const CancelCheck& cancelled = {});

// Judges the file open as `file` (with read access) by reading it through
// that handle from its start: its size, and the digests over the size it has
// now, in blocks of 65536 bytes. The caller keeps it open without write
// sharing, so that what was judged is what stays there.
AcceptanceResult VerifyOpenFile(HANDLE file, const ExpectedFile& expected,
                                const CancelCheck& cancelled = {});

// VerifyFile with the digests the transfer engine computed while it wrote the
// file. They are taken only while the file still has exactly the length that
// was written (and is not empty, which has no digest); otherwise the file is
// read, so the verdict is always the one reading the file would give.
AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const WrittenDigests& written);

}  // namespace prereq
