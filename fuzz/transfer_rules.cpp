// The transfer rules: what an HTTP answer means for the part file (status,
// Content-Length, Content-Range, resume point, the known total), the header
// numbers, realms of authentication headers, FTP replies, the request
// headers and the redirects the engine follows itself. Input: lines status,
// Content-Length, resume point, Content-Range, authenticate header, FTP
// reply, Accept-Encoding, known total, current URL, Location.
#include <cstddef>
#include <cstdint>
#include <cwctype>
#include <string>

#include "FuzzText.h"
#include "acquisition/TransferRules.h"

using namespace prereq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideFrom(data, size);
  const auto f = fuzz::Fields(text, 10);
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

  const uint64_t knownTotal = fuzz::NumberOf(f[7]);
  uint64_t unsatisfied = 0;
  ParseUnsatisfiedRange(contentRange, unsatisfied);

  const ResponsePlan plan =
      PlanHttpResponse(status, contentLength, contentRange, resumePoint, knownTotal);
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
      // A part that the answer does not continue, or a ranged request
      // refused outright (not a success, a redirect or a question for
      // credentials): the whole resource is asked for again, once.
      fuzz::Check(status == 206 || status == 416 ||
                      (resumePoint != 0 && (status < 200 || status >= 300) && status != 401 &&
                       status != 407 && status != 301 && status != 302 && status != 303 &&
                       status != 307 && status != 308),
                  "restart for another status");
      break;
    case ResponsePlan::Action::Complete:
      fuzz::Check(status == 200 || status == 416, "complete part for another status");
      fuzz::Check(resumePoint != 0 && plan.total == resumePoint && plan.resumePoint == resumePoint,
                  "complete part that is not exactly the resource");
      break;
    case ResponsePlan::Action::Redirect:
      fuzz::Check(status == 301 || status == 302 || status == 303 || status == 307 || status == 308,
                  "redirect for another status");
      break;
  }

  // Redirects: only http and https are followed, at most kMaxRedirects times,
  // and nothing from the server reaches the log unprintable.
  const std::wstring_view current = f[8], location = f[9];
  auto isHttp = [](std::wstring_view url) {
    auto starts = [&](std::wstring_view scheme) {
      if (url.size() < scheme.size()) return false;
      for (size_t i = 0; i < scheme.size(); ++i)
        if (towlower(url[i]) != static_cast<wint_t>(scheme[i])) return false;
      return true;
    };
    return starts(L"http://") || starts(L"https://");
  };
  auto printable = [](std::wstring_view line) {
    for (wchar_t c : line)
      if (c < 0x20 || c == 0x7F) return false;
    return true;
  };
  // The current URL is one the engine asked already (from the configuration
  // or an earlier redirect); what the server adds must stay printable.
  const bool currentPlain = printable(current) && current.find(L'\\') == std::wstring_view::npos;
  const RedirectTarget target = ResolveRedirect(current, location);
  if (target.outcome == RedirectTarget::Outcome::Follow) {
    fuzz::Check(isHttp(target.url), "redirect to another scheme followed");
    fuzz::Check(!currentPlain ||
                    (target.url.find(L'\\') == std::wstring::npos && printable(target.url)),
                "redirect target with a backslash or a control character");
  }
  const int followed = static_cast<int>(status % 13);
  for (bool downgradeAllowed : {false, true}) {
    const RedirectStep step = PlanRedirect(current, location, followed, downgradeAllowed);
    fuzz::Check(!currentPlain || printable(step.logLine),
                "redirect log line with a control character");
    if (step.follow) {
      fuzz::Check(followed < kMaxRedirects, "more redirects followed than allowed");
      fuzz::Check(isHttp(step.url), "redirect followed to another scheme");
      fuzz::Check(downgradeAllowed || !target.downgrade, "https-to-http redirect without a digest");
    } else {
      fuzz::Check(step.code != 0, "redirect refused without a code");
    }
  }
  const std::wstring shown = PrintableForLog(location, 64);
  fuzz::Check(printable(shown) && shown.size() <= 64 + 3, "log text unprintable or too long");

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
