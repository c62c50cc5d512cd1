// The Signer value: its entries, the match against a signer, the verdict and
// the log line. Input: three lines (the Signer value, the signer's common
// name, its thumbprint); the first bytes of the last line also give the
// trust provider's and the chain's answers.
#include <cstddef>
#include <cstdint>
#include <cwctype>
#include <string>

#include "FuzzText.h"
#include "acquisition/SignerRules.h"

using namespace prereq;

namespace {

bool StartsEntry(std::wstring_view text) {
  auto starts = [text](std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
      if (static_cast<wchar_t>(std::towlower(text[i])) != prefix[i]) return false;
    return true;
  };
  return starts(L"cn=") || starts(L"sha256:");
}

bool LowerHex(std::wstring_view text) {
  if (text.size() != 64) return false;
  for (wchar_t c : text)
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 3);

  const std::vector<SignerEntry> entries = ParseSignerList(f[0]);
  fuzz::Check(entries.empty() == f[0].empty(), "entries of an empty value, or none of a value");
  std::wstring joined;
  bool wellFormed = !entries.empty();
  for (size_t i = 0; i < entries.size(); ++i) {
    const SignerEntry& e = entries[i];
    joined += (i == 0 ? L"" : L", ") + e.text;
    if (i > 0) fuzz::Check(StartsEntry(e.text), "an entry split where none begins");
    switch (e.kind) {
      case SignerKind::CommonName:
        fuzz::Check(!e.value.empty() && e.text.substr(3) == e.value, "a name read wrongly");
        break;
      case SignerKind::Thumbprint:
        fuzz::Check(LowerHex(e.value), "a thumbprint not as 64 lower-case digits");
        break;
      case SignerKind::Malformed:
        fuzz::Check(e.value.empty(), "a malformed entry with a value");
        wellFormed = false;
        break;
    }
  }
  if (!f[0].empty()) fuzz::Check(joined == f[0], "the entries do not give the value back");
  fuzz::Check(SignerListUsable(entries) == wellFormed, "usability disagrees with the entries");

  // Each entry names a signer that it describes.
  for (const SignerEntry& e : entries) {
    if (e.kind == SignerKind::Malformed) continue;
    SignatureFacts facts;
    facts.signerKnown = true;
    (e.kind == SignerKind::CommonName ? facts.commonName : facts.thumbprint) = e.value;
    fuzz::Check(SignerListed(entries, facts), "an entry does not name its own signer");
  }

  const uint64_t answers = fuzz::NumberOf(f[2]);
  SignatureFacts facts;
  facts.signerKnown = (answers & 1) != 0;
  facts.trustResult = (answers & 2) ? 0x800B0100u : 0;
  facts.chainResult = (answers & 4) ? 0x800B0109u : 0;
  facts.systemError = (answers & 8) ? 126u : 0;
  facts.commonName = f[1];
  facts.thumbprint = f[2];
  const SignatureVerdict verdict = JudgeSignature(entries, facts);
  if (verdict == SignatureVerdict::Accepted)
    fuzz::Check(facts.signerKnown && facts.trustResult == 0 && facts.chainResult == 0 &&
                    facts.systemError == 0 && SignerListUsable(entries) && SignerListed(entries, facts),
                "accepted without a valid, trusted, listed signer");
  const std::wstring line = SignatureLogLine(verdict, facts, f[1]);
  for (wchar_t c : line) fuzz::Check(c >= 0x20 && c != 0x7F, "a control character in the log line");
  fuzz::Check((SignatureErrorCode(verdict, facts) == 0) ==
                  (verdict == SignatureVerdict::Accepted || verdict == SignatureVerdict::NotListed),
              "an error code for a verdict without one, or none for one with");
  return 0;
}
