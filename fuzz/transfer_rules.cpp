// The transfer rules: what an HTTP answer means for the part file (status,
// Content-Length, Content-Range, resume point), the header numbers, realms of
// authentication headers, FTP replies and the request headers. Input: lines
// status, Content-Length, resume point, Content-Range, authenticate header,
// FTP reply, Accept-Encoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "acquisition/TransferRules.h"

using namespace prereq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 7);
  const uint32_t status = static_cast<uint32_t>(fuzz::NumberOf(f[0]));
  uint64_t contentLength = 0;
  if (!ParseHeaderNumber(f[1], contentLength)) contentLength = 0;
  const uint64_t resumePoint = fuzz::NumberOf(f[2]);
  const std::wstring_view contentRange = f[3];

  ContentRange range;
  if (ParseContentRange(contentRange, range)) {
    fuzz::Check(range.first <= range.last, "range ends before it starts");
    fuzz::Check(range.length == 0 || range.length > range.last, "range beyond the length");
  }

  const ResponsePlan plan = PlanHttpResponse(status, contentLength, contentRange, resumePoint);
  switch (plan.action) {
    case ResponsePlan::Action::Read:
      fuzz::Check(status >= 200 && status < 300, "body read from a non-2xx answer");
      fuzz::Check(plan.resumePoint == 0 || plan.resumePoint == resumePoint,
                  "body placed elsewhere than asked or at 0");
      fuzz::Check(plan.total == 0 || plan.total >= plan.resumePoint, "total below the resume point");
      break;
    case ResponsePlan::Action::Fail:
      fuzz::Check(plan.code != 0, "failure without a code");
      break;
    case ResponsePlan::Action::Authenticate:
      fuzz::Check(status == 401 || status == 407, "authentication for another status");
      break;
    case ResponsePlan::Action::Restart:
      fuzz::Check(status == 206, "restart for another status");
      break;
  }

  const std::wstring realm = ParseRealm(f[4]);
  fuzz::Check(realm.size() <= f[4].size(), "realm longer than its header");

  const int reply = FtpReplyNumber(f[5]);
  fuzz::Check(reply >= -1 && reply <= 999, "FTP reply number out of range");
  uint64_t ftpSize = 0;
  if (ParseFtpSizeReply(f[5], ftpSize)) fuzz::Check(reply == 213, "SIZE answer without 213");

  const std::wstring headers = RequestHeaders(resumePoint, f[6]);
  if (resumePoint != 0)
    fuzz::Check(headers.rfind(L"Range: bytes=" + std::to_wstring(resumePoint) + L"-\r\n", 0) == 0,
                "Range header");
  else
    fuzz::Check(headers.find(L"Range:") == std::wstring::npos || !f[6].empty(), "Range at 0");
  return 0;
}
