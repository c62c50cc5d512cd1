#include "acquisition/Authenticode.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <type_traits>

#include "acquisition/Sha256.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"

namespace prereq {

namespace {

// The functions of the two libraries, looked up once by name; the libraries
// stay loaded. decltype of a declaration is not a use: nothing imports them.
struct TrustFunctions {
  decltype(&::WinVerifyTrust) WinVerifyTrust;
  decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData;
  decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain;
  decltype(&::WTHelperGetProvCertFromChain) WTHelperGetProvCertFromChain;
  decltype(&::CertGetCertificateChain) CertGetCertificateChain;
  decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy;
  decltype(&::CertFreeCertificateChain) CertFreeCertificateChain;
  decltype(&::CertGetNameStringW) CertGetNameStringW;
};

struct LoadedTrust {
  Library wintrust;
  Library crypt32;
  TrustFunctions functions{};
  uint32_t error = 0;

  LoadedTrust() : wintrust(LoadSystemLibrary(L"wintrust.dll")), crypt32(LoadSystemLibrary(L"crypt32.dll")) {
    if (!wintrust || !crypt32) {
      const DWORD e = ::GetLastError();
      error = e != ERROR_SUCCESS ? e : ERROR_MOD_NOT_FOUND;
      return;
    }
    bool all = true;
    auto find = [&all](const Library& module, auto& slot, const char* name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
          reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
      if (slot == nullptr) all = false;
    };
    TrustFunctions& f = functions;
    find(wintrust, f.WinVerifyTrust, "WinVerifyTrust");
    find(wintrust, f.WTHelperProvDataFromStateData, "WTHelperProvDataFromStateData");
    find(wintrust, f.WTHelperGetProvSignerFromChain, "WTHelperGetProvSignerFromChain");
    find(wintrust, f.WTHelperGetProvCertFromChain, "WTHelperGetProvCertFromChain");
    find(crypt32, f.CertGetCertificateChain, "CertGetCertificateChain");
    find(crypt32, f.CertVerifyCertificateChainPolicy, "CertVerifyCertificateChainPolicy");
    find(crypt32, f.CertFreeCertificateChain, "CertFreeCertificateChain");
    find(crypt32, f.CertGetNameStringW, "CertGetNameStringW");
    if (!all) error = ERROR_PROC_NOT_FOUND;
  }
};

// Built by the first caller and never freed.
const LoadedTrust& Trust() {
  static const LoadedTrust* const loaded = new LoadedTrust;
  return *loaded;
}

// A failure code that is never 0.
uint32_t LastErrorOr(uint32_t fallback) {
  const DWORD e = ::GetLastError();
  return e != ERROR_SUCCESS ? e : fallback;
}

std::wstring CommonNameOf(const TrustFunctions& f, PCCERT_CONTEXT cert) {
  char oid[] = szOID_COMMON_NAME;
  const DWORD n = f.CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, oid, nullptr, 0);
  if (n <= 1) return {};
  std::wstring name(n, L'\0');
  const DWORD got = f.CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, oid, name.data(), n);
  name.resize(got > 0 ? got - 1 : 0);  // without the terminating zero
  return name;
}

// The Authenticode policy over the signer's chain, built for code signing at
// `when` (none: now).
uint32_t CheckChain(const TrustFunctions& f, PCCERT_CONTEXT cert, FILETIME* when) {
  char codeSigning[] = szOID_PKIX_KP_CODE_SIGNING;
  LPSTR usages[] = {codeSigning};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof(para);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!f.CertGetCertificateChain(nullptr, cert, when, cert->hCertStore, &para, 0, nullptr, &chain) ||
      chain == nullptr)
    return LastErrorOr(static_cast<uint32_t>(CERT_E_CHAINING));
  ScopeGuard freeChain([&f, chain] { f.CertFreeCertificateChain(chain); });
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof(policy);
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  if (!f.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &policy, &status))
    return LastErrorOr(static_cast<uint32_t>(CERT_E_CHAINING));
  return status.dwError;
}

}  // namespace

SignatureFacts ReadSignature(const std::wstring& path) {
  SignatureFacts facts;
  const LoadedTrust& trust = Trust();
  if (trust.error != 0) {
    facts.systemError = trust.error;
    return facts;
  }
  const TrustFunctions& f = trust.functions;

  // The file stays open, and nobody may write to it, while it is examined.
  const std::wstring longPath = ToLongPathForm(path);
  FileHandle file(::CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    facts.systemError = LastErrorOr(ERROR_OPEN_FAILED);
    return facts;
  }

  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof(info);
  info.pcwszFilePath = longPath.c_str();
  info.hFile = file.get();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  // No revocation checking of its own: the system's policy decides.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE: there is no interactive user to ask.
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  facts.trustResult = static_cast<uint32_t>(f.WinVerifyTrust(noWindow, &action, &data));
  ScopeGuard release([&] {
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    f.WinVerifyTrust(noWindow, &action, &data);
  });

  CRYPT_PROVIDER_DATA* provider =
      data.hWVTStateData != nullptr ? f.WTHelperProvDataFromStateData(data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer =
      provider != nullptr ? f.WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer != nullptr ? f.WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (leaf == nullptr || leaf->pCert == nullptr) return facts;

  PCCERT_CONTEXT cert = leaf->pCert;
  facts.signerKnown = true;
  facts.commonName = CommonNameOf(f, cert);
  uint32_t hashError = 0;
  const std::string thumbprint = Sha256Hex(cert->pbCertEncoded, cert->cbCertEncoded, &hashError);
  if (thumbprint.empty()) {
    facts.systemError = hashError;
    return facts;
  }
  facts.thumbprint.assign(thumbprint.begin(), thumbprint.end());
  if (facts.trustResult != 0) return facts;

  FILETIME& verifiedAt = signer->sftVerifyAsOf;
  const bool timeKnown = verifiedAt.dwLowDateTime != 0 || verifiedAt.dwHighDateTime != 0;
  facts.chainResult = CheckChain(f, cert, timeKnown ? &verifiedAt : nullptr);
  return facts;
}

}  // namespace prereq
