#pragma once
// What a file must satisfy before it is run, and the verdict from what was
// read of it: the configured size (ExactSize), MD5 and, when the
// prerequisite has the key, SHA-256 digest. Downloads and files found already
// present are judged alike.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chainer/Configuration.h"

namespace prereq {

// The checks configured for one prerequisite's file.
struct ExpectedFile {
  uint32_t exactSize = 0;              // 0: no size check
  std::wstring md5;                    // the MD5 text as configured; empty: no check
  std::optional<std::wstring> sha256;  // the SHA256 text as configured; none: no check

  bool ChecksSize() const { return exactSize != 0; }
  bool ChecksMd5() const { return !md5.empty(); }
  bool ChecksSha256() const { return sha256.has_value(); }
};

// ExactSize (its low 32 bits), MD5 and SHA256 of a prerequisite.
ExpectedFile ExpectedFileOf(const Prerequisite& prereq);

// Digests of a file's bytes as lower-case hexadecimal text, where they are
// known: computed from the file, or by whoever wrote it (the transfer engine
// while writing) over exactly the bytes now in the file.
struct FileDigests {
  std::optional<std::string> md5;     // 32 characters
  std::optional<std::string> sha256;  // 64 characters
};

// What was read of the file. A digest is absent when it was not needed or
// could not be computed: a file that cannot be opened or read, or that is
// empty, has none.
struct FileFacts {
  uint32_t size = 0;  // low 32 bits of the size; 0 when the file cannot be opened
  FileDigests digests;
  uint32_t sha256Error = 0;  // why the SHA-256 could not be computed, when it was needed
};

enum class Acceptance {
  Accepted,
  WrongSizeOrMd5,     // the checks of the design: ExactSize, MD5
  MalformedSha256,    // the SHA256 value is not 64 hexadecimal digits
  WrongSha256,        // the file's SHA-256 differs, or the file has none (empty, unreadable)
  Sha256Unavailable,  // the system could not compute SHA-256 (sha256Error says why)
};

// The SHA256 value as 64 lower-case hexadecimal digits; none unless the text
// is exactly 64 hexadecimal digits (either case, nothing else, no blanks).
std::optional<std::string> ParseSha256Text(std::wstring_view text);

// Which digests the verdict needs read from the file.
bool NeedsMd5(const ExpectedFile& expected);
bool NeedsSha256(const ExpectedFile& expected);

// The verdict. A malformed SHA256 value rejects the file before anything is
// read; then the size and MD5 rules of the design; then the SHA-256, when
// configured. Without a SHA256 key the verdict is exactly the design's.
Acceptance JudgeFile(const ExpectedFile& expected, const FileFacts& facts);

// The reason of a rejection as the log gives it after "... was rejected.",
// e.g. "(Invalid size or MD5)." for the design's checks; empty for Accepted.
std::wstring RejectionText(Acceptance verdict, std::wstring_view errorText = {});

}  // namespace prereq
