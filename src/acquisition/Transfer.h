#pragma once
// Fetches one resource into one local file: http, https and ftp through
// WinINet in asynchronous mode, file URLs and network shares by a file copy.
// Data goes into "<target>.part", which is moved into place at the end; an
// existing part file is continued (HTTP Range, FTP REST), dropped connections
// are resumed, unreachable hosts are tried again. Progress, errors and the
// questions for certificates and credentials go to the ProgressObserver, which
// can also cancel.
//
// What the part file holds is always exactly the bytes received so far, in
// order: blocks are gathered in memory and written in large pieces, and what
// is gathered is written before the transfer returns on any path; room for
// the whole resource is reserved up front where the file system allows it
// without moving the end of the file, and given back when the transfer fails.
// A part file that already holds the whole resource is put in place; one
// longer than the resource is started again from 0. HTTP redirects are
// followed by the engine itself (at most 10, to http and https only), each
// one logged.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/Credentials.h"
#include "acquisition/StreamDigest.h"
#include "acquisition/TransferRules.h"
#include "acquisition/WinInet.h"
#include "platform/core/Handles.h"
#include "ui/ProgressObserver.h"

namespace prereq {

class Transfer {
 public:
  // Both may be null: without an observer nothing is reported and nothing
  // cancels; without a provider, servers that ask for credentials fail.
  Transfer(ProgressObserver* observer, CredentialsProvider* credentials);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // The size the resource must announce; 0 = no check.
  void SetExpectedSize(uint32_t size) { expectedSize_ = size; }
  // The value of an "Accept-Encoding" request header; empty = none.
  void SetAcceptEncoding(const std::wstring& value) { acceptEncoding_ = value; }
  // Computes the MD5 and/or SHA-256 digest of the target while it is written
  // (on a resumed download, first over the part file's bytes);
  // WrittenDigest() gives them.
  void ComputeDigestsWhileWriting(bool md5, bool sha256) {
    computeMd5_ = md5;
    computeSha256_ = sha256;
  }
  // Follows a redirect from https to http (logged). Without it such a
  // redirect ends the transfer with 12040: only a digest checked afterwards
  // makes a file fetched in the clear trustworthy.
  void AllowHttpsToHttpRedirects(bool on) { downgradeAllowed_ = on; }
  // Where the engine's own log lines go (each redirect followed or refused);
  // none by default.
  using LogLineFn = void (*)(std::wstring_view line);
  void SetLogLine(LogLineFn logLine) { logLine_ = logLine; }

  // Fetches the URL into the target path. 0 on success, otherwise a system
  // or WinINet error number or one of the codes of TransferRules.h.
  uint32_t Download(const std::wstring& url, const std::wstring& targetPath);

  // The digests of the target of the last successful download; known only
  // when they were asked for and every byte of the target went through them
  // (never for a file URL's copy).
  const WrittenDigests& WrittenDigest() const { return written_; }
  // The HTTP status of the server's last answer in the last download; 0
  // when none came.
  uint32_t HttpStatus() const { return httpStatus_; }

  // Shared with WinINet's status callback; defined in Transfer.cpp.
  struct AsyncState;

 private:
  struct Location;
  class ShareConnection;
  class PartWriter;

  // Internet handle and status callback of one download.
  uint32_t OpenSession();
  void CloseSession();
  // Ends the current request and its connection.
  void CloseRequest();
  void CloseHandle(InternetHandle& handle);

  uint32_t Connect(uint64_t& resumePoint, uint64_t& total, bool& copy);
  uint32_t OpenUrl(const std::wstring& url, uint64_t& resumePoint, uint64_t& total, bool& copy);
  uint32_t HttpOpen(const Location& where, uint64_t& resumePoint, uint64_t& total);
  enum class HttpAnswer { Final, Redirect, Restart };
  uint32_t HttpRequest(const Location& where, uint64_t& resumePoint, uint64_t& total, HttpAnswer& answer,
                       std::wstring& location);
  uint32_t FtpOpen(const Location& where, uint64_t& resumePoint, uint64_t& total, bool mayRestart = true);
  uint32_t FileOpen(const Location& where, uint64_t& total);
  uint32_t Authenticate(const Location& where, bool proxy, int round);
  bool AskForCredentials(HINTERNET handle, const std::wstring& url, const std::wstring& description,
                         const std::wstring& serverName, bool proxy, bool allowStored,
                         std::wstring* user, std::wstring* password);

  uint32_t ReadBody(uint64_t total, uint64_t resumePoint);
  uint32_t ReadBodyInto(HANDLE part, PartWriter& writer, uint64_t& total, uint64_t& written);
  uint32_t ReadBlock(uint8_t* into, DWORD& got, bool& countLost);
  uint32_t CopyFromFileUrl(uint64_t total);
  uint32_t PutPartInPlace();
  // Deletes the part file: it can no longer be continued.
  void DropPart();

  // Asynchronous operations: arm, call, wait for the completion.
  void Arm(AsyncKind kind);
  uint32_t AwaitCompletion();
  uint32_t CompleteHandleCall(AsyncKind kind, HINTERNET immediate, InternetHandle& into);
  uint32_t CompleteBoolCall(AsyncKind kind, BOOL immediate);
  uint32_t FtpCommandReply(const std::wstring& command, std::wstring& reply);
  std::wstring LastResponseText();

  uint32_t Report(uint32_t code);
  bool Cancelled();
  std::wstring TargetName() const;

  // Fields in the order of the data model.
  InternetHandle current_;     // the open request or FTP file
  InternetHandle connection_;  // the connection the request was opened on
  ProgressObserver* observer_;
  bool reconnecting_ = false;
  CredentialsProvider* credentials_;
  std::wstring targetPath_;
  std::wstring partPath_;
  std::vector<std::wstring> urls_;
  std::unique_ptr<AsyncState> async_;  // results, pending kind, events, read buffer
  bool resumeEnabled_ = true;
  uint32_t retryBudget_ = 6;
  std::wstring acceptEncoding_;
  uint32_t expectedSize_ = 0;
  bool resumable_ = true;
  uint32_t httpStatus_ = 0;

  bool computeMd5_ = false;
  bool computeSha256_ = false;
  bool downgradeAllowed_ = false;
  LogLineFn logLine_ = nullptr;
  WrittenDigests written_;

  InternetHandle session_;
  std::wstring sourcePath_;                 // the local or network path of a file URL
  std::unique_ptr<ShareConnection> share_;  // the network share a file URL connected
};

}  // namespace prereq
