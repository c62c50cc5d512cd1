#pragma once
// The acceptance check of a file against the file system: the size, MD5,
// SHA-256 and publisher rules of AcceptanceRules.h applied to what is read
// from the file.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "acquisition/AcceptanceRules.h"
#include "acquisition/StreamDigest.h"

namespace prereq {

struct AcceptanceResult {
  Acceptance verdict = Acceptance::Accepted;
  uint32_t error = 0;  // with Sha256Unavailable: the system error
  // The signature, when it was read (a usable Signer value, and the size and
  // digests passed), and its verdict.
  std::optional<SignatureFacts> signature;
  SignatureVerdict signatureVerdict = SignatureVerdict::Unchecked;
  // The check stopped because `cancelled` answered true: no verdict (the
  // verdict is then a rejection).
  bool cancelled = false;
};

// The log line of the signature check ("Signature check:..."); empty when no
// signature was read.
std::wstring SignatureLogLine(const AcceptanceResult& result);

// Asked before every block that is read for a digest; true stops the check.
using CancelCheck = std::function<bool()>;

// Judges the file at `path` (any length: read through the long-path form).
// The size is read as the download acceptance reads it (opened sharing read;
// a file that cannot be opened has size 0). Digests that `known` carries (the
// transfer engine's, computed over exactly the bytes it wrote) are taken as
// they are; the missing ones are computed in one pass over the file, in
// blocks of 65536 bytes over the size it had when it was opened (sharing read
// and write); an empty or unreadable file has none. The signature is read
// last, and only when the Signer value is usable and everything before it
// passed. Nothing is read that the configured checks do not need.
AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const FileDigests* known = nullptr, const CancelCheck& cancelled = {});

// Judges the file open as `file` (with read access) by reading it through
// that handle from its start: its size, and the digests over the size it has
// now, in blocks of 65536 bytes; then the signature of the same file, by its
// path `path`. The caller keeps it open without write sharing, so that what
// was judged is what stays there.
AcceptanceResult VerifyOpenFile(HANDLE file, const std::wstring& path, const ExpectedFile& expected,
                                const CancelCheck& cancelled = {});

// VerifyFile with the digests the transfer engine computed while it wrote the
// file. They are taken only while the file still has exactly the length that
// was written (and is not empty, which has no digest); otherwise the file is
// read, so the verdict is always the one reading the file would give.
AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const WrittenDigests& written);

// The size of the file at `path` (any length; read through the long-path
// form) from its directory entry; false when there is no such file (a
// folder is none).
bool SizeOfFileAt(const std::wstring& path, uint64_t& size);

}  // namespace prereq
