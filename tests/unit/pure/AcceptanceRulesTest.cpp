#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "acquisition/AcceptanceRules.h"

using namespace prereq;

namespace {

const std::string kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(ParseSha256Text, SixtyFourHexDigitsInEitherCase) {
  const std::wstring upper = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  const struct {
    std::wstring text;
    std::optional<std::string> parsed;
  } cases[] = {
      {Wide(kAbcSha256), kAbcSha256},
      {upper, kAbcSha256},
      {L"Ba7816bF8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015aD", kAbcSha256},
      {std::wstring(64, L'0'), std::string(64, '0')},
      {std::wstring(64, L'f'), std::string(64, 'f')},
      // At, below and above the length.
      {std::wstring(63, L'a'), std::nullopt},
      {std::wstring(65, L'a'), std::nullopt},
      {L"", std::nullopt},
      // Nothing but digits: no blanks, signs, prefixes or other letters.
      {L" " + Wide(kAbcSha256).substr(1), std::nullopt},
      {Wide(kAbcSha256).substr(0, 63) + L" ", std::nullopt},
      {L"0x" + Wide(kAbcSha256).substr(2), std::nullopt},
      {Wide(kAbcSha256).substr(0, 63) + L"g", std::nullopt},
      {Wide(kAbcSha256).substr(0, 63) + L"G", std::nullopt},
      {Wide(kAbcSha256).substr(0, 63) + L"/", std::nullopt},  // just below "0"
      {Wide(kAbcSha256).substr(0, 63) + L":", std::nullopt},  // just above "9"
      {Wide(kAbcSha256).substr(0, 63) + L"@", std::nullopt},  // just below "A"
      {Wide(kAbcSha256).substr(0, 63) + L"`", std::nullopt},  // just below "a"
      {Wide(kAbcSha256).substr(0, 63) + L"\x0661", std::nullopt},  // another script's digit
      {Wide(kAbcSha256).substr(0, 63) + L"\xFF21", std::nullopt},  // full-width "A"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseSha256Text(c.text), c.parsed) << std::string(c.text.begin(), c.text.end());
  }
}

FileFacts Facts(uint32_t size, std::optional<std::string> md5, std::optional<std::string> sha256,
                uint32_t sha256Error = 0) {
  FileFacts facts;
  facts.size = size;
  facts.digests.md5 = std::move(md5);
  facts.digests.sha256 = std::move(sha256);
  facts.sha256Error = sha256Error;
  return facts;
}

TEST(JudgeFile, SizeMd5AndSha256) {
  const std::wstring md5 = Wide(kAbcMd5);
  const std::wstring sha = Wide(kAbcSha256);
  const std::wstring otherSha(64, L'1');
  const struct {
    const char* name;
    ExpectedFile expected;
    FileFacts facts;
    Acceptance verdict;
  } cases[] = {
      // Without the key: exactly the design's rules.
      {"nothing_checked", {0, L"", std::nullopt}, Facts(0, std::nullopt, std::nullopt),
       Acceptance::Accepted},
      {"size_ok", {3, L"", std::nullopt}, Facts(3, std::nullopt, std::nullopt), Acceptance::Accepted},
      {"size_wrong", {3, L"", std::nullopt}, Facts(4, std::nullopt, std::nullopt),
       Acceptance::WrongSizeOrMd5},
      {"md5_ok", {0, md5, std::nullopt}, Facts(0, kAbcMd5, std::nullopt), Acceptance::Accepted},
      {"md5_upper_and_longer", {0, L"900150983CD24FB0D6963F7D28E17F72zz", std::nullopt},
       Facts(0, kAbcMd5, std::nullopt), Acceptance::Accepted},
      {"md5_not_computed", {0, md5, std::nullopt}, Facts(0, std::nullopt, std::nullopt),
       Acceptance::WrongSizeOrMd5},
      {"md5_wrong", {0, std::wstring(32, L'0'), std::nullopt}, Facts(0, kAbcMd5, std::nullopt),
       Acceptance::WrongSizeOrMd5},
      // With the key.
      {"sha_ok", {0, L"", sha}, Facts(0, std::nullopt, kAbcSha256), Acceptance::Accepted},
      {"sha_upper", {3, md5, Wide("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD")},
       Facts(3, kAbcMd5, kAbcSha256), Acceptance::Accepted},
      {"sha_wrong", {3, md5, otherSha}, Facts(3, kAbcMd5, kAbcSha256), Acceptance::WrongSha256},
      {"sha_not_computed", {0, L"", sha}, Facts(0, std::nullopt, std::nullopt),
       Acceptance::WrongSha256},
      {"sha_unavailable", {0, L"", sha}, Facts(0, std::nullopt, std::nullopt, 126),
       Acceptance::Sha256Unavailable},
      // The design's checks come first: their text is kept.
      {"size_wrong_sha_ok", {4, L"", sha}, Facts(3, std::nullopt, kAbcSha256),
       Acceptance::WrongSizeOrMd5},
      {"md5_wrong_sha_ok", {0, std::wstring(32, L'0'), sha}, Facts(0, kAbcMd5, kAbcSha256),
       Acceptance::WrongSizeOrMd5},
      // A malformed value rejects whatever the file is; an empty value is one.
      {"sha_malformed", {3, md5, sha.substr(1)}, Facts(3, kAbcMd5, kAbcSha256),
       Acceptance::MalformedSha256},
      {"sha_empty_value", {0, L"", std::wstring()}, Facts(0, std::nullopt, kAbcSha256),
       Acceptance::MalformedSha256},
      {"sha_malformed_size_wrong", {9, L"", L"xyz"}, Facts(3, std::nullopt, std::nullopt),
       Acceptance::MalformedSha256},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeFile(c.expected, c.facts), c.verdict) << c.name;
}

TEST(JudgeFile, OnlyTheNeededDigestsAreRead) {
  const ExpectedFile none{3, L"", std::nullopt};
  EXPECT_FALSE(NeedsMd5(none));
  EXPECT_FALSE(NeedsSha256(none));
  const ExpectedFile both{0, Wide(kAbcMd5), Wide(kAbcSha256)};
  EXPECT_TRUE(NeedsMd5(both));
  EXPECT_TRUE(NeedsSha256(both));
  // A malformed value decides alone: nothing is read.
  const ExpectedFile malformed{0, Wide(kAbcMd5), L"12"};
  EXPECT_FALSE(NeedsMd5(malformed));
  EXPECT_FALSE(NeedsSha256(malformed));
}

TEST(JudgeFile, RejectionTexts) {
  EXPECT_EQ(RejectionText(Acceptance::Accepted), L"");
  EXPECT_EQ(RejectionText(Acceptance::WrongSizeOrMd5), L"(Invalid size or MD5).");
  EXPECT_EQ(RejectionText(Acceptance::WrongSha256), L"(Invalid SHA256).");
  EXPECT_EQ(RejectionText(Acceptance::MalformedSha256),
            L"(Invalid SHA256 value: 64 hexadecimal digits expected).");
  EXPECT_EQ(RejectionText(Acceptance::Sha256Unavailable, L"Not found."),
            L"(SHA256 could not be computed. Error:Not found.).");
}

TEST(ExpectedFileOf, TakesTheConfiguredChecks) {
  Prerequisite p;
  p.ExactSize = -5;  // the low 32 bits, as the size check compares them
  p.MD5 = L"m";
  ExpectedFile e = ExpectedFileOf(p);
  EXPECT_EQ(e.exactSize, 0xFFFFFFFBu);
  EXPECT_EQ(e.md5, L"m");
  EXPECT_FALSE(e.sha256.has_value());
  p.SHA256 = L"";
  EXPECT_TRUE(ExpectedFileOf(p).sha256.has_value());
}

}  // namespace
