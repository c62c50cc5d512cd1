// Acceptance by publisher: the Signer value, the match, the verdict and its
// place after the size and digests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition/AcceptanceRules.h"
#include "acquisition/SignerRules.h"

using namespace prereq;

namespace {

const std::wstring kThumb = L"0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0";
const std::wstring kThumbUpper = L"0F1E2D3C4B5A69788796A5B4C3D2E1F00F1E2D3C4B5A69788796A5B4C3D2E1F0";

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// The entries as "kind:value" ("?" for a malformed one), joined by "|".
std::wstring Shape(const std::vector<SignerEntry>& entries) {
  std::wstring out;
  for (const SignerEntry& e : entries) {
    if (!out.empty()) out += L"|";
    out += e.kind == SignerKind::CommonName ? L"cn:" + e.value
           : e.kind == SignerKind::Thumbprint ? L"sha:" + e.value
                                              : L"?" + e.text;
  }
  return out;
}

TEST(ParseSignerList, EntriesNamesAndThumbprints) {
  const struct {
    std::wstring value;
    std::wstring shape;
  } cases[] = {
      {L"CN=Example Corporation", L"cn:Example Corporation"},
      {L"sha256:" + kThumb, L"sha:" + kThumb},
      {L"sha256:" + kThumbUpper, L"sha:" + kThumb},  // either case, read as lower case
      {L"SHA256:" + kThumb, L"sha:" + kThumb},       // the prefixes in either case too
      {L"cn=x", L"cn:x"},
      {L"CN=A, sha256:" + kThumb, L"cn:A|sha:" + kThumb},
      // ", " separates only where an entry begins: a name may hold it.
      {L"CN=Example, Inc., CN=Other", L"cn:Example, Inc.|cn:Other"},
      {L"CN=Example, Inc.", L"cn:Example, Inc."},
      // A comma without exactly one blank after it does not separate.
      {L"CN=A,CN=B", L"cn:A,CN=B"},
      {L"CN=A,  CN=B", L"cn:A,  CN=B"},
      // The name is taken whole, blanks included, and compared exactly.
      {L"CN= A ", L"cn: A "},
      // Thumbprints at, below and above 64 digits; nothing but digits.
      {L"sha256:" + kThumb.substr(1), L"?sha256:" + kThumb.substr(1)},
      {L"sha256:" + kThumb + L"0", L"?sha256:" + kThumb + L"0"},
      {L"sha256:" + kThumb.substr(0, 63) + L"g", L"?sha256:" + kThumb.substr(0, 63) + L"g"},
      {L"sha256: " + kThumb.substr(1), L"?sha256: " + kThumb.substr(1)},
      {L"sha1:" + kThumb.substr(0, 40), L"?sha1:" + kThumb.substr(0, 40)},
      // Neither prefix, or nothing after it.
      {L"Example Corporation", L"?Example Corporation"},
      {L"CN=", L"?CN="},
      {L"sha256:", L"?sha256:"},
      {L"CN=A, ", L"cn:A, "},
      {L"", L""},
  };
  for (const auto& c : cases) {
    const std::vector<SignerEntry> entries = ParseSignerList(c.value);
    EXPECT_EQ(Shape(entries), c.shape) << Narrow(c.value);
    bool wellFormed = !entries.empty();
    for (const SignerEntry& e : entries) wellFormed = wellFormed && e.kind != SignerKind::Malformed;
    EXPECT_EQ(SignerListUsable(entries), wellFormed) << Narrow(c.value);
  }
}

SignatureFacts Signed(std::wstring name, std::wstring thumbprint, uint32_t trust = 0,
                      uint32_t chain = 0) {
  SignatureFacts facts;
  facts.signerKnown = true;
  facts.commonName = std::move(name);
  facts.thumbprint = std::move(thumbprint);
  facts.trustResult = trust;
  facts.chainResult = chain;
  return facts;
}

TEST(JudgeSignature, ValidTrustedAndListed) {
  const std::wstring other(64, L'a');
  SignatureFacts unsigned_;
  unsigned_.trustResult = 0x800B0100;
  SignatureFacts noSigner;  // the provider said yes but named nobody
  SignatureFacts unavailable;
  unavailable.systemError = 126;
  const struct {
    const char* name;
    std::wstring signer;
    SignatureFacts facts;
    SignatureVerdict verdict;
  } cases[] = {
      {"by_name", L"CN=Example Corporation", Signed(L"Example Corporation", other),
       SignatureVerdict::Accepted},
      {"by_thumbprint", L"sha256:" + kThumbUpper, Signed(L"Anyone", kThumb), SignatureVerdict::Accepted},
      {"second_entry", L"CN=Other, sha256:" + kThumb, Signed(L"X", kThumb), SignatureVerdict::Accepted},
      // Names compare exactly: case, blanks and a prefix of the name differ.
      {"name_case", L"CN=example corporation", Signed(L"Example Corporation", other),
       SignatureVerdict::NotListed},
      {"name_prefix", L"CN=Example", Signed(L"Example Corporation", other), SignatureVerdict::NotListed},
      {"name_blank", L"CN=Example Corporation ", Signed(L"Example Corporation", other),
       SignatureVerdict::NotListed},
      {"thumbprint_other", L"sha256:" + kThumb, Signed(L"Example", other), SignatureVerdict::NotListed},
      // A signer without a common name is matched by its thumbprint only.
      {"empty_name", L"CN=x", Signed(L"", kThumb), SignatureVerdict::NotListed},
      // Order of the checks: examined at all, valid, trusted, listed.
      {"unavailable", L"CN=A", unavailable, SignatureVerdict::Unchecked},
      {"not_signed", L"CN=A", unsigned_, SignatureVerdict::NotSigned},
      {"no_signer", L"CN=A", noSigner, SignatureVerdict::NotSigned},
      {"tampered", L"CN=A", Signed(L"A", kThumb, 0x80096010), SignatureVerdict::NotSigned},
      {"untrusted_root", L"CN=A", Signed(L"A", kThumb, 0, 0x800B0109), SignatureVerdict::NotTrusted},
      {"untrusted_and_unlisted", L"CN=B", Signed(L"A", kThumb, 0, 0x800B0109),
       SignatureVerdict::NotTrusted},
      {"malformed_list", L"CN=A, sha256:12", Signed(L"A", kThumb), SignatureVerdict::NotListed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JudgeSignature(ParseSignerList(c.signer), c.facts), c.verdict) << c.name;
}

TEST(SignatureLogLine, OneLineWithNameThumbprintAndVerdict) {
  const SignatureFacts good = Signed(L"Example Corporation", kThumb);
  EXPECT_EQ(SignatureLogLine(SignatureVerdict::Accepted, good, L""),
            L"Signature check:\"Example Corporation\" sha256:" + kThumb + L": accepted.");
  EXPECT_EQ(SignatureLogLine(SignatureVerdict::NotListed, good, L""),
            L"Signature check:\"Example Corporation\" sha256:" + kThumb +
                L": not accepted, no Signer entry names this signer.");
  const SignatureFacts untrusted = Signed(L"Example Corporation", kThumb, 0, 0x800B0109);
  EXPECT_EQ(SignatureLogLine(SignatureVerdict::NotTrusted, untrusted, L"Untrusted root."),
            L"Signature check:\"Example Corporation\" sha256:" + kThumb +
                L": not accepted, the signer's certificate chain is not trusted. Error:Untrusted root. "
                L"(0x800B0109)");
  SignatureFacts none;
  none.trustResult = 0x800B0100;
  EXPECT_EQ(SignatureErrorCode(SignatureVerdict::NotSigned, none), 0x800B0100u);
  EXPECT_EQ(SignatureLogLine(SignatureVerdict::NotSigned, none, L"-2146762496"),
            L"Signature check:no signer: not accepted, no valid signature. Error:-2146762496 "
            L"(0x800B0100)");
  // A name from a certificate cannot start another log line.
  const SignatureFacts forged = Signed(L"A\r\n2030-01-01 Downloaded file was accepted.", kThumb);
  EXPECT_EQ(SignatureLogLine(SignatureVerdict::NotListed, forged, L"").find_first_of(L"\r\n"),
            std::wstring::npos);
}

FileFacts WithSignature(uint32_t size, std::optional<SignatureFacts> signature) {
  FileFacts facts;
  facts.size = size;
  facts.signature = std::move(signature);
  return facts;
}

TEST(JudgeFile, TheSignatureComesAfterTheSizeAndDigests) {
  const std::wstring name = L"CN=Example Corporation";
  const SignatureFacts good = Signed(L"Example Corporation", kThumb);
  const SignatureFacts untrusted = Signed(L"Example Corporation", kThumb, 0, 0x800B0109);
  const struct {
    const char* name;
    ExpectedFile expected;
    FileFacts facts;
    Acceptance verdict;
  } cases[] = {
      {"signer_alone", {0, L"", std::nullopt, name}, WithSignature(0, good), Acceptance::Accepted},
      {"signer_and_size", {3, L"", std::nullopt, name}, WithSignature(3, good), Acceptance::Accepted},
      {"size_first", {3, L"", std::nullopt, name}, WithSignature(4, good), Acceptance::WrongSizeOrMd5},
      {"sha_first", {0, L"", std::wstring(64, L'1'), name}, WithSignature(0, good),
       Acceptance::WrongSha256},
      {"untrusted", {0, L"", std::nullopt, name}, WithSignature(0, untrusted),
       Acceptance::SignerRejected},
      {"not_read", {0, L"", std::nullopt, name}, WithSignature(0, std::nullopt),
       Acceptance::SignerRejected},
      // A malformed or empty value rejects before anything else.
      {"malformed", {4, L"", std::nullopt, L"Example"}, WithSignature(3, good),
       Acceptance::MalformedSigner},
      {"empty", {0, L"", std::nullopt, L""}, WithSignature(0, good), Acceptance::MalformedSigner},
      {"malformed_sha_first", {0, L"", L"12", L"Example"}, WithSignature(0, good),
       Acceptance::MalformedSha256},
      // Without the key the signature plays no part.
      {"no_key", {3, L"", std::nullopt, std::nullopt}, WithSignature(3, untrusted), Acceptance::Accepted},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeFile(c.expected, c.facts), c.verdict) << c.name;
  EXPECT_EQ(RejectionText(Acceptance::SignerRejected), L"(Signer not accepted).");
}

TEST(JudgeFile, WhatEachConfigurationReads) {
  const std::wstring md5(32, L'a');
  const std::wstring sha(64, L'b');
  const struct {
    const char* name;
    ExpectedFile expected;
    bool md5, sha256, signature, content;
  } cases[] = {
      {"size_only", {5, L"", std::nullopt, std::nullopt}, false, false, false, false},
      {"md5", {0, md5, std::nullopt, std::nullopt}, true, false, false, true},
      {"sha", {0, L"", sha, std::nullopt}, false, true, false, true},
      {"signer", {5, L"", std::nullopt, L"CN=A"}, false, false, true, true},
      {"all", {5, md5, sha, L"CN=A"}, true, true, true, true},
      // A malformed value decides alone: nothing is read, nothing judges content.
      {"malformed_signer", {0, md5, sha, L"A"}, false, false, false, false},
      {"malformed_sha", {0, md5, L"1", L"CN=A"}, false, false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NeedsMd5(c.expected), c.md5) << c.name;
    EXPECT_EQ(NeedsSha256(c.expected), c.sha256) << c.name;
    EXPECT_EQ(NeedsSignature(c.expected), c.signature) << c.name;
    EXPECT_EQ(JudgesContent(c.expected), c.content) << c.name;
  }
  Prerequisite p;
  p.Signer = L"CN=A";
  EXPECT_EQ(ExpectedFileOf(p).signer, std::optional<std::wstring>(L"CN=A"));
}

}  // namespace
