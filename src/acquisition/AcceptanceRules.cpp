#include "acquisition/AcceptanceRules.h"

#include "acquisition/Md5.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

constexpr size_t kSha256Digits = 64;

}  // namespace

ExpectedFile ExpectedFileOf(const Prerequisite& prereq) {
  ExpectedFile expected;
  expected.exactSize = static_cast<uint32_t>(prereq.ExactSize);
  expected.md5 = prereq.MD5;
  expected.sha256 = prereq.SHA256;
  expected.signer = prereq.Signer;
  return expected;
}

std::optional<std::string> ParseSha256Text(std::wstring_view text) {
  if (text.size() != kSha256Digits) return std::nullopt;
  std::string hex;
  hex.reserve(kSha256Digits);
  for (wchar_t c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    hex.push_back("0123456789abcdef"[digit]);
  }
  return hex;
}

namespace {

// A malformed SHA256 or Signer value rejects every file: nothing is read.
bool RejectedBeforeReading(const ExpectedFile& expected) {
  return (expected.ChecksSha256() && !ParseSha256Text(*expected.sha256)) ||
         (expected.ChecksSigner() && !SignerListUsable(ParseSignerList(*expected.signer)));
}

}  // namespace

bool NeedsMd5(const ExpectedFile& expected) {
  return expected.ChecksMd5() && !RejectedBeforeReading(expected);
}

bool NeedsSha256(const ExpectedFile& expected) {
  return expected.ChecksSha256() && !RejectedBeforeReading(expected);
}

bool NeedsSignature(const ExpectedFile& expected) {
  return expected.ChecksSigner() && !RejectedBeforeReading(expected);
}

bool JudgesContent(const ExpectedFile& expected) {
  return NeedsMd5(expected) || NeedsSha256(expected) || NeedsSignature(expected);
}

Acceptance JudgeFile(const ExpectedFile& expected, const FileFacts& facts) {
  const Acceptance before = JudgeFileBeforeSignature(expected, facts);
  if (before != Acceptance::Accepted || !expected.ChecksSigner()) return before;
  if (!facts.signature) return Acceptance::SignerRejected;
  const SignatureVerdict verdict = JudgeSignature(ParseSignerList(*expected.signer), *facts.signature);
  return verdict == SignatureVerdict::Accepted ? Acceptance::Accepted : Acceptance::SignerRejected;
}

Acceptance JudgeFileBeforeSignature(const ExpectedFile& expected, const FileFacts& facts) {
  std::optional<std::string> sha256;
  if (expected.ChecksSha256()) {
    sha256 = ParseSha256Text(*expected.sha256);
    if (!sha256) return Acceptance::MalformedSha256;
  }
  if (expected.ChecksSigner() && !SignerListUsable(ParseSignerList(*expected.signer)))
    return Acceptance::MalformedSigner;
  if (expected.ChecksSize() && facts.size != expected.exactSize) return Acceptance::WrongSizeOrMd5;
  if (expected.ChecksMd5() &&
      (!facts.digests.md5 || !Md5TextMatches(expected.md5, *facts.digests.md5)))
    return Acceptance::WrongSizeOrMd5;
  if (sha256) {
    if (!facts.digests.sha256)
      return facts.sha256Error != 0 ? Acceptance::Sha256Unavailable : Acceptance::WrongSha256;
    if (*facts.digests.sha256 != *sha256) return Acceptance::WrongSha256;
  }
  return Acceptance::Accepted;
}

std::wstring RejectionText(Acceptance verdict, std::wstring_view errorText) {
  switch (verdict) {
    case Acceptance::Accepted:
      return {};
    case Acceptance::WrongSizeOrMd5:
      return L"(Invalid size or MD5).";
    case Acceptance::MalformedSha256:
      return L"(Invalid SHA256 value: 64 hexadecimal digits expected).";
    case Acceptance::WrongSha256:
      return L"(Invalid SHA256).";
    case Acceptance::Sha256Unavailable:
      return L"(SHA256 could not be computed. Error:" + std::wstring(errorText) + L").";
    case Acceptance::MalformedSigner:
      return L"(Invalid Signer value: CN=name or sha256: and 64 hexadecimal digits expected).";
    case Acceptance::SignerRejected:
      return L"(Signer not accepted).";
  }
  return {};
}

}  // namespace prereq
