// Which string-table texts tell the user what failed and why. The texts
// themselves are read back from the windows in the end-to-end tests; here a
// table of markers shows which text was chosen and what went into it.
#include <gtest/gtest.h>

#include <string>

#include "acquisition/FailureTextRules.h"
#include "acquisition/TransferRules.h"
#include "resources/resource.h"

using namespace prereq;

namespace {

std::wstring Marker(uint32_t id) {
  switch (id) {
    case IDS_DOWNLOAD_FAILED: return L"failed(%s: %s)";
    case IDS_DOWNLOAD_REJECTED: return L"rejected(%s: %s)";
    case IDS_INSTALL_ENDED_WITH_CODE: return L"ended(%s: %s)";
    case IDS_INSTALL_NOT_STARTED: return L"not started(%s: %s)";
    case IDS_INSTALL_NEEDS_RESTART: return L"restart(%s)";
    case IDS_ERROR_NUMBER: return L"error %s";
    case IDS_REASON_HTTP_OTHER: return L"status %s";
    case IDS_MANUAL_DOWNLOAD: return L"open(%s)";
    default: return L"#" + std::to_wstring(id);
  }
}
const StringLookup kStrings = Marker;

std::wstring Id(uint32_t id) { return L"#" + std::to_wstring(id); }

TEST(FailureText, CodesAreDecimalUpToTheSignBitThenHexadecimal) {
  const std::pair<uint32_t, std::wstring> cases[] = {
      {0, L"0"},
      {1603, L"1603"},
      {0x7FFFFFFF, L"2147483647"},
      {0x80000000, L"0x80000000"},
      {0xC0000005, L"0xC0000005"},
      {0xFFFFFFFF, L"0xFFFFFFFF"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(CodeText(code), text) << code;
}

TEST(FailureText, ReasonOfATransferResult) {
  struct Case {
    uint32_t code;
    uint32_t httpStatus;
    std::wstring reason;
  };
  const Case cases[] = {
      // One code stands for three answers; the status tells which.
      {kTransferNotFound, 404, Id(IDS_REASON_HTTP_404)},
      {kTransferNotFound, 400, Id(IDS_REASON_HTTP_400)},
      {kTransferNotFound, 410, Id(IDS_REASON_HTTP_410)},
      {kTransferNotFound, 0, Id(IDS_REASON_HTTP_404)},
      {kTransferForbidden, 403, Id(IDS_REASON_HTTP_403)},
      {kTransferNotModified, 304, Id(IDS_REASON_HTTP_304)},
      // An answer the engine cannot use: its status when it is one of an
      // error or a redirect (300 to 999), otherwise "could not be understood".
      {kInetInvalidServerResponse, 299, Id(IDS_REASON_BAD_ANSWER)},
      {kInetInvalidServerResponse, 300, L"status 300"},
      {kInetInvalidServerResponse, 500, L"status 500"},
      {kInetInvalidServerResponse, 999, L"status 999"},
      {kInetInvalidServerResponse, 1000, Id(IDS_REASON_BAD_ANSWER)},
      {kInetInvalidServerResponse, 0, Id(IDS_REASON_BAD_ANSWER)},
      // The status of a good answer does not colour other failures.
      {kTransferDataEndedEarly, 200, Id(IDS_REASON_CONNECTION_BROKE)},
      {kTransferSizeMismatch, 200, Id(IDS_REASON_SIZE_ANNOUNCED)},
      {kInetHttpsToHttpOnRedirect, 301, Id(IDS_REASON_HTTPS_TO_HTTP)},
      // A system error of a refused logon, and the library's own.
      {1326, 0, Id(IDS_REASON_CREDENTIALS_REFUSED)},
      {86, 0, Id(IDS_REASON_CREDENTIALS_REFUSED)},  // ERROR_INVALID_PASSWORD
      {kInetLoginFailure, 0, Id(IDS_REASON_CREDENTIALS_REFUSED)},
      {kInetTimeout, 0, Id(IDS_REASON_TIMEOUT)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DownloadFailureReason(kStrings, c.code, c.httpStatus, L"system text"), c.reason)
        << c.code << " " << c.httpStatus;
}

TEST(FailureText, OtherCodesTakeTheSystemsTextOrTheirNumber) {
  struct Case {
    uint32_t code;
    std::wstring systemText;
    std::wstring reason;
  };
  const Case cases[] = {
      // A clause of the sentence: without the full stop and line break.
      {5, L"Access is denied.\r\n", L"Access is denied"},
      {3, L"The system cannot find the path specified.", L"The system cannot find the path specified"},
      {112, L"There is not enough space on the disk", L"There is not enough space on the disk"},
      {5, L"", L"error 5"},
      {5, L". \r\n", L"error 5"},
      {kInetExtendedError, L"", L"error 12003"},
      {0xE0000099, L"", L"error 0xE0000099"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DownloadFailureReason(kStrings, c.code, 0, c.systemText), c.reason) << c.code;
}

TEST(FailureText, SentencesNameWhatFailed) {
  EXPECT_EQ(DownloadFailedText(kStrings, L"Example Runtime 4.8", kTransferNotFound, 404, L""),
            L"failed(Example Runtime 4.8: " + Id(IDS_REASON_HTTP_404) + L")");
  EXPECT_EQ(DownloadFailedText(kStrings, L"50% off", 5, 0, L"Access is denied."),
            L"failed(50% off: Access is denied)");

  const std::pair<Acceptance, uint32_t> verdicts[] = {
      {Acceptance::WrongSizeOrMd5, IDS_REJECTED_SIZE_OR_MD5},
      {Acceptance::WrongSha256, IDS_REJECTED_SHA256},
      {Acceptance::MalformedSha256, IDS_REJECTED_SHA256_MALFORMED},
      {Acceptance::Sha256Unavailable, IDS_REJECTED_SHA256_UNAVAILABLE},
      {Acceptance::SignerRejected, IDS_REJECTED_SIGNER},
      {Acceptance::MalformedSigner, IDS_REJECTED_SIGNER_MALFORMED},
  };
  for (const auto& [verdict, id] : verdicts)
    EXPECT_EQ(DownloadRejectedText(kStrings, L"Tool", verdict), L"rejected(Tool: " + Id(id) + L")");

  struct PackageCase {
    PackageFailure failure;
    uint32_t code;
    std::wstring systemText;
    std::wstring text;
  };
  const PackageCase packages[] = {
      {PackageFailure::EndedWithCode, 1603, L"Fatal error during installation.", L"ended(Pkg: 1603)"},
      {PackageFailure::EndedWithCode, 0xC0000005, L"", L"ended(Pkg: 0xC0000005)"},
      {PackageFailure::NotStarted, 2, L"The system cannot find the file specified.",
       L"not started(Pkg: The system cannot find the file specified)"},
      {PackageFailure::NotStarted, 0x80073CF3, L"", L"not started(Pkg: error 0x80073CF3)"},
      {PackageFailure::NeedsRestart, 3010, L"", L"restart(Pkg)"},
  };
  for (const PackageCase& c : packages)
    EXPECT_EQ(PackageFailedText(kStrings, L"Pkg", c.failure, c.code, c.systemText), c.text);
}

TEST(FailureText, TheListsManualDownloadTextReplacesTheDefault) {
  EXPECT_EQ(ManualDownloadText(kStrings, L"", L"Designer"), L"open(Designer)");
  EXPECT_EQ(ManualDownloadText(kStrings, L"Get %s from the site.", L"Designer"),
            L"Get Designer from the site.");
  EXPECT_EQ(ManualDownloadText(kStrings, L"Fetch it by hand.", L"Designer"), L"Fetch it by hand.");
}

}  // namespace
