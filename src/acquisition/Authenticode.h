#pragma once
// Reads the Authenticode signature of a file: whether the system's trust
// provider finds it intact and valid, who signed it, and whether the signer's
// certificate chain ends in a root this machine trusts. The trust and
// certificate functions (wintrust.dll, crypt32.dll) are loaded from the
// system folder when the first signature is read: a run without a Signer
// never maps them.
#include <string>

#include "acquisition/SignerRules.h"

namespace prereq {

// Examines the file at `path` (any length: opened through the long-path
// form, and kept open, shared for reading only, while it is examined):
// - trustResult: WinVerifyTrust with the generic verify action, no user
//   interface, no window, and the revocation checking that the system's
//   policy sets;
// - the signer of the primary signature: its subject common name and the
//   SHA-256 of its certificate's encoded bytes;
// - chainResult: the signer's chain, built for code signing at the time the
//   trust provider verified the signature against (the time stamp's, when the
//   signature has one), checked with the Authenticode chain policy. The trust
//   provider answers on its own for this on Windows, but not everywhere (an
//   untrusted root passes it under Wine), so the chain is checked here too.
// systemError is set when the file or the system's functions are not
// available; nothing else is then known.
SignatureFacts ReadSignature(const std::wstring& path);

}  // namespace prereq
