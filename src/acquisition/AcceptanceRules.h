#pragma once
// What a file must satisfy before it is run, and the verdict from what was
// read of it: the configured size (ExactSize), MD5 and, when the
// prerequisite has the keys, SHA-256 digest and publisher (Signer).
// Downloads and files found already present are judged alike.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "acquisition/SignerRules.h"
#include "chainer/Configuration.h"

namespace prereq {

// The checks configured for one prerequisite's file.
struct ExpectedFile {
  ExpectedFile(uint32_t exactSize_ = 0, std::wstring md5_ = {},
               std::optional<std::wstring> sha256_ = std::nullopt,
               std::optional<std::wstring> signer_ = std::nullopt)
      : exactSize(exactSize_), md5(std::move(md5_)), sha256(std::move(sha256_)), signer(std::move(signer_)) {}

  uint32_t exactSize = 0;              // 0: no size check
  std::wstring md5;                    // the MD5 text as configured; empty: no check
  std::optional<std::wstring> sha256;  // the SHA256 text as configured; none: no check
  std::optional<std::wstring> signer;  // the Signer text as configured; none: no check

  bool ChecksSize() const { return exactSize != 0; }
  bool ChecksMd5() const { return !md5.empty(); }
  bool ChecksSha256() const { return sha256.has_value(); }
  bool ChecksSigner() const { return signer.has_value(); }
};

// ExactSize (its low 32 bits), MD5, SHA256 and Signer of a prerequisite.
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
  // The file's signature, when it was read: only for a usable Signer value,
  // and only once the size and digests passed.
  std::optional<SignatureFacts> signature;
};

enum class Acceptance {
  Accepted,
  WrongSizeOrMd5,     // the checks of the design: ExactSize, MD5
  MalformedSha256,    // the SHA256 value is not 64 hexadecimal digits
  WrongSha256,        // the file's SHA-256 differs, or the file has none (empty, unreadable)
  Sha256Unavailable,  // the system could not compute SHA-256 (sha256Error says why)
  MalformedSigner,    // the Signer value has no entry or a malformed one
  SignerRejected,     // no valid, trusted signature by a listed signer (or none was read)
};

// The SHA256 value as 64 lower-case hexadecimal digits; none unless the text
// is exactly 64 hexadecimal digits (either case, nothing else, no blanks).
std::optional<std::string> ParseSha256Text(std::wstring_view text);

// Which digests the verdict needs read from the file.
bool NeedsMd5(const ExpectedFile& expected);
bool NeedsSha256(const ExpectedFile& expected);
// Whether the verdict needs the file's signature: a usable Signer value.
bool NeedsSignature(const ExpectedFile& expected);
// Whether the verdict depends on the file's content beyond its size: a
// digest or a publisher. Only then may a download be pieced together from
// two addresses, or follow a redirect from https to http.
bool JudgesContent(const ExpectedFile& expected);

// The verdict. A malformed SHA256 or Signer value rejects the file before
// anything is read; then the size and MD5 rules of the design; then the
// SHA-256 and the signature, when configured. Without the SHA256 and Signer
// keys the verdict is exactly the design's.
Acceptance JudgeFile(const ExpectedFile& expected, const FileFacts& facts);
// The verdict of everything but the signature: whether the signature is
// worth reading.
Acceptance JudgeFileBeforeSignature(const ExpectedFile& expected, const FileFacts& facts);

// The reason of a rejection as the log gives it after "... was rejected.",
// e.g. "(Invalid size or MD5)." for the design's checks; empty for Accepted.
std::wstring RejectionText(Acceptance verdict, std::wstring_view errorText = {});

}  // namespace prereq
