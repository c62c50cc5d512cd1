#pragma once
// Acceptance by publisher: the Signer value (which publishers a file's
// Authenticode signature must name), what was read of a file's signature,
// the verdict, and the log line that reports it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

enum class SignerKind {
  CommonName,  // "CN=" and the signer's subject common name, compared exactly
  Thumbprint,  // "sha256:" and the SHA-256 of the signer certificate's encoded bytes
  Malformed,   // neither: matches nothing
};

struct SignerEntry {
  SignerKind kind = SignerKind::Malformed;
  std::wstring text;   // the entry as written
  std::wstring value;  // the name; or the thumbprint as 64 lower-case hexadecimal digits
};

// The entries of a Signer value. Entries are separated by ", " where the
// text after it starts a new entry ("CN=" or "sha256:", either case), so
// that a name may itself contain ", " ("CN=Example, Inc."). A thumbprint is
// 64 hexadecimal digits in either case and nothing else; a name is the whole
// rest of its entry and is not empty.
std::vector<SignerEntry> ParseSignerList(std::wstring_view text);

// A Signer value that can accept a file: at least one entry, none malformed.
// A run rejects every file against any other value.
bool SignerListUsable(const std::vector<SignerEntry>& entries);

// What was read of a file's signature.
struct SignatureFacts {
  // WinVerifyTrust's answer (an HRESULT): 0 for a signature that is intact
  // and valid; TRUST_E_NOSIGNATURE for none, TRUST_E_BAD_DIGEST for a changed
  // file, ...
  uint32_t trustResult = 0;
  // The signer chain's own check (Authenticode policy): 0 when it ends in a
  // trusted root; CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED, ... otherwise. Only
  // meaningful once trustResult is 0 and a signer is known.
  uint32_t chainResult = 0;
  // The signature could not be examined at all (a library or a function of
  // the system is missing, the file cannot be opened): a system error code.
  uint32_t systemError = 0;
  bool signerKnown = false;  // the signer certificate was found
  std::wstring commonName;   // its subject common name; may be empty
  std::wstring thumbprint;   // SHA-256 of its encoded bytes, 64 lower-case digits; empty if unknown
};

// True when an entry names the signer: its common name (exactly, and not
// empty) or its thumbprint.
bool SignerListed(const std::vector<SignerEntry>& entries, const SignatureFacts& facts);

enum class SignatureVerdict {
  Accepted,
  Unchecked,     // the signature could not be examined (systemError)
  NotSigned,     // no valid signature: none, a changed file, a bad certificate, ...
  NotTrusted,    // valid, but the signer's chain does not end in a trusted root
  NotListed,     // valid and trusted, but no entry names the signer
};

// The verdict for a usable Signer value.
SignatureVerdict JudgeSignature(const std::vector<SignerEntry>& entries, const SignatureFacts& facts);

// The code that explains a verdict: the system error, WinVerifyTrust's
// answer or the chain's; 0 for Accepted and NotListed.
uint32_t SignatureErrorCode(SignatureVerdict verdict, const SignatureFacts& facts);

// The one log line of a signature check, e.g.
//   Signature check:"Example Corporation" sha256:0f1e...: accepted.
//   Signature check:"Other Publisher" sha256:77aa...: not accepted, no Signer entry names this signer.
//   Signature check:no signer: not accepted, no valid signature. Error:TEXT
// `errorText` is the text of SignatureErrorCode; the code follows it in
// hexadecimal.
std::wstring SignatureLogLine(SignatureVerdict verdict, const SignatureFacts& facts,
                              std::wstring_view errorText);

}  // namespace prereq
