#include "acquisition/OverlappedRun.h"

#include <chrono>

#include "acquisition/DownloadRules.h"
#include "acquisition/TransferRules.h"
#include "execution/ErrorText.h"
#include "logging/Logger.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"
#include "resources/resource.h"

namespace prereq {

namespace {

constexpr auto kWaitPoll = std::chrono::milliseconds(100);

bool SameFile(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

OverlappedDownloads::OverlappedDownloads(PrerequisiteRunner& runner, ProgressObserver* observer)
    : runner_(runner), observer_(observer) {
  std::vector<std::wstring> targets;
  for (const DownloadItem& item : runner.context.items) {
    auto d = std::make_unique<OverlappedDownload>(observer);
    d->ctx.downloadFolder = runner.context.downloadFolder;
    d->ctx.credentials = runner.context.credentials;
    d->ctx.observer = &d->watch;
    d->ctx.items.push_back(item);
    runner.CreateDownloadFolders(item);
    const std::wstring target = TargetPath(runner.context.downloadFolder, item.url, item.folder);
    size_t key = targets.size();
    for (size_t j = 0; j < targets.size(); ++j)
      if (SameFile(targets[j], target)) {
        key = fileKeys_[j];
        break;
      }
    targets.push_back(target);
    fileKeys_.push_back(key);
    downloads_.push_back(std::move(d));
  }
  phases_.assign(downloads_.size(), DownloadPhase::Queued);
}

OverlappedDownloads::~OverlappedDownloads() { Stop(); }

void OverlappedDownloads::Start() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ShowAheadLocked();
  }
  const size_t count = std::min(kMaxParallelDownloads, downloads_.size());
  for (size_t w = 0; w < count; ++w) {
    GuardedThread worker = StartGuardedThread([this] { WorkerMain(); },
                                              [this] {
                                                std::lock_guard<std::mutex> hold(mutex_);
                                                workerFailed_ = true;
                                                changed_.notify_all();
                                              });
    // Without a worker the downloads it would have run wait for the others;
    // without any, the install loop finds them dropped.
    if (worker) workers_.push_back(std::move(worker));
  }
  if (workers_.empty()) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (DownloadPhase& phase : phases_)
      if (phase == DownloadPhase::Queued) phase = DownloadPhase::Dropped;
    ShowAheadLocked();
  }
}

std::optional<size_t> OverlappedDownloads::DownloadOf(size_t prereqIndex) const {
  for (size_t k = 0; k < downloads_.size(); ++k)
    if (downloads_[k]->ctx.items.front().index == prereqIndex) return k;
  return std::nullopt;
}

void OverlappedDownloads::WorkerMain() {
  for (;;) {
    size_t k = 0;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      for (;;) {
        if (stopping_) return;
        if (const std::optional<size_t> next = NextDownloadToStart(phases_, fileKeys_)) {
          k = *next;
          break;
        }
        if (std::find(phases_.begin(), phases_.end(), DownloadPhase::Queued) == phases_.end()) return;
        changed_.wait(hold);  // the first queued one waits for its file
      }
      phases_[k] = DownloadPhase::Running;
      ShowAheadLocked();
    }
    RunOne(k);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      phases_[k] = DownloadPhase::Ended;
      ShowAheadLocked();
    }
    changed_.notify_all();
  }
}

void OverlappedDownloads::RunOne(size_t k) {
  OverlappedDownload& d = *downloads_[k];
  // The download's lines go into the log together when it ends: with others
  // running beside it, its "Starting download of:" line names them all.
  LogBlock block;
  const Prerequisite& p = runner_.list.At(d.ctx.items.front().index);
  WriteLine(L"Starting download of:" + p.DisplayName);
  const ULONGLONG began = ::GetTickCount64();
  d.fetched =
      runner_.FetchItem(d.ctx, 0, d.verdict, d.checked, [&d] { return d.watch.IsCancelled(); });
  d.milliseconds = static_cast<uint32_t>(std::min<ULONGLONG>(::GetTickCount64() - began, UINT32_MAX));
  switch (d.fetched) {
    case PrerequisiteRunner::Fetched::Rejected:
      WriteLine(L"Downloaded file was rejected." +
                RejectionText(d.verdict->verdict, ErrorText(d.verdict->error)));
      break;
    case PrerequisiteRunner::Fetched::Failed:
      WriteLine(L"Download failed. Error:" + ErrorText(d.ctx.lastTransferResult));
      if (d.ctx.lastTransferResult == kTransferCancelled) WriteLine(L"Download was canceled.");
      break;
    case PrerequisiteRunner::Fetched::Accepted:
      WriteLine(L"Downloaded file was accepted.");
      break;
    case PrerequisiteRunner::Fetched::Cancelled:
      WriteLine(L"Download was canceled.");
      break;
  }
}

void OverlappedDownloads::ShowAheadLocked() {
  if (observer_ == nullptr) return;
  const std::optional<DownloadsAhead> line = DownloadsAheadLine(phases_);
  if (line == shown_) return;
  shown_ = line;
  observer_->DownloadsAhead(line ? line->current : 0, line ? line->total : 0);
}

bool OverlappedDownloads::WaitFor(size_t k, const std::function<bool()>& interrupted) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    if (DownloadSettled(phases_.at(k))) return true;
    if (workerFailed_) return false;
    if (workers_.empty()) return false;
    hold.unlock();
    if (interrupted && interrupted()) return false;
    hold.lock();
    changed_.wait_for(hold, kWaitPoll);
  }
}

bool OverlappedDownloads::Ended(size_t k) {
  std::lock_guard<std::mutex> hold(mutex_);
  return phases_.at(k) == DownloadPhase::Ended;
}

void OverlappedDownloads::Stop() {
  if (stopped_) return;
  stopped_ = true;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    for (size_t k = 0; k < phases_.size(); ++k) {
      if (phases_[k] == DownloadPhase::Queued) phases_[k] = DownloadPhase::Dropped;
      if (phases_[k] == DownloadPhase::Running) downloads_[k]->watch.Stop();
    }
    ShowAheadLocked();
  }
  changed_.notify_all();
  // Each running transfer sees its flag at its next block.
  for (GuardedThread& worker : workers_) worker.Join();
  for (const std::unique_ptr<OverlappedDownload>& d : downloads_) {
    for (const std::wstring& path : d->ctx.deletionList) runner_.context.deletionList.push_back(path);
    for (const std::wstring& folder : d->ctx.foldersCreated)
      runner_.context.foldersCreated.push_back(folder);
  }
  if (observer_ != nullptr) observer_->DownloadsAhead(0, 0);
}

void OverlappedDownloads::RethrowFailure() const {
  for (const GuardedThread& worker : workers_) worker.RethrowFailure();
}

uint32_t PrerequisiteRunner::PrepareOverlappedRun(ProgressObserver* observer) {
  return PrepareDownloads(observer);
}

std::optional<uint32_t> PrerequisiteRunner::TakeDownload(OverlappedDownloads& downloads, size_t k,
                                                         ProgressObserver* observer) {
  const bool ended = downloads.WaitFor(k, [this, observer] {
    return rebootInProgress || (observer != nullptr && observer->IsCancelled());
  });
  if (!ended) {
    downloads.Stop();
    downloads.RethrowFailure();
    if (rebootInProgress) return 0;
    cancelled = true;
    return kInstallCancelled;
  }
  if (observer != nullptr && observer->IsCancelled()) {
    cancelled = true;
    return kInstallCancelled;
  }
  OverlappedDownload& d = downloads.At(k);
  const DownloadItem& item = d.ctx.items.front();
  Prerequisite& p = list.At(item.index);
  context.lastTransferResult = d.ctx.lastTransferResult;
  context.lastHttpStatus = d.ctx.lastHttpStatus;
  RecordDownload(item, d.milliseconds, d.verdict ? &*d.verdict : nullptr);
  // What the engine reported while it worked, as the download pass shows it.
  if (observer != nullptr && d.watch.reported)
    observer->ErrorReport(d.watch.errorText, d.watch.errorCode, nullptr);
  switch (d.fetched) {
    case Fetched::Rejected:
      if (observer != nullptr)
        observer->ErrorReport(DownloadRejectedText(StringTable(), p.DisplayName, d.verdict->verdict),
                              kErrorDownloadRejected, nullptr);
      return kInstallFailed;
    case Fetched::Cancelled:
      cancelled = true;
      return kInstallCancelled;
    case Fetched::Failed:
      if (context.lastTransferResult == kTransferCancelled) cancelled = true;
      if (!p.HasOption(L'm')) return std::nullopt;
      ReportMandatoryDownloadFailed(observer, p);
      return kInstallFailed;
    case Fetched::Accepted:
      checkedFiles[item.index] = std::move(d.checked);
      p.present = true;
      return std::nullopt;
  }
  return std::nullopt;
}

uint32_t PrerequisiteRunner::RunOverlappedInstallLoop(ProgressObserver* observer) {
  OverlappedDownloads downloads(*this, observer);
  PrepareLauncher(observer);
  // One step for each package, and one for each download it waits for.
  uint32_t steps = static_cast<uint32_t>(context.items.size());
  for (size_t i = 0; i < list.Count(); ++i) {
    const PrerequisiteAction action = Action(i);
    if (action == PrerequisiteAction::RunShippedFile || action == PrerequisiteAction::RunPresentFile ||
        action == PrerequisiteAction::Download)
      ++steps;
  }
  if (observer != nullptr) observer->SetRange(steps, 0);
  downloads.Start();
  const std::wstring downloadingText = TextOrDefault(list.downloadingText, IDS_DOWNLOADING);
  launcher.launchList.clear();
  std::vector<bool> taken(downloads.Count(), false);
  std::optional<uint32_t> stop;
  for (size_t i = 0; i < list.Count() && !stop; ++i) {
    if (const std::optional<size_t> k = downloads.DownloadOf(i)) {
      if (observer != nullptr)
        observer->StatusText(Format(downloadingText, {list.At(i).DisplayName}), kStatusKindAcquisition);
      taken[*k] = true;
      stop = TakeDownload(downloads, *k, observer);
      if (stop) break;
    }
    LaunchItem item;
    if (!MakeLaunchItem(i, item)) continue;
    launcher.launchList.push_back(std::move(item));
    stop = InstallItem(launcher.launchList.size() - 1, observer);
  }
  // What still runs is not needed now: a later run continues its part file.
  downloads.Stop();
  downloads.RethrowFailure();
  // The account of the run also has the downloads whose packages the loop
  // never reached.
  for (size_t k = 0; k < downloads.Count(); ++k) {
    if (taken[k] || !downloads.Ended(k)) continue;
    const OverlappedDownload& d = downloads.At(k);
    context.lastTransferResult = d.ctx.lastTransferResult;
    RecordDownload(d.ctx.items.front(), d.milliseconds, d.verdict ? &*d.verdict : nullptr);
  }
  return stop.value_or(0);
}

}  // namespace prereq
