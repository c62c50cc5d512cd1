#include "acquisition/Acceptance.h"

#include <memory>
#include <optional>

#include "acquisition/Authenticode.h"
#include "acquisition/Md5.h"
#include "acquisition/Sha256.h"
#include "execution/ErrorText.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"

namespace prereq {

namespace {

uint32_t SizeForAcceptance(const std::wstring& path) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  const DWORD size = ::GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return 0;
  return size;
}

// One pass over the file for the digests asked for; false (no digest) when
// the file cannot be opened or read, its size cannot be read, or it is empty.
bool DigestFile(const std::wstring& path, bool md5Wanted, bool sha256Wanted, FileFacts& facts) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return false;

  Md5 md5;
  std::unique_ptr<Sha256> sha256;
  if (sha256Wanted) {
    sha256 = std::make_unique<Sha256>();
    if (!sha256->ok()) {
      facts.sha256Error = sha256->error();
      sha256.reset();
      if (!md5Wanted) return false;
    }
  }
  constexpr DWORD kBlock = 65536;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  uint64_t left = static_cast<uint64_t>(size.QuadPart);
  while (left != 0) {
    const DWORD want = left < kBlock ? static_cast<DWORD>(left) : kBlock;
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.get(), want, &got, nullptr)) return false;
    if (got == 0) return false;  // the file became shorter while it was read
    if (md5Wanted) md5.Update(buffer.get(), got);
    if (sha256) sha256->Update(buffer.get(), got);
    left -= got;
  }
  if (md5Wanted) facts.digests.md5 = Md5Hex(md5.Final());
  if (sha256) {
    std::string hex = sha256->FinishHex();
    if (hex.empty()) facts.sha256Error = sha256->error();
    else facts.digests.sha256 = std::move(hex);
  }
  return true;
}

// The file's length as the digest pass reads it; none when it cannot be read.
std::optional<uint64_t> LengthForDigest(const std::wstring& longPath) {
  FileHandle file(::CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

}  // namespace

AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const WrittenDigests& written) {
  FileDigests known;
  if (written.known && written.bytes != 0) {
    if (NeedsMd5(expected) && !written.md5.empty()) known.md5 = written.md5;
    if (NeedsSha256(expected) && !written.sha256.empty()) known.sha256 = written.sha256;
  }
  if ((!known.md5 && !known.sha256) || LengthForDigest(ToLongPathForm(path)) != written.bytes)
    return VerifyFile(path, expected, nullptr);
  return VerifyFile(path, expected, &known);
}

AcceptanceResult VerifyFile(const std::wstring& path, const ExpectedFile& expected,
                            const FileDigests* known) {
  const std::wstring longPath = ToLongPathForm(path);
  FileFacts facts;
  if (expected.ChecksSize()) facts.size = SizeForAcceptance(longPath);
  if (known != nullptr) facts.digests = *known;
  const bool md5Wanted = NeedsMd5(expected) && !facts.digests.md5;
  const bool sha256Wanted = NeedsSha256(expected) && !facts.digests.sha256;
  if (md5Wanted || sha256Wanted) DigestFile(longPath, md5Wanted, sha256Wanted, facts);

  if (NeedsSignature(expected) && JudgeFileBeforeSignature(expected, facts) == Acceptance::Accepted)
    facts.signature = ReadSignature(path);

  AcceptanceResult result;
  result.verdict = JudgeFile(expected, facts);
  if (result.verdict == Acceptance::Sha256Unavailable) result.error = facts.sha256Error;
  if (facts.signature) {
    result.signature = facts.signature;
    result.signatureVerdict = JudgeSignature(ParseSignerList(*expected.signer), *facts.signature);
  }
  return result;
}

std::wstring SignatureLogLine(const AcceptanceResult& result) {
  if (!result.signature) return {};
  const uint32_t code = SignatureErrorCode(result.signatureVerdict, *result.signature);
  return SignatureLogLine(result.signatureVerdict, *result.signature,
                          code != 0 ? ErrorText(code) : std::wstring());
}

}  // namespace prereq
