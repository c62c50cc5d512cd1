#pragma once
// What a long task reports to its window: progress, status, errors, and
// whether the user cancelled. Every pass also runs without an observer.
#include <cstdint>
#include <string>

namespace prereq {

// Kinds of status text: the download, open-site and install passes use kind 8.
inline constexpr int kStatusKindAcquisition = 8;
inline constexpr int kStatusKindInstall = 9;

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;  // destroy
  // The number of steps of the pass.
  virtual void SetRange(uint32_t count, uint32_t reserved) { (void)count, (void)reserved; }
  virtual void Reserved3() {}
  // Data begins to flow: kind 1 = download, total length in bytes (0 when
  // unknown), the local path being written.
  virtual void Start(int kind, uint64_t totalLength, const std::wstring& path) {
    (void)kind, (void)totalLength, (void)path;
  }
  virtual void Reserved5() {}
  // The run finished.
  virtual void Done(uint32_t reserved1, uint32_t reserved2) { (void)reserved1, (void)reserved2; }
  // Bytes added since the last call: the first call of a download gives the
  // offset it resumes from, each later one the size of a written block.
  virtual void Progress(uint64_t bytes) { (void)bytes; }
  virtual bool IsCancelled() { return false; }
  virtual bool IsPaused() { return false; }
  // Reports an error; answers a code: for certificate errors 0 means "send the
  // request again", for credentials 1237 means "credentials were entered";
  // otherwise the code itself. `extra` is what the code needs to be answered:
  // the request's HINTERNET for certificate errors (12037, 12038, 12044,
  // 12045), the CredentialsProvider for credentials (0xE0000012), otherwise
  // nothing.
  virtual uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void* extra) {
    (void)text, (void)extra;
    return code;
  }
  virtual void StatusText(const std::wstring& text, int kind) { (void)text, (void)kind; }
  // The downloads running ahead of the install loop (the overlapped run):
  // download `current` of `total`; total 0 when none is left. Called from
  // any thread; it must not wait for the window.
  virtual void DownloadsAhead(uint32_t current, uint32_t total) { (void)current, (void)total; }
};

}  // namespace prereq
