#include "acquisition/TransferRules.h"

#include <string>

#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Digits only, no sign, no overflow.
bool ParseDigits(std::wstring_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + static_cast<uint64_t>(c - L'0');
  }
  value = v;
  return true;
}

void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

// Bytes as UTF-8 where they form valid sequences, single bytes otherwise.
void AppendBytes(std::wstring& out, const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    size_t n = 0;  // continuation bytes
    uint32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) n = 1, cp = b0 & 0x1F, min = 0x80;
    else if (b0 >= 0xE0 && b0 <= 0xEF) n = 2, cp = b0 & 0x0F, min = 0x800;
    else if (b0 >= 0xF0 && b0 <= 0xF4) n = 3, cp = b0 & 0x07, min = 0x10000;
    bool valid = n != 0 && i + n < bytes.size();
    for (size_t k = 1; valid && k <= n; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (valid) {
      AppendCodePoint(out, cp);
      i += n + 1;
    } else {
      out.push_back(static_cast<wchar_t>(b0));
      ++i;
    }
  }
}

bool IsDriveStart(std::wstring_view text) {
  return text.size() >= 2 && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
         (text[1] == L':' || text[1] == L'|') && (text.size() == 2 || text[2] == L'/' || text[2] == L'\\');
}

}  // namespace

bool AsyncKindCreatesHandle(uint32_t kind) {
  return kind == 0 || kind == 1 || kind == 2 || kind == 5 || kind == 6;
}

bool IsAbsoluteTargetPath(std::wstring_view path) {
  return path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
}

std::wstring_view FileNamePart(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

bool IsDroppedConnection(uint32_t error) {
  return error == kInetTimeout || error == kInetConnectionAborted || error == kInetConnectionReset ||
         error == kInetDisconnected || error == kWsaConnectionAborted || error == kWsaConnectionReset;
}

bool IsCertificateError(uint32_t error) {
  return error == kInetCertDateInvalid || error == kInetCertNameInvalid ||
         error == kInetClientAuthCertNeeded || error == kInetInvalidCa;
}

bool IsUnreachableHost(uint32_t error) {
  return error == kInetNameNotResolved || error == kInetCannotConnect;
}

bool IsFtpLoginFailure(uint32_t error) {
  return error == kInetIncorrectUserName || error == kInetIncorrectPassword || error == kInetLoginFailure;
}

std::wstring ParseRealm(std::wstring_view header) {
  const size_t space = header.find(L' ');
  if (space == std::wstring_view::npos) return {};
  std::wstring_view rest = header.substr(space + 1);
  while (true) {
    const size_t comma = rest.find(L',');
    const std::wstring_view item = rest.substr(0, comma);
    const size_t eq = item.find(L'=');
    if (eq != std::wstring_view::npos && EqualsNoCase(Trim(item.substr(0, eq)), L"realm")) {
      std::wstring_view value = Trim(item.substr(eq + 1));
      if (!value.empty() && value.front() == L'"') value.remove_prefix(1);
      if (!value.empty() && value.back() == L'"') value.remove_suffix(1);
      return std::wstring(value);
    }
    if (comma == std::wstring_view::npos) return {};
    rest.remove_prefix(comma + 1);
  }
}

bool FtpRetrieveRefused(std::wstring_view response) {
  const int reply = FtpReplyNumber(response);
  return reply >= 500 && reply <= 599;
}

int FtpReplyNumber(std::wstring_view response) {
  while (!response.empty() && IsBlank(response.front())) response.remove_prefix(1);
  const size_t end = response.find_first_of(L" \r\n");
  uint64_t number = 0;
  if (!ParseDigits(response.substr(0, end), number) || number > 999) return -1;
  return static_cast<int>(number);
}

bool ParseFtpSizeReply(std::wstring_view response, uint64_t& size) {
  if (FtpReplyNumber(response) != 213) return false;
  while (!response.empty() && IsBlank(response.front())) response.remove_prefix(1);
  std::wstring_view rest = response.substr(3);
  const size_t end = rest.find_first_of(L"\r\n");
  return ParseHeaderNumber(rest.substr(0, end), size);
}

bool ParseHeaderNumber(std::wstring_view text, uint64_t& value) { return ParseDigits(Trim(text), value); }

bool ParseContentRange(std::wstring_view text, ContentRange& range) {
  text = Trim(text);
  if (!StartsWithNoCase(text, L"bytes")) return false;
  text = Trim(text.substr(5));
  if (!text.empty() && text.front() == L'=') text = Trim(text.substr(1));  // seen in the wild
  const size_t dash = text.find(L'-');
  const size_t slash = text.find(L'/');
  if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || slash < dash) return false;
  ContentRange r;
  if (!ParseDigits(Trim(text.substr(0, dash)), r.first) ||
      !ParseDigits(Trim(text.substr(dash + 1, slash - dash - 1)), r.last) || r.last < r.first)
    return false;
  const std::wstring_view length = Trim(text.substr(slash + 1));
  if (length != L"*") {
    if (!ParseDigits(length, r.length) || r.length <= r.last) return false;
  }
  range = r;
  return true;
}

namespace {

// The end of a body of `length` bytes placed at `start`; 0 (unknown) without
// a length, and for a length no file can have (the sum would wrap and put
// the end before the start).
uint64_t EndOrUnknown(uint64_t start, uint64_t length) {
  if (length == 0 || length > UINT64_MAX - start) return 0;
  return start + length;
}

}  // namespace

bool ParseUnsatisfiedRange(std::wstring_view text, uint64_t& length) {
  text = Trim(text);
  if (!StartsWithNoCase(text, L"bytes")) return false;
  text = Trim(text.substr(5));
  if (!text.empty() && text.front() == L'=') text = Trim(text.substr(1));
  if (text.empty() || text.front() != L'*') return false;
  text = Trim(text.substr(1));
  if (text.empty() || text.front() != L'/') return false;
  return ParseDigits(Trim(text.substr(1)), length);
}

ResponsePlan PlanHttpResponse(uint32_t status, uint64_t contentLength,
                              std::wstring_view contentRange, uint64_t resumePoint,
                              uint64_t knownTotal) {
  ResponsePlan plan;
  auto fail = [&](uint32_t code) {
    plan.action = ResponsePlan::Action::Fail;
    plan.code = code;
    return plan;
  };
  auto read = [&](uint64_t from, uint64_t total) {
    plan.action = ResponsePlan::Action::Read;
    plan.resumePoint = from;
    plan.total = total;
    return plan;
  };
  auto complete = [&](uint64_t total) {
    plan.action = ResponsePlan::Action::Complete;
    plan.resumePoint = total;
    plan.total = total;
    return plan;
  };
  auto restart = [&] {
    plan.action = ResponsePlan::Action::Restart;
    return plan;
  };
  // A ranged request refused outright (400, 500, ... anything but success,
  // 416, a redirect or a question for credentials): many servers answer a
  // range they do not take that way, and every later try would send the same
  // range. The part is given up and the resource asked for whole.
  const bool success = status >= 200 && status < 300;
  const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  if (resumePoint != 0 && !success && !redirect && status != 416 && status != 401 && status != 407)
    return restart();
  switch (status) {
    case 200:
      // The whole resource: the part file starts again, unless it already
      // holds exactly the resource's length.
      if (contentLength != 0 && resumePoint == contentLength) return complete(contentLength);
      return read(0, contentLength);
    case 206: {
      if (contentRange.empty())  // trusted to start where we asked
        return read(resumePoint, EndOrUnknown(resumePoint, contentLength));
      ContentRange range;
      if (!ParseContentRange(contentRange, range)) return restart();
      if (range.first != resumePoint && range.first != 0) return restart();
      uint64_t total = range.length;
      if (total == 0) total = EndOrUnknown(range.first, contentLength);
      return read(range.first, total);
    }
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
      plan.action = ResponsePlan::Action::Redirect;
      return plan;
    case 304:
      return fail(kTransferNotModified);
    case 400:
    case 404:
    case 410:
      return fail(kTransferNotFound);
    case 403:
      return fail(kTransferForbidden);
    case 401:
    case 407:
      plan.action = ResponsePlan::Action::Authenticate;
      return plan;
    case 416: {
      // Nothing from the resume point on: the part file is complete when the
      // resource is as long as it; otherwise it cannot be continued.
      if (resumePoint == 0) return fail(kInetInvalidServerResponse);
      uint64_t length = 0;
      if (ParseUnsatisfiedRange(contentRange, length)) {
        if (length == resumePoint) return complete(length);
        return restart();
      }
      if (knownTotal != 0 && knownTotal == resumePoint) return complete(knownTotal);
      return restart();
    }
    default:
      if (status >= 200 && status < 300) return read(0, contentLength);
      return fail(kInetInvalidServerResponse);
  }
}

namespace {

bool IsSchemeChar(wchar_t c, bool first) {
  const bool alpha = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  if (first) return alpha;
  return alpha || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

// The scheme of a URL reference ("http" of "http://x"), empty when it has
// none.
std::wstring_view SchemeOf(std::wstring_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L':') return i == 0 ? std::wstring_view() : text.substr(0, i);
    if (!IsSchemeChar(text[i], i == 0)) return {};
  }
  return {};
}

struct HttpUrl {
  std::wstring scheme;  // "http" or "https"
  std::wstring authority;
  std::wstring path;   // from its "/" on; may be empty
  std::wstring query;  // from its "?" on; may be empty
};

// "//authority/path?query" (the fragment already removed).
void SplitAfterScheme(std::wstring_view rest, HttpUrl& url) {
  rest.remove_prefix(2);
  const size_t end = rest.find_first_of(L"/?");
  url.authority = std::wstring(rest.substr(0, end));
  rest = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end);
  const size_t q = rest.find(L'?');
  url.path = std::wstring(rest.substr(0, q));
  url.query = q == std::wstring_view::npos ? std::wstring() : std::wstring(rest.substr(q));
}

bool ParseHttpUrl(std::wstring_view text, HttpUrl& url) {
  text = text.substr(0, text.find(L'#'));
  const std::wstring_view scheme = SchemeOf(text);
  if (!EqualsNoCase(scheme, L"http") && !EqualsNoCase(scheme, L"https")) return false;
  std::wstring_view rest = text.substr(scheme.size() + 1);
  if (rest.substr(0, 2) != L"//") return false;
  url.scheme = EqualsNoCase(scheme, L"https") ? L"https" : L"http";
  SplitAfterScheme(rest, url);
  return true;
}

// The host of an authority ("user@host:port", "[v6]:port").
std::wstring_view HostOfAuthority(std::wstring_view authority) {
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == L'[') {
    const size_t close = authority.find(L']');
    return close == std::wstring_view::npos ? std::wstring_view() : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(L':'));
}

// RFC 3986, 5.2.4: "." and ".." segments of a path.
std::wstring RemoveDotSegments(std::wstring_view in) {
  std::wstring out;
  while (!in.empty()) {
    if (in.substr(0, 3) == L"../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == L"./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == L"/./") {
      in.remove_prefix(2);
    } else if (in == L"/.") {
      in = L"/";
    } else if (in.substr(0, 4) == L"/../" || in == L"/..") {
      in = in.size() == 3 ? std::wstring_view(L"/") : in.substr(3);
      const size_t slash = out.rfind(L'/');
      out.resize(slash == std::wstring::npos ? 0 : slash);
    } else if (in == L"." || in == L"..") {
      in = {};
    } else {
      const size_t next = in.find(L'/', 1);
      out.append(in.substr(0, next));
      in = next == std::wstring_view::npos ? std::wstring_view() : in.substr(next);
    }
  }
  return out;
}

}  // namespace

RedirectTarget ResolveRedirect(std::wstring_view currentUrl, std::wstring_view location) {
  RedirectTarget target;
  while (!location.empty() && (location.front() == L' ' || location.front() == L'\t')) location.remove_prefix(1);
  while (!location.empty() && (location.back() == L' ' || location.back() == L'\t')) location.remove_suffix(1);
  if (location.empty() || location.size() > kMaxRedirectLength) return target;
  for (wchar_t c : location) {
    if (c < 0x20 || c == 0x7F) return target;
    if (c == L'\\') {
      target.outcome = RedirectTarget::Outcome::NotHttp;
      return target;
    }
  }
  HttpUrl base;
  if (!ParseHttpUrl(currentUrl, base)) return target;

  std::wstring_view ref = location.substr(0, location.find(L'#'));
  HttpUrl next;
  const std::wstring_view scheme = SchemeOf(ref);
  if (!scheme.empty()) {
    if (!EqualsNoCase(scheme, L"http") && !EqualsNoCase(scheme, L"https")) {
      target.outcome = RedirectTarget::Outcome::NotHttp;
      return target;
    }
    if (!ParseHttpUrl(ref, next)) return target;
  } else if (ref.substr(0, 2) == L"//") {
    next.scheme = base.scheme;
    SplitAfterScheme(ref, next);
  } else {
    next.scheme = base.scheme;
    next.authority = base.authority;
    const size_t q = ref.find(L'?');
    const std::wstring_view path = ref.substr(0, q);
    const std::wstring_view query = q == std::wstring_view::npos ? std::wstring_view() : ref.substr(q);
    if (path.empty()) {
      next.path = base.path;
      next.query = q == std::wstring_view::npos ? base.query : std::wstring(query);
    } else if (path.front() == L'/') {
      next.path = std::wstring(path);
      next.query = std::wstring(query);
    } else {
      const size_t slash = base.path.rfind(L'/');
      next.path = (slash == std::wstring::npos ? std::wstring(L"/") : base.path.substr(0, slash + 1)) +
                  std::wstring(path);
      next.query = std::wstring(query);
    }
  }
  if (HostOfAuthority(next.authority).empty()) return target;
  next.path = RemoveDotSegments(next.path);
  if (next.path.empty() || next.path.front() != L'/') next.path.insert(0, 1, L'/');

  std::wstring url = next.scheme + L"://" + next.authority + next.path + next.query;
  target.url.reserve(url.size());
  for (wchar_t c : url) {
    if (c == L' ') {
      target.url += L"%20";
    } else {
      target.url.push_back(c);
    }
  }
  target.outcome = RedirectTarget::Outcome::Follow;
  target.downgrade = base.scheme == L"https" && next.scheme == L"http";
  return target;
}

RedirectStep PlanRedirect(std::wstring_view currentUrl, std::wstring_view location, int followed,
                          bool downgradeAllowed) {
  RedirectStep step;
  step.code = kInetRedirectFailed;
  const std::wstring shown = PrintableForLog(location);
  if (followed >= kMaxRedirects) {
    step.logLine = L"Too many redirects (more than " + std::to_wstring(kMaxRedirects) + L"), the last to:" + shown;
    return step;
  }
  const RedirectTarget target = ResolveRedirect(currentUrl, location);
  switch (target.outcome) {
    case RedirectTarget::Outcome::NotHttp:
      step.logLine = L"Redirect refused (only http and https are followed):" + shown;
      return step;
    case RedirectTarget::Outcome::Malformed:
      step.logLine = L"Redirect refused (not a usable location):" + shown;
      return step;
    case RedirectTarget::Outcome::Follow:
      break;
  }
  if (target.downgrade && !downgradeAllowed) {
    step.code = kInetHttpsToHttpOnRedirect;
    step.logLine = L"Redirect refused (from https to http, and no digest checks the file):" +
                   PrintableForLog(target.url);
    return step;
  }
  step.follow = true;
  step.code = 0;
  step.url = target.url;
  step.logLine = (target.downgrade ? L"Redirected from https to http:" : L"Redirected to:") +
                 PrintableForLog(target.url);
  return step;
}

std::wstring PrintableForLog(std::wstring_view text, size_t maxLength) {
  const bool cut = text.size() > maxLength;
  std::wstring out(text.substr(0, maxLength));
  for (wchar_t& c : out)
    if (c < 0x20 || c == 0x7F) c = L'?';
  if (cut) out += L"...";
  return out;
}

std::wstring RequestHeaders(uint64_t resumePoint, std::wstring_view acceptEncoding) {
  std::wstring headers;
  if (resumePoint != 0) headers += L"Range: bytes=" + std::to_wstring(resumePoint) + L"-\r\n";
  if (!acceptEncoding.empty()) {
    headers += L"Accept-Encoding: ";
    headers += acceptEncoding;
    headers += L"\r\n";
  }
  return headers;
}

std::wstring PercentDecode(std::wstring_view text) {
  std::wstring out;
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    int hi, lo;
    if (c == L'%' && i + 2 < text.size() && (hi = HexDigitValue(text[i + 1])) >= 0 &&
        (lo = HexDigitValue(text[i + 2])) >= 0) {
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      AppendBytes(out, bytes);
      bytes.clear();
      out.push_back(c);
    }
  }
  AppendBytes(out, bytes);
  return out;
}

std::wstring FileUrlPath(std::wstring_view url) {
  if (!StartsWithNoCase(url, L"file:")) return {};
  std::wstring_view rest = url.substr(5);
  std::wstring raw;
  if (rest.size() >= 2 && rest[0] == L'/' && rest[1] == L'/') {
    rest.remove_prefix(2);
    const size_t end = rest.find_first_of(L"/\\");
    std::wstring_view authority = rest.substr(0, end);
    std::wstring_view path = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring_view::npos) authority.remove_prefix(at + 1);
    if (authority.empty() || EqualsNoCase(authority, L"localhost")) {
      if (!path.empty() && IsDriveStart(path.substr(1))) path.remove_prefix(1);
      raw = path;
    } else if (IsDriveStart(authority)) {
      raw = std::wstring(authority) + std::wstring(path);
    } else {
      raw = L"//" + std::wstring(authority) + std::wstring(path);
    }
  } else {
    if (!rest.empty() && (rest[0] == L'/' || rest[0] == L'\\') && IsDriveStart(rest.substr(1)))
      rest.remove_prefix(1);
    raw = rest;
  }
  std::wstring path = PercentDecode(raw);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (IsDriveStart(path) && path[1] == L'|') path[1] = L':';
  return path;
}

std::wstring ShareOfUncPath(std::wstring_view path) {
  if (path.size() < 5 || path[0] != L'\\' || path[1] != L'\\') return {};
  const size_t serverEnd = path.find(L'\\', 2);
  if (serverEnd == std::wstring_view::npos || serverEnd == 2) return {};
  size_t shareEnd = path.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring_view::npos) shareEnd = path.size();
  if (shareEnd == serverEnd + 1) return {};
  return std::wstring(path.substr(0, shareEnd));
}

}  // namespace prereq
