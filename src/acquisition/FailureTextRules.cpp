#include "acquisition/FailureTextRules.h"

#include "acquisition/TransferRules.h"
#include "platform/core/TextFormat.h"
#include "resources/resource.h"

namespace prereq {

namespace {

// System errors of a logon that was refused.
constexpr uint32_t kInvalidPassword = 86;
constexpr uint32_t kLogonFailure = 1326;
constexpr uint32_t kBadUserName = 2202;

// The string table's reason for a transfer result, or 0 when it has none.
uint32_t ReasonId(uint32_t code, uint32_t httpStatus) {
  switch (code) {
    case kTransferNotFound:
      // The code stands for 400, 404 and 410 alike; the status tells which.
      return httpStatus == 400 ? IDS_REASON_HTTP_400
             : httpStatus == 410 ? IDS_REASON_HTTP_410
                                 : IDS_REASON_HTTP_404;
    case kTransferForbidden: return IDS_REASON_HTTP_403;
    case kTransferNotModified: return IDS_REASON_HTTP_304;
    case kTransferCredentialsRequired: return IDS_REASON_CREDENTIALS_NEEDED;
    case kInetIncorrectUserName:
    case kInetIncorrectPassword:
    case kInetLoginFailure:
    case kInvalidPassword:
    case kLogonFailure:
    case kBadUserName:
      return IDS_REASON_CREDENTIALS_REFUSED;
    case kInetNameNotResolved: return IDS_REASON_NAME_NOT_RESOLVED;
    case kInetCannotConnect: return IDS_REASON_CANNOT_CONNECT;
    case kInetTimeout: return IDS_REASON_TIMEOUT;
    case kInetConnectionAborted:
    case kInetConnectionReset:
    case kWsaConnectionAborted:
    case kWsaConnectionReset:
    case kInetFtpDropped:
    case kInetDisconnected:
    case kTransferDataEndedEarly:
      return IDS_REASON_CONNECTION_BROKE;
    case kInetCertDateInvalid:
    case kInetCertNameInvalid:
    case kInetInvalidCa:
      return IDS_REASON_CERTIFICATE;
    case kInetClientAuthCertNeeded: return IDS_REASON_CLIENT_CERTIFICATE;
    case kTransferSizeMismatch: return IDS_REASON_SIZE_ANNOUNCED;
    case kInetUnrecognizedScheme: return IDS_REASON_SCHEME;
    case kInetItemNotFound: return IDS_REASON_NOT_ON_SERVER;
    case kTransferCancelled: return IDS_REASON_CANCELLED;
    case kInetHttpsToHttpOnRedirect: return IDS_REASON_HTTPS_TO_HTTP;
    case kTransferResumeBeyondEnd: return IDS_REASON_RESUME_BEYOND_END;
    case kTransferPathNotAbsolute: return IDS_REASON_PATH_NOT_ABSOLUTE;
    case kInetInvalidServerResponse: return IDS_REASON_BAD_ANSWER;
    default: return 0;
  }
}

// A system message as a clause: without the full stop and blanks at its end.
std::wstring_view Clause(std::wstring_view text) {
  while (!text.empty() && (text.back() == L'.' || text.back() == L' ' || text.back() == L'\r' ||
                           text.back() == L'\n'))
    text.remove_suffix(1);
  return text;
}

// The system's text for a code as a clause, else "error <code>".
std::wstring SystemReason(const StringLookup& strings, uint32_t code, std::wstring_view systemText) {
  const std::wstring_view clause = Clause(systemText);
  if (!clause.empty()) return std::wstring(clause);
  return Format(strings(IDS_ERROR_NUMBER), {CodeText(code)});
}

}  // namespace

std::wstring CodeText(uint32_t code) {
  if (code < 0x80000000u) return Format(L"%u", {code});
  return Format(L"0x%08X", {code});
}

std::wstring DownloadFailureReason(const StringLookup& strings, uint32_t code, uint32_t httpStatus,
                                   std::wstring_view systemText) {
  // An answer the engine could not use, from a server that answered with an
  // error status: the status says more.
  if (code == kInetInvalidServerResponse && httpStatus >= 300 && httpStatus <= 999)
    return Format(strings(IDS_REASON_HTTP_OTHER), {CodeText(httpStatus)});
  if (const uint32_t id = ReasonId(code, httpStatus)) return strings(id);
  return SystemReason(strings, code, systemText);
}

std::wstring DownloadFailedText(const StringLookup& strings, std::wstring_view name, uint32_t code,
                                uint32_t httpStatus, std::wstring_view systemText) {
  return Format(strings(IDS_DOWNLOAD_FAILED),
                {name, DownloadFailureReason(strings, code, httpStatus, systemText)});
}

std::wstring DownloadRejectedText(const StringLookup& strings, std::wstring_view name,
                                  Acceptance verdict) {
  uint32_t reason = IDS_REJECTED_SIZE_OR_MD5;
  switch (verdict) {
    case Acceptance::WrongSha256: reason = IDS_REJECTED_SHA256; break;
    case Acceptance::MalformedSha256: reason = IDS_REJECTED_SHA256_MALFORMED; break;
    case Acceptance::Sha256Unavailable: reason = IDS_REJECTED_SHA256_UNAVAILABLE; break;
    case Acceptance::MalformedSigner: reason = IDS_REJECTED_SIGNER_MALFORMED; break;
    case Acceptance::SignerRejected: reason = IDS_REJECTED_SIGNER; break;
    default: break;
  }
  return Format(strings(IDS_DOWNLOAD_REJECTED), {name, strings(reason)});
}

std::wstring PackageFailedText(const StringLookup& strings, std::wstring_view name,
                               PackageFailure failure, uint32_t code, std::wstring_view systemText) {
  switch (failure) {
    case PackageFailure::EndedWithCode:
      return Format(strings(IDS_INSTALL_ENDED_WITH_CODE), {name, CodeText(code)});
    case PackageFailure::NotStarted:
      return Format(strings(IDS_INSTALL_NOT_STARTED), {name, SystemReason(strings, code, systemText)});
    case PackageFailure::NeedsRestart:
      return Format(strings(IDS_INSTALL_NEEDS_RESTART), {name});
  }
  return {};
}

std::wstring ManualDownloadText(const StringLookup& strings, std::wstring_view listText,
                                std::wstring_view name) {
  return Format(listText.empty() ? strings(IDS_MANUAL_DOWNLOAD) : std::wstring(listText), {name});
}

}  // namespace prereq
