// The acceptance verdict of a file: the SHA256 value's reading and the
// judgement from the configured checks and what was read of the file.
// Input: four lines (SHA256 value, MD5 value, the file's MD5, the file's
// SHA-256); the first bytes of the last line also give the sizes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzText.h"
#include "acquisition/AcceptanceRules.h"

using namespace prereq;

namespace {

bool IsHexDigits(std::wstring_view text, size_t count) {
  if (text.size() != count) return false;
  for (wchar_t c : text)
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')))
      return false;
  return true;
}

std::optional<std::string> Narrow(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) {
    if (c > 0x7F) return std::nullopt;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 4);

  const auto parsed = ParseSha256Text(f[0]);
  fuzz::Check(parsed.has_value() == IsHexDigits(f[0], 64), "SHA256 value read wrongly");
  if (parsed) {
    for (char c : *parsed)
      fuzz::Check(std::isxdigit(static_cast<unsigned char>(c)) && !std::isupper(c),
                  "SHA256 value not in lower case");
  }

  const uint32_t sizes = size >= 4 ? static_cast<uint32_t>(fuzz::NumberOf(f[3])) : 0;
  for (int withSha = 0; withSha < 2; ++withSha) {
    ExpectedFile expected;
    expected.exactSize = sizes % 3 == 0 ? 0 : sizes;
    expected.md5 = std::wstring(f[1]);
    if (withSha) expected.sha256 = std::wstring(f[0]);
    FileFacts facts;
    facts.size = sizes / 3;
    if (auto md5 = Narrow(f[2]); md5 && !md5->empty()) facts.digests.md5 = *md5;
    if (auto sha = Narrow(f[3]); sha && !sha->empty()) facts.digests.sha256 = *sha;
    const Acceptance verdict = JudgeFile(expected, facts);
    if (!withSha) {
      fuzz::Check(verdict == Acceptance::Accepted || verdict == Acceptance::WrongSizeOrMd5,
                  "a verdict about a SHA-256 that is not configured");
    } else if (!parsed) {
      fuzz::Check(verdict == Acceptance::MalformedSha256, "a malformed SHA256 value accepted");
    } else if (verdict == Acceptance::Accepted) {
      fuzz::Check(facts.digests.sha256 && *facts.digests.sha256 == *parsed,
                  "accepted without the configured SHA-256");
    }
    fuzz::Check(RejectionText(verdict).empty() == (verdict == Acceptance::Accepted),
                "rejection text disagrees with the verdict");
  }
  return 0;
}
