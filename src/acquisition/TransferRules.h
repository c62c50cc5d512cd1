#pragma once
// The platform-free rules of the transfer engine: its result codes, what an
// HTTP response means for the part file, and the texts it reads from servers
// (realms, FTP replies, content ranges, file URLs).
#include <cstdint>
#include <string>
#include <string_view>

namespace prereq {

// Result codes of a transfer besides 0 (success) and the system's and the
// internet library's error numbers.
inline constexpr uint32_t kTransferPathNotAbsolute = 0xE0000005;
inline constexpr uint32_t kTransferCancelled = 0xE0000008;
inline constexpr uint32_t kTransferDataEndedEarly = 0xE000000F;
inline constexpr uint32_t kTransferResumeBeyondEnd = 0xE0000010;
inline constexpr uint32_t kTransferCredentialsRequired = 0xE0000012;
inline constexpr uint32_t kTransferNotModified = 0xE0000013;
inline constexpr uint32_t kTransferForbidden = 0xE0000016;
inline constexpr uint32_t kTransferNotFound = 0xE0000018;
inline constexpr uint32_t kTransferSizeMismatch = 0xE0000023;

// Internet library errors the engine treats specially.
inline constexpr uint32_t kInetTimeout = 12002;
inline constexpr uint32_t kInetExtendedError = 12003;
inline constexpr uint32_t kInetUnrecognizedScheme = 12006;
inline constexpr uint32_t kInetNameNotResolved = 12007;
inline constexpr uint32_t kInetIncorrectUserName = 12013;
inline constexpr uint32_t kInetIncorrectPassword = 12014;
inline constexpr uint32_t kInetLoginFailure = 12015;
inline constexpr uint32_t kInetItemNotFound = 12028;
inline constexpr uint32_t kInetCannotConnect = 12029;
inline constexpr uint32_t kInetConnectionAborted = 12030;
inline constexpr uint32_t kInetConnectionReset = 12031;
inline constexpr uint32_t kInetCertDateInvalid = 12037;
inline constexpr uint32_t kInetCertNameInvalid = 12038;
inline constexpr uint32_t kInetClientAuthCertNeeded = 12044;
inline constexpr uint32_t kInetInvalidCa = 12045;
inline constexpr uint32_t kInetHttpsToHttpOnRedirect = 12040;
inline constexpr uint32_t kInetFtpDropped = 12111;
inline constexpr uint32_t kInetInvalidServerResponse = 12152;
inline constexpr uint32_t kInetRedirectFailed = 12156;
inline constexpr uint32_t kInetDisconnected = 12163;

// Socket errors that WinINet under Wine passes on as they are when a
// connection breaks off while a body is read.
inline constexpr uint32_t kWsaConnectionAborted = 10053;
inline constexpr uint32_t kWsaConnectionReset = 10054;

// Answer of an error report: credentials were entered.
inline constexpr uint32_t kCredentialsEntered = 1237;

// Kinds of asynchronous operation, as the status callback tells them apart.
enum class AsyncKind : uint32_t {
  Connect = 0,
  OpenFtpFile = 2,
  Read = 3,
  SendFtpCommand = 4,  // not "FtpCommand": <wininet.h> makes that name a macro
  OpenRequest = 6,
  SendRequest = 7,
  QueryAvailable = 8,
};
// Whether the completion of this kind carries a new handle in its result.
bool AsyncKindCreatesHandle(uint32_t kind);

// A target path must be at least 2 characters long and begin with two
// backslashes or have ":" as its second character.
bool IsAbsoluteTargetPath(std::wstring_view path);

// The name after the last backslash or slash.
std::wstring_view FileNamePart(std::wstring_view path);

// Errors after which a dropped body is fetched again from where it stopped:
// time-out, connection aborted or reset, disconnected (the library's codes,
// and the socket's own for an aborted or reset connection).
bool IsDroppedConnection(uint32_t error);
// Errors of the security layer that the observer may choose to accept.
bool IsCertificateError(uint32_t error);
// Errors for which the next location is tried (after the first attempt).
bool IsUnreachableHost(uint32_t error);
// FTP login failures, answered by asking for credentials.
bool IsFtpLoginFailure(uint32_t error);

// The realm of a WWW-Authenticate or Proxy-Authenticate value: the text after
// its first space is split at ","; the first item name=value whose name (blanks
// around it ignored) is "realm" in any case gives its value without one
// leading and one trailing double quote. Empty when there is none.
std::wstring ParseRealm(std::wstring_view header);

// The reply number of an FTP response text: the number before its first space
// (leading line ends and blanks skipped); -1 when there is none.
int FtpReplyNumber(std::wstring_view response);

// Whether the reply to a retrieval after an accepted REST refuses it for
// good (a 5xx reply, as "554 Invalid REST parameter" for a restart point
// beyond the file's end): the file is then asked for again from 0.
bool FtpRetrieveRefused(std::wstring_view response);

// The size in a "213 <size>" reply to SIZE; false for other replies.
bool ParseFtpSizeReply(std::wstring_view response, uint64_t& size);

// A decimal number of a header value (blanks around it allowed); false when
// the value is not one.
bool ParseHeaderNumber(std::wstring_view text, uint64_t& value);

// Content-Range of a 206 answer: "bytes <first>-<last>/<length or *>".
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t length = 0;  // 0 when the server gave "*"
};
bool ParseContentRange(std::wstring_view text, ContentRange& range);

// The length of a 416 answer's Content-Range: "bytes */<length>"; false for
// other texts.
bool ParseUnsatisfiedRange(std::wstring_view text, uint64_t& length);

// What the engine does with an HTTP answer to its GET.
struct ResponsePlan {
  enum class Action {
    Read,          // read the body into the part file from resumePoint on
    Fail,          // give `code`
    Authenticate,  // 401/407: ask for credentials and send again
    Restart,       // the answer cannot continue the part file: ask again from 0
    Complete,      // the part file already holds the whole resource (`total`
                   // bytes; resumePoint == total): nothing to read
    Redirect,      // 301, 302, 303, 307, 308: ask the answer's Location
  };
  Action action = Action::Fail;
  uint32_t code = 0;
  uint64_t resumePoint = 0;  // where the body goes in the part file
  uint64_t total = 0;        // the resource's length; 0 when unknown
};
// `contentLength` is 0 when the answer has none; `contentRange` is empty when
// the answer has none. `knownTotal` is the length the resource must have
// (the expected size), 0 when none is known.
//
// A part file as long as the resource (200 with that Content-Length, or 416
// whose Content-Range gives that length, or 416 without one when it is as
// long as `knownTotal`) is complete: it is put in place and the acceptance
// check decides. A part file longer than the resource starts again from 0
// (200: read the body from 0; 416: ask again without a range). A ranged
// request answered with any other failure status (not 2xx, 416, a redirect,
// 401 or 407) also asks again without a range (Restart): servers that do not
// take ranges answer 400 or 500.
ResponsePlan PlanHttpResponse(uint32_t status, uint64_t contentLength,
                              std::wstring_view contentRange, uint64_t resumePoint,
                              uint64_t knownTotal = 0);

// Redirects, which the engine follows itself. At most kMaxRedirects are
// followed per connection attempt; only to http and https, never to another
// scheme (file:, ftp:, ...) or a network share, since a share reached that way
// would be offered the user's credentials.
inline constexpr int kMaxRedirects = 10;
// A Location longer than this is not followed.
inline constexpr size_t kMaxRedirectLength = 8192;

// The absolute http or https URL a Location names, seen from `currentUrl` (an
// absolute http or https URL). A relative Location is resolved as a browser
// does (dot segments removed); the fragment is dropped; blanks around it are
// ignored and blanks inside become %20.
struct RedirectTarget {
  enum class Outcome {
    Follow,         // `url` is the next URL
    NotHttp,        // another scheme, or a backslash (a share or a Windows path)
    Malformed,      // empty, too long, control characters, no host
  };
  Outcome outcome = Outcome::Malformed;
  std::wstring url;
  bool downgrade = false;  // from https to http
};
RedirectTarget ResolveRedirect(std::wstring_view currentUrl, std::wstring_view location);

// What to do with one redirect answer: the decision and the log line that
// tells it.
struct RedirectStep {
  bool follow = false;
  std::wstring url;      // when followed: the next URL
  uint32_t code = 0;     // when not: kInetRedirectFailed, or
                         // kInetHttpsToHttpOnRedirect for a refused downgrade
  std::wstring logLine;  // "Redirected to:<url>", "Redirected from https to
                         // http:<url>", or a line beginning "Redirect refused"
                         // or "Too many redirects"
};
// `followed` redirects were followed before this one. A redirect from https
// to http is followed only with `downgradeAllowed` (the file's content is
// checked by a digest afterwards).
RedirectStep PlanRedirect(std::wstring_view currentUrl, std::wstring_view location, int followed,
                          bool downgradeAllowed);

// Text from a server made fit for one log line: control characters become
// "?", and text beyond `maxLength` characters is cut and ends in "...".
std::wstring PrintableForLog(std::wstring_view text, size_t maxLength = 512);

// The request headers: "Range: bytes=<n>-\r\n" when resuming, then
// "Accept-Encoding: <value>\r\n" when a value is set.
std::wstring RequestHeaders(uint64_t resumePoint, std::wstring_view acceptEncoding);

// Percent-decoding of a URL part; the decoded bytes are read as UTF-8 (as
// single bytes where they are not valid UTF-8).
std::wstring PercentDecode(std::wstring_view text);

// The local or network path a file URL names: "file:///C:/dir/x" and
// "file://C:/dir/x" give "C:\dir\x", "file://server/share/x" gives
// "\\server\share\x" (a user name and password before "@" are skipped),
// "file://localhost/C:/x" gives "C:\x"; percent escapes are decoded. Empty
// for other URLs.
std::wstring FileUrlPath(std::wstring_view url);

// "\\server\share" of a network path; empty for other paths.
std::wstring ShareOfUncPath(std::wstring_view path);

}  // namespace prereq
