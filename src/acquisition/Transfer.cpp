#include "acquisition/Transfer.h"

#include <winnetwk.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "acquisition/Sha256.h"
#include "platform/core/LinkFreePaths.h"
#include "platform/core/PathForms.h"

namespace prereq {

namespace {

// Each read asks for at most this much.
constexpr DWORD kBlockSize = 51200;
// Blocks are gathered and written to the part file in pieces of at least
// this size (the last one of a download can be smaller).
constexpr DWORD kWriteSize = 1 << 20;
constexpr DWORD kChunkCapacity = kWriteSize + kBlockSize;
// Internal: the body brought more than the server announced.
constexpr uint32_t kDeletedPart = 0xFFFFFFFF;
// Internal: a body without a length brought more than the expected size.
constexpr uint32_t kBeyondExpectedSize = 0xFFFFFFFE;
constexpr DWORD kPollMilliseconds = 10;
// How long a closed handle may take to report its end. WinINet reports it
// once every operation on the handle has finished, which for an operation
// still waiting for a stalled server can take as long as the server stalls:
// then the wait is short, and the state (with the read buffer) is given up
// instead of freed.
constexpr DWORD kClosingWaitMilliseconds = 10000;
constexpr DWORD kClosingWaitPendingMilliseconds = 100;
// Answers "send again" to certificate errors, rounds of credentials per
// request: a server that keeps refusing ends the request instead of looping.
constexpr int kMaxCertificateAnswers = 4;
constexpr int kMaxCredentialRounds = 3;

// Reload, no cache write, keep the connection; redirects are not followed by
// the library (the engine follows them itself: a cap, the schemes, a log
// line each). The flags that let the library go from https to http and back
// have no effect without its redirects, and are not set.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT;

// The library's functions; loaded before anything of a download runs.
const WinInetFunctions& Inet() { return *WinInet(); }

uint32_t LastError() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_INTERNET_INTERNAL_ERROR;
}

// The library's last response text of the calling thread.
std::wstring ResponseTextOfThisThread() {
  std::wstring text(1000, L'\0');
  for (;;) {
    DWORD error = 0;
    DWORD length = static_cast<DWORD>(text.size());
    if (Inet().InternetGetLastResponseInfoW(&error, text.data(), &length)) {
      // Wine counts the terminating zero in the length.
      text.resize(::wcsnlen(text.data(), std::min<size_t>(length, text.size())));
      return text;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= text.size()) return {};
    text.assign(length + 1, L'\0');
  }
}

bool QueryHeader(HINTERNET request, DWORD id, std::wstring& value) {
  std::wstring buffer(256, L'\0');
  for (;;) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (Inet().HttpQueryInfoW(request, id, buffer.data(), &bytes, nullptr)) {
      buffer.resize(bytes / sizeof(wchar_t));
      value = std::move(buffer);
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
  }
}

bool SizeOfFile(const std::wstring& path, uint64_t& size) {
  FileHandle file(::CreateFileW(ToLongPathForm(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER value{};
  if (!file || !::GetFileSizeEx(file.get(), &value)) return false;
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

}  // namespace

// Everything the status callback touches. Lives on the heap, is reached by
// the callback only through the registry below (by an id that is never used
// twice), and holds the read buffer and the library's out-values, so that an
// operation that completes after the transfer gave up still writes into
// valid memory.
struct Transfer::AsyncState {
  DWORD_PTR id = 0;
  KernelHandle completion;     // manual reset: the pending operation completed
  KernelHandle handleClosing;  // manual reset: the awaited handle reported its end
  // Result of the last completed operation.
  DWORD_PTR result = 0;
  DWORD error = 0;
  uint32_t pendingKind = 0;
  bool pending = false;    // an operation was started and has not completed
  bool completed = false;
  bool completionSignalled = false;  // the completion event is set
  HINTERNET newHandle = nullptr;  // a handle delivered by a completion
  bool connectionClosed = false;
  // The byte count a library thread reported (INTERNET_STATUS_RESPONSE_RECEIVED)
  // while a read was pending; see Transfer::ReadBlock.
  bool receivedReported = false;
  DWORD receivedCount = 0;
  std::wstring lastResponse;
  HINTERNET closingHandle = nullptr;
  bool closingSeen = false;
  // Out-values of the library: valid until the operation completes. A read
  // goes straight into one of the two chunks the part file is written from.
  DWORD bytesRead = 0;
  DWORD available = 0;
  std::unique_ptr<uint8_t[]> chunks[2];
};

namespace {

using AsyncState = Transfer::AsyncState;

// The system's SHA-256 over the bytes as they are written.
class Sha256Sink : public DigestSink {
 public:
  bool ok() const { return sha256_.ok(); }
  void Update(const uint8_t* data, size_t size) override { sha256_.Update(data, size); }
  // 64 lower-case hexadecimal characters; empty when the system failed.
  std::string FinishHex() { return sha256_.FinishHex(); }

 private:
  Sha256 sha256_;
};

// The live states by id. Callbacks run under its lock, so a state that has
// left the registry is never touched again.
class CallbackRegistry {
 public:
  static CallbackRegistry& Instance() {
    static CallbackRegistry* registry = new CallbackRegistry;  // callbacks may outlive statics
    return *registry;
  }
  CriticalSection lock;

  DWORD_PTR Add(AsyncState* state) {
    CriticalSectionLock hold(lock);
    state->id = nextId_++;
    live_.push_back(state);
    return state->id;
  }
  void Remove(AsyncState* state) {
    CriticalSectionLock hold(lock);
    live_.erase(std::remove(live_.begin(), live_.end(), state), live_.end());
  }
  AsyncState* Find(DWORD_PTR id) const {
    for (AsyncState* state : live_)
      if (state->id == id) return state;
    return nullptr;
  }

 private:
  std::vector<AsyncState*> live_;
  DWORD_PTR nextId_ = 1;  // 0 would switch the callbacks off
};

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  CallbackRegistry& registry = CallbackRegistry::Instance();
  CriticalSectionLock hold(registry.lock);
  AsyncState* state = registry.Find(context);
  if (state == nullptr) return;
  switch (status) {
    case INTERNET_STATUS_CONNECTION_CLOSED:
      state->connectionClosed = true;
      break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      if (state->pending && state->pendingKind == static_cast<uint32_t>(AsyncKind::Read) && info != nullptr &&
          infoLength >= sizeof(DWORD)) {
        state->receivedReported = true;
        state->receivedCount = *static_cast<const DWORD*>(info);
      }
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (handle == state->closingHandle) {
        state->closingSeen = true;
        ::SetEvent(state->handleClosing.get());
      }
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      if (info == nullptr || infoLength < sizeof(INTERNET_ASYNC_RESULT) || !state->pending) break;
      const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      state->result = result->dwResult;
      state->error = result->dwError;
      if (AsyncKindCreatesHandle(state->pendingKind)) {
        state->newHandle = reinterpret_cast<HINTERNET>(result->dwResult);
        state->lastResponse = ResponseTextOfThisThread();
      } else if (state->pendingKind == static_cast<uint32_t>(AsyncKind::SendFtpCommand)) {
        state->lastResponse = ResponseTextOfThisThread();
      }
      state->pending = false;
      state->completed = true;
      state->completionSignalled = true;
      ::SetEvent(state->completion.get());
      break;
    }
    default:
      break;
  }
}

// The parts of a URL that the engine uses; user name and password decoded.
struct UrlParts {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring user;
  std::wstring password;
  std::wstring path;
  std::wstring extra;
};

uint32_t CrackUrl(const std::wstring& url, UrlParts& parts) {
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof(c);
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength = 1;
  c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  if (!Inet().InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &c)) return LastError();
  auto piece = [](const wchar_t* text, DWORD length) {
    return text != nullptr ? std::wstring(text, length) : std::wstring();
  };
  parts.scheme = c.nScheme;
  parts.host = piece(c.lpszHostName, c.dwHostNameLength);
  parts.port = c.nPort;
  parts.user = PercentDecode(piece(c.lpszUserName, c.dwUserNameLength));
  parts.password = PercentDecode(piece(c.lpszPassword, c.dwPasswordLength));
  parts.path = piece(c.lpszUrlPath, c.dwUrlPathLength);
  parts.extra = piece(c.lpszExtraInfo, c.dwExtraInfoLength);
  return 0;
}

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

// Lets a request be sent again past the certificate error the observer
// accepted; false when the library refuses.
bool AcceptCertificateError(HINTERNET request, uint32_t error) {
  if (error == kInetClientAuthCertNeeded)
    return Inet().InternetSetOptionW(request, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0) != FALSE;
  DWORD flags = 0, size = sizeof(flags);
  if (!Inet().InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) return false;
  if (error == kInetCertDateInvalid) flags |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  if (error == kInetCertNameInvalid) flags |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  if (error == kInetInvalidCa) flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  return Inet().InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)) != FALSE;
}

// The proxy server of the connection's settings.
std::wstring ProxyServerName(HINTERNET connection) {
  INTERNET_PER_CONN_OPTIONW option{};
  option.dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.dwOptionCount = 1;
  list.pOptions = &option;
  DWORD size = sizeof(list);
  if (!Inet().InternetQueryOptionW(connection, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size) &&
      !Inet().InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
    return {};
  std::wstring name = option.Value.pszValue != nullptr ? option.Value.pszValue : L"";
  if (option.Value.pszValue != nullptr) ::GlobalFree(option.Value.pszValue);
  return name;
}

}  // namespace

// A connection to a network share, cancelled again when the download ends.
class Transfer::ShareConnection {
 public:
  ShareConnection() = default;
  ~ShareConnection() {
    if (!name_.empty()) ::WNetCancelConnection2W(name_.c_str(), 0, FALSE);
  }
  ShareConnection(const ShareConnection&) = delete;
  ShareConnection& operator=(const ShareConnection&) = delete;

  uint32_t Connect(const std::wstring& share, const std::wstring& user, const std::wstring& password) {
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_DISK;
    std::wstring remote = share;
    resource.lpRemoteName = remote.data();
    const DWORD rc = ::WNetAddConnection2W(&resource, password.c_str(), user.c_str(), 0);
    if (rc == NO_ERROR && name_.empty()) name_ = share;
    return rc;
  }

 private:
  std::wstring name_;
};

namespace {

// Progress of a file URL's copy, reported at most every 200 milliseconds and
// at the end.
class CopyProgress {
 public:
  explicit CopyProgress(ProgressObserver* observer) : observer_(observer), last_(::GetTickCount()) {}
  void Copied(uint64_t done, bool end) {
    if (observer_ == nullptr) return;
    const DWORD now = ::GetTickCount();
    if (!end && now - last_ < 200) return;
    if (done > reported_) observer_->Progress(done - reported_);
    reported_ = done;
    last_ = now;
  }

 private:
  ProgressObserver* observer_;
  DWORD last_;
  uint64_t reported_ = 0;
};

}  // namespace

struct Transfer::Location {
  std::wstring url;
  UrlParts parts;
};

Transfer::Transfer(ProgressObserver* observer, CredentialsProvider* credentials)
    : observer_(observer), credentials_(credentials) {}

Transfer::~Transfer() { CloseSession(); }

bool Transfer::Cancelled() { return observer_ != nullptr && observer_->IsCancelled(); }

std::wstring Transfer::TargetName() const { return std::wstring(FileNamePart(targetPath_)); }

uint32_t Transfer::Report(uint32_t code) {
  if (observer_ != nullptr) observer_->ErrorReport(TargetName(), code, nullptr);
  return code;
}

// ---------------------------------------------------------------------------
// Internet handle, status callback, closing

uint32_t Transfer::OpenSession() {
  CloseSession();
  auto state = std::make_unique<AsyncState>();
  state->completion.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->completion) return LastError();
  state->handleClosing.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->handleClosing) return LastError();
  CallbackRegistry::Instance().Add(state.get());
  async_ = std::move(state);

  session_.reset(Inet().InternetOpenW(L"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                 INTERNET_FLAG_ASYNC));
  if (!session_) return LastError();
  if (Inet().InternetSetStatusCallbackW(session_.get(), StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
    return LastError();
  return 0;
}

void Transfer::CloseSession() {
  CloseRequest();
  if (session_) {
    Inet().InternetSetStatusCallbackW(session_.get(), nullptr);
    session_.reset();
  }
  if (async_ == nullptr) return;
  CallbackRegistry& registry = CallbackRegistry::Instance();
  // A handle that a late completion delivered after the request was given
  // up: nobody else will close it.
  InternetHandle late;
  {
    CriticalSectionLock hold(registry.lock);
    late.reset(std::exchange(async_->newHandle, nullptr));
  }
  CloseHandle(late);
  bool stillInUse;
  {
    CriticalSectionLock hold(registry.lock);
    stillInUse = async_->pending;
  }
  registry.Remove(async_.get());
  // An operation that never completed may still write into the buffer or the
  // out-values: that memory is given up rather than freed.
  if (stillInUse) (void)async_.release();
  async_.reset();
}

void Transfer::CloseRequest() {
  CloseHandle(current_);
  CloseHandle(connection_);
}

void Transfer::CloseHandle(InternetHandle& handle) {
  if (!handle) return;
  HINTERNET h = handle.release();
  if (async_ == nullptr) {
    Inet().InternetCloseHandle(h);
    return;
  }
  bool pending;
  {
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->closingHandle = h;
    async_->closingSeen = false;
    ::ResetEvent(async_->handleClosing.get());
    pending = async_->pending;
  }
  if (!Inet().InternetCloseHandle(h)) return;
  ::WaitForSingleObject(async_->handleClosing.get(),
                        pending ? kClosingWaitPendingMilliseconds : kClosingWaitMilliseconds);
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  // Once the handle reported its end, nothing of the library uses our memory
  // for it any more.
  if (async_->closingSeen) async_->pending = false;
  async_->closingHandle = nullptr;
}

// ---------------------------------------------------------------------------
// Asynchronous operations

// Only completions signal the completion event: a call that completes at
// once needs no wake-up, and under Wine every event call is a round trip to
// the server, paid per block.
void Transfer::Arm(AsyncKind kind) {
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  async_->pendingKind = static_cast<uint32_t>(kind);
  async_->pending = true;
  async_->completed = false;
  async_->result = 0;
  async_->error = 0;
  async_->newHandle = nullptr;
  async_->receivedReported = false;
  async_->receivedCount = 0;
  if (async_->completionSignalled) {
    ::ResetEvent(async_->completion.get());
    async_->completionSignalled = false;
  }
}

uint32_t Transfer::AwaitCompletion() {
  for (;;) {
    {
      CriticalSectionLock hold(CallbackRegistry::Instance().lock);
      if (async_->completed) return 0;
    }
    if (Cancelled()) return kTransferCancelled;
    ::WaitForSingleObject(async_->completion.get(), kPollMilliseconds);
  }
}

uint32_t Transfer::CompleteHandleCall(AsyncKind kind, HINTERNET immediate, InternetHandle& into) {
  const DWORD callError = ::GetLastError();
  if (immediate != nullptr) {
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->pending = false;
    // A completion sent from inside the call brings the same handle.
    if (async_->newHandle == immediate) async_->newHandle = nullptr;
    into.reset(immediate);
    return 0;
  }
  // Wine's FtpOpenFile answers NULL without an error and completes later.
  const bool later = callError == ERROR_IO_PENDING ||
                     (kind == AsyncKind::OpenFtpFile && callError == ERROR_SUCCESS);
  if (!later) {
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->pending = false;
    return callError != ERROR_SUCCESS ? callError : ERROR_INTERNET_INTERNAL_ERROR;
  }
  if (const uint32_t rc = AwaitCompletion()) return rc;
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  HINTERNET handle = std::exchange(async_->newHandle, nullptr);
  if (handle != nullptr) {
    into.reset(handle);
    return 0;
  }
  return async_->error != ERROR_SUCCESS ? async_->error : ERROR_INTERNET_INTERNAL_ERROR;
}

uint32_t Transfer::CompleteBoolCall(AsyncKind, BOOL immediate) {
  const DWORD callError = ::GetLastError();
  if (immediate || callError != ERROR_IO_PENDING) {
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->pending = false;
    if (!immediate) return callError != ERROR_SUCCESS ? callError : ERROR_INTERNET_INTERNAL_ERROR;
    return 0;
  }
  if (const uint32_t rc = AwaitCompletion()) return rc;
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  // A completed read, send or query tells its success in the result; the
  // error field of a query carries the amount available instead.
  if (async_->result != 0) return 0;
  return async_->error != ERROR_SUCCESS ? async_->error : ERROR_INTERNET_INTERNAL_ERROR;
}

std::wstring Transfer::LastResponseText() {
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  return async_->lastResponse;
}

uint32_t Transfer::FtpCommandReply(const std::wstring& command, std::wstring& reply) {
  Arm(AsyncKind::SendFtpCommand);
  const BOOL ok = Inet().FtpCommandW(connection_.get(), FALSE, FTP_TRANSFER_TYPE_ASCII, command.c_str(),
                                async_->id, nullptr);
  const bool immediate = ok != FALSE;
  const uint32_t rc = CompleteBoolCall(AsyncKind::SendFtpCommand, ok);
  if (immediate) {
    // Answered on this thread: the reply is this thread's response text.
    const std::wstring text = ResponseTextOfThisThread();
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->lastResponse = text;
  }
  reply = LastResponseText();
  return rc;
}

// ---------------------------------------------------------------------------
// Download

uint32_t Transfer::Download(const std::wstring& url, const std::wstring& targetPath) {
  urls_.assign(1, url);
  targetPath_ = targetPath;
  partPath_ = targetPath + L".part";
  CloseSession();
  resumable_ = true;
  httpStatus_ = 0;
  written_ = {};

  if (WinInet() == nullptr) return Report(WinInetLoadError());
  UrlParts parts;
  if (const uint32_t rc = CrackUrl(url, parts)) return Report(rc);
  switch (parts.scheme) {
    case INTERNET_SCHEME_FTP:
    case INTERNET_SCHEME_HTTP:
    case INTERNET_SCHEME_HTTPS:
      break;
    case INTERNET_SCHEME_FILE:
      resumable_ = false;
      break;
    default:
      return Report(kInetUnrecognizedScheme);
  }

  ScopeGuard closeAll([this] {
    CloseSession();
    share_.reset();
  });
  share_ = std::make_unique<ShareConnection>();
  if (const uint32_t rc = OpenSession()) return Report(rc);

  if (!IsAbsoluteTargetPath(targetPath_)) {
    if (observer_ != nullptr) observer_->ErrorReport(L"", kTransferPathNotAbsolute, nullptr);
    return kTransferPathNotAbsolute;
  }

  uint64_t resumePoint = 0;
  if (!resumeEnabled_ || !SizeOfFile(partPath_, resumePoint)) resumePoint = 0;
  // A part file longer than the file must be can never become it.
  if (expectedSize_ != 0 && resumePoint > expectedSize_) resumePoint = 0;

  uint64_t total = 0;
  bool copy = false;
  const uint32_t rc = Connect(resumePoint, total, copy);
  if (Cancelled()) return kTransferCancelled;
  if (rc != 0) {
    if (rc != kTransferNotModified && rc != kTransferCancelled) Report(rc);
    return rc;
  }
  if (expectedSize_ != 0 && total != 0 && expectedSize_ != total) return Report(kTransferSizeMismatch);

  return copy ? CopyFromFileUrl(total) : ReadBody(total, resumePoint);
}

uint32_t Transfer::Connect(uint64_t& resumePoint, uint64_t& total, bool& copy) {
  if (urls_.empty()) return kInetUnrecognizedScheme;
  if (credentials_ != nullptr) credentials_->Begin();
  uint32_t attempts = std::max<uint32_t>(retryBudget_, static_cast<uint32_t>(urls_.size() - 1));
  size_t index = 0;
  for (;;) {
    uint64_t point = resumePoint;
    const uint32_t rc = OpenUrl(urls_[index], point, total, copy);
    const bool nextLocation =
        IsUnreachableHost(rc) ||
        (urls_.size() > 1 && (rc == ERROR_PATH_NOT_FOUND || rc == kInetExtendedError ||
                              rc == kInetItemNotFound || rc == kInetFtpDropped || rc == kTransferNotFound));
    if (nextLocation && attempts > 0 && !Cancelled()) {
      --attempts;
      index = (index + 1) % urls_.size();
      CloseRequest();
      continue;
    }
    if (rc == 0) resumePoint = point;
    return rc;
  }
}

uint32_t Transfer::OpenUrl(const std::wstring& url, uint64_t& resumePoint, uint64_t& total, bool& copy) {
  Location where;
  where.url = url;
  if (const uint32_t rc = CrackUrl(url, where.parts)) return rc;
  switch (where.parts.scheme) {
    case INTERNET_SCHEME_FTP:
      return FtpOpen(where, resumePoint, total);
    case INTERNET_SCHEME_HTTP:
    case INTERNET_SCHEME_HTTPS:
      return HttpOpen(where, resumePoint, total);
    case INTERNET_SCHEME_FILE:
      copy = true;
      resumePoint = 0;
      return FileOpen(where, total);
    default:
      return kInetUnrecognizedScheme;
  }
}

// ---------------------------------------------------------------------------
// HTTP and HTTPS

// Asks for the location, following redirects: each one is logged, at most
// kMaxRedirects of them, to http and https only.
uint32_t Transfer::HttpOpen(const Location& start, uint64_t& resumePoint, uint64_t& total) {
  Location where = start;
  int followed = 0;
  for (;;) {
    HttpAnswer answer = HttpAnswer::Final;
    std::wstring location;
    const uint32_t rc = HttpRequest(where, resumePoint, total, answer, location);
    if (rc != 0 || answer == HttpAnswer::Final) return rc;
    if (answer == HttpAnswer::Restart) {
      // The answer continues neither the part file nor the resource's
      // start: the part is dropped (a later run would only ask for the same
      // range again) and the whole resource is asked for once more.
      if (resumePoint == 0) return kInetInvalidServerResponse;
      DropPart();
      resumePoint = 0;
      continue;
    }
    const RedirectStep step = PlanRedirect(where.url, location, followed, downgradeAllowed_);
    if (logLine_ != nullptr) logLine_(step.logLine);
    if (!step.follow) return step.code;
    ++followed;
    where.url = step.url;
    if (const uint32_t crack = CrackUrl(where.url, where.parts)) return crack;
    if (where.parts.scheme != INTERNET_SCHEME_HTTP && where.parts.scheme != INTERNET_SCHEME_HTTPS)
      return kInetRedirectFailed;
  }
}

// One request: connect, open, send (again for certificates and credentials)
// and the plan for its answer.
uint32_t Transfer::HttpRequest(const Location& where, uint64_t& resumePoint, uint64_t& total,
                               HttpAnswer& answer, std::wstring& location) {
  CloseRequest();
  answer = HttpAnswer::Final;
  const UrlParts& p = where.parts;
  const bool secure = p.scheme == INTERNET_SCHEME_HTTPS;
  Arm(AsyncKind::Connect);
  HINTERNET connection = Inet().InternetConnectW(session_.get(), p.host.c_str(), p.port, OrNull(p.user),
                                                 OrNull(p.password), INTERNET_SERVICE_HTTP, 0, async_->id);
  if (const uint32_t rc = CompleteHandleCall(AsyncKind::Connect, connection, connection_)) return rc;

  const std::wstring object = p.path + p.extra;
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  Arm(AsyncKind::OpenRequest);
  HINTERNET request = Inet().HttpOpenRequestW(connection_.get(), L"GET", object.c_str(), L"HTTP/1.0", nullptr,
                                              acceptTypes, kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0),
                                              async_->id);
  if (const uint32_t rc = CompleteHandleCall(AsyncKind::OpenRequest, request, current_)) return rc;

  std::wstring headers = RequestHeaders(resumePoint, acceptEncoding_);
  if (credentials_ != nullptr) credentials_->Begin();
  int certificateAnswers = 0;
  int credentialRounds = 0;
  for (;;) {
    Arm(AsyncKind::SendRequest);
    const BOOL sent = Inet().HttpSendRequestW(current_.get(), OrNull(headers), static_cast<DWORD>(headers.size()),
                                              nullptr, 0);
    const uint32_t sendError = CompleteBoolCall(AsyncKind::SendRequest, sent);
    if (sendError == kTransferCancelled) return sendError;

    if (sendError == 0) {
      DWORD status = 0, size = sizeof(status);
      if (!Inet().HttpQueryInfoW(current_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                 &size, nullptr))
        return LastError();
      httpStatus_ = status;
      uint64_t contentLength = 0;
      std::wstring text;
      if (!QueryHeader(current_.get(), HTTP_QUERY_CONTENT_LENGTH, text) ||
          !ParseHeaderNumber(text, contentLength))
        contentLength = 0;
      std::wstring contentRange;
      if (!QueryHeader(current_.get(), HTTP_QUERY_CONTENT_RANGE, contentRange)) contentRange.clear();

      const ResponsePlan plan = PlanHttpResponse(status, contentLength, contentRange, resumePoint, expectedSize_);
      switch (plan.action) {
        case ResponsePlan::Action::Read:
        case ResponsePlan::Action::Complete:
          resumePoint = plan.resumePoint;
          total = plan.total;
          return 0;
        case ResponsePlan::Action::Fail:
          return plan.code;
        case ResponsePlan::Action::Restart:
          answer = HttpAnswer::Restart;
          return 0;
        case ResponsePlan::Action::Redirect:
          if (!QueryHeader(current_.get(), HTTP_QUERY_LOCATION, location)) location.clear();
          answer = HttpAnswer::Redirect;
          return 0;
        case ResponsePlan::Action::Authenticate:
          if (++credentialRounds > kMaxCredentialRounds) return kTransferCredentialsRequired;
          if (const uint32_t rc = Authenticate(where, status == HTTP_STATUS_PROXY_AUTH_REQ, credentialRounds))
            return rc;
          continue;
      }
    }

    if (IsCertificateError(sendError)) {
      const uint32_t reply =
          observer_ != nullptr ? observer_->ErrorReport(L"", sendError, current_.get()) : sendError;
      if (reply != 0) return reply;
      if (++certificateAnswers > kMaxCertificateAnswers || !AcceptCertificateError(current_.get(), sendError))
        return sendError;
      headers.clear();  // already part of the request
      continue;
    }
    return sendError;
  }
}

uint32_t Transfer::Authenticate(const Location& where, bool proxy, int round) {
  std::wstring challenge;
  if (!QueryHeader(current_.get(), proxy ? HTTP_QUERY_PROXY_AUTHENTICATE : HTTP_QUERY_WWW_AUTHENTICATE,
                   challenge))
    challenge.clear();
  const std::wstring realm = ParseRealm(challenge);
  const std::wstring serverName = proxy ? ProxyServerName(connection_.get()) : std::wstring();
  if (!AskForCredentials(current_.get(), where.url, realm, serverName, proxy, round == 1, nullptr, nullptr))
    return kTransferCredentialsRequired;
  return 0;
}

bool Transfer::AskForCredentials(HINTERNET handle, const std::wstring& url, const std::wstring& description,
                                 const std::wstring& serverName, bool proxy, bool allowStored,
                                 std::wstring* userOut, std::wstring* passwordOut) {
  if (credentials_ == nullptr) return false;
  std::wstring user, password;
  // Stored credentials are offered once; when the server refuses them the
  // user is asked.
  if (!allowStored || !credentials_->StoredCredentials(user, password)) {
    credentials_->SetUrl(url);
    credentials_->SetDescription(description);
    credentials_->SetServerName(serverName);
    const uint32_t answer = observer_ != nullptr
                                ? observer_->ErrorReport(url, kTransferCredentialsRequired, credentials_)
                                : kTransferCredentialsRequired;
    if (answer != kCredentialsEntered) return false;
    user.clear();
    password.clear();
    if (!credentials_->EnteredCredentials(user, password) || user.empty()) return false;
  }
  if (handle != nullptr &&
      (!Inet().InternetSetOptionW(handle, proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                             user.data(), static_cast<DWORD>(user.size() + 1)) ||
       !Inet().InternetSetOptionW(handle, proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                             password.data(), static_cast<DWORD>(password.size() + 1))))
    return false;
  if (userOut != nullptr) *userOut = user;
  if (passwordOut != nullptr) *passwordOut = password;
  credentials_->End();
  return true;
}

// ---------------------------------------------------------------------------
// FTP

uint32_t Transfer::FtpOpen(const Location& where, uint64_t& resumePoint, uint64_t& total, bool mayRestart) {
  CloseRequest();
  const UrlParts& p = where.parts;
  std::wstring user = p.user, password = p.password;
  for (int round = 1;; ++round) {
    Arm(AsyncKind::Connect);
    HINTERNET connection = Inet().InternetConnectW(session_.get(), p.host.c_str(), p.port, OrNull(user),
                                              OrNull(password), INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE,
                                              async_->id);
    const uint32_t rc = CompleteHandleCall(AsyncKind::Connect, connection, connection_);
    if (rc == 0) break;
    if (!IsFtpLoginFailure(rc) || round > kMaxCredentialRounds) return rc;
    if (!AskForCredentials(nullptr, where.url, L"FTP Server", L"", false, round == 1, &user, &password))
      return rc;
  }

  const std::wstring path = PercentDecode(p.path);
  // Binary type first: servers refuse REST and SIZE in ASCII mode.
  std::wstring reply;
  FtpCommandReply(L"TYPE I", reply);
  uint64_t announced = 0;
  if (FtpCommandReply(L"SIZE " + path, reply) != 0 || !ParseFtpSizeReply(reply, announced)) announced = 0;
  if (announced != 0 && resumePoint != 0) {
    // A part file as long as the file is complete; a longer one starts again.
    if (resumePoint == announced) {
      total = announced;
      return 0;
    }
    if (resumePoint > announced) resumePoint = 0;
  }
  if (resumePoint != 0) {
    const uint32_t rc = FtpCommandReply(L"REST " + std::to_wstring(resumePoint), reply);
    if (rc == kTransferCancelled) return rc;
    if (rc != 0 || FtpReplyNumber(reply) != 350) resumePoint = 0;
  }

  {
    // The reply to the retrieval is what the failure below is judged by.
    CriticalSectionLock hold(CallbackRegistry::Instance().lock);
    async_->lastResponse.clear();
  }
  Arm(AsyncKind::OpenFtpFile);
  ::SetLastError(ERROR_SUCCESS);
  HINTERNET file = Inet().FtpOpenFileW(connection_.get(), path.c_str(), GENERIC_READ,
                                  FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, async_->id);
  if (const uint32_t rc = CompleteHandleCall(AsyncKind::OpenFtpFile, file, current_)) {
    if (rc == kTransferCancelled) return rc;
    // A retrieval that failed at once answered on this thread; one that
    // completed later brought its reply with the completion.
    const std::wstring text = ResponseTextOfThisThread();
    {
      CriticalSectionLock hold(CallbackRegistry::Instance().lock);
      if (async_->lastResponse.empty() && !text.empty()) async_->lastResponse = text;
    }
    // A restart point the server took but cannot serve (beyond the file's
    // end): the part is dropped and the file fetched once from the start.
    if (resumePoint != 0 && mayRestart && FtpRetrieveRefused(LastResponseText())) {
      DropPart();
      resumePoint = 0;
      return FtpOpen(where, resumePoint, total, false);
    }
    return rc;
  }
  DWORD high = 0;
  const DWORD low = Inet().FtpGetFileSize(current_.get(), &high);
  uint64_t size = 0;
  if (low != INVALID_FILE_SIZE || ::GetLastError() == NO_ERROR) size = (static_cast<uint64_t>(high) << 32) | low;
  total = size != 0 ? size : announced;
  if (total != 0 && resumePoint != 0 && resumePoint == total) {
    CloseHandle(current_);  // nothing to read
    return 0;
  }
  if (total != 0 && resumePoint != 0 && resumePoint > total) {
    if (!mayRestart) return kTransferResumeBeyondEnd;
    resumePoint = 0;
    return FtpOpen(where, resumePoint, total, false);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// File URLs and network shares

uint32_t Transfer::FileOpen(const Location& where, uint64_t& total) {
  sourcePath_ = FileUrlPath(where.url);
  const std::wstring share = ShareOfUncPath(sourcePath_);
  if (!where.parts.user.empty() && !share.empty())
    share_->Connect(share, where.parts.user, where.parts.password);

  for (int round = 1;; ++round) {
    if (sourcePath_.empty()) return ERROR_INVALID_PARAMETER;
    if (!IsAbsoluteTargetPath(sourcePath_) || (sourcePath_[1] != L':' && share.empty()))
      return ERROR_PATH_NOT_FOUND;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(ToLongPathForm(sourcePath_).c_str(), GetFileExInfoStandard, &data)) {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
      total = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      return 0;
    }
    const uint32_t rc = LastError();
    const bool logon = rc == ERROR_INVALID_PASSWORD || rc == ERROR_LOGON_FAILURE || rc == ERROR_BAD_USERNAME;
    if (!logon || share.empty() || round > kMaxCredentialRounds) return rc;
    std::wstring user, password;
    if (!AskForCredentials(nullptr, where.url, L"Local Network Server", L"", false, round == 1, &user,
                           &password))
      return rc;
    share_->Connect(share, user, password);
  }
}

uint32_t Transfer::CopyFromFileUrl(uint64_t total) {
  if (observer_ != nullptr) observer_->Start(1, total, targetPath_);
  if (Cancelled()) return kTransferCancelled;
  if (const uint32_t rc = CreateParentFolders(partPath_)) return Report(rc);
  if (observer_ != nullptr) observer_->Progress(0);
  FileHandle source(::CreateFileW(ToLongPathForm(sourcePath_).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source) return Report(LastError());
  // The part file is written never through a link (it lies in a folder that
  // others may write).
  LinkFreeFile part;
  if (const uint32_t rc =
          OpenFileLinkFree(partPath_, GENERIC_WRITE, 0, LinkFreeDisposition::CreateAlways, part))
    return Report(rc);
  CopyProgress progress(observer_);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kWriteSize]);
  uint64_t copied = 0;
  uint32_t rc = 0;
  for (;;) {
    if (Cancelled()) {
      rc = kTransferCancelled;
      break;
    }
    DWORD got = 0;
    if (!::ReadFile(source.get(), buffer.get(), kWriteSize, &got, nullptr)) {
      rc = LastError();
      break;
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!::WriteFile(part.file.get(), buffer.get(), got, &put, nullptr) || put != got) {
      rc = LastError();
      break;
    }
    copied += got;
    progress.Copied(copied, false);
    // A source that grows beyond the length it had: not the file that was
    // looked at.
    if (total != 0 && copied > total) {
      rc = kTransferDataEndedEarly;
      break;
    }
  }
  part.Release();
  if (rc == 0 && total != 0 && copied != total) rc = kTransferDataEndedEarly;  // it changed meanwhile
  if (rc != 0) {
    DeleteFileLinkFree(partPath_);
    return rc == kTransferCancelled ? rc : Report(rc);
  }
  progress.Copied(copied, true);
  return PutPartInPlace();
}

// ---------------------------------------------------------------------------
// Body

// Gathers the blocks read into large writes of the part file, and hands every
// piece written to the digests. The file always holds a prefix of the data:
// pieces go in order, and the file position is the end of what was written.
class Transfer::PartWriter {
 public:
  // With `alternate` the two chunks are filled in turn (while one is hashed,
  // the next fills); without it only the first one is used.
  PartWriter(HANDLE file, std::unique_ptr<uint8_t[]> (&chunks)[2], StreamDigest& digest, bool alternate)
      : file_(file), chunks_(chunks), digest_(digest), alternate_(alternate) {}

  // Room for one block.
  uint8_t* Space() { return chunks_[current_].get() + fill_; }

  // Takes the `size` bytes just read into Space(); writes once a piece is
  // gathered. 0 or the system's error.
  uint32_t Commit(DWORD size) {
    fill_ += size;
    return fill_ >= kWriteSize ? Flush() : 0;
  }

  // Writes what is gathered. Once the piece is handed to the digests the
  // other chunk is free again (see StreamDigest::Submit).
  uint32_t Flush() {
    if (fill_ == 0) return 0;
    const DWORD size = fill_;
    fill_ = 0;
    uint8_t* data = chunks_[current_].get();
    DWORD done = 0;
    if (!::WriteFile(file_, data, size, &done, nullptr) || done != size) return LastError();
    digest_.Submit(data, size);
    if (alternate_) current_ ^= 1;
    return 0;
  }

  // Feeds the first `length` bytes of the file (the part a download resumes)
  // to the digests, reading from the file's start. False when they cannot be
  // read.
  bool HashExisting(uint64_t length) {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN)) return false;
    while (length != 0) {
      const DWORD want = length < kWriteSize ? static_cast<DWORD>(length) : kWriteSize;
      uint8_t* data = chunks_[current_].get();
      DWORD got = 0;
      if (!::ReadFile(file_, data, want, &got, nullptr) || got != want) return false;
      digest_.Submit(data, got);
      if (alternate_) current_ ^= 1;
      length -= got;
    }
    return true;
  }

 private:
  HANDLE file_;
  std::unique_ptr<uint8_t[]> (&chunks_)[2];
  StreamDigest& digest_;
  const bool alternate_;
  int current_ = 0;
  DWORD fill_ = 0;
};

namespace {

// Room for the whole resource, reserved without moving the end of the file:
// the part file keeps holding exactly the bytes received, also when the
// process is ended before the transfer could cut it back. Where the file
// system cannot do that, nothing is reserved.
void ReserveSpace(HANDLE file, uint64_t position, uint64_t total) {
  if (total <= position) return;
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(total);
  const BOOL reserved = ::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof(allocation));
  LARGE_INTEGER size{}, at{};
  at.QuadPart = static_cast<LONGLONG>(position);
  if (reserved && (!::GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != position)) {
    // A file system that moved the end of the file: put it back.
    ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file);
  }
  ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

// The file ends where its data ends (the file position: pieces are written
// in order), and room reserved beyond it is given back.
void CutBackToPosition(HANDLE file) {
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return;
  ::SetEndOfFile(file);
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize = position;
  ::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof(allocation));
}

}  // namespace

uint32_t Transfer::ReadBody(uint64_t total, uint64_t resumePoint) {
  if (observer_ != nullptr) observer_->Start(1, total, targetPath_);
  if (Cancelled()) return kTransferCancelled;
  if (const uint32_t rc = CreateParentFolders(partPath_)) return Report(rc);

  // Never through a link: the part file lies in a folder that others may
  // write, and a link or a second name planted there would have the data
  // written elsewhere.
  LinkFreeFile partFile;
  if (const uint32_t rc = OpenFileLinkFree(
          partPath_, GENERIC_READ | GENERIC_WRITE, 0,
          resumePoint == 0 ? LinkFreeDisposition::CreateAlways : LinkFreeDisposition::OpenExisting, partFile)) {
    if (Cancelled()) return kTransferCancelled;
    return Report(rc);
  }
  FileHandle& part = partFile.file;
  Md5Sink md5;
  std::unique_ptr<Sha256Sink> sha256;
  StreamDigest digest;
  if (computeMd5_) digest.AddSink(&md5);
  if (computeSha256_) {
    sha256 = std::make_unique<Sha256Sink>();
    // Without the system's SHA-256 the acceptance check finds out itself.
    if (sha256->ok()) digest.AddSink(sha256.get());
    else sha256.reset();
  }
  const bool hashing = digest.HasSinks();
  bool digestValid = hashing;
  // The second chunk only serves hashing alongside the next reads.
  for (int k = 0; k < (hashing ? 2 : 1); ++k)
    if (!async_->chunks[k]) async_->chunks[k].reset(new uint8_t[kChunkCapacity]);
  PartWriter writer(part.get(), async_->chunks, digest, hashing);
  if (resumePoint != 0) {
    // The digest covers the part's bytes first. Then the data continues
    // exactly at the resume point, whatever the file grew to since its size
    // was taken.
    if (digestValid && !writer.HashExisting(resumePoint)) digestValid = false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(resumePoint);
    if (!::SetFilePointerEx(part.get(), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(part.get()))
      return Report(LastError());
  }
  ReserveSpace(part.get(), resumePoint, total);
  if (observer_ != nullptr) observer_->Progress(resumePoint);

  uint64_t written = resumePoint;
  // On every way out but success: what is gathered goes into the part file,
  // and the file ends where its data ends (which gives back reserved room).
  ScopeGuard keepPart([&] {
    if (!part) return;
    writer.Flush();
    CutBackToPosition(part.get());
  });
  // A part file that holds the whole resource has nothing more to read.
  if (total == 0 || resumePoint != total) {
    if (const uint32_t rc = ReadBodyInto(part.get(), writer, total, written)) {
      if (rc == kDeletedPart || rc == kBeyondExpectedSize) {
        partFile.Release();
        DeleteFileLinkFree(partPath_);
        return Report(rc == kDeletedPart ? kInetInvalidServerResponse : kTransferSizeMismatch);
      }
      return rc;
    }
  }
  if (const uint32_t rc = writer.Flush()) return Report(rc);

  keepPart.Dismiss();
  partFile.Release();
  digest.Finish();
  if (digestValid && digest.Bytes() == written) {
    written_.bytes = written;
    if (computeMd5_) written_.md5 = md5.FinalHex();
    if (sha256) written_.sha256 = sha256->FinishHex();  // empty when it failed
    written_.known = !written_.md5.empty() || !written_.sha256.empty();
  }
  const uint32_t rc = PutPartInPlace();
  if (rc != 0) written_ = {};
  return rc;
}

// One read of at most a block into `into`. Under Wine, WinINet sets the byte
// count of a read that goes pending to 0 on the calling thread after the call;
// when its own thread completes the read before that, the count of bytes
// already in the buffer is lost and the read looks like the end of the data.
// Its thread reports the count it read just before completing
// (INTERNET_STATUS_RESPONSE_RECEIVED): a pending read that completes with 0
// bytes after such a report of more is marked `countLost`.
uint32_t Transfer::ReadBlock(uint8_t* into, DWORD& got, bool& countLost) {
  got = 0;
  countLost = false;
  Arm(AsyncKind::Read);
  async_->bytesRead = 0;
  const BOOL done = Inet().InternetReadFile(current_.get(), into, kBlockSize, &async_->bytesRead);
  const bool pending = !done && ::GetLastError() == ERROR_IO_PENDING;
  if (const uint32_t rc = CompleteBoolCall(AsyncKind::Read, done)) return rc;
  CriticalSectionLock hold(CallbackRegistry::Instance().lock);
  got = std::min(async_->bytesRead, kBlockSize);
  countLost = pending && got == 0 && async_->receivedReported && async_->receivedCount != 0;
  return 0;
}

// Reads the body (and the bodies of reconnections) into the part file until
// the data ends. 0 at the end of the data, kDeletedPart when the part file no
// longer matches the resource, kBeyondExpectedSize when a body without a
// length goes beyond the expected size, otherwise the result to give
// (reported).
uint32_t Transfer::ReadBodyInto(HANDLE part, PartWriter& writer, uint64_t& total, uint64_t& written) {
  uint64_t sizeAtLastReconnect = UINT64_MAX;
  uint32_t idleReconnects = 0;
  bool flowing = false;  // the last read brought data
  for (;;) {
    // Wait until data is there, then take as much of it as fits a block: the
    // amount the query reports can be far smaller than what has arrived.
    // While reads keep bringing data, the next read goes ahead at once (one
    // that finds nothing completes later, like the query).
    uint32_t rc = 0;
    if (!flowing) {
      Arm(AsyncKind::QueryAvailable);
      rc = CompleteBoolCall(AsyncKind::QueryAvailable,
                            Inet().InternetQueryDataAvailable(current_.get(), &async_->available, 0, 0));
    }
    DWORD got = 0;
    bool countLost = false;
    if (rc == 0) rc = ReadBlock(writer.Space(), got, countLost);
    if (rc == kTransferCancelled) return rc;
    // A block whose size is unknown: the part file cannot take the data that
    // follows it; the rest comes from a new request at the part's end.
    if (countLost) rc = kInetConnectionAborted;
    flowing = rc == 0 && got != 0;

    if (rc == 0 && got != 0) {
      // More than the server announced: the part file no longer matches the
      // resource and cannot be continued.
      if (total != 0 && written + got > total) return kDeletedPart;
      // Without a length from the server the expected size is the limit: a
      // body that goes on beyond it (an endless one) is not read to its end.
      if (total == 0 && expectedSize_ != 0 && written + got > expectedSize_) return kBeyondExpectedSize;
      if (const uint32_t error = writer.Commit(got)) return Report(error);
      written += got;
      if (observer_ != nullptr) observer_->Progress(got);
      if (Cancelled()) return kTransferCancelled;
      continue;
    }

    // The end of the data, or an error. Without a length from the server the
    // expected size tells whether the data is complete.
    const uint64_t announced = total != 0 ? total : expectedSize_;
    const bool dropped = rc != 0 ? IsDroppedConnection(rc) : (announced != 0 && written < announced);
    if (rc == 0 && !dropped) return 0;
    if (!dropped) return Report(rc);
    if (!resumable_) return Report(rc != 0 ? rc : kTransferDataEndedEarly);
    // A server that drops the connection without sending anything more is
    // asked again only as often as the retry budget allows.
    if (written == sizeAtLastReconnect) {
      if (++idleReconnects > retryBudget_) return Report(rc != 0 ? rc : kTransferDataEndedEarly);
    } else {
      idleReconnects = 0;
      sizeAtLastReconnect = written;
    }

    if (const uint32_t error = writer.Flush()) return Report(error);
    ::FlushFileBuffers(part);
    uint64_t point = written;
    uint64_t newTotal = 0;
    bool copy = false;
    reconnecting_ = true;
    rc = Connect(point, newTotal, copy);
    reconnecting_ = false;
    if (rc == kTransferCancelled || Cancelled()) return kTransferCancelled;
    if (rc != 0) return Report(rc);
    if (newTotal != 0 && point == newTotal && point == written) {
      // The server has nothing after the part file: complete, unless the
      // first answer promised more.
      if (total != 0 && total != newTotal) return Report(kTransferResumeBeyondEnd);
      total = newTotal;
      return 0;
    }
    // The new answer must continue the part file, and describe the same
    // resource.
    if (point != written || (total != 0 && newTotal != 0 && newTotal != total)) return Report(kInetTimeout);
    if (total == 0) total = newTotal;
    flowing = false;
  }
}

void Transfer::DropPart() {
  // While a dropped body is reconnected the part file is open, and it is
  // started again from 0 by the read that follows.
  if (!reconnecting_) DeleteFileLinkFree(partPath_);
}

uint32_t Transfer::PutPartInPlace() {
  // Renamed into place, or copied over when that is not possible; never
  // through a link (see MoveIntoPlaceLinkFree).
  if (const uint32_t rc = MoveIntoPlaceLinkFree(partPath_, targetPath_)) return Report(rc);
  if (observer_ != nullptr) observer_->Done(0, 0);
  return 0;
}

}  // namespace prereq
