#include "acquisition/SignerRules.h"

#include "acquisition/AcceptanceRules.h"
#include "acquisition/TransferRules.h"

namespace prereq {

namespace {

constexpr std::wstring_view kNamePrefix = L"CN=";
constexpr std::wstring_view kThumbprintPrefix = L"sha256:";
constexpr std::wstring_view kSeparator = L", ";
// TRUST_E_NOSIGNATURE: what a trust provider that found no signer says.
constexpr uint32_t kNoSignature = 0x800B0100;

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    wchar_t p = prefix[i];
    if (p >= L'A' && p <= L'Z') p = static_cast<wchar_t>(p - L'A' + L'a');
    if (c != p) return false;
  }
  return true;
}

bool StartsEntry(std::wstring_view text) {
  return StartsWithNoCase(text, kNamePrefix) || StartsWithNoCase(text, kThumbprintPrefix);
}

SignerEntry ParseEntry(std::wstring_view text) {
  SignerEntry entry;
  entry.text = text;
  if (StartsWithNoCase(text, kNamePrefix)) {
    entry.value = text.substr(kNamePrefix.size());
    if (!entry.value.empty()) entry.kind = SignerKind::CommonName;
  } else if (StartsWithNoCase(text, kThumbprintPrefix)) {
    if (auto hex = ParseSha256Text(text.substr(kThumbprintPrefix.size()))) {
      entry.value.assign(hex->begin(), hex->end());
      entry.kind = SignerKind::Thumbprint;
    }
  }
  if (entry.kind == SignerKind::Malformed) entry.value.clear();
  return entry;
}

std::wstring Hex(uint32_t code) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(code >> shift) & 15]);
  return out;
}

}  // namespace

std::vector<SignerEntry> ParseSignerList(std::wstring_view text) {
  std::vector<SignerEntry> entries;
  if (text.empty()) return entries;
  size_t start = 0;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(kSeparator, from);
    if (at == std::wstring_view::npos) break;
    const size_t next = at + kSeparator.size();
    if (StartsEntry(text.substr(next))) {
      entries.push_back(ParseEntry(text.substr(start, at - start)));
      start = next;
    }
    from = next;
  }
  entries.push_back(ParseEntry(text.substr(start)));
  return entries;
}

bool SignerListUsable(const std::vector<SignerEntry>& entries) {
  if (entries.empty()) return false;
  for (const SignerEntry& e : entries)
    if (e.kind == SignerKind::Malformed) return false;
  return true;
}

bool SignerListed(const std::vector<SignerEntry>& entries, const SignatureFacts& facts) {
  if (!facts.signerKnown) return false;
  for (const SignerEntry& e : entries) {
    if (e.kind == SignerKind::CommonName && !facts.commonName.empty() && e.value == facts.commonName)
      return true;
    if (e.kind == SignerKind::Thumbprint && !facts.thumbprint.empty() && e.value == facts.thumbprint)
      return true;
  }
  return false;
}

SignatureVerdict JudgeSignature(const std::vector<SignerEntry>& entries, const SignatureFacts& facts) {
  if (facts.systemError != 0) return SignatureVerdict::Unchecked;
  if (facts.trustResult != 0 || !facts.signerKnown) return SignatureVerdict::NotSigned;
  if (facts.chainResult != 0) return SignatureVerdict::NotTrusted;
  if (!SignerListUsable(entries) || !SignerListed(entries, facts)) return SignatureVerdict::NotListed;
  return SignatureVerdict::Accepted;
}

uint32_t SignatureErrorCode(SignatureVerdict verdict, const SignatureFacts& facts) {
  switch (verdict) {
    case SignatureVerdict::Unchecked: return facts.systemError;
    case SignatureVerdict::NotSigned: return facts.trustResult != 0 ? facts.trustResult : kNoSignature;
    case SignatureVerdict::NotTrusted: return facts.chainResult;
    default: return 0;
  }
}

std::wstring SignatureLogLine(SignatureVerdict verdict, const SignatureFacts& facts,
                              std::wstring_view errorText) {
  std::wstring line = L"Signature check:";
  if (facts.signerKnown) {
    // The thumbprint is the system's hexadecimal digest; it goes through the
    // same filter as the name all the same.
    line += L"\"" + PrintableForLog(facts.commonName, 200) + L"\" sha256:" +
            (facts.thumbprint.empty() ? std::wstring(L"unknown")
                                      : PrintableForLog(facts.thumbprint, 200));
  } else {
    line += L"no signer";
  }
  switch (verdict) {
    case SignatureVerdict::Accepted:
      return line + L": accepted.";
    case SignatureVerdict::Unchecked:
      line += L": not accepted, the signature could not be checked.";
      break;
    case SignatureVerdict::NotSigned:
      line += L": not accepted, no valid signature.";
      break;
    case SignatureVerdict::NotTrusted:
      line += L": not accepted, the signer's certificate chain is not trusted.";
      break;
    case SignatureVerdict::NotListed:
      return line + L": not accepted, no Signer entry names this signer.";
  }
  const uint32_t code = SignatureErrorCode(verdict, facts);
  line += L" Error:";
  if (!errorText.empty()) line += PrintableForLog(errorText) + L" ";
  return line + L"(" + Hex(code) + L")";
}

}  // namespace prereq
