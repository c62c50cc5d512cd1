#pragma once
// The downloads of the overlapped run: each on a worker thread with its own
// context, transfer and buffers, at most kMaxParallelDownloads at once,
// started in list order, while the install loop takes the packages in list
// order on its own thread.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/OverlapRules.h"
#include "acquisition/PrerequisiteRunner.h"
#include "platform/core/ExceptionHandling.h"

namespace prereq {

// The observer of one download: cancelled when the download is stopped or
// the run is cancelled; the engine's questions are answered as the progress
// window answers them (the code unchanged) and its last error report is kept
// for the install loop, which shows it when it takes the package. Nothing
// reaches a window from here.
class DownloadWatch final : public ProgressObserver {
 public:
  explicit DownloadWatch(ProgressObserver* run) : run_(run) {}
  void Stop() { stop_ = true; }
  bool Stopped() const { return stop_; }
  bool IsCancelled() override { return stop_ || (run_ != nullptr && run_->IsCancelled()); }
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void* extra) override {
    if (extra == nullptr) {
      errorText = text;
      errorCode = code;
      reported = true;
    }
    return code;
  }

  // Read by the install loop once the download ended.
  bool reported = false;
  std::wstring errorText;
  uint32_t errorCode = 0;

 private:
  ProgressObserver* run_;
  std::atomic<bool> stop_{false};
};

// One download and, once it ended, its result.
struct OverlappedDownload {
  explicit OverlappedDownload(ProgressObserver* run) : watch(run) {}
  DownloadContext ctx;  // its own: the one item, its watch, its results
  DownloadWatch watch;
  PrerequisiteRunner::Fetched fetched = PrerequisiteRunner::Fetched::Failed;
  std::optional<AcceptanceResult> verdict;
  PrerequisiteRunner::CheckedFile checked;  // the accepted file, held until its package has started
  uint32_t milliseconds = 0;
};

class OverlappedDownloads {
 public:
  // Takes the runner's queued items over; creates their folders now, on the
  // calling thread, so that no two workers create one.
  OverlappedDownloads(PrerequisiteRunner& runner, ProgressObserver* observer);
  // Stop().
  ~OverlappedDownloads();
  OverlappedDownloads(const OverlappedDownloads&) = delete;
  OverlappedDownloads& operator=(const OverlappedDownloads&) = delete;

  // Starts the workers (as many as may run at once, no more than there are
  // downloads).
  void Start();
  // The download of the prerequisite, when it has one.
  std::optional<size_t> DownloadOf(size_t prereqIndex) const;
  // Waits until download k ended, asking `interrupted` every 100 ms: true
  // when it ended; false when `interrupted` answered true or a worker failed.
  bool WaitFor(size_t k, const std::function<bool()>& interrupted);
  // After WaitFor gave true, or after Stop for one that Ended.
  OverlappedDownload& At(size_t k) { return *downloads_.at(k); }
  size_t Count() const { return downloads_.size(); }
  // Whether download k ran to its end (accepted, failed, rejected or stopped
  // while it ran).
  bool Ended(size_t k);
  // Cancels the running downloads (their part files stay), drops the queued
  // ones, waits for the workers, and hands every download's files and folders
  // to the runner's deletion list. Again: nothing.
  void Stop();
  // After Stop: throws what ended a worker (already logged), if anything did.
  void RethrowFailure() const;

 private:
  void WorkerMain();
  void RunOne(size_t k);
  // Under the lock: tells the observer about the downloads ahead.
  void ShowAheadLocked();

  PrerequisiteRunner& runner_;
  ProgressObserver* observer_;
  std::vector<std::unique_ptr<OverlappedDownload>> downloads_;
  std::vector<size_t> fileKeys_;  // equal keys: one file

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<DownloadPhase> phases_;  // under mutex_
  bool stopping_ = false;              // under mutex_
  bool workerFailed_ = false;          // under mutex_
  std::optional<DownloadsAhead> shown_;  // under mutex_: the last line told

  std::vector<GuardedThread> workers_;
  bool stopped_ = false;  // the owner's thread only
};

}  // namespace prereq
