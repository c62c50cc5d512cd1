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

// The low 32 bits of an open file's size; 0 when it cannot be read.
uint32_t LowSizeOf(HANDLE file) {
  const DWORD size = ::GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return 0;
  return size;
}

uint32_t SizeForAcceptance(const std::wstring& path) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? LowSizeOf(file.get()) : 0;
}

// One pass over the open file, from its start, for the digests asked for;
// false (no digest) when it cannot be read, its size cannot be read, it is
// empty, or `cancelled` stops it (wasCancelled is then set).
bool DigestOpenFile(HANDLE file, bool md5Wanted, bool sha256Wanted, FileFacts& facts,
                    const CancelCheck& cancelled, bool& wasCancelled) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0) return false;
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;

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
    if (cancelled && cancelled()) {
      wasCancelled = true;
      return false;
    }
    const DWORD want = left < kBlock ? static_cast<DWORD>(left) : kBlock;
    DWORD got = 0;
    if (!::ReadFile(file, buffer.get(), want, &got, nullptr)) return false;
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

// The verdict over what was read; the signature of the file at `path` is
// read last, and only when the Signer value is usable and everything before
// it passed.
AcceptanceResult Verdict(const std::wstring& path, const ExpectedFile& expected, FileFacts& facts,
                         bool cancelled) {
  AcceptanceResult result;
  result.cancelled = cancelled;
  if (cancelled) {
    result.verdict = Acceptance::WrongSizeOrMd5;
    return result;
  }
  if (NeedsSignature(expected) && JudgeFileBeforeSignature(expected, facts) == Acceptance::Accepted)
    facts.signature = ReadSignature(path);
  result.verdict = JudgeFile(expected, facts);
  if (result.verdict == Acceptance::Sha256Unavailable) result.error = facts.sha256Error;
  if (facts.signature) {
    result.signature = facts.signature;
    result.signatureVerdict = JudgeSignature(ParseSignerList(*expected.signer), *facts.signature);
  }
  return result;
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
                            const FileDigests* known, const CancelCheck& cancelled) {
  const std::wstring longPath = ToLongPathForm(path);
  FileFacts facts;
  if (expected.ChecksSize()) facts.size = SizeForAcceptance(longPath);
  if (known != nullptr) facts.digests = *known;
  const bool md5Wanted = NeedsMd5(expected) && !facts.digests.md5;
  const bool sha256Wanted = NeedsSha256(expected) && !facts.digests.sha256;
  bool wasCancelled = false;
  if (md5Wanted || sha256Wanted) {
    FileHandle file(::CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file) DigestOpenFile(file.get(), md5Wanted, sha256Wanted, facts, cancelled, wasCancelled);
  }
  return Verdict(path, expected, facts, wasCancelled);
}

AcceptanceResult VerifyOpenFile(HANDLE file, const std::wstring& path, const ExpectedFile& expected,
                                const CancelCheck& cancelled) {
  FileFacts facts;
  if (expected.ChecksSize()) facts.size = LowSizeOf(file);
  bool wasCancelled = false;
  if (NeedsMd5(expected) || NeedsSha256(expected))
    DigestOpenFile(file, NeedsMd5(expected), NeedsSha256(expected), facts, cancelled, wasCancelled);
  return Verdict(path, expected, facts, wasCancelled);
}

std::wstring SignatureLogLine(const AcceptanceResult& result) {
  if (!result.signature) return {};
  const uint32_t code = SignatureErrorCode(result.signatureVerdict, *result.signature);
  return SignatureLogLine(result.signatureVerdict, *result.signature,
                          code != 0 ? ErrorText(code) : std::wstring());
}

}  // namespace prereq
